#include "bundle/exe_ext_reader.h"

#include <algorithm>
#include <chrono>
#include <cstring>
#include <limits>
#include <memory>
#include <typeinfo>

#include "bundle/bundle_platform.h"
#include "bundle/md5.h"
#include "core/error.h"
#include "core/text.h"

namespace pageturn {

namespace {

constexpr std::uint32_t kSectionCheckMask = 0x12345678;
constexpr std::int64_t kTrailerSize = 13;  // N, flag, S, check
constexpr std::int64_t kDigestSize = 16;

const char kNoSection[] = "Can not find extent section";
const char kSectionDoesNotFit[] = "Extent section does not fit the file";
const char kDigestMismatch[] = "Content Valid failed!";

std::uint32_t LittleEndian32(const std::uint8_t* p) {
  return static_cast<std::uint32_t>(p[0]) | static_cast<std::uint32_t>(p[1]) << 8 |
         static_cast<std::uint32_t>(p[2]) << 16 | static_cast<std::uint32_t>(p[3]) << 24;
}

// The program's own file may be held briefly by whoever wrote or scanned it: keep trying for
// five seconds. Empty when it never opened.
std::unique_ptr<TFileStream> OpenWithRetry(const std::string& fileName) {
  const auto start = std::chrono::steady_clock::now();
  while (std::chrono::steady_clock::now() - start < std::chrono::seconds(5)) {
    if (auto file = TFileStream::TryOpen(fileName, TFileStream::Mode::OpenReadShareAll))
      return file;
    bundle_platform::SleepMilliseconds(100);
  }
  return nullptr;
}

void ReadAt(TStream& file, std::int64_t offset, void* buffer, std::size_t count) {
  file.Seek(offset, TSeekOrigin::Beginning);
  file.ReadBuffer(buffer, count);
}

}  // namespace

std::string BundleFileName(const std::string& fileName) {
  return Trim(fileName).empty() ? ProgramFileName() : fileName;
}

std::unique_ptr<TFileStream> TExeExtReader::OpenBundleFile(const std::string& fileName) {
  if (!bundle_platform::FileExists(fileName)) return nullptr;
  return OpenWithRetry(fileName);
}

TExeExtReader::TExeExtReader(const std::string& fileName) : FileName_(BundleFileName(fileName)) {
  if (const std::unique_ptr<TFileStream> file = OpenBundleFile(FileName_)) ReadTrailer(*file);
}

TExeExtReader::TExeExtReader(const std::string& fileName, TStream& file)
    : FileName_(BundleFileName(fileName)) {
  ReadTrailer(file);
}

void TExeExtReader::ReadTrailer(TStream& file) {
  const std::int64_t fileSize = file.Size();
  if (fileSize < 9) throw Error(kNoSection);
  std::uint8_t trailer[9];
  ReadAt(file, fileSize - 9, trailer, sizeof trailer);
  const std::uint8_t flag = trailer[0];
  const std::uint32_t section = LittleEndian32(trailer + 1);
  if ((section ^ kSectionCheckMask) != LittleEndian32(trailer + 5)) throw Error(kNoSection);

  // From here on every number of the trailer is untrusted: each is checked against the file
  // before anything is read or allocated by it. A bundle valid by its layout passes them all.
  // Does the whole section, the trailer included, lie inside a file of 32-bit size?
  if (fileSize > std::numeric_limits<std::int32_t>::max() || section < kTrailerSize ||
      section > fileSize) {
    throw Error(kSectionDoesNotFit);
  }
  DigestFlag_ = flag;
  SectionSize_ = static_cast<std::int32_t>(section);
  DataStart_ = static_cast<std::int32_t>(fileSize - section);

  std::uint8_t countBytes[4];
  ReadAt(file, fileSize - kTrailerSize, countBytes, sizeof countBytes);
  const auto count = static_cast<std::int32_t>(LittleEndian32(countBytes));
  // Does the size table fit in front of the trailer?
  if (count < 0 || count > (section - kTrailerSize) / 4) throw Error(kSectionDoesNotFit);
  const std::int64_t tableSize = 4 * static_cast<std::int64_t>(count);
  std::vector<std::uint8_t> table(static_cast<std::size_t>(tableSize));
  if (count > 0) ReadAt(file, fileSize - kTrailerSize - tableSize, table.data(), table.size());
  EntrySizes_.resize(static_cast<std::size_t>(count));
  for (std::int32_t i = 0; i < count; ++i) {
    EntrySizes_[i] =
        static_cast<std::int32_t>(LittleEndian32(&table[4 * static_cast<std::size_t>(i)]));
  }
  EntryCount_ = count;
  if (count == 0) return;

  // Does the digest fit between the data start and the size table?
  const std::int64_t dataSize = section - kTrailerSize - tableSize - (flag != 0 ? kDigestSize : 0);
  if (dataSize < 0) throw Error(kSectionDoesNotFit);
  if (flag != 0) {
    TMd5Digest stored;
    ReadAt(file, fileSize - kTrailerSize - tableSize - kDigestSize, stored.data(), stored.size());
    // Hashed in pieces: the same digest as over one block, without holding the book in memory.
    TMd5Digest computed{};  // an empty data block counts as 16 zero bytes, not MD5("")
    if (dataSize > 0) {
      TMd5 md5;
      std::vector<std::uint8_t> chunk(
          static_cast<std::size_t>(std::min<std::int64_t>(dataSize, 1 << 20)));
      file.Seek(DataStart_, TSeekOrigin::Beginning);
      for (std::int64_t left = dataSize; left > 0;) {
        const auto n = static_cast<std::size_t>(std::min<std::int64_t>(left, chunk.size()));
        file.ReadBuffer(chunk.data(), n);
        md5.Update(chunk.data(), n);
        left -= static_cast<std::int64_t>(n);
      }
      computed = md5.Final();
    }
    if (computed != stored) throw Error(kDigestMismatch);
  }

  // Do the entries fit in the data? (Sizes are unsigned on disk: a negative one is over 2 GiB.)
  // Sizes that sum to less only move the entry boundaries, as the digest does not cover them.
  std::int64_t total = 0;
  for (std::int32_t size : EntrySizes_) {
    if (size < 0) throw Error(kSectionDoesNotFit);
    total += size;
  }
  if (total > dataSize) throw Error(kSectionDoesNotFit);
}

void TExeExtReader::ReadEntry(std::int32_t n, TStream& destination) const {
  if (n < 0 || n >= EntryCount_) throw AssertionFailed("Error index", "ExeExt", 308);
  TFileStream file(FileName_, TFileStream::Mode::OpenReadShareAll);
  ReadEntry(n, destination, file);
}

void TExeExtReader::ReadEntry(std::int32_t n, TStream& destination, TStream& file) const {
  if (n < 0 || n >= EntryCount_) throw AssertionFailed("Error index", "ExeExt", 308);
  std::int64_t offset = DataStart_;
  for (std::int32_t i = 0; i < n; ++i) offset += EntrySizes_[i];
  file.Seek(offset, TSeekOrigin::Beginning);

  std::int32_t left = EntrySizes_[n];
  if (left <= 0) return;
  // Appended to memory, the entry is read straight where it belongs, saving the copy through a
  // buffer; a failed read then only takes back what it added. Over bytes the stream already
  // holds, it goes through the buffer, so that a failed read overwrites none of them.
  // (Only a plain TMemoryStream: a derived one may want to see the writes.)
  if (typeid(destination) == typeid(TMemoryStream) &&
      destination.Position() >= destination.Size()) {
    auto* memory = static_cast<TMemoryStream*>(&destination);
    const std::int64_t at = memory->Position(), oldSize = memory->Size();
    memory->SetSize(at + left);
    try {
      file.ReadBuffer(memory->Memory() + at, static_cast<std::size_t>(left));
    } catch (...) {
      memory->SetSize(oldSize);
      memory->SetPosition(at);
      throw;
    }
    memory->SetPosition(at + left);
    return;
  }
  std::vector<std::uint8_t> buffer(static_cast<std::size_t>(std::min(left, kExeExtCopyBufferSize)));
  while (left > 0) {
    const auto chunk = static_cast<std::size_t>(std::min<std::int32_t>(left, buffer.size()));
    file.ReadBuffer(buffer.data(), chunk);  // the whole chunk before any of it is written
    destination.WriteBuffer(buffer.data(), chunk);
    left -= static_cast<std::int32_t>(chunk);
  }
}

std::string TExeExtReader::ReadEntryText(std::int32_t n) const {
  TStringStream text;
  ReadEntry(n, text);
  return text.DataString();
}

std::string WithTrailingBackslash(const std::string& path) {
  if (path.empty() || path.back() == '\\') return path;
  return path + '\\';
}

std::string ProgramDirPath(const std::string& name) {
  const std::string program = ProgramFileName();
  std::size_t cut = program.size();
  while (cut > 0 && !bundle_platform::IsPathDelimiter(program[cut - 1])) --cut;
  std::string folder = program.substr(0, cut);
  const char delimiter = bundle_platform::PathDelimiter();
  if (!folder.empty() && folder.back() != delimiter) folder += delimiter;
  return folder + name;
}

}  // namespace pageturn
