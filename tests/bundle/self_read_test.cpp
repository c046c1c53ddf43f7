// A real book: a copy of a real program with a bundle appended, started under Windows (Wine),
// which reads its own bundle through ProgramFileName.
#include <gtest/gtest.h>
#include <windows.h>

#include <string>
#include <thread>

#include "bundle/bundle_writer.h"
#include "bundle/exe_ext_reader.h"
#include "bundle_fixture.h"
#include "core/win32.h"

namespace pageturn {
namespace {

struct TRun {
  DWORD exitCode = 0xdeadbeef;
  std::string output;
};

// Starts the program, collects its standard output and waits for it, killing it on timeout.
TRun RunProgram(const std::string& program, const std::string& arguments) {
  SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
  HANDLE readEnd = nullptr, writeEnd = nullptr;
  EXPECT_TRUE(::CreatePipe(&readEnd, &writeEnd, &inherit, 0));
  ScopedHandle reader(readEnd), writer(writeEnd);
  ::SetHandleInformation(reader.Get(), HANDLE_FLAG_INHERIT, 0);

  STARTUPINFOA startup{};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdOutput = writer.Get();
  startup.hStdError = writer.Get();
  startup.hStdInput = ::GetStdHandle(STD_INPUT_HANDLE);
  PROCESS_INFORMATION process{};
  std::string commandLine = "\"" + program + "\" " + arguments;
  TRun run;
  if (!::CreateProcessA(program.c_str(), commandLine.data(), nullptr, nullptr, TRUE, 0, nullptr,
                        nullptr, &startup, &process)) {
    ADD_FAILURE() << "cannot start " << program << ": " << ::GetLastError();
    return run;
  }
  ScopedHandle processHandle(process.hProcess), threadHandle(process.hThread);
  writer.Reset();  // the child holds the only write end now: EOF comes when it ends

  char buffer[4096];
  DWORD got = 0;
  while (::ReadFile(reader.Get(), buffer, sizeof buffer, &got, nullptr) && got > 0) {
    run.output.append(buffer, got);
  }
  if (::WaitForSingleObject(processHandle.Get(), 20000) != WAIT_OBJECT_0) {
    ::TerminateProcess(processHandle.Get(), 99);
    ::WaitForSingleObject(processHandle.Get(), 5000);
    ADD_FAILURE() << program << " did not end";
  }
  ::GetExitCodeProcess(processHandle.Get(), &run.exitCode);
  for (std::size_t at; (at = run.output.find('\r')) != std::string::npos;) run.output.erase(at, 1);
  return run;
}

class SelfRead : public testing::TempFolder {
 protected:
  std::string MakeSelfReadingBook(bool digest) {
    TBundleWriter writer;
    writer.AddEntry("book.swf", "FWS movie");
    writer.AddEntry("files/thumb/1.jpg", "thumb");
    writer.SetDigest(digest);
    const std::string book = PathOf(digest ? "digest-book.exe" : "book.exe");
    writer.WriteBook(ProgramDirPath("bundle_self_read_helper.exe"), book);
    return book;
  }
};

TEST_F(SelfRead, BookReadsItsOwnBundleThroughTheEmptyFileName) {
  for (bool digest : {false, true}) {
    const TRun run = RunProgram(MakeSelfReadingBook(digest), "BOOK.SWF files/thumb/1.jpg missing");
    EXPECT_EQ(run.exitCode, 0u);
    EXPECT_EQ(run.output,
              "entries 3\nBOOK.SWF=1:FWS movie\nfiles/thumb/1.jpg=2:thumb\nmissing=0:<none>\n");
  }
}

TEST_F(SelfRead, BlankNameAlsoMeansTheProgramsOwnFile) {
  const TRun run = RunProgram(MakeSelfReadingBook(false), "--blank book.swf");
  EXPECT_EQ(run.exitCode, 0u);
  EXPECT_EQ(run.output, "entries 3\nbook.swf=1:FWS movie\n");
}

TEST_F(SelfRead, ProgramWithoutBundleSaysSo) {
  const TRun run = RunProgram(ProgramDirPath("bundle_self_read_helper.exe"), "book.swf");
  EXPECT_EQ(run.exitCode, 4u);
  EXPECT_EQ(run.output, "error Can not find extent section\n");
}

// The book is read while someone else holds it open for writing (the reader shares everything).
// Windows will not start a program that is open for writing, so this reader is the test's own.
TEST_F(SelfRead, BookIsReadWhileOpenForWritingElsewhere) {
  const std::string book = MakeSelfReadingBook(true);
  ScopedHandle held(::CreateFileA(book.c_str(), GENERIC_READ | GENERIC_WRITE,
                                  FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                  OPEN_EXISTING, 0, nullptr));
  ASSERT_TRUE(held.IsValid());
  const TExeExtReader reader(book);
  ASSERT_EQ(reader.EntryCount(), 3);
  EXPECT_EQ(reader.ReadEntryText(1), "FWS movie");
}

// A book held without sharing for a moment is waited for: the reader retries its open.
TEST_F(SelfRead, ReaderWaitsForABookThatIsBrieflyLocked) {
  const std::string book = MakeSelfReadingBook(false);
  ScopedHandle locked(
      ::CreateFileA(book.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr));
  ASSERT_TRUE(locked.IsValid());
  // The lock goes after half a second, while the reader in this process is retrying.
  HANDLE timer = ::CreateWaitableTimerA(nullptr, TRUE, nullptr);
  ScopedHandle timerHandle(timer);
  LARGE_INTEGER due;
  due.QuadPart = -5000000;  // 500 ms
  ::SetWaitableTimer(timer, &due, 0, nullptr, nullptr, FALSE);
  std::thread unlock([&] {
    ::WaitForSingleObject(timer, INFINITE);
    locked.Reset();
  });
  const DWORD start = ::GetTickCount();
  const TExeExtReader reader(book);
  const DWORD waited = ::GetTickCount() - start;
  unlock.join();
  EXPECT_EQ(reader.EntryCount(), 3);
  EXPECT_GE(waited, 300u);
  EXPECT_LT(waited, 5000u);
}

}  // namespace
}  // namespace pageturn
