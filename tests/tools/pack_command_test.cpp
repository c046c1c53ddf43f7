#include "tools/pack_command.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <sstream>
#include <string>
#include <vector>

#include "../bundle/bundle_fixture.h"
#include "bundle/exe_ext_reader.h"

namespace pageturn {
namespace {

namespace fs = std::filesystem;
using testing::kImage;
using testing::ReadFileBytes;
using testing::SectionBytes;
using testing::WriteFileBytes;

struct TResult {
  int code;
  std::string out, err;
};

TResult RunTool(const std::vector<std::string>& args, bool interactive = false) {
  std::ostringstream out, err;
  const int code = RunPackCommand(args, out, err, interactive);
  return {code, out.str(), err.str()};
}

class PackCommand : public testing::TempFolder {
 protected:
  void SetUp() override {
    TempFolder::SetUp();
    WriteFileBytes(PathOf("player.exe"), kImage);
    files_ = {{"ExeConfig.xml", "<?xml version=\"1.0\"?>\r\n<ExeConfig/>\r\n"},
              {"book.swf", "FWS movie"},
              {"files/large/1.swf", "FWS page"},
              {"files/thumb/1.jpg", std::string("\xFF\xD8\xFF\0\1", 5)},
              {"files/empty.bin", ""}};
    for (const auto& [name, bytes] : files_) WriteFileBytes(PathOf("in/" + name), bytes);
  }
  TResult Pack(const std::string& out, bool digest) {
    std::vector<std::string> args = {"pack",       "--player", PathOf("player.exe"), "--from",
                                     PathOf("in"), "-o",       PathOf(out)};
    if (digest) args.push_back("--digest");
    return RunTool(args);
  }

