#include "bundle/bundle_lookup.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "bundle/bundle_cache.h"
#include "bundle/exe_ext_reader.h"
#include "bundle_fixture.h"

#ifdef _WIN32
#include <windows.h>
#endif

namespace pageturn {
namespace {

using namespace std::string_literals;
using testing::kImage;
using testing::SectionBytes;
using testing::WriteFileBytes;

// Every behaviour holds with the cache and without it.
class BundleLookup : public testing::TempFolder, public ::testing::WithParamInterface<bool> {
 protected:
  void SetUp() override {
    TempFolder::SetUp();
    SetBundleCacheEnabled(GetParam());
  }
  void TearDown() override {
    SetBundleCacheEnabled(true);
    TempFolder::TearDown();
  }
  // On Windows the cache holds a file it read open against writers: while it does, nobody can
  // change the file under it, and emptying the cache lets go of it. Natively nothing is refused
  // and the cache stays: each lookup compares the file's identity instead.
  void LetGoOfTheFile(const std::string& path) {
#ifdef _WIN32
    if (GetParam()) {
      const HANDLE writer = ::CreateFileA(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ |
                                          FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                          OPEN_EXISTING, 0, nullptr);
      EXPECT_EQ(writer, INVALID_HANDLE_VALUE) << "a writer got in under the cache";
      if (writer != INVALID_HANDLE_VALUE) ::CloseHandle(writer);
    }
    ClearBundleCache();
#else
    (void)path;
#endif
  }
};
class BundleLookupThreads : public testing::TempFolder {};



INSTANTIATE_TEST_SUITE_P(, BundleLookup, ::testing::Values(true, false),
                         [](const auto& info) { return info.param ? "Cached" : "Uncached"; });

const std::string kIndex =
    "book.swf=1\r\n"
    "files/thumb/1.jpg=2\r\n"
    "twice=2\r\n"
    "TWICE=1\r\n"
    "zero=0\r\n"
    "blank=\r\n"
    "word=abc\r\n"
    "minus=-3\r\n"
    "past=4\r\n"
    "empty=3\r\n"
    "no equals sign\r\n"
    "lone=1\rcr=2\nlf=1\r\n"
    "a=b=2\r\n"
    "end=1\0hidden=2\r\n"s;
const std::vector<std::string> kEntries = {kIndex, "<swf>", "jpeg bytes", ""};

std::string Loaded(const std::string& name, const std::string& book) {
  const auto stream = LoadBundleEntry(name, book);
  return stream ? std::string(reinterpret_cast<const char*>(stream->Memory()), stream->Size())
                : "<none>";
}

std::string Extracted(const std::string& name, const std::string& book) {
  TStringStream out;
  ExtractBundleEntry(name, out, book);
  return out.DataString();
}

// Takes at most `room` bytes, then refuses.
class TFullStream : public TStringStream {
 public:
  explicit TFullStream(std::size_t room) : room_(room) {}
  std::size_t Write(const void* buffer, std::size_t count) override {
    const std::size_t taken = std::min(count, room_);
    room_ -= taken;
    return taken == 0 ? 0 : TStringStream::Write(buffer, taken);
  }

