#include "app/command_line.h"

#include <gtest/gtest.h>

namespace pageturn {
namespace {

TEST(CommandLine, SplitsLikeTheShellAlwaysDid) {
  struct Case {
    const char* line;
    std::vector<std::string> params;
  } cases[] = {
      {"book.exe", {"book.exe"}},
      {"  book.exe   -D  -Fa.log ", {"book.exe", "-D", "-Fa.log"}},
      {"\"C:\\My Books\\book.exe\" /s", {"C:\\My Books\\book.exe", "/s"}},
      {"book.exe \" /p \"", {"book.exe", " /p "}},
      {"book.exe \"/p 123\"", {"book.exe", "/p 123"}},
      {"book.exe -F\"C:\\log dir\\x.txt\"", {"book.exe", "-FC:\\log dir\\x.txt"}},
      {"book.exe \"\" \"\"x", {"book.exe", "x"}},  // leading empty quotes never count
      {"book.exe \"unterminated", {"book.exe", "unterminated"}},
      {"book.exe\t,\x01-p", {"book.exe", ",", "-p"}},
      {"", {}},
  };
  for (const auto& c : cases) EXPECT_EQ(SplitCommandLine(c.line), c.params) << c.line;
}

TEST(CommandLine, LogSwitches) {
  struct Case {
    std::vector<std::string> args;
    bool debug;
    std::string file;
  } cases[] = {
      {{"-d", "-Fa.log", "-Fb.log"}, true, "b.log"},
      {{"-Dx"}, true, ""},
      {{"/D", "-Fx.log"}, false, "x.log"},
      {{"-debug", "-fbook.txt"}, true, "book.txt"},
      {{"-Fc:\\logs\\book.txt", "-F"}, false, ""},  // -F alone empties the name again
      {{"-", "D", "F"}, false, ""},
      {{}, false, ""},
  };
  for (const auto& c : cases) {
    bool debug = !c.debug;
    std::string file = "stale";
    ParseLogSwitches(c.args, debug, file);
    EXPECT_EQ(debug, c.debug) << ::testing::PrintToString(c.args);
    EXPECT_EQ(file, c.file) << ::testing::PrintToString(c.args);
  }
}

TEST(CommandLine, PreviewArgumentIsAnyPieceOfSlashPCommaDashP) {
  struct Case {
    const char* arg;
    bool preview;
  } cases[] = {{"/p", true},      {"-P", true},  {" /p ", true},  {"\t/P\r\n", true}, {",", true},
               {"p", true},       {"p,-", true}, {"/p,-p", true}, {"/s", false},      {"/c", false},
               {"/p 123", false}, {"", false},   {"   ", false},  {"/pp", false}};
  for (const auto& c : cases) EXPECT_EQ(IsPreviewArgument(c.arg), c.preview) << '"' << c.arg << '"';
}

}  // namespace
}  // namespace pageturn
