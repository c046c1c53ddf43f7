#include "tools/tool_files.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "../bundle/bundle_fixture.h"

namespace pageturn {
namespace {

class ToolFiles : public testing::TempFolder {};

// Where a book may be written next to its pages folder. Letter case counts natively, where
// "Pages" and "pages" are two folders, and not on Windows, where they are one.
TEST_F(ToolFiles, ABookInsideItsPagesFolderIsSeenInAnyLetterCase) {
  std::filesystem::create_directories(PathOf("pages/sub"));
#ifdef _WIN32
  const bool caseCounts = false;
#else
  const bool caseCounts = true;
  std::filesystem::create_directories(PathOf("PAGES"));
#endif
  struct Case {
    const char* folder;
    const char* file;
    bool inside;
  } cases[] = {
      {"pages", "pages/book.exe", true},
      {"pages/", "pages/sub/book.exe", true},
      {"pages", "pages/sub/../book.exe", true},
      {"pages", "pages", true},
      {"pages", "pages-2/book.exe", false},
      {"pages", "book.exe", false},
      {"pages/sub", "pages/book.exe", false},
      {"pages", "PAGES/book.exe", !caseCounts},
      {"Pages", "pages/Sub/book.exe", !caseCounts},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(PathLiesInside(PathOf(c.folder), PathOf(c.file)), c.inside)
        << c.folder << " | " << c.file;
  }
}

}  // namespace
}  // namespace pageturn