 private:
  std::size_t room_;
};

TEST_P(BundleLookup, NamesFindTheirEntries) {
  const std::string book = MakeBook("book.exe", kEntries, 1);
  const struct {
    std::string name;
    std::int32_t number;
    std::string bytes;  // what Load gives
  } cases[] = {
      {"book.swf", 1, "<swf>"},
      {"BOOK.SWF", 1, "<swf>"},
      {"Files/Thumb/1.JPG", 2, "jpeg bytes"},
      {"twice", 2, "jpeg bytes"},  // the first line wins, also against other letter case
      {"book", 0, "<none>"},       // a prefix is no name
      {"book.swf ", 0, "<none>"},
      {"zero", 0, "<none>"},
      {"blank", 0, "<none>"},
      {"word", 0, "<none>"},
      {"minus", -3, "<none>"},
      {"past", 4, "<none>"},
      {"empty", 3, ""},  // an empty entry is there: an empty stream, not none
      {"no equals sign", 0, "<none>"},
      {"lone", 1, "<swf>"},
      {"cr", 2, "jpeg bytes"},
      {"lf", 1, "<swf>"},
      {"a", 0, "<none>"},  // the name ends at the first equals sign: "a" maps to "b=2"
      {"end", 1, "<swf>"},
      {"hidden", 0, "<none>"},  // behind the zero byte that ends the index
      {"", 0, "<none>"},
      {"nothing", 0, "<none>"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE("name \"" + c.name + "\"");
    EXPECT_EQ(BundleEntryIndex(c.name, book), c.number);
    EXPECT_EQ(Loaded(c.name, book), c.bytes);
    EXPECT_EQ(Extracted(c.name, book), c.bytes == "<none>" ? "" : c.bytes);
    TStringStream copy;
    EXPECT_EQ(ExtractBundleEntry(c.name, copy, book), c.bytes != "<none>") << "copied whole";
  }
}

TEST_P(BundleLookup, ACopyThatCannotBeWrittenWholeSaysSo) {
  const std::string book = MakeBook("book.exe", kEntries);
  for (const std::size_t room : {std::size_t{0}, std::size_t{4}}) {
    SCOPED_TRACE(room);
    TFullStream out(room);
    EXPECT_FALSE(ExtractBundleEntry("files/thumb/1.jpg", out, book));
  }
  TFullStream roomy(100);
  EXPECT_TRUE(ExtractBundleEntry("files/thumb/1.jpg", roomy, book));
  EXPECT_EQ(roomy.DataString(), "jpeg bytes");
}

TEST_P(BundleLookup, LoadedStreamHoldsTheEntryAndStandsAtItsEnd) {
  const std::string book = MakeBook("book.exe", kEntries);
  const auto stream = LoadBundleEntry("files/thumb/1.jpg", book);
  ASSERT_TRUE(stream);
  EXPECT_EQ(stream->Size(), 10);
  EXPECT_EQ(stream->Position(), 10);
}

TEST_P(BundleLookup, ExtractAppendsAtTheStreamsPosition) {
  const std::string book = MakeBook("book.exe", kEntries);
  TStringStream out("kept:");
  out.Seek(0, TSeekOrigin::End);
  ExtractBundleEntry("book.swf", out, book);
  ExtractBundleEntry("minus", out, book);
  EXPECT_EQ(out.DataString(), "kept:<swf>");
}

TEST_P(BundleLookup, BooksThatCannotBeReadHaveNoEntries) {
  std::string badDigest = kImage + SectionBytes(kEntries, 1);
  badDigest[kImage.size() + 2] ^= 1;
  std::string sizesPastData = kImage + SectionBytes(kEntries, 0);
  sizesPastData[sizesPastData.size() - 13 - 16 + 4] = 100;  // entry 1 claims 100 bytes
  const struct {
    const char* what;
    std::string bytes;
  } cases[] = {
      {"no bundle", kImage},
      {"bad digest", badDigest},
      {"no entries", kImage + SectionBytes({}, 0)},
      {"sizes past the data", sizesPastData},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    LetGoOfTheFile(PathOf("bad.exe"));
    WriteFileBytes(PathOf("bad.exe"), c.bytes);
    EXPECT_EQ(BundleEntryIndex("book.swf", PathOf("bad.exe")), 0);
    EXPECT_EQ(Loaded("book.swf", PathOf("bad.exe")), "<none>");
    EXPECT_EQ(Extracted("book.swf", PathOf("bad.exe")), "");
  }
  EXPECT_EQ(BundleEntryIndex("book.swf", PathOf("missing.exe")), 0);
  EXPECT_EQ(Loaded("book.swf", PathOf("missing.exe")), "<none>");
  EXPECT_EQ(BundleEntryIndex("book.swf", ""), 0);  // the test program has no bundle
}

// Whatever the cache holds, each call sees the file as it is on disk now.
TEST_P(BundleLookup, EveryCallSeesTheFileAsItIsNow) {
  namespace fs = std::filesystem;
  const std::string book = MakeBook("book.exe", {"book.swf=1\r\n", "first"}, 1);
  EXPECT_EQ(Loaded("book.swf", book), "first");

  // Same size, other bytes: told apart by the last-write time.
  const auto written = fs::last_write_time(book);
  LetGoOfTheFile(book);
  MakeBook("book.exe", {"book.swf=1\r\n", "again"}, 1);
  fs::last_write_time(book, written + std::chrono::seconds(2));
  EXPECT_EQ(Loaded("book.swf", book), "again");

  // Same size, other bytes, and the last-write time set back to what it was: the change time
  // tells them apart. A damaged version of the same size is refused by its digest.
  std::string damagedSameSize = kImage + SectionBytes({"book.swf=1\r\n", "again"}, 1);
  damagedSameSize[kImage.size() + 13] ^= 1;
  LetGoOfTheFile(book);
  WriteFileBytes(book, damagedSameSize);
  fs::last_write_time(book, written + std::chrono::seconds(2));
  EXPECT_EQ(BundleEntryIndex("book.swf", book), 0);
  LetGoOfTheFile(book);
  MakeBook("book.exe", {"book.swf=1\r\n", "taken"}, 1);
  fs::last_write_time(book, written + std::chrono::seconds(2));
  EXPECT_EQ(Loaded("book.swf", book), "taken");
  LetGoOfTheFile(book);
  MakeBook("book.exe", {"book.swf=1\r\n", "first"}, 1);
  fs::last_write_time(book, written);
  EXPECT_EQ(Loaded("book.swf", book), "first");

  // Another size.
  LetGoOfTheFile(book);
  MakeBook("book.exe", {"book.swf=1\r\nmore.txt=2\r\n", "third", "more"}, 1);
  EXPECT_EQ(Loaded("more.txt", book), "more");

  // A damaged version is refused, and the mended one after it served again.
  std::string damaged = kImage + SectionBytes({"book.swf=1\r\n", "fourth"}, 1);
  damaged[kImage.size() + 13] ^= 1;
  LetGoOfTheFile(book);
  WriteFileBytes(book, damaged);
  fs::last_write_time(book, written + std::chrono::seconds(4));
  EXPECT_EQ(BundleEntryIndex("book.swf", book), 0);
  LetGoOfTheFile(book);
  MakeBook("book.exe", {"book.swf=1\r\n", "fourth"}, 1);
  fs::last_write_time(book, written + std::chrono::seconds(6));
  EXPECT_EQ(Loaded("book.swf", book), "fourth");

  // Replaced by another file (a pack renames its result into place).
  const std::string other = MakeBook("other.exe", {"book.swf=1\r\n", "fifth"}, 0);
  LetGoOfTheFile(book);
  fs::rename(other, book);
  EXPECT_EQ(Loaded("book.swf", book), "fifth");

  LetGoOfTheFile(book);
  fs::remove(book);
  EXPECT_EQ(BundleEntryIndex("book.swf", book), 0);
}

// Lookups from several threads at once, while the cache is emptied under them.
TEST_F(BundleLookupThreads, ServeTheSameBookConcurrently) {
  std::vector<std::string> entries = {""};
  for (int i = 1; i <= 20; ++i) {
    entries[0] += "e" + std::to_string(i) + "=" + std::to_string(i) + "\r\n";
    entries.push_back(std::string(100 * i, static_cast<char>('a' + i)));
  }
  const std::string book = MakeBook("book.exe", entries, 1);
  std::atomic<int> wrong{0};
  std::atomic<bool> done{false};
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([&, t] {
      for (int k = 0; k < 100; ++k) {
        const int i = 1 + (k * 7 + t) % 20;
        const auto stream = LoadBundleEntry("E" + std::to_string(i), book);
        if (!stream || stream->Size() != 100 * i || stream->Memory()[0] != 'a' + i) ++wrong;
      }
    });
  }
  std::thread clearer([&] {
    while (!done) ClearBundleCache();
  });
  for (std::thread& t : threads) t.join();
  done = true;
  clearer.join();
  EXPECT_EQ(wrong, 0);
}

#ifdef _WIN32
// A file locked by someone else (no sharing) reads as no bundle once the reader's five seconds
// of retrying are up, whatever the cache held, and without an error; that answer is not kept:
// the entries come back as soon as the file is let go, also when that happens within the retry.
TEST_F(BundleLookupThreads, FileLockedPastTheRetryReadsAsNoBundleAndIsNotCached) {
  using Clock = std::chrono::steady_clock;
  const std::string book = MakeBook("book.exe", kEntries, 1);
  auto lockFile = [&] {
    return ::CreateFileA(book.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
  };
  // Nobody can lock a file that the cache holds; once it lets go, somebody can.
  ASSERT_EQ(Loaded("book.swf", book), "<swf>");
  EXPECT_EQ(lockFile(), INVALID_HANDLE_VALUE);
  ClearBundleCache();
  HANDLE lock = lockFile();
  ASSERT_NE(lock, INVALID_HANDLE_VALUE);

  // The four ways in, at once, each timed.
  std::int32_t entries = -1, index = -1;
  std::string loaded, extracted = "<not run>";
  double seconds[4] = {};
  auto timed = [&](int k, auto body) {
    return std::thread([&seconds, k, body] {
      const auto start = Clock::now();
      body();
      seconds[k] = std::chrono::duration<double>(Clock::now() - start).count();
    });
  };
  std::thread threads[] = {
      timed(0, [&] { entries = TExeExtReader(book).EntryCount(); }),
      timed(1, [&] { index = BundleEntryIndex("book.swf", book); }),
      timed(2, [&] { loaded = Loaded("book.swf", book); }),
      timed(3, [&] { extracted = Extracted("book.swf", book); }),
  };
  for (std::thread& t : threads) t.join();
  EXPECT_EQ(entries, 0);
  EXPECT_EQ(index, 0);
  EXPECT_EQ(loaded, "<none>");
  EXPECT_EQ(extracted, "");
  for (double s : seconds) {
    EXPECT_GE(s, 4.8) << "gave up before the retry time";
    EXPECT_LT(s, 60.0);
  }
  ::CloseHandle(lock);
  EXPECT_EQ(BundleEntryIndex("book.swf", book), 1);

  ClearBundleCache();
  lock = lockFile();
  ASSERT_NE(lock, INVALID_HANDLE_VALUE);
  std::thread release([&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    ::CloseHandle(lock);
  });
  EXPECT_EQ(Loaded("book.swf", book), "<swf>");
  release.join();
}
#endif

}  // namespace
}  // namespace pageturn
