#include "app/log4dp.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <regex>
#include <sstream>
#include <thread>
#include <vector>

#include "bundle/exe_ext_reader.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace pageturn {
namespace {

#ifdef _WIN32
constexpr char kSep = '\\';
#else
constexpr char kSep = '/';
#endif

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

void WriteFile(const std::string& path, const std::string& content) {
  std::ofstream(path, std::ios::binary | std::ios::trunc) << content;
}

bool DirExists(const std::string& path) {
#ifdef _WIN32
  const DWORD a = ::GetFileAttributesA(path.c_str());
  return a != INVALID_FILE_ATTRIBUTES && (a & FILE_ATTRIBUTE_DIRECTORY);
#else
  struct stat st;
  return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
#endif
}

// The lines of the file with their time stamps cut off; fails on any line not of the form
// "yyyy-mm-dd hh:mm:ss: message" ended by CR LF.
std::vector<std::string> LoggedMessages(const std::string& content) {
  static const std::regex line(R"((\d{4}-\d\d-\d\d \d\d:\d\d:\d\d): ([^\r\n]*)\r\n)");
  std::vector<std::string> messages;
  auto begin = std::sregex_iterator(content.begin(), content.end(), line);
  std::size_t covered = 0;
  for (auto it = begin; it != std::sregex_iterator(); ++it) {
    EXPECT_EQ(static_cast<std::size_t>(it->position()), covered) << "unexpected text in the log";
    covered = it->position() + it->length();
    messages.push_back((*it)[2]);
  }
  EXPECT_EQ(covered, content.size()) << "log does not end with a full line";
  return messages;
}

class LogTest : public ::testing::Test {
 protected:
  void SetUp() override {
    const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
#ifdef _WIN32
    char tmp[MAX_PATH];
    ::GetTempPathA(MAX_PATH, tmp);
    dir_ = std::string(tmp) + "pageturn_log_" + std::to_string(::GetCurrentProcessId()) + "_" +
           info->name();
#else
    dir_ = "/tmp/pageturn_log_" + std::to_string(::getpid()) + "_" + info->name();
#endif
    dir_ += kSep;
    // Process ids come round again under Wine: start from an empty folder whatever was left.
    std::error_code ignored;
    std::filesystem::remove_all(dir_, ignored);
    std::filesystem::create_directories(dir_, ignored);
    DebugEnabled = true;
    LogFileName = dir_ + "trace.txt";
  }
  void TearDown() override {
    DebugEnabled = false;
    LogFileName.clear();
    std::error_code ignored;
    std::filesystem::remove_all(dir_, ignored);
  }
  std::string dir_;
};

TEST_F(LogTest, LinesAreStampedAndEndedWithCrLf) {
  TLog4DP::WriteLog("Loading book.swf...");
  TLog4DP::WriteLog("");
  TLog4DP::WriteLog("FormKeyPress[x]");
  EXPECT_EQ(LoggedMessages(ReadFile(LogFileName)),
            (std::vector<std::string>{"Loading book.swf...", "", "FormKeyPress[x]"}));
}

TEST_F(LogTest, TimeStampHasTheFixedPattern) {
  EXPECT_TRUE(
      std::regex_match(FormatLogTimeStamp(), std::regex(R"(\d{4}-\d\d-\d\d \d\d:\d\d:\d\d)")))
      << FormatLogTimeStamp();
}

TEST_F(LogTest, OffTouchesNothing) {
  DebugEnabled = false;
  LogFileName = dir_ + "missing" + kSep + "trace.txt";
  TLog4DP::WriteLog("x");
  EXPECT_FALSE(DirExists(dir_ + "missing"));
}

TEST_F(LogTest, CreatesNestedMissingDirectories) {
  LogFileName = dir_ + "a" + kSep + "b" + kSep + "c" + kSep + "trace.txt";
  TLog4DP::WriteLog("deep");
  EXPECT_EQ(LoggedMessages(ReadFile(LogFileName)), std::vector<std::string>{"deep"});
}

TEST_F(LogTest, EarlierLinesAreReEndedWithCrLf) {
  WriteFile(LogFileName, "one\ntwo\rthree\r\n\nfour");
  TLog4DP::WriteLog("five");
  const std::string content = ReadFile(LogFileName);
  const std::string old = "one\r\ntwo\r\nthree\r\n\r\nfour\r\n";
  ASSERT_EQ(content.substr(0, old.size()), old);
  EXPECT_EQ(LoggedMessages(content.substr(old.size())), std::vector<std::string>{"five"});
}

// The append shortcut must notice any change made to the file by someone else.
TEST_F(LogTest, ChangesByOthersBetweenLinesAreNormalisedToo) {
  TLog4DP::WriteLog("first");
  { std::ofstream(LogFileName, std::ios::binary | std::ios::app) << "foreign\nline"; }
  TLog4DP::WriteLog("second");
  const std::string content = ReadFile(LogFileName);
  const std::size_t foreign = content.find("foreign\r\nline\r\n");
  ASSERT_NE(foreign, std::string::npos) << content;
  EXPECT_EQ(LoggedMessages(content.substr(0, foreign)), std::vector<std::string>{"first"});
  EXPECT_EQ(LoggedMessages(content.substr(foreign + 15)), std::vector<std::string>{"second"});

  WriteFile(LogFileName, "replaced\n");  // a different file under the same name
  TLog4DP::WriteLog("third");
  const std::string replaced = ReadFile(LogFileName);
  ASSERT_EQ(replaced.substr(0, 10), "replaced\r\n");
  EXPECT_EQ(LoggedMessages(replaced.substr(10)), std::vector<std::string>{"third"});
}

TEST_F(LogTest, MessageWithLineBreakIsSplitOnTheNextLine) {
  TLog4DP::WriteLog("a\nb");
  EXPECT_NE(ReadFile(LogFileName).find(": a\nb\r\n"), std::string::npos);  // as it came
  TLog4DP::WriteLog("c");
  const std::string content = ReadFile(LogFileName);
  EXPECT_NE(content.find(": a\r\nb\r\n"), std::string::npos) << content;
  EXPECT_NE(content.find(": c\r\n"), std::string::npos);
}

TEST_F(LogTest, ConcurrentCallsLoseNoLine) {
  constexpr int kThreads = 6, kLines = 150;
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t)
    threads.emplace_back([t] {
      for (int i = 0; i < kLines; ++i)
        TLog4DP::WriteLog(std::to_string(t) + ":" + std::to_string(i));
    });
  for (auto& thread : threads) thread.join();
  const std::vector<std::string> messages = LoggedMessages(ReadFile(LogFileName));
  ASSERT_EQ(messages.size(), std::size_t{kThreads * kLines});
  for (int t = 0; t < kThreads; ++t) {
    int next = 0;  // each thread's lines in its own order
    for (const auto& m : messages) {
      if (m.rfind(std::to_string(t) + ":", 0) == 0) {
        EXPECT_EQ(m, std::to_string(t) + ":" + std::to_string(next++));
      }
    }
    EXPECT_EQ(next, kLines);
  }
}

