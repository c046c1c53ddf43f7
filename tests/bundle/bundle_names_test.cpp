#include "bundle/bundle_names.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

namespace pageturn {
namespace {

using namespace std::string_literals;

TEST(BundleNames, SameNameIgnoresLetterCaseOnly) {
  const struct {
    std::string a, b;
    bool same;
  } cases[] = {
      {"book.swf", "BOOK.SWF", true},
      {"files/thumb/1.jpg", "Files/Thumb/1.JPG", true},
      {"book.swf", "book.swf ", false},
      {"book", "book.swf", false},
      {"files/large/1.swf", "files/large/10.swf", false},
      {"a/b", "a\\b", false},
      {"", "", true},
      {"", "a", false},
#ifdef _WIN32
      {"caf\xE9.txt", "CAF\xC9.TXT", true},  // e acute in the system code page
#else
      {"caf\xC3\xA9.txt", "CAF\xC3\x89.TXT", true},  // e acute in UTF-8
      {"\xFF", "\xFE", false},                       // no UTF-8: only the same bytes meet
#endif
  };
  for (const auto& c : cases) {
    SCOPED_TRACE("\"" + c.a + "\" against \"" + c.b + "\"");
    EXPECT_EQ(SameBundleName(c.a, c.b), c.same);
    // The hashed lookups rely on the key agreeing with the comparison.
    EXPECT_EQ(BundleNameKey(c.a) == BundleNameKey(c.b), c.same);
  }
}

// Wherever the locale's rules go beyond letter case, the key still agrees with the comparison.
TEST(BundleNames, KeyAgreesWithTheComparisonOnHardCases) {
  const std::pair<std::string, std::string> pairs[] = {
      {"stra\xDF"
       "e",
       "STRASSE"},
      {"\xE6", "ae"},
      {"a-b", "ab"},
      {"a'b", "ab"},
      {"a\x01"
       "b",
       "ab"},
      {"\xC5", "A"},
      {"files/\xC4\xD6\xDC.jpg", "FILES/\xE4\xF6\xFC.JPG"},
      {"a b", "ab"},
      {"\xC3\xA9", "\xC3\x89"},
      {"I", "\xC4\xB1"},
      {"\xEF\xBC\xA1", "\xEF\xBD\x81"}};
  for (const auto& [a, b] : pairs) {
    EXPECT_EQ(BundleNameKey(a) == BundleNameKey(b), SameBundleName(a, b)) << a << " / " << b;
    EXPECT_TRUE(SameBundleName(a, a));
  }
}

TEST(BundleNames, IndexTextSplitsIntoNameAndValue) {
  const std::string text = "a=1\r\nb=2\rc=3\nno sign\r\n\r\n=4\r\nd==5\r\ne=6\0f=7\r\n"s;
  const std::vector<std::pair<std::string, std::string>> expected = {
      {"a", "1"}, {"b", "2"}, {"c", "3"}, {"", "4"}, {"d", "=5"}, {"e", "6"}};
  std::vector<std::pair<std::string, std::string>> got;
  for (const TBundleIndexLine& line : ParseBundleIndex(text))
    got.emplace_back(line.name, line.value);
  EXPECT_EQ(got, expected);
}

TEST(BundleNames, IndexNumbersArePlainDecimal) {
  const std::pair<const char*, std::int32_t> cases[] = {
      {"12", 12},       {"-3", -3},  {"+7", 7},
      {"", 0},          {"abc", 0},  {"1x", 0},
      {" 1", 0},        {"0x10", 0}, {"2147483647", 2147483647},
      {"2147483648", 0}};
  for (const auto& [text, number] : cases) EXPECT_EQ(BundleIndexNumber(text), number) << text;
}

TEST(BundleNames, WrittenOrderIgnoresCaseThenComparesBytes) {
  std::vector<std::string> names = {"b.txt", "A.txt", "a.txt", "files/x", "Files/a", "book.swf"};
  std::sort(names.begin(), names.end(), BundleNameLess);
  EXPECT_EQ(names, (std::vector<std::string>{"A.txt", "a.txt", "b.txt", "book.swf", "Files/a",
                                             "files/x"}));
}

}  // namespace
}  // namespace pageturn
