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

class BundleWriter : public testing::TempFolder {
 protected:
  // Files of the folder whose names say they are partial books.
  std::vector<std::string> PartialFiles() {
    std::vector<std::string> found;
    for (const auto& item : std::filesystem::directory_iterator(PathOf("")))
      if (item.path().filename().string().find(".partial") != std::string::npos)
        found.push_back(item.path().filename().string());
    return found;
  }
};

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
    EXPECT_EQ(PartialFiles(), std::vector<std::string>{});
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
  EXPECT_EQ(PartialFiles(), std::vector<std::string>{});

  TBundleWriter empty;
  EXPECT_THROW(empty.WriteBook(PathOf("no-player.exe"), PathOf("book.exe")), Error);
  EXPECT_EQ(ReadFileBytes(PathOf("book.exe")), "old book");
}

// A second book written to the same place while the first is half-way: each has its own partial
// file, both complete, and the book is the one renamed last, whole.
TEST_F(BundleWriter, TwoRunsWritingOneBookDoNotMeet) {
  WriteFileBytes(PathOf("player.exe"), kImage);
  const std::string book = PathOf("book.exe");
  TBundleWriter second;
  second.AddEntry("second.swf", std::string(300000, '2'));
  TBundleWriter first;
  first.AddEntry("first.swf", std::string(3000000, '1'));
  bool secondWritten = false;
  first.WriteBook(PathOf("player.exe"), book, [&](std::int64_t, std::int64_t) {
    if (secondWritten) return;
    secondWritten = true;
    second.WriteBook(PathOf("player.exe"), book);
    EXPECT_EQ(TExeExtReader(book).ReadEntryText(1), std::string(300000, '2'));
  });
  ASSERT_TRUE(secondWritten);
  const TExeExtReader reader(book);
  ASSERT_EQ(reader.EntryCount(), 2);
  EXPECT_EQ(reader.ReadEntryText(1), std::string(3000000, '1'));
  EXPECT_EQ(ReadFileBytes(book).size(), kImage.size() + reader.SectionSize());
  EXPECT_EQ(PartialFiles(), std::vector<std::string>{});
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
