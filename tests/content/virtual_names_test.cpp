#include "content/virtual_names.h"

#include <gtest/gtest.h>

#include <string>

namespace pageturn {
namespace {

const std::wstring Marker = MemoryMarker;

TEST(VirtualNames, ConstantsHaveTheirFixedLengths) {
  EXPECT_EQ(std::wstring(MemoryMarker).size(), MemoryMarkerLength);
  EXPECT_EQ(std::wstring(FixedMovieName).size(), 36u);
  EXPECT_EQ(std::wstring(VirtualMoviePathFormat).size(), 22u);
  EXPECT_EQ(std::wstring(ResetURL).size(), 38u);
  EXPECT_EQ(std::wstring(ResetURL), L"file://" + Marker.substr(0, 31));
}

TEST(VirtualNames, MoviePathCarriesTheCounter) {
  EXPECT_EQ(FormatVirtualMoviePath(1),
            L"Z:\\FromMemory\\46A10F369771449587DE913EFC0A258C\\1\\"
            L"E4ED7C01D28A43418DBF2CB92CC35E56.swf");
  EXPECT_EQ(FormatVirtualMoviePath(-12), L"Z:\\FromMemory\\" + Marker + L"\\-12\\" + FixedMovieName);
}

struct ParseCase {
  const wchar_t* text;
  bool recognised;
  int number;
  const wchar_t* relativeName;
};

class ParseVirtualNameTest : public testing::TestWithParam<ParseCase> {};

TEST_P(ParseVirtualNameTest, Parses) {
  const ParseCase& c = GetParam();
  TVirtualName name;
  name.controlNumber = 0x5EED;
  name.relativeName = L"untouched";
  ASSERT_EQ(ParseVirtualName(c.text, name), c.recognised) << std::wstring(c.text).size();
  if (c.recognised) {
    EXPECT_EQ(name.controlNumber, c.number);
    EXPECT_EQ(name.relativeName, c.relativeName);
  } else {
    EXPECT_EQ(name.controlNumber, 0x5EED);  // nothing is half-filled on failure
    EXPECT_EQ(name.relativeName, L"untouched");
  }
}

#define M L"46A10F369771449587DE913EFC0A258C"
INSTANTIATE_TEST_SUITE_P(
    Cases, ParseVirtualNameTest,
    testing::Values(
        ParseCase{L"Z:\\FromMemory\\" M L"\\1\\E4ED7C01D28A43418DBF2CB92CC35E56.swf", true, 1,
                  L"E4ED7C01D28A43418DBF2CB92CC35E56.swf"},
        ParseCase{L"file:///Z:/FromMemory/" M L"/3/files/large/10.swf", true, 3,
                  L"files/large/10.swf"},
        ParseCase{L"x" M L"/7//x.swf", true, 7, L"/x.swf"},
        ParseCase{M L"/12/Files\\A.SWF", true, 12, L"Files/A.SWF"},  // case kept, slashes turned
        ParseCase{M L"?5/", true, 5, L""},                           // any separator, empty name
        ParseCase{M L"/-4/a", true, -4, L"a"},
        ParseCase{M L"/2147483647/a", true, 2147483647, L"a"},
        ParseCase{M L"/5/a" M L"/6/b", true, 5, L"a" M L"/6/b"},  // the first marker counts
        ParseCase{L"file://46A10F369771449587DE913EFC0A258", false, 0, L""},  // the reset URL
        ParseCase{L"Z:/FromMemory/46a10f369771449587de913efc0a258c/1/a", false, 0, L""},
        ParseCase{M, false, 0, L""},             // nothing after the marker
        ParseCase{M L"/", false, 0, L""},        // only the separator: empty tail
        ParseCase{M L"/12", false, 0, L""},      // no slash after the number
        ParseCase{M L"//x.swf", false, 0, L""},  // empty control number
        ParseCase{M L"/x1/a.swf", false, 0, L""},   // not a number
        ParseCase{M L"/ 1/a.swf", false, 0, L""},   // not plain decimal
        ParseCase{M L"/0x1/a.swf", false, 0, L""},  // no hexadecimal
        ParseCase{M L"/2147483648/a", false, 0, L""},  // out of range
        ParseCase{L"", false, 0, L""}));
#undef M

TEST(SameContentURL, VirtualNamesMatchWhateverPrecedesTheMarker) {
  const std::wstring registered = FormatVirtualMoviePath(1);
  EXPECT_TRUE(SameContentURL(registered, L"file:///Z:/FromMemory/" + Marker + L"/1/" +
                                             FixedMovieName));
  EXPECT_TRUE(SameContentURL(registered, L"http://host/" + Marker + L"/1/" + FixedMovieName));
  EXPECT_FALSE(SameContentURL(registered, FormatVirtualMoviePath(2)));
  EXPECT_FALSE(SameContentURL(L"Z:/" + Marker + L"/1/Files/a.swf", L"Z:/" + Marker + L"/1/files/a.swf"));
  // One recognised, one not.
  EXPECT_FALSE(SameContentURL(registered, L"Z:\\FromMemory\\x\\1\\" + std::wstring(FixedMovieName)));
  EXPECT_FALSE(SameContentURL(ResetURL, registered));
  // Neither: whole texts, case-sensitive.
  EXPECT_TRUE(SameContentURL(L"http://a/b.swf", L"http://a/b.swf"));
  EXPECT_FALSE(SameContentURL(L"http://a/b.swf", L"http://a/B.swf"));
  EXPECT_TRUE(SameContentURL(ResetURL, ResetURL));
}

}  // namespace
}  // namespace pageturn