TEST_F(LogTest, FailuresAreSilent) {
  LogFileName = dir_;  // a directory, not a file
  TLog4DP::WriteLog("lost");
  LogFileName = std::string(dir_) + "x" + kSep + '\0' + "bad";
  TLog4DP::WriteLog("lost");
  LogFileName.clear();  // log on, no file: nothing to write to
  TLog4DP::WriteLog("lost");
  SUCCEED();
}

#ifdef _WIN32
TEST_F(LogTest, BareNameGoesToTheProgramFolderAndStays) {
  const std::string name = "pageturn_log_test_" + std::to_string(::GetCurrentProcessId()) + ".txt";
  LogFileName = name;
  TLog4DP::WriteLog("bare");
  EXPECT_EQ(LogFileName, ProgramDirPath(name));
  EXPECT_EQ(LoggedMessages(ReadFile(LogFileName)), std::vector<std::string>{"bare"});
  std::remove(LogFileName.c_str());
}

TEST_F(LogTest, RelativeDirectoryStaysRelativeToTheCurrentDirectory) {
  char old[MAX_PATH];
  ::GetCurrentDirectoryA(MAX_PATH, old);
  ASSERT_TRUE(::SetCurrentDirectoryA(dir_.c_str()));
  LogFileName = "logs\\trace.txt";
  TLog4DP::WriteLog("relative");
  ::SetCurrentDirectoryA(old);
  EXPECT_EQ(LogFileName, "logs\\trace.txt");
  EXPECT_EQ(LoggedMessages(ReadFile(dir_ + "logs\\trace.txt")),
            std::vector<std::string>{"relative"});
}
#endif

}  // namespace
}  // namespace pageturn
