#include "url_resolve.h"

#include <gtest/gtest.h>

namespace standin {
namespace {

const std::wstring kVirtual =
    L"Z:\\FromMemory\\46A10F369771449587DE913EFC0A258C\\1\\E4ED7C01D28A43418DBF2CB92CC35E56.swf";

TEST(ResolveUrl, JoinsToBaseOrToTheMoviesFolder) {
  struct Case {
    std::wstring base, movie, relative, expected;
  } cases[] = {
      {L"", L"Z:\\dir\\movie.swf", L"p1.swf", L"Z:\\dir\\p1.swf"},
      {L"", L"Z:\\dir\\movie.swf", L"pages/p1.swf", L"Z:\\dir\\pages/p1.swf"},
      {L"", L"file:///Z:/dir/movie.swf", L"p1.swf", L"file:///Z:/dir/p1.swf"},
      {L"", kVirtual, L"files/large/1.swf",
       L"Z:\\FromMemory\\46A10F369771449587DE913EFC0A258C\\1\\files/large/1.swf"},
      {L"Z:\\base", L"Z:\\dir\\movie.swf", L"p1.swf", L"Z:\\base/p1.swf"},
      {L"file:///Z:/b/", L"Z:\\dir\\movie.swf", L"p1.swf", L"file:///Z:/b/p1.swf"},
      {L"", L"Z:\\dir\\movie.swf", L"http://host/a.swf", L"http://host/a.swf"},
      {L"", L"Z:\\dir\\movie.swf", L"C:\\other\\a.swf", L"C:\\other\\a.swf"},
      {L"", L"Z:\\dir\\movie.swf", L"\\\\srv\\share\\a.swf", L"\\\\srv\\share\\a.swf"},
      {L"", L"movie.swf", L"p1.swf", L"p1.swf"},
      // A relative Base is itself relative to the movie's folder.
      {L".", kVirtual, L"files/large/1.swf",
       L"Z:\\FromMemory\\46A10F369771449587DE913EFC0A258C\\1\\files/large/1.swf"},
      {L"pages", L"file:///Z:/dir/movie.swf", L"p1.swf", L"file:///Z:/dir/pages/p1.swf"},
      {L".", L"movie.swf", L"p1.swf", L"p1.swf"},
  };
  for (const auto& c : cases)
    EXPECT_EQ(ResolveUrl(c.base, c.movie, c.relative), c.expected) << c.relative.size();
}

TEST(ResolveUrl, DriveLettersAreNotSchemes) {
  EXPECT_TRUE(IsAbsoluteUrl(L"Z:\\x.swf"));
  EXPECT_TRUE(IsAbsoluteUrl(L"z:/x.swf"));
  EXPECT_TRUE(IsAbsoluteUrl(L"file://46A10F369771449587DE913EFC0A258"));
  EXPECT_FALSE(IsAbsoluteUrl(L"Z:x.swf"));
  EXPECT_FALSE(IsAbsoluteUrl(L"files/x.swf"));
}

TEST(UrlToFilePath, DecodesFileUrls) {
  EXPECT_EQ(UrlToFilePath(L"file:///Z:/dir/a%20b.swf"), L"Z:\\dir\\a b.swf");
  EXPECT_EQ(UrlToFilePath(L"file:///Z:/d/%C3%A9.swf"), L"Z:\\d\\\u00e9.swf");
  EXPECT_EQ(UrlToFilePath(L"file://server/share/x"), L"\\\\server\\share\\x");
  EXPECT_EQ(UrlToFilePath(L"file:///Z:/bad%zz"), L"Z:\\bad%zz");
  EXPECT_EQ(UrlToFilePath(L"Z:/plain/path"), L"Z:\\plain\\path");
}

}  // namespace
}  // namespace standin
