#include "bundle/exe_ext_reader.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "bundle/md5.h"
#include "bundle_fixture.h"
#include "core/error.h"

namespace pageturn {
namespace {

using testing::kImage;
using testing::ReadFileBytes;
using testing::SectionBytes;
using testing::WriteFileBytes;

class ExeExtReader : public testing::TempFolder {};

const std::vector<std::string> kEntries = {"a.txt=1\r\nempty=2\r\nz.bin=3\r\n", "alpha", "",
                                           std::string("z\0z", 3)};

std::string EntryOf(const TExeExtReader& reader, int n) { return reader.ReadEntryText(n); }

void ExpectError(const std::string& path, const std::string& message) {
  try {
    TExeExtReader reader(path);
    ADD_FAILURE() << "no error, " << reader.EntryCount() << " entries";
  } catch (const Error& e) {
    EXPECT_EQ(std::string(e.what()), message);
  }
}

void ExpectErrorIndex(const TExeExtReader& reader, int n) {
  TStringStream out("kept");
  out.Seek(0, TSeekOrigin::End);
  try {
    reader.ReadEntry(n, out);
    ADD_FAILURE() << "entry " << n << " was read";
  } catch (const AssertionFailed& e) {
    EXPECT_EQ(e.message(), "Error index");
    EXPECT_EQ(e.unit(), "ExeExt");
    EXPECT_EQ(e.line(), 308);
  }
  EXPECT_EQ(out.DataString(), "kept");
}

TEST_F(ExeExtReader, FlagZeroAndOneBooksReadTheSameEntriesAndDifferBySixteenBytes) {
  const std::string plain = MakeBook("plain.exe", kEntries, 0);
  const std::string digest = MakeBook("digest.exe", kEntries, 1);
  EXPECT_EQ(ReadFileBytes(digest).size(), ReadFileBytes(plain).size() + 16);
  for (const std::string& path : {plain, digest}) {
    SCOPED_TRACE(path);
    const TExeExtReader reader(path);
    EXPECT_EQ(reader.FileName(), path);
    ASSERT_EQ(reader.EntryCount(), 4);
    EXPECT_EQ(reader.EntrySizes(), (std::vector<std::int32_t>{27, 5, 0, 3}));
    EXPECT_EQ(reader.DataStart(), static_cast<std::int32_t>(kImage.size()));
    for (int n = 0; n < 4; ++n) EXPECT_EQ(EntryOf(reader, n), kEntries[n]) << n;
    ExpectErrorIndex(reader, -1);
    ExpectErrorIndex(reader, 4);
  }
}

std::string Bytes(TStream& stream) {
  const std::int64_t at = stream.Position();
  std::string bytes(static_cast<std::size_t>(stream.Size()), '\0');
  stream.SetPosition(0);
  stream.ReadBuffer(bytes.data(), bytes.size());
  stream.SetPosition(at);
  return bytes;
}

// Memory streams take the entry straight into their memory; other streams through a buffer.
// Both must behave the same.
template <class Stream>
void ExpectWritesAtThePosition(const TExeExtReader& reader) {
  Stream out;
  out.WriteBuffer("0123456", 7);
  out.SetPosition(2);
  reader.ReadEntry(1, out);
  EXPECT_EQ(Bytes(out), "01alpha");
  EXPECT_EQ(out.Position(), 7);
  reader.ReadEntry(2, out);  // zero-size entry: nothing at all happens
  EXPECT_EQ(Bytes(out), "01alpha");
  EXPECT_EQ(out.Position(), 7);
  out.SetPosition(1);
  reader.ReadEntry(3, out);  // inside the old bytes: overwrites, the size stays
  EXPECT_EQ(Bytes(out), std::string("0z\0zpha", 7));
  EXPECT_EQ(out.Position(), 4);
}

TEST_F(ExeExtReader, ReadEntryWritesAtTheDestinationsPositionWithoutRewinding) {
  const TExeExtReader reader(MakeBook("book.exe", kEntries));
  ExpectWritesAtThePosition<TStringStream>(reader);
  ExpectWritesAtThePosition<TMemoryStream>(reader);
}

// The file is read again for each entry: one that shrank since is a read error, and a memory
// stream is left as it was.
TEST_F(ExeExtReader, EntryCutOffSinceTheReaderWasMadeIsAReadError) {
  const std::string path = MakeBook("book.exe", kEntries);
  const TExeExtReader reader(path);
  WriteFileBytes(path, kImage + kEntries[0] + "al");
  // Appended at the end, over the stream's own bytes, and past its end.
  for (const std::int64_t position : {7, 2, 0, 9}) {
    SCOPED_TRACE("at " + std::to_string(position));
    TMemoryStream memory;
    memory.WriteBuffer("0123456", 7);
    memory.SetPosition(position);
    EXPECT_THROW(reader.ReadEntry(1, memory), StreamReadError);
    EXPECT_EQ(Bytes(memory), "0123456");
    EXPECT_EQ(memory.Position(), position);
  }
  TStringStream text;
  EXPECT_THROW(reader.ReadEntry(1, text), StreamReadError);
  EXPECT_EQ(reader.ReadEntryText(0), kEntries[0]);
}

TEST_F(ExeExtReader, FilesWithoutATrailerHaveNoExtentSection) {
  for (const std::string& bytes : {std::string(), std::string("MZ"), std::string(8, '\0'),
                                   std::string(9, '\0') + "x", kImage + std::string(100, 'A')}) {
    WriteFileBytes(PathOf("plain.exe"), bytes);
    ExpectError(PathOf("plain.exe"), "Can not find extent section");
  }
}

TEST_F(ExeExtReader, MissingFileLeavesTheReaderEmpty) {
  const TExeExtReader reader(PathOf("nothing-here.exe"));
  EXPECT_EQ(reader.EntryCount(), 0);
  ExpectErrorIndex(reader, 0);
  const TExeExtReader folder(folder_.string());
  EXPECT_EQ(folder.EntryCount(), 0);
}

TEST_F(ExeExtReader, NoEntriesGivesAnEmptyReader) {
  for (std::uint8_t flag : {0, 1}) {
    const TExeExtReader reader(MakeBook("empty.exe", {}, flag));
    EXPECT_EQ(reader.EntryCount(), 0);
    ExpectErrorIndex(reader, 0);
  }
}

TEST_F(ExeExtReader, DigestCoversEveryDataByteButNotTheSizeTable) {
  const std::string good = kImage + SectionBytes(kEntries, 1);
  for (std::size_t at : {kImage.size(), kImage.size() + 30, kImage.size() + 34}) {
    std::string bad = good;
    bad[at] ^= 0x20;
    WriteFileBytes(PathOf("bad.exe"), bad);
    ExpectError(PathOf("bad.exe"), "Content Valid failed!");
  }
  // Any flag byte but 0 means a digest is there.
  std::string seven = good;
  seven[seven.size() - 9] = 7;
  WriteFileBytes(PathOf("seven.exe"), seven);
  EXPECT_EQ(TExeExtReader(PathOf("seven.exe")).EntryCount(), 4);

  // One byte less for entry 1 passes and moves the later boundaries by one.
  std::string moved = good;
  const std::size_t entry1Size = moved.size() - 13 - 4 * 4 + 4;
  moved[entry1Size] = 4;
  WriteFileBytes(PathOf("moved.exe"), moved);
  const TExeExtReader reader(PathOf("moved.exe"));
  EXPECT_EQ(EntryOf(reader, 1), "alph");
  EXPECT_EQ(EntryOf(reader, 3), std::string("az\0", 3));
}

TEST_F(ExeExtReader, EmptyDataCarriesSixteenZeroBytesAsItsDigest) {
  const std::string zeros = SectionBytes({""}, 1);
  WriteFileBytes(PathOf("zeros.exe"), kImage + zeros);
  EXPECT_EQ(TExeExtReader(PathOf("zeros.exe")).EntryCount(), 1);

  std::string md5OfNothing = zeros;
  const TMd5Digest empty = TMd5::Of("", 0);
  std::memcpy(&md5OfNothing[0], empty.data(), 16);
  WriteFileBytes(PathOf("md5.exe"), kImage + md5OfNothing);
  ExpectError(PathOf("md5.exe"), "Content Valid failed!");
}

// A trailer with a good check word whose numbers the file cannot hold.
std::string Trailer(std::uint32_t count, std::uint8_t flag, std::uint32_t section) {
  std::string t;
  for (std::uint32_t v : {count}) t.append(reinterpret_cast<const char*>(&v), 4);
  t += static_cast<char>(flag);
  const std::uint32_t check = section ^ 0x12345678;
  t.append(reinterpret_cast<const char*>(&section), 4);
  t.append(reinterpret_cast<const char*>(&check), 4);
  return t;
}
std::string Sizes(std::vector<std::uint32_t> sizes) {
  return std::string(reinterpret_cast<const char*>(sizes.data()), 4 * sizes.size());
}

TEST_F(ExeExtReader, TrailerThatCannotFitTheFileIsAClearError) {
  const struct {
    const char* what;
    std::string bytes;
  } cases[] = {
      {"section larger than the file", kImage + Trailer(0, 0, 1000)},
      {"section of 2 GiB", kImage + Trailer(0, 0, 0x7FFFFFFF)},
      {"section smaller than a trailer", kImage + Trailer(0, 0, 12)},
      {"negative count", kImage + Trailer(0xFFFFFFFF, 0, 13)},
      {"huge count", kImage + Trailer(0x20000000, 0, 13 + 8)},
      {"count past the section", kImage + Sizes({1, 1}) + Trailer(3, 0, 13 + 8)},
      {"sizes past the data", kImage + "abc" + Sizes({2, 2}) + Trailer(2, 0, 13 + 8 + 3)},
      {"size over 2 GiB", kImage + "abc" + Sizes({0x80000000u, 3}) + Trailer(2, 0, 13 + 8 + 3)},
      {"size wrapping the sum",
       kImage + "abc" + Sizes({0xFFFFFFFFu, 4}) + Trailer(2, 0, 13 + 8 + 3)},
      {"digest past the section", kImage + "abcdef" + Sizes({1}) + Trailer(1, 1, 13 + 4 + 6)},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    WriteFileBytes(PathOf("bad.exe"), c.bytes);
    ExpectError(PathOf("bad.exe"), "Extent section does not fit the file");
  }
}

// Cutting the front off a book: fine while only the image goes, a clean error after that.
TEST_F(ExeExtReader, BookCutAtTheFrontFailsCleanly) {
  const std::string book = kImage + SectionBytes(kEntries, 1);
  for (std::size_t cut = 0; cut < book.size() - 9; ++cut) {
    WriteFileBytes(PathOf("cut.exe"), book.substr(cut));
    if (cut <= kImage.size()) {
      EXPECT_EQ(EntryOf(TExeExtReader(PathOf("cut.exe")), 3), kEntries[3]) << cut;
    } else {
      EXPECT_THROW(TExeExtReader(PathOf("cut.exe")), Error) << cut;
    }
  }
}

TEST_F(ExeExtReader, BlankNameMeansTheProgramsOwnFile) {
  // The test program carries no bundle: reaching its trailer shows that it was opened.
  ExpectError("  \t ", "Can not find extent section");
  EXPECT_EQ(BundleFileName(""), ProgramFileName());
  EXPECT_EQ(BundleFileName(" a.exe "), " a.exe ");  // other names stay untrimmed
}

#ifndef _WIN32
// Natively only: a 60 MiB entry is quick to write here and slow under Wine.
TEST_F(ExeExtReader, EntryOverSixtyMebibytesIsCopiedInChunks) {
  class TRecordingStream : public TMemoryStream {
   public:
    std::size_t Write(const void* buffer, std::size_t count) override {
      writes.push_back(count);
      return TMemoryStream::Write(buffer, count);
    }
    std::vector<std::size_t> writes;
  };
  std::string big(kExeExtCopyBufferSize + 1, 'b');
  big.back() = 'e';
  const TExeExtReader reader(MakeBook("big.exe", {"index", big}));
  TRecordingStream out;
  reader.ReadEntry(1, out);
  EXPECT_EQ(out.writes, (std::vector<std::size_t>{0x3C00000, 1}));
  EXPECT_EQ(out.Size(), 0x3C00001);
  EXPECT_EQ(out.Memory()[0x3C00000], 'e');
}
#endif

TEST(PathHelpers, WithTrailingBackslash) {
  EXPECT_EQ(WithTrailingBackslash("C:\\dir"), "C:\\dir\\");
  EXPECT_EQ(WithTrailingBackslash("C:\\dir\\"), "C:\\dir\\");
  EXPECT_EQ(WithTrailingBackslash(""), "");
}

TEST(PathHelpers, ProgramDirPathIsTheProgramsFolderWithTheName) {
  const std::string program = ProgramFileName();
  ASSERT_FALSE(program.empty());
  const std::string folder = ProgramDirPath("");
  ASSERT_FALSE(folder.empty());
#ifdef _WIN32
  EXPECT_EQ(folder.back(), '\\');
#else
  EXPECT_EQ(folder.back(), '/');
#endif
  EXPECT_EQ(program.rfind(folder, 0), 0u);
  EXPECT_EQ(program.find_first_of("\\/:", folder.size()), std::string::npos);
  EXPECT_EQ(ProgramDirPath("log.txt"), folder + "log.txt");
}

}  // namespace
}  // namespace pageturn