  std::vector<std::pair<std::string, std::string>> files_;
};

TEST_F(PackCommand, PackListExtractRoundTripsTheFolder) {
  for (bool digest : {false, true}) {
    SCOPED_TRACE(digest ? "digest" : "no digest");
    const std::string book = digest ? "digest.exe" : "plain.exe";
    const TResult pack = Pack(book, digest);
    ASSERT_EQ(pack.code, 0) << pack.err;
    EXPECT_EQ(pack.err, "");

    const TResult list = RunTool({"list", PathOf(book)});
    EXPECT_EQ(list.code, 0);
    EXPECT_EQ(list.out,
              "     1          9 book.swf\n"
              "     2         37 ExeConfig.xml\n"
              "     3          0 files/empty.bin\n"
              "     4          8 files/large/1.swf\n"
              "     5          5 files/thumb/1.jpg\n");

    const std::string out = PathOf(digest ? "out-digest" : "out-plain");
    const TResult extract = RunTool({"extract", PathOf(book), "-o", out});
    ASSERT_EQ(extract.code, 0) << extract.err;
    for (const auto& [name, bytes] : files_) {
      ASSERT_TRUE(fs::exists(out + "/" + name)) << name;
      EXPECT_EQ(ReadFileBytes(out + "/" + name), bytes) << name;
    }
    const TResult verify = RunTool({"verify", PathOf(book)});
    EXPECT_EQ(verify.code, 0);
    EXPECT_EQ(verify.out.rfind("ok: 6 entries", 0), 0u) << verify.out;
  }
  EXPECT_EQ(fs::file_size(PathOf("digest.exe")), fs::file_size(PathOf("plain.exe")) + 16);
}

TEST_F(PackCommand, ExtractsOnlyTheNamedEntries) {
  ASSERT_EQ(Pack("book.exe", false).code, 0);
  const TResult extract = RunTool(
      {"extract", PathOf("book.exe"), "-o", PathOf("out"), "BOOK.SWF", "files/thumb/1.jpg"});
  ASSERT_EQ(extract.code, 0) << extract.err;
  EXPECT_EQ(ReadFileBytes(PathOf("out/book.swf")), "FWS movie");
  EXPECT_TRUE(fs::exists(PathOf("out/files/thumb/1.jpg")));
  EXPECT_FALSE(fs::exists(PathOf("out/ExeConfig.xml")));

  const TResult missing = RunTool({"extract", PathOf("book.exe"), "-o", PathOf("out2"), "nope"});
  EXPECT_EQ(missing.code, 1);
  EXPECT_NE(missing.err.find("No entry named \"nope\""), std::string::npos) << missing.err;
}

TEST_F(PackCommand, ExtractRefusesNamesThatLeaveTheFolder) {
  for (const std::string name :
       {"../escape.txt", "a/../../escape.txt", "/etc/escape.txt", "\\escape.txt", "C:escape.txt",
        "c:/escape.txt", "files\\..\\..\\escape.txt",
       // Windows devices, any case, any extension, on every platform; names it would trim
       "CON", "files/nul.txt", "Aux.tar.gz", "prn", "com1", "files/LPT9.swf", "nul .txt",
       "files/trailing.", "trailing /x.txt", "files/blank ", "...", "..a/b.."}) {
    SCOPED_TRACE(name);
    EXPECT_FALSE(IsSafeEntryPath(name));
    const std::string book = MakeBook("evil.exe", {"ok.txt=1\r\n" + name + "=1\r\n", "x"});
    const TResult extract = RunTool({"extract", book, "-o", PathOf("out")});
    EXPECT_EQ(extract.code, 1);
    EXPECT_NE(extract.err.find("leaves the output folder"), std::string::npos) << extract.err;
    EXPECT_FALSE(fs::exists(PathOf("out/ok.txt")));  // nothing at all is written
    EXPECT_FALSE(fs::exists(PathOf("escape.txt")));
  }
  for (const std::string name : {"a.txt", "files/x/1.jpg", "..a/b", "a/./b", "console.txt",
                                 "com10", "com0.txt", "lpt.txt", "nul_x", "files/.hidden"}) {
    EXPECT_TRUE(IsSafeEntryPath(name)) << name;
  }
}

TEST_F(PackCommand, VerifyReportsWhatIsWrongWithABook) {
  std::string badDigest = kImage + SectionBytes({"a=1\r\n", "abc"}, 1);
  badDigest[kImage.size() + 6] ^= 1;
  const struct {
    const char* what;
    std::string bytes;
    std::string message;
  } cases[] = {
      {"no bundle", kImage, "Can not find extent section"},
      {"bad digest", badDigest, "Content Valid failed!"},
      {"no entries", kImage + SectionBytes({}, 0), "holds no entries"},
      {"index past the entries", kImage + SectionBytes({"a=1\r\nb=2\r\n", "abc"}, 0),
       "Index line \"b=2\" names no entry: Error index (ExeExt, line 308)"},
      {"index line with a negative number", kImage + SectionBytes({"a=1\r\nb=-3\r\n", "abc"}, 0),
       "Index line \"b=-3\" names no entry: Error index"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    WriteFileBytes(PathOf("bad.exe"), c.bytes);
    const TResult verify = RunTool({"verify", PathOf("bad.exe")});
    EXPECT_EQ(verify.code, 1);
    EXPECT_NE(verify.err.find(c.message), std::string::npos) << verify.err;
  }
  const TResult missing = RunTool({"verify", PathOf("missing.exe")});
  EXPECT_EQ(missing.code, 1);
  EXPECT_NE(missing.err.find("Cannot open file"), std::string::npos);
}

// A value that reads as 0 marks a name absent, as the player reads the index: such lines are no
// damage, and extracting everything leaves them out.
TEST_F(PackCommand, IndexLinesNamingNoEntryAreAbsentNames) {
  const std::string book = MakeBook("absent.exe", {"x=0\r\na=1\r\ny=\r\nz=abc\r\n", "abc"});
  const TResult verify = RunTool({"verify", book});
  EXPECT_EQ(verify.code, 0) << verify.err;
  EXPECT_NE(verify.out.find("3 index lines naming no entry"), std::string::npos) << verify.out;
  const TResult extract = RunTool({"extract", book, "-o", PathOf("out")});
  ASSERT_EQ(extract.code, 0) << extract.err;
  EXPECT_EQ(ReadFileBytes(PathOf("out/a")), "abc");
  EXPECT_EQ(std::distance(fs::directory_iterator(PathOf("out")), fs::directory_iterator()), 1);
  const TResult named = RunTool({"extract", book, "-o", PathOf("out2"), "X"});
  EXPECT_EQ(named.code, 1);
  EXPECT_NE(named.err.find("No entry named \"X\""), std::string::npos) << named.err;
}

TEST_F(PackCommand, InfoDescribesTheBundle) {
  ASSERT_EQ(Pack("book.exe", true).code, 0);
  const TExeExtReader reader(PathOf("book.exe"));
  const TResult info = RunTool({"info", PathOf("book.exe")});
  EXPECT_EQ(info.code, 0);
  EXPECT_EQ(info.out, "entries 6\ndigest flag 1\nsection size " +
                          std::to_string(reader.SectionSize()) + "\ndata start " +
                          std::to_string(kImage.size()) + "\n");
}

TEST_F(PackCommand, FailedPackLeavesNoBook) {
  WriteFileBytes(PathOf("book.exe"), "old");
  const TResult noFolder = RunTool({"pack", "--player", PathOf("player.exe"), "--from",
                                    PathOf("no-folder"), "-o", PathOf("book.exe")});
  EXPECT_EQ(noFolder.code, 1);
  const TResult noPlayer = RunTool({"pack", "--player", PathOf("no-player.exe"), "--from",
                                    PathOf("in"), "-o", PathOf("book.exe")});
  EXPECT_EQ(noPlayer.code, 1);
  EXPECT_NE(noPlayer.err.find("no-player.exe"), std::string::npos);
  EXPECT_EQ(ReadFileBytes(PathOf("book.exe")), "old");
  for (const auto& item : fs::directory_iterator(PathOf("")))
    EXPECT_EQ(item.path().string().find(".partial"), std::string::npos) << item.path();
}

TEST_F(PackCommand, RefusesToWriteTheBookIntoItsOwnFolder) {
  const TResult inside = RunTool({"pack", "--player", PathOf("player.exe"), "--from", PathOf("in"),
                                  "-o", PathOf("in/files/../book.exe")});
  EXPECT_EQ(inside.code, 2);
  EXPECT_NE(inside.err.find("must not lie inside BOOKDIR"), std::string::npos) << inside.err;
  EXPECT_FALSE(fs::exists(PathOf("in/book.exe")));
  EXPECT_EQ(RunTool({"pack", "--player", PathOf("player.exe"), "--from", PathOf("in") + "/", "-o",
                     PathOf("in/book.exe")})
                .code,
            2);
  // A sibling folder whose name merely starts the same is fine.
  EXPECT_EQ(RunTool({"pack", "--player", PathOf("player.exe"), "--from", PathOf("in"), "-o",
                     PathOf("in2.exe")})
                .code,
            0);
}

TEST_F(PackCommand, ShowsProgressOnlyWhenInteractive) {
  const std::vector<std::string> args = {"pack",       "--player", PathOf("player.exe"), "--from",
                                         PathOf("in"), "-o",       PathOf("book.exe")};
  EXPECT_EQ(RunTool(args, false).out.find("packing"), std::string::npos);
  const TResult shown = RunTool(args, true);
  EXPECT_NE(shown.out.find("\rpacking 100%"), std::string::npos) << shown.out;
}

TEST(PackCommandUsage, HelpAndBadUsage) {
  const struct {
    std::vector<std::string> args;
    int code;
    const char* text;  // in standard output for 0, in standard error otherwise
  } cases[] = {
      {{}, 2, "usage: pageturn-pack COMMAND"},
      {{"--help"}, 0, "usage: pageturn-pack COMMAND"},
      {{"frobnicate"}, 2, "unknown command \"frobnicate\""},
      {{"pack", "--help"}, 0, "usage: pageturn-pack pack"},
      {{"list", "--help"}, 0, "usage: pageturn-pack list"},
      {{"extract", "--help"}, 0, "usage: pageturn-pack extract"},
      {{"verify", "--help"}, 0, "usage: pageturn-pack verify"},
      {{"info", "--help"}, 0, "usage: pageturn-pack info"},
      {{"pack", "--player", "p.exe"}, 2, "needs --player, --from and -o"},
      {{"pack", "--player"}, 2, "--player needs a value"},
      {{"pack", "--zip"}, 2, "unknown argument \"--zip\""},
      {{"list"}, 2, "expects exactly one BOOK.exe"},
      {{"list", "a.exe", "b.exe"}, 2, "expects exactly one BOOK.exe"},
      {{"extract", "a.exe"}, 2, "needs BOOK.exe and -o DIR"},
      // The same words for the same mistakes in every command.
      {{"extract", "a.exe", "-o"}, 2, "-o needs a value"},
      {{"make", "pages", "-o"}, 2, "-o needs a value"},
      {{"make", "pages", "-o", "b.exe", "--width"}, 2, "--width needs a value"},
      {{"make", "pages", "-o", "b.exe", "--height", "1e3"}, 2, "--height needs a whole number"},
      {{"make", "pages", "--zip"}, 2, "unknown argument \"--zip\""},
  };
  for (const auto& c : cases) {
    const TResult r = RunTool(c.args);
    SCOPED_TRACE(::testing::PrintToString(c.args));
    EXPECT_EQ(r.code, c.code);
    const std::string& shown = c.code == 0 ? r.out : r.err;
    EXPECT_NE(shown.find(c.text), std::string::npos) << r.out << r.err;
    EXPECT_EQ(shown.back(), '\n') << "ends its last line";
  }
}

}  // namespace
}  // namespace pageturn
