// The player with a runtime in its bundle: the bundle's flash.ocx is mapped from memory at
// start-up, never handed to the system loader, and a flash.ocx that is no module leaves the window
// as it was.
#include <gtest/gtest.h>
#include <windows.h>

#include <string>

#include "tests/e2e/book_harness.h"

namespace pageturn::e2e {
namespace {

std::string StandInRuntime() { return ReadFileBytes(LinuxToWine(STANDIN_FLASH_PATH)); }

TEST(RuntimeFromTheBundle, IsMappedFromMemoryAndNeverLoadedBySystem) {
  const std::string runtime = StandInRuntime();
  ASSERT_GT(runtime.size(), 4096u);
  const std::string book = MakeBook(
      "with-runtime.exe", {{"ExeConfig.xml", ExeConfigXml("Mapped", "5")}, {"flash.ocx", runtime}});
  TBookProcess process(book, "");
  ASSERT_NE(process.WaitForWindow(), nullptr);
  EXPECT_EQ(process.Report().caption, "Mapped");

  for (const std::string& name : ModuleNames(process.Pid())) EXPECT_NE(name, "flash.ocx");
  EXPECT_EQ(MappedImagesOfSize(process.Pid(), SizeOfImage(runtime)), 1);
}

TEST(RuntimeFromTheBundle, ThatIsNoModuleLeavesTheWindowAsConfigured) {
  const std::string book =
      MakeBook("bad-runtime.exe", {{"ExeConfig.xml", ExeConfigXml("Still here", "1", "640", "480")},
                                   {"flash.ocx", std::string(5000, 'x')}});
  TBookProcess process(book, "");
  ASSERT_NE(process.WaitForWindow(), nullptr);
  const TWindowReport report = process.Report();
  EXPECT_EQ(report.caption, "Still here");
  EXPECT_EQ(report.rect.right - report.rect.left, 640);
  EXPECT_EQ(report.rect.bottom - report.rect.top, 480);
  process.Post(WM_CLOSE);
  DWORD code = 0xdeadbeef;
  EXPECT_TRUE(process.WaitForExit(10000, &code));
  EXPECT_EQ(code, 0u);
}

}  // namespace
}  // namespace pageturn::e2e
