#include "bundle/bundle_writer.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "bundle/bundle_lookup.h"
#include "bundle/exe_ext_reader.h"
#include "bundle_fixture.h"
#include "core/error.h"

namespace pageturn {
namespace {

using testing::kImage;
using testing::ReadFileBytes;
using testing::WriteFileBytes;

class BundleWriter : public testing::TempFolder {};

TEST_F(BundleWriter, IndexIsSortedWithoutRegardToCaseAndEntriesFollowIt) {
  TBundleWriter writer;
  writer.AddEntry("files\\thumb\\2.jpg", "two");  // backslashes become slashes
  writer.AddEntry("book.swf", "movie");
  writer.AddEntry("ExeConfig.xml", "<xml/>");
  writer.AddEntry("bookContent.swf", "");
  EXPECT_EQ(writer.IndexText(),
            "book.swf=1\r\nbookContent.swf=2\r\nExeConfig.xml=3\r\nfiles/thumb/2.jpg=4\r\n");

  TStringStream section;
  writer.WriteBundle(section);
  WriteFileBytes(PathOf("book.exe"), kImage + section.DataString());
  const TExeExtReader reader(PathOf("book.exe"));
  ASSERT_EQ(reader.EntryCount(), 5);
  EXPECT_EQ(reader.ReadEntryText(0), writer.IndexText());
  const std::vector<std::string> expected = {"movie", "", "<xml/>", "two"};
  for (int n = 1; n < 5; ++n) EXPECT_EQ(reader.ReadEntryText(n), expected[n - 1]) << n;
}

TEST_F(BundleWriter, RefusesNamesTheIndexCannotHold) {
  TBundleWriter writer;
  writer.AddEntry("Book.swf", "x");
  for (const std::string& name :
       {std::string(), std::string("a=b"), std::string("a\r\nb"), std::string("a\nb"),
        std::string("a\0b", 3), std::string("book.swf"), std::string("BOOK.SWF")}) {
    EXPECT_THROW(writer.AddEntry(name, "y"), Error) << name;
  }
  EXPECT_EQ(writer.Names(), std::vector<std::string>{"Book.swf"});
}

TEST_F(BundleWriter, BookIsThePlayerWithTheBundleOfAFolder) {
  WriteFileBytes(PathOf("in/ExeConfig.xml"), "<ExeConfig/>");
  WriteFileBytes(PathOf("in/files/large/1.swf"), "FWS page one");
  WriteFileBytes(PathOf("in/files/thumb/1.jpg"), std::string("\xFF\xD8\0jpeg", 7));
  WriteFileBytes(PathOf("player.exe"), kImage);

  for (bool digest : {false, true}) {
    TBundleWriter writer;
    writer.AddFolder(PathOf("in"));
    writer.SetDigest(digest);
    const std::string book = PathOf(digest ? "digest.exe" : "plain.exe");
    writer.WriteBook(PathOf("player.exe"), book);
    EXPECT_FALSE(std::filesystem::exists(book + ".partial"));
    EXPECT_EQ(ReadFileBytes(book).substr(0, kImage.size()), kImage);
    EXPECT_EQ(TExeExtReader(book).DigestFlag(), digest ? 1 : 0);
    EXPECT_EQ(BundleEntryIndex("ExeConfig.xml", book), 1);
    auto page = LoadBundleEntry("files/large/1.swf", book);
    ASSERT_TRUE(page);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(page->Memory()), page->Size()),
              "FWS page one");
    auto thumb = LoadBundleEntry("FILES/THUMB/1.JPG", book);
    ASSERT_TRUE(thumb);
    EXPECT_EQ(thumb->Size(), 7);
  }
  EXPECT_EQ(ReadFileBytes(PathOf("digest.exe")).size(),
            ReadFileBytes(PathOf("plain.exe")).size() + 16);
}

TEST_F(BundleWriter, FailedBookLeavesTheOldOneAndNoHalfWrittenFile) {
  WriteFileBytes(PathOf("player.exe"), kImage);
  WriteFileBytes(PathOf("book.exe"), "old book");
  TBundleWriter writer;
  writer.AddFile("gone.swf", PathOf("no-such-file.swf"));
  EXPECT_THROW(writer.WriteBook(PathOf("player.exe"), PathOf("book.exe")), Error);
  EXPECT_EQ(ReadFileBytes(PathOf("book.exe")), "old book");
  EXPECT_FALSE(std::filesystem::exists(PathOf("book.exe.partial")));

  TBundleWriter empty;
  EXPECT_THROW(empty.WriteBook(PathOf("no-player.exe"), PathOf("book.exe")), Error);
  EXPECT_EQ(ReadFileBytes(PathOf("book.exe")), "old book");
}

TEST_F(BundleWriter, ReportsProgressUpToTheTotal) {
  TBundleWriter writer;
  writer.AddEntry("a", std::string(1000, 'a'));
  writer.AddEntry("b", std::string(10, 'b'));
  std::int64_t last = -1, total = 0;
  TStringStream out;
  writer.WriteBundle(out, [&](std::int64_t done, std::int64_t all) {
    EXPECT_GE(done, last);
    last = done;
    total = all;
  });
  EXPECT_EQ(last, total);
  EXPECT_EQ(total, 1010 + static_cast<std::int64_t>(writer.IndexText().size()));
}

}  // namespace
}  // namespace pageturn
