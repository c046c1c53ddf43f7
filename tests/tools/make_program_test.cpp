// The real pageturn-pack program making a book: the player and runtime found beside the tool
// when not named, exit codes, and no progress when standard output is no terminal.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdlib>
#include <filesystem>
#include <string>

#include "../bundle/bundle_fixture.h"
#include "bundle/bundle_names.h"
#include "bundle/exe_ext_reader.h"

namespace pageturn {
namespace {

namespace fs = std::filesystem;
using testing::ReadFileBytes;
using testing::WriteFileBytes;

class MakeProgram : public testing::TempFolder {
 protected:
  // A folder holding the program, a player and a runtime, as an installed tool has them.
  void SetUp() override {
    TempFolder::SetUp();
    fs::create_directories(PathOf("kit"));
    fs::copy_file(PAGETURN_PACK_PROGRAM, PathOf("kit/pageturn-pack"));
    WriteFileBytes(PathOf("kit/pageturn.exe"), testing::kImage);
    WriteFileBytes(PathOf("kit/flash.ocx"), "MZ runtime beside the tool");
    const std::string png = std::string("\x89PNG\r\n\x1a\n\0\0\0\x0dIHDR\0\0\0\x20\0\0\0\x10", 24);
    WriteFileBytes(PathOf("pages/1.png"), png);
  }
  int Run(const std::string& arguments) {
    const std::string command = "'" + PathOf("kit/pageturn-pack") + "' " + arguments + " >'" +
                                PathOf("out.txt") + "' 2>'" + PathOf("err.txt") + "'";
    const int status = std::system(command.c_str());
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  }
  std::string Out() { return ReadFileBytes(PathOf("out.txt")); }
  std::string Err() { return ReadFileBytes(PathOf("err.txt")); }
};

TEST_F(MakeProgram, TakesThePlayerAndRuntimeBesideItself) {
  ASSERT_EQ(Run("make '" + PathOf("pages") + "' -o '" + PathOf("book.exe") + "'"), 0) << Err();
  EXPECT_EQ(Err(), "");
  EXPECT_EQ(Out().find("reading pictures"), std::string::npos) << "no terminal, no progress";
  EXPECT_NE(Out().find("1 pages on a 32 x 16 stage"), std::string::npos) << Out();
  const TExeExtReader book(PathOf("book.exe"));
  bool found = false;
  for (const TBundleIndexLine& line : ParseBundleIndex(book.ReadEntryText(0))) {
    if (line.name != "flash.ocx") continue;
    found = true;
    EXPECT_EQ(book.ReadEntryText(BundleIndexNumber(line.value)), "MZ runtime beside the tool");
  }
  EXPECT_TRUE(found);
  EXPECT_EQ(ReadFileBytes(PathOf("book.exe")).rfind(testing::kImage, 0), 0u) << "the player first";

  fs::remove(PathOf("kit/flash.ocx"));
  EXPECT_EQ(Run("make '" + PathOf("pages") + "' -o '" + PathOf("other.exe") + "'"), 1);
  EXPECT_EQ(Err(), "pageturn-pack make: No runtime beside the tool; name one with --runtime\n");
  EXPECT_FALSE(fs::exists(PathOf("other.exe")));

  EXPECT_EQ(Run("make '" + PathOf("pages") + "'"), 2);
  EXPECT_NE(Err().find("usage: pageturn-pack make"), std::string::npos) << Err();
}

}  // namespace
}  // namespace pageturn
