// ExeConfig.xml as the tool reads it: the book files' own layout, the player's rules for
// numbers and text, and documents from untrusted books that must fail with a reason, never read
// outside their bytes (the fuzz preset runs these under AddressSanitizer too).
#include "tools/book_config.h"

#include <gtest/gtest.h>

#include <string>

#include "core/error.h"
#include "tools/book_movies.h"
#include "tools/xml_reader.h"

namespace pageturn {
namespace {

std::string Book(const std::string& caption, const std::string& mode = "2",
                 const std::string& width = "800", const std::string& height = "600") {
  return "<?xml version=\"1.0\" encoding=\"utf-8\"?>\r\n<ExeConfig><ExeCaption>" + caption +
         "</ExeCaption><WindowOpenMode>" + mode + "</WindowOpenMode><WindowOpenWidth>" + width +
         "</WindowOpenWidth><WindowOpenHeight>" + height + "</WindowOpenHeight></ExeConfig>\r\n";
}

std::string FailureOf(const std::string& bytes) {
  try {
    ReadBookConfig(bytes);
  } catch (const Error& e) {
    return e.what();
  }
  return "(read)";
}

TEST(BookConfigTest, ReadsWhatMakeWrites) {
  for (const std::string caption :
       {"Sample", "Tom & Jerry <1>", "ends in ]]> here", "", "Caf\xC3\xA9"}) {
    const TBookConfig config = ReadBookConfig(ExeConfigText(caption, 1, 1024, 700));
    EXPECT_EQ(config.caption, caption);
    EXPECT_EQ(config.mode, 1);
    EXPECT_EQ(config.width, 1024);
    EXPECT_EQ(config.height, 700);
  }
}

TEST(BookConfigTest, TextAndNumbersAsThePlayerReadsThem) {
  struct Case {
    std::string document, caption;
    int mode, width, height;
  } cases[] = {
      {Book("<![CDATA[Tom & Jerry <1>]]>"), "Tom & Jerry <1>", 2, 800, 600},
      {Book("A &amp; B &lt;&#65;&#x42;&quot;&apos;&gt;"), "A & B <AB\"'>", 2, 800, 600},
      {Book("<![CDATA[  padded  ]]>"), "  padded  ", 2, 800, 600},
      {Book("   <![CDATA[x]]>\r\n "), "x", 2, 800, 600},  // blanks beside markup are no node
      {Book("two\r\nlines\rthree"), "two\nlines\nthree", 2, 800, 600},
      {Book("c", "three", "", "12px"), "c", 2, 800, 600},
      {Book("c", "3", "0", "-20"), "c", 3, 0, -20},
      {Book("c", "4", "+7", "4000000000"), "c", 4, 7, 600},
      {"<?xml version=\"1.0\"?><ExeConfig><WindowOpenHeight>3</WindowOpenHeight>"
       "<WindowOpenMode>1</WindowOpenMode><WindowOpenMode>4</WindowOpenMode><Other><x/></Other>"
       "<ExeCaption/><WindowOpenWidth a='1' b=\"2\">5</WindowOpenWidth></ExeConfig>",
       "", 1, 5, 3},
      {"\xEF\xBB\xBF<!-- made by hand --><?style x?><!DOCTYPE ExeConfig [<!ENTITY e 'x'>]>"
       "<ExeConfig><ExeCaption>b</ExeCaption><WindowOpenMode>2</WindowOpenMode><WindowOpenWidth>"
       "1</WindowOpenWidth><WindowOpenHeight>2</WindowOpenHeight></ExeConfig>\n<!-- end -->",
       "b", 2, 1, 2},
      {"<?xml version='1.0' encoding='ISO-8859-1' standalone='yes'?><ExeConfig><ExeCaption>Caf\xE9"
       "</ExeCaption><WindowOpenMode>1</WindowOpenMode><WindowOpenWidth>1</WindowOpenWidth>"
       "<WindowOpenHeight>1</WindowOpenHeight></ExeConfig>",
       "Caf\xC3\xA9", 1, 1, 1},
      {"<?xml version=\"1.0\" encoding=\"windows-1252\"?><ExeConfig><ExeCaption>\x80 \x93q\x94"
       "</ExeCaption><WindowOpenMode>1</WindowOpenMode><WindowOpenWidth>1</WindowOpenWidth>"
       "<WindowOpenHeight>1</WindowOpenHeight></ExeConfig>",
       "\xE2\x82\xAC \xE2\x80\x9Cq\xE2\x80\x9D", 1, 1, 1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.document);
    TBookConfig config;
    ASSERT_NO_THROW(config = ReadBookConfig(c.document));
    EXPECT_EQ(config.caption, c.caption);
    EXPECT_EQ(config.mode, c.mode);
    EXPECT_EQ(config.width, c.width);
    EXPECT_EQ(config.height, c.height);
  }
}

TEST(BookConfigTest, Utf16WithAndWithoutItsMark) {
  const std::string utf8 = Book("Caf\xC3\xA9 \xF0\x9F\x93\x96", "1", "9", "8");
  auto utf16 = [&](bool bigEndian, bool mark) {
    std::string out = mark ? (bigEndian ? "\xFE\xFF" : "\xFF\xFE") : "";
    auto unit = [&](std::uint32_t u) {
      out += bigEndian ? char(u >> 8) : char(u);
      out += bigEndian ? char(u) : char(u >> 8);
    };
    for (std::size_t i = 0; i < utf8.size();) {  // the few code points used here
      const auto b = std::uint8_t(utf8[i]);
      if (b < 0x80) {
        unit(b);
        i += 1;
      } else if (b < 0xE0) {
        unit((b & 0x1F) << 6 | (utf8[i + 1] & 0x3F));
        i += 2;
      } else {
        const std::uint32_t cp = (b & 0x07) << 18 | (utf8[i + 1] & 0x3F) << 12 |
                                 (utf8[i + 2] & 0x3F) << 6 | (utf8[i + 3] & 0x3F);
        unit(0xD800 + ((cp - 0x10000) >> 10));
        unit(0xDC00 + ((cp - 0x10000) & 0x3FF));
        i += 4;
      }
    }
    return out;
  };
  for (bool bigEndian : {false, true})
    for (bool mark : {false, true}) {
      const TBookConfig config = ReadBookConfig(utf16(bigEndian, mark));
      EXPECT_EQ(config.caption, "Caf\xC3\xA9 \xF0\x9F\x93\x96") << bigEndian << mark;
      EXPECT_EQ(config.width, 9);
    }
}

TEST(BookConfigTest, RefusesWithTheReason) {
  const std::string ok = Book("c");
  struct Case {
    std::string document, reason;
  } cases[] = {
      {"", "no document element"},
      {"just text", "text before the document element"},
      {ok.substr(0, ok.find("</ExeConfig>")), "is not closed"},
      {Book("<b>bold</b>"), "Element does not contain a single text node"},
      {Book("text<![CDATA[and more]]>"), "Element does not contain a single text node"},
      {Book("c", "<!---->"), "Element does not contain a single text node"},  // a comment counts
      {Book("<![CDATA[open"), "unterminated CDATA section"},
      {Book("a ]]> b"), "']]>' in text"},
      {Book("&nbsp;"), "unknown entity \"nbsp\""},
      {Book("&#0;"), "no XML character"},
      {Book("&#x110000;"), "out of range"},
      {Book("&#12"), "malformed character reference"},
      {Book("&amp"), "without ';'"},
      {Book("a\x01z"), "control character at line 2"},
      {Book("\xC3("), "not UTF-8 at line 2"},
      {Book("\xE0\x80\xAF"), "not UTF-8"},          // an overlong '/'
      {Book("\xED\xA0\x80"), "not UTF-8"},          // a surrogate
      {Book("\xEF\xBF\xBE"), "control character"},  // U+FFFE
      {Book("<!-- a -- b -->"), "'--' inside a comment"},
      {Book("<?xml again?>"), "declaration out of place"},
      {Book("<!ENTITY x 'y'>"), "declaration inside an element"},
      {"<ExeConfig a='1' a='2'/>", "given twice"},
      {"<ExeConfig a='<'/>", "'<' in a quoted value"},
      {"<ExeConfig a=1/>", "quoted value expected"},
      {"<ExeConfig></Execonfig>", "closed by another"},
      {"<ExeConfig/><ExeConfig/>", "content after the document element"},
      {"<ExeConfig/>", "Element not found: ExeCaption"},
      {"<execonfig/>", "Element not found: ExeConfig"},
      {"<?xml version=\"2.0\"?><ExeConfig/>", "malformed declaration"},
      {"<?xml encoding=\"utf-8\"?><ExeConfig/>", "malformed declaration"},
      {"<?xml version=\"1.0\" encoding=\"gb2312\"?><ExeConfig/>", "\"gb2312\" is not supported"},
      {"<ExeConfig/><!DOCTYPE x>", "out of place"},
      {"<!DOCTYPE x [ <!ENTITY e 'x'>", "unterminated document type"},
      {std::string("\xFF\xFE<\0a", 5), "odd length"},
      {std::string("\xFF\xFE\x00\xD8<\0", 6), "high surrogate"},
      {std::string(300, '<'), "a name expected"},
  };
  for (const Case& c : cases) {
    const std::string failure = FailureOf(c.document);
    EXPECT_NE(failure.find(c.reason), std::string::npos)
        << "document: " << c.document << "\nfailure: " << failure;
  }
}

TEST(BookConfigTest, NestingIsBoundedAndEveryPrefixFailsCleanly) {
  std::string deep;
  for (int i = 0; i < 100000; ++i) deep += "<a>";
  EXPECT_NE(FailureOf(deep).find("nested too deeply"), std::string::npos);

  std::string nested = "<ExeConfig>";
  for (int i = 0; i < 200; ++i) nested += "<a>";
  for (int i = 0; i < 200; ++i) nested += "</a>";
  EXPECT_NE(FailureOf(nested + "</ExeConfig>").find("ExeCaption"), std::string::npos);

  // A book cut off anywhere: a clean error each time (or, for the very last bytes, the file).
  for (const std::string& whole : {Book("<![CDATA[Cut & dried]]>"), Book("Tom &amp; &#x4A;erry")}) {
    const std::size_t closed = whole.rfind("</ExeConfig>") + 12;
    for (std::size_t length = 0; length < whole.size(); ++length) {
      const std::string failure = FailureOf(whole.substr(0, length));
      if (length >= closed)
        EXPECT_EQ(failure, "(read)") << length;
      else
        EXPECT_NE(failure, "(read)") << length;
    }
  }
}

}  // namespace
}  // namespace pageturn
