#include "core/text.h"

#include <gtest/gtest.h>

namespace pageturn {
namespace {

TEST(Text, Utf8RoundTripIncludingAstralPlane) {
  const std::string utf8 = "Bl\xC3\xA4tter \xE2\x82\xAC \xF0\x9F\x93\x96";
  const std::wstring wide = Utf8ToWide(utf8);
  EXPECT_EQ(WideToUtf8(wide), utf8);
  EXPECT_EQ(wide.substr(0, 3), L"Bl\u00e4");
}

TEST(Text, MalformedUtf8BecomesReplacementCharacters) {
  EXPECT_EQ(Utf8ToWide("a\xC3"), L"a\uFFFD");
  EXPECT_EQ(Utf8ToWide("\xFF" "b"), L"\uFFFD" L"b");
}

TEST(Text, TryParseInt32Table) {
  struct Case {
    const char* text;
    bool ok;
    int value;
  } cases[] = {{"0", true, 0},           {"-3", true, -3},         {"+12", true, 12},
               {"2147483647", true, 2147483647}, {"-2147483648", true, -2147483647 - 1},
               {"2147483648", false, 0}, {"", false, 0},           {"abc", false, 0},
               {"1x", false, 0},         {"-", false, 0},          {" 1", false, 0}};
  for (const auto& c : cases) {
    int v = 12345;
    EXPECT_EQ(TryParseInt32(std::string(c.text), v), c.ok) << c.text;
    if (c.ok) {
      EXPECT_EQ(v, c.value) << c.text;
    }
  }
}

TEST(Text, TrimAndCase) {
  EXPECT_EQ(Trim(" \t/p \r\n"), "/p");
  EXPECT_EQ(Trim("   "), "");
  EXPECT_EQ(UpperAscii("-dx"), "-DX");
  EXPECT_EQ(LowerAscii("/P"), "/p");
}

}  // namespace
}  // namespace pageturn
