// The real pageturn-pack program: exit codes and the split of standard output and error.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdlib>
#include <filesystem>
#include <string>

#include "../bundle/bundle_fixture.h"

namespace pageturn {
namespace {

using testing::ReadFileBytes;
using testing::WriteFileBytes;

class PackProgram : public testing::TempFolder {
 protected:
  // Runs the program with the arguments (already quoted), stdout and stderr into files.
  int Run(const std::string& arguments) {
    const std::string command = std::string("'") + PAGETURN_PACK_PROGRAM + "' " + arguments +
                                " >'" + PathOf("out.txt") + "' 2>'" + PathOf("err.txt") + "'";
    const int status = std::system(command.c_str());
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  }
  std::string Out() { return ReadFileBytes(PathOf("out.txt")); }
  std::string Err() { return ReadFileBytes(PathOf("err.txt")); }
};

TEST_F(PackProgram, ExitCodesAndStreams) {
  WriteFileBytes(PathOf("in/book.swf"), "FWS");
  WriteFileBytes(PathOf("player.exe"), testing::kImage);
  EXPECT_EQ(Run("pack --player '" + PathOf("player.exe") + "' --from '" + PathOf("in") + "' -o '" +
                PathOf("book.exe") + "' --digest"),
            0);
  EXPECT_EQ(Out().find("packing"), std::string::npos);  // no terminal, no progress
  EXPECT_EQ(Err(), "");

  EXPECT_EQ(Run("verify '" + PathOf("book.exe") + "'"), 0);
  EXPECT_EQ(Out().rfind("ok: 2 entries", 0), 0u) << Out();

  EXPECT_EQ(Run("verify '" + PathOf("player.exe") + "'"), 1);
  EXPECT_EQ(Out(), "");
  EXPECT_EQ(Err(), "pageturn-pack verify: Can not find extent section\n");

  EXPECT_EQ(Run("list"), 2);
  EXPECT_EQ(Out(), "");
  EXPECT_NE(Err().find("usage: pageturn-pack list"), std::string::npos);
}

}  // namespace
}  // namespace pageturn
