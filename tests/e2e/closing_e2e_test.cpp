// The player ends cleanly while the runtime is still busy: the real player made into books that
// carry the stand-in's test variant, which (told so by its environment) keeps a worker fetching a
// page over and over and, when its object goes, waits for that worker without dispatching
// messages, as a runtime that joins its threads on close does. Its detach writes down whether
// COM was still there.
#include <gtest/gtest.h>
#include <windows.h>

#include <string>
#include <vector>

#include "tests/e2e/book_harness.h"
#include "tests/e2e/test_movies.h"

namespace pageturn::e2e {
namespace {

// Sets an environment variable of this process (which the books inherit) for the life of the
// object.
class TScopedEnvironment {
 public:
  TScopedEnvironment(const char* name, const std::string& value) : name_(name) {
    ::SetEnvironmentVariableA(name, value.c_str());
  }
  ~TScopedEnvironment() { ::SetEnvironmentVariableA(name_, nullptr); }
  TScopedEnvironment(const TScopedEnvironment&) = delete;
  TScopedEnvironment& operator=(const TScopedEnvironment&) = delete;

 private:
  const char* name_;
};

std::string Page(std::size_t size) {
  std::string bytes(size, '\0');
  for (std::size_t i = 0; i < size; ++i) bytes[i] = static_cast<char>(i * 131 >> 3);
  return bytes;
}

std::string TestRuntime() { return ReadFileBytes(LinuxToWine(STANDIN_FLASH_TEST_PATH)); }

std::string BookWith(const std::string& name, const std::string& page) {
  return MakeBook(name, {{"ExeConfig.xml", ExeConfigXml("Closing", "1", "640", "480")},
                         {"book.swf", Movie({}, 0x305070)},
                         {"files/page.bin", page},
                         {"flash.ocx", TestRuntime()}});
}

int CountOf(const std::string& text, const std::string& part) {
  int n = 0;
  for (std::size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++n;
  return n;
}

// The worker asks by the URL road with a name that only the global handler answers, so every
// answer is a write into a served stream from the worker's thread, marshalled to the window's
// thread. The window closes while that goes on: the queued write must not be left waiting for a
// loop that has ended, nor run once the runtime is gone.
TEST(ClosingTheBook, WhileAWorkerOfTheRuntimeWritesThePlayerEndsAtOnce) {
  const std::string log = BooksFolder() + "\\closing-worker.log";
  ::DeleteFileA(log.c_str());
  const TScopedEnvironment worker("STANDIN_TEST_CLOSING_WORKER_URL", "files/page.bin");
  const std::string book = BookWith("closing-worker.exe", Page(256 * 1024));
  TBookProcess process(book, "-d -Fclosing-worker.log");
  ASSERT_NE(process.WaitForWindow(), nullptr);
  // Several answers given: the worker is at it.
  const DWORD start = ::GetTickCount();
  while (CountOf(ReadFileBytes(log), "ContentProvider url[files/page.bin]") < 5) {
    ASSERT_LT(::GetTickCount() - start, 15000u) << ReadFileBytes(log);
    ::Sleep(20);
  }
  process.Post(WM_CLOSE);
  DWORD code = 99;
  const bool ended = process.WaitForExit(2000, &code);
  if (!ended) process.Kill();
  ASSERT_TRUE(ended) << "the player did not end within 2 s of the close";
  EXPECT_EQ(code, 0u);
}

TEST(ClosingTheBook, TheRuntimeDetachesWhileCOMIsStillInitialised) {
  const std::string report = BooksFolder() + "\\detach-report.txt";
  ::DeleteFileA(report.c_str());
  const TScopedEnvironment detach("STANDIN_TEST_DETACH_REPORT", report);
  const std::string book = BookWith("closing-detach.exe", Page(1000));
  TBookProcess process(book, "");
  ASSERT_NE(process.WaitForWindow(), nullptr);
  process.Post(WM_CLOSE);
  DWORD code = 99;
  ASSERT_TRUE(process.WaitForExit(10000, &code));
  EXPECT_EQ(code, 0u);
  EXPECT_EQ(ReadFileBytes(report), "com=1");
}

}  // namespace
}  // namespace pageturn::e2e
