#include "app/exe_config_info.h"

#include <gtest/gtest.h>
#include <ole2.h>

#include "core/error.h"
#include "core/text.h"

namespace pageturn {
namespace {

class ExeConfigInfoTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { ASSERT_TRUE(SUCCEEDED(::CoInitialize(nullptr))); }
  static void TearDownTestSuite() { ::CoUninitialize(); }

  static TExeConfigInfo Load(const std::string& xml) {
    TStringStream stream(xml);
    stream.Seek(0, TSeekOrigin::End);  // as LoadBundleEntry hands it over
    TExeConfigInfo info;
    info.LoadFromStream(&stream);
    return info;
  }
};

// The four elements with the given contents, in a book file's layout.
std::string Book(const std::string& caption, const std::string& mode, const std::string& width,
                 const std::string& height) {
  return "<?xml version=\"1.0\" encoding=\"utf-8\"?>\r\n<ExeConfig><ExeCaption>" + caption +
         "</ExeCaption><WindowOpenMode>" + mode + "</WindowOpenMode><WindowOpenWidth>" + width +
         "</WindowOpenWidth><WindowOpenHeight>" + height + "</WindowOpenHeight></ExeConfig>\r\n";
}

TEST_F(ExeConfigInfoTest, ReadsTheBookFile) {
  const TExeConfigInfo info = Load(Book("<![CDATA[Pageturn demo]]>", "2", "800", "600"));
  EXPECT_EQ(info.ExeCaption, "Pageturn demo");
  EXPECT_EQ(info.WindowOpenMode, 2);
  EXPECT_EQ(info.WindowOpenWidth, 800);
  EXPECT_EQ(info.WindowOpenHeight, 600);
  EXPECT_FALSE(info.ScreenSaver);
  EXPECT_EQ(TExeConfigInfo::ConfigFileName(), "ExeConfig.xml");
}

TEST_F(ExeConfigInfoTest, NumbersAndTheirDefaults) {
  struct Case {
    std::string mode, width, height;
    int wantMode, wantWidth, wantHeight;
    bool screenSaver;
  } cases[] = {
      {"three", "", "", 2, 800, 600, false},
      {"3", "0", "-20", 3, 0, -20, false},
      {"4", "1024", "99999", 4, 1024, 99999, true},
      {"1", "640", "480", 1, 640, 480, false},
      {"5", "12px", "+7", 5, 800, 7, false},
      {"", "4000000000", "2147483647", 2, 800, 2147483647, false},
  };
  for (const auto& c : cases) {
    const TExeConfigInfo info = Load(Book("x", c.mode, c.width, c.height));
    EXPECT_EQ(info.WindowOpenMode, c.wantMode) << c.mode;
    EXPECT_EQ(info.WindowOpenWidth, c.wantWidth) << c.width;
    EXPECT_EQ(info.WindowOpenHeight, c.wantHeight) << c.height;
    EXPECT_EQ(info.ScreenSaver, c.screenSaver) << c.mode;
  }
}

TEST_F(ExeConfigInfoTest, CaptionIsVerbatimAndInTheSystemCodePage) {
  EXPECT_EQ(Load(Book("<![CDATA[Tom & Jerry <1>]]>", "2", "1", "1")).ExeCaption, "Tom & Jerry <1>");
  EXPECT_EQ(Load(Book("A &amp; B", "2", "1", "1")).ExeCaption, "A & B");
  EXPECT_EQ(Load(Book("", "2", "1", "1")).ExeCaption, "");
  EXPECT_EQ(Load(Book("<![CDATA[  padded  ]]>", "2", "1", "1")).ExeCaption, "  padded  ");
  // U+00E9 in UTF-8, as the book writes it; é in the Western code page Wine runs with.
  const std::string caption = Load(Book("Caf\xC3\xA9", "2", "1", "1")).ExeCaption;
  EXPECT_EQ(caption, WideToSystem(L"Caf\u00e9"));
}

TEST_F(ExeConfigInfoTest, ElementOrderIsFreeAndTheFirstOfANameCounts) {
  const TExeConfigInfo info = Load(
      "<?xml version=\"1.0\"?><ExeConfig><WindowOpenHeight>3</WindowOpenHeight>"
      "<WindowOpenMode>1</WindowOpenMode><WindowOpenMode>4</WindowOpenMode>"
      "<ExeCaption>c</ExeCaption><WindowOpenWidth>5</WindowOpenWidth></ExeConfig>");
  EXPECT_EQ(info.WindowOpenMode, 1);
  EXPECT_EQ(info.WindowOpenWidth, 5);
  EXPECT_EQ(info.WindowOpenHeight, 3);
  EXPECT_FALSE(info.ScreenSaver);
}

TEST_F(ExeConfigInfoTest, EncodingComesFromTheDeclaration) {
  const TExeConfigInfo info = Load(
      "<?xml version=\"1.0\" encoding=\"iso-8859-1\"?><ExeConfig><ExeCaption>Caf\xE9</ExeCaption>"
      "<WindowOpenMode>2</WindowOpenMode><WindowOpenWidth>1</WindowOpenWidth>"
      "<WindowOpenHeight>1</WindowOpenHeight></ExeConfig>");
  EXPECT_EQ(info.ExeCaption, WideToSystem(L"Caf\u00e9"));
}

TEST_F(ExeConfigInfoTest, UnreadableFilesRaise) {
  const std::string broken[] = {
      "",
      "not xml at all",
      Book("x", "2", "800", "600").substr(0, 80),  // cut short
      "<?xml version=\"1.0\"?><Config><ExeCaption>x</ExeCaption></Config>",
      "<ExeConfig><ExeCaption>x</ExeCaption><WindowOpenMode>2</WindowOpenMode>"
      "<WindowOpenWidth>1</WindowOpenWidth></ExeConfig>",  // no height
      "<execonfig><ExeCaption>x</ExeCaption><WindowOpenMode>2</WindowOpenMode>"
      "<WindowOpenWidth>1</WindowOpenWidth><WindowOpenHeight>1</WindowOpenHeight></execonfig>",
  };
  for (const auto& xml : broken) EXPECT_THROW(Load(xml), Error) << xml;
  TExeConfigInfo info;
  EXPECT_THROW(info.LoadFromStream(nullptr), Error);
}

TEST_F(ExeConfigInfoTest, MixedContentIsNotASingleTextNode) {
  try {
    Load(Book("text<b>bold</b>", "2", "800", "600"));
    FAIL() << "mixed content was accepted";
  } catch (const Error& e) {
    EXPECT_STREQ(e.what(), "Element does not contain a single text node");
  }
  EXPECT_THROW(Load(Book("x", "<n>2</n>", "800", "600")), Error);
  EXPECT_THROW(Load(Book("a<![CDATA[b]]>", "2", "800", "600")), Error);
}

}  // namespace
}  // namespace pageturn
