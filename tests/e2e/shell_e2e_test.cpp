// The real player, made into books and started under Wine, watched from this separate process.
// Several books start at once wherever the cases allow: each start costs a second or two.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "tests/e2e/book_harness.h"

namespace pageturn::e2e {
namespace {

constexpr DWORD kExitTimeoutMs = 10000;

int ScreenWidth() { return ::GetSystemMetrics(SM_CXSCREEN); }
int ScreenHeight() { return ::GetSystemMetrics(SM_CYSCREEN); }

::testing::AssertionResult RectIs(const RECT& r, int left, int top, int width, int height) {
  if (r.left == left && r.top == top && r.right - r.left == width && r.bottom - r.top == height)
    return ::testing::AssertionSuccess();
  return ::testing::AssertionFailure()
         << "rect " << r.left << "," << r.top << " " << r.right - r.left << "x" << r.bottom - r.top
         << ", want " << left << "," << top << " " << width << "x" << height;
}

bool HasFrame(LONG style) { return (style & WS_OVERLAPPEDWINDOW) == WS_OVERLAPPEDWINDOW; }
bool IsFullScreenStyle(LONG style) {
  return (style & (WS_CAPTION | WS_THICKFRAME | WS_SYSMENU)) == 0 && (style & WS_MAXIMIZEBOX);
}

// The books, made once for the whole program.
struct Books {
  std::string mode1, mode2, mode3, mode4, mode5, missing, broken, mixed, noHeight;
};

const Books& TheBooks() {
  static const Books books = [] {
    Books b;
    auto config = [](const std::string& xml) {
      return std::vector<TBookEntry>{{"ExeConfig.xml", xml}};
    };
    b.mode1 = MakeBook("mode1.exe",
                       config(ExeConfigXml("<![CDATA[Tom & Jerry <1>]]>", "1", "640", "480")));
    b.mode2 =
        MakeBook("mode2.exe", config(ExeConfigXml("<![CDATA[Maximised]]>", "2")), /*digest=*/true);
    b.mode3 = MakeBook("mode3.exe", config(ExeConfigXml("<![CDATA[Full screen]]>", "3")));
    b.mode4 = MakeBook("mode4.exe", config(ExeConfigXml("<![CDATA[Screen saver]]>", "4")));
    b.mode5 = MakeBook("mode5.exe", config(ExeConfigXml("<![CDATA[As designed]]>", "5")));
    b.missing = MakeBook("missing.exe", {{"book.swf", "FWS"}});
    b.broken = MakeBook("broken.exe", config(ExeConfigXml("x", "2").substr(0, 70)));
    b.mixed = MakeBook("mixed.exe", config(ExeConfigXml("text<b>and an element</b>", "3")));
    b.noHeight =
        MakeBook("noheight.exe",
                 config("<ExeConfig><ExeCaption>c</ExeCaption><WindowOpenMode>3</WindowOpenMode>"
                        "<WindowOpenWidth>1</WindowOpenWidth></ExeConfig>"));
    return b;
  }();
  return books;
}

std::string InBooks(const std::string& name) { return BooksFolder() + "\\" + name; }

// Closes the window the way a user would and expects a clean end.
void CloseAndExpectExit(TBookProcess& book) {
  book.Post(WM_CLOSE);
  DWORD code = 99;
  ASSERT_TRUE(book.WaitForExit(kExitTimeoutMs, &code));
  EXPECT_EQ(code, 0u);
}

TEST(ShellEndToEnd, Mode1OpensAtTheGivenSizeInTheDesignedPlace) {
  TBookProcess book(TheBooks().mode1, "-d -Fa1.log -Fb1.log");
  ASSERT_TRUE(book.WaitForWindow());
  const TWindowReport w = book.Report();
  EXPECT_EQ(w.className, "TfrmMain");
  EXPECT_EQ(w.caption, "Tom & Jerry <1>") << "CDATA caption, verbatim";
  EXPECT_TRUE(RectIs(w.rect, 399, 262, 640, 480));
  EXPECT_TRUE(HasFrame(w.style));
  EXPECT_FALSE(w.zoomed);
  EXPECT_FALSE(w.iconic);

  // The last -F wins; a bare name lands in the program's folder.
  const std::string log = InBooks("b1.log");
  EXPECT_TRUE(WaitForFileText(log, ": ConfigFileName:ExeConfig.xml\r\n"));
  EXPECT_FALSE(FileExists(InBooks("a1.log")));
  book.PostChar('z');  // a key typed into the form
  EXPECT_TRUE(WaitForFileText(log, ": FormKeyPress[z]\r\n"));
  CloseAndExpectExit(book);
}

TEST(ShellEndToEnd, Mode2OpensMaximisedAndRestoresToTheDesignedPlace) {
  TBookProcess book(TheBooks().mode2, "-Dx -FM2.LOG");
  ASSERT_TRUE(book.WaitForWindow());
  const TWindowReport w = book.Report();
  EXPECT_EQ(w.caption, "Maximised");
  EXPECT_TRUE(w.zoomed);
  EXPECT_TRUE(HasFrame(w.style));
  const std::string log = InBooks("M2.LOG");
  EXPECT_TRUE(WaitForFileText(log, "ConfigFileName:ExeConfig.xml")) << "-Dx enables the log";
  // Wine reports no restore placement for another process's window; restoring shows it.
  book.Post(WM_SYSCOMMAND, SC_RESTORE, 0);
  book.PostChar('r');
  ASSERT_TRUE(WaitForFileText(log, "FormKeyPress[r]"));
  const TWindowReport restored = book.Report();
  EXPECT_FALSE(restored.zoomed);
  EXPECT_TRUE(RectIs(restored.rect, 399, 262, 1020, 575));
  CloseAndExpectExit(book);
}

TEST(ShellEndToEnd, Mode5AndUnreadableConfigurationsKeepTheDesignedWindow) {
  struct Case {
    std::string book, caption, arguments, log;
  } cases[] = {
      {TheBooks().mode5, "As designed", "/D -Fslash.log", ""},
      {TheBooks().missing, "Pageturn", "-D -Fmissing.log", "missing.log"},
      {TheBooks().broken, "Pageturn", "-D -Fbroken.log", "broken.log"},
      {TheBooks().mixed, "Pageturn", "-D -Fmixed.log", "mixed.log"},
      {TheBooks().noHeight, "Pageturn", "-D -Fnoheight.log", "noheight.log"},
  };
  std::vector<std::unique_ptr<TBookProcess>> books;
  for (const auto& c : cases) books.push_back(std::make_unique<TBookProcess>(c.book, c.arguments));
  for (std::size_t i = 0; i < books.size(); ++i) {
    SCOPED_TRACE(cases[i].book);
    TBookProcess& book = *books[i];
    ASSERT_TRUE(book.WaitForWindow());
    const TWindowReport w = book.Report();
    EXPECT_EQ(w.caption, cases[i].caption);
    EXPECT_TRUE(RectIs(w.rect, 399, 262, 1020, 575));
    EXPECT_TRUE(HasFrame(w.style));
    EXPECT_FALSE(w.zoomed);
    if (cases[i].log.empty()) continue;
    // Escape outside full screen closes nothing; the typed 'e' after it shows it was handled.
    book.PostKeyDown(VK_ESCAPE);
    book.PostChar('e');
    EXPECT_TRUE(WaitForFileText(InBooks(cases[i].log), "FormKeyPress[e]"));
    EXPECT_TRUE(book.Running());
  }
  for (auto& book : books) CloseAndExpectExit(*book);
  EXPECT_FALSE(FileExists(InBooks("slash.log"))) << "/D is no debug switch";
}

TEST(ShellEndToEnd, Mode3OpensFullScreenAndEscapeClosesIt) {
  const auto before = FolderEntries(BooksFolder());
  TBookProcess book(TheBooks().mode3, "-D");
  ASSERT_TRUE(book.WaitForWindow());
  const TWindowReport w = book.Report();
  EXPECT_EQ(w.caption, "Full screen");
  EXPECT_TRUE(IsFullScreenStyle(w.style)) << std::hex << w.style;
  EXPECT_TRUE(w.zoomed);
  EXPECT_TRUE(RectIs(w.rect, 0, 0, ScreenWidth(), ScreenHeight()));
  // Escape goes through the hook before the form sees it, and the hook closes the window.
  book.PostKeyDown(VK_ESCAPE);
  DWORD code = 99;
  ASSERT_TRUE(book.WaitForExit(kExitTimeoutMs, &code));
  EXPECT_EQ(code, 0u);
  EXPECT_EQ(FolderEntries(BooksFolder()), before) << "-D without -F writes nothing";
}

TEST(ShellEndToEnd, LeavingFullScreenGivesBackTheDesignedPlacement) {
  // Started in another folder: the bare log name still means the program's folder.
  TBookProcess book(TheBooks().mode3, "-D -Ftrace.txt", "C:\\");
  ASSERT_TRUE(book.WaitForWindow());
  ASSERT_TRUE(IsFullScreenStyle(book.Report().style));
  book.PostChar(27);   // Escape typed into the form, past the hook
  book.PostChar('s');  // logged once the Escape has been handled in full
  const std::string log = InBooks("trace.txt");
  ASSERT_TRUE(WaitForFileText(log, "FormKeyPress[s]"));
  EXPECT_NE(ReadFileBytes(log).find(": FormKeyPress[\x1b]\r\n"), std::string::npos);
  const TWindowReport w = book.Report();
  EXPECT_TRUE(RectIs(w.rect, 399, 262, 1020, 575));
  EXPECT_TRUE(HasFrame(w.style));
  EXPECT_TRUE(w.visible);
  EXPECT_FALSE(w.zoomed);
  EXPECT_FALSE(FileExists("C:\\trace.txt"));
  book.PostKeyDown(VK_ESCAPE);  // windowed now: the hook lets it be
  book.PostChar('k');
  ASSERT_TRUE(WaitForFileText(log, "FormKeyPress[k]"));
  EXPECT_TRUE(book.Running());
  CloseAndExpectExit(book);
}

class ScreenSaverTest : public ::testing::Test {
 protected:
  // A known start position for the pointer; nothing else moves it under Xvfb.
  static constexpr int kX = 300, kY = 200;
  void SetUp() override { ::SetCursorPos(kX, kY); }
};

TEST_F(ScreenSaverTest, IgnoresKeyReleaseMiddleClickAndSmallMoves) {
  TBookProcess book(TheBooks().mode4, "/s -D -Fsaver.log");
  ASSERT_TRUE(book.WaitForWindow());
  const TWindowReport w = book.Report();
  EXPECT_TRUE(IsFullScreenStyle(w.style));
  EXPECT_TRUE(RectIs(w.rect, 0, 0, ScreenWidth(), ScreenHeight()));

  book.PostKeyUp('A');
  book.Post(WM_MBUTTONDOWN, MK_MBUTTON, MAKELPARAM(kX, kY));
  book.Post(WM_MBUTTONUP, 0, MAKELPARAM(kX, kY));
  book.Post(WM_RBUTTONDBLCLK, MK_RBUTTON, MAKELPARAM(kX, kY));
  book.Post(WM_SYSKEYDOWN, VK_MENU, 0x20380001);
  book.Post(WM_MOUSEMOVE, 0, MAKELPARAM(kX + 5, kY + 5));
  book.Post(WM_MOUSEMOVE, 0, MAKELPARAM(kX - 5, kY - 5));
  book.PostChar('q');  // after all of the above in the queue; the log shows it was reached
  ASSERT_TRUE(WaitForFileText(InBooks("saver.log"), "FormKeyPress[q]"));
  EXPECT_FALSE(book.WaitForExit(200));
  CloseAndExpectExit(book);
}

TEST_F(ScreenSaverTest, ClosesOnKeyClickWheelAndMovesOfSixPixels) {
  struct Case {
    const char* what;
    UINT message;
    WPARAM wParam;
    LPARAM lParam;
  } cases[] = {
      {"key", WM_KEYDOWN, 'A', 0x001E0001},
      {"left click", WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(kX, kY)},
      {"left double click", WM_LBUTTONDBLCLK, MK_LBUTTON, MAKELPARAM(kX, kY)},
      {"right click", WM_RBUTTONDOWN, MK_RBUTTON, MAKELPARAM(kX, kY)},
      {"wheel", WM_MOUSEWHEEL, MAKEWPARAM(0, WHEEL_DELTA), MAKELPARAM(kX, kY)},
      {"6 right", WM_MOUSEMOVE, 0, MAKELPARAM(kX + 6, kY)},
      {"6 up", WM_MOUSEMOVE, 0, MAKELPARAM(kX, kY - 6)},
  };
  std::vector<std::unique_ptr<TBookProcess>> books;
  for (std::size_t i = 0; i < std::size(cases); ++i)
    books.push_back(std::make_unique<TBookProcess>(TheBooks().mode4, "/S"));
  for (std::size_t i = 0; i < books.size(); ++i) {
    ASSERT_TRUE(books[i]->WaitForWindow()) << cases[i].what;
    books[i]->Post(cases[i].message, cases[i].wParam, cases[i].lParam);
  }
  for (std::size_t i = 0; i < books.size(); ++i) {
    DWORD code = 99;
    EXPECT_TRUE(books[i]->WaitForExit(kExitTimeoutMs, &code)) << cases[i].what;
    EXPECT_EQ(code, 0u) << cases[i].what;
  }
}

TEST_F(ScreenSaverTest, PreviewArgumentEndsTheProgramAfterStartUp) {
  const char* ending[] = {"/p", "-P", "\" /p \"", ",", "p 1"};  // the last: p alone is taken
  const char* staying[] = {"/s", "\"/p 123\""};
  std::vector<std::unique_ptr<TBookProcess>> ends, stays;
  for (const char* arguments : ending)
    ends.push_back(std::make_unique<TBookProcess>(TheBooks().mode4, arguments));
  for (std::size_t i = 0; i < std::size(staying); ++i)
    stays.push_back(std::make_unique<TBookProcess>(
        TheBooks().mode4, std::string(staying[i]) + " -D -Fstay" + std::to_string(i) + ".log"));
  for (std::size_t i = 0; i < ends.size(); ++i) {
    DWORD code = 99;
    EXPECT_TRUE(ends[i]->WaitForExit(kExitTimeoutMs, &code)) << ending[i];
    EXPECT_EQ(code, 0u) << ending[i];
  }
  for (std::size_t i = 0; i < stays.size(); ++i) {
    SCOPED_TRACE(staying[i]);
    ASSERT_TRUE(stays[i]->WaitForWindow());
    stays[i]->PostChar('q');
    ASSERT_TRUE(WaitForFileText(InBooks("stay" + std::to_string(i) + ".log"), "FormKeyPress[q]"));
    EXPECT_TRUE(stays[i]->Running());
    CloseAndExpectExit(*stays[i]);
  }
}

TEST(ShellEndToEnd, LogCreatesMissingFoldersAndReEndsOldLines) {
  const std::string nested = InBooks("logs\\deeper\\still\\trace.txt");
  const std::string lf = InBooks("lf.log");
  {
    FILE* f = std::fopen(lf.c_str(), "wb");
    ASSERT_TRUE(f);
    std::fputs("old one\nold two\n", f);
    std::fclose(f);
  }
  TBookProcess first(TheBooks().missing, "-D \"-F" + nested + "\"");
  TBookProcess second(TheBooks().missing, "-D -F" + lf);
  ASSERT_TRUE(first.WaitForWindow());
  ASSERT_TRUE(second.WaitForWindow());
  EXPECT_TRUE(WaitForFileText(nested, ": ConfigFileName:ExeConfig.xml\r\n"));
  ASSERT_TRUE(WaitForFileText(lf, "ConfigFileName:ExeConfig.xml\r\n"));
  const std::string content = ReadFileBytes(lf);
  EXPECT_EQ(content.rfind("old one\r\nold two\r\n", 0), 0u) << content;
  CloseAndExpectExit(first);
  CloseAndExpectExit(second);
}

}  // namespace
}  // namespace pageturn::e2e
