// The book plays: the real player made into books that carry movies (and the stand-in runtime),
// started under Wine and watched from this separate process through the window, the screen, the
// process's memory and the debug log. The movies ask for further files the way books do; every
// answer they get is proved by what the answered movie does next.
#include <gtest/gtest.h>
#include <windows.h>

#include <algorithm>
#include <string>
#include <vector>

#include "tests/e2e/book_harness.h"
#include "tests/e2e/test_movies.h"

namespace pageturn::e2e {
namespace {

constexpr DWORD kPlayTimeoutMs = 20000;

// The host probe and the answer the player gives to it.
constexpr const char* kProbeId = "{3F6C2D1E-9A4B-4c7d-B2E5-6D8A1F0C3B79}";
constexpr const char* kProbeAnswer = "{7E19B0D4-C5A2-4F83-9D6E-0B4C8A2F1E65}";

// Level 0's background fills the runtime's window.
constexpr std::uint32_t kBookBackground = 0x209060;

// ExternalInterface.call(kProbeId) as compilers write it; its answer is made part of a name
// that the movie then loads into a level: "files/" + answer + ".swf".
swf::ActionList LoadLevelNamedByTheProbeAnswer(int level) {
  const swf::ActionRecord getUrl2 = Op(swf::kActionGetUrl2);  // flags 0: target, then url
  return {PushString("files/"),
          PushString(kProbeId),
          PushInteger(1),
          PushString("flash"),
          Op(swf::kActionGetVariable),
          PushString("external"),
          Op(swf::kActionGetMember),
          PushString("ExternalInterface"),
          Op(swf::kActionGetMember),
          PushString("call"),
          Op(swf::kActionCallMethod),
          Op(swf::kActionStringAdd),
          PushString(".swf"),
          Op(swf::kActionStringAdd),
          PushString("_level" + std::to_string(level)),
          getUrl2};
}

std::string StandInRuntime() { return ReadFileBytes(LinuxToWine(STANDIN_FLASH_PATH)); }

std::string LogPath(const std::string& name) { return BooksFolder() + "\\" + name; }

// True when the lines hold `wanted` in this order (other lines may come between).
::testing::AssertionResult InOrder(const std::vector<std::string>& lines,
                                   const std::vector<std::string>& wanted) {
  auto at = lines.begin();
  for (const std::string& line : wanted) {
    at = std::find_if(at, lines.end(), [&](const std::string& l) {
      return l.find(": " + line) != std::string::npos;
    });
    if (at == lines.end()) {
      auto failure = ::testing::AssertionFailure() << "no \"" << line << "\" in order; the log:";
      for (const std::string& l : lines) failure << "\n  " << l;
      return failure;
    }
    ++at;
  }
  return ::testing::AssertionSuccess();
}

bool HasLine(const std::vector<std::string>& lines, const std::string& text) {
  return std::any_of(lines.begin(), lines.end(),
                     [&](const std::string& l) { return l.find(text) != std::string::npos; });
}

bool IsFullScreen(const TWindowReport& w) {
  return w.rect.left == 0 && w.rect.top == 0 && w.rect.right == ::GetSystemMetrics(SM_CXSCREEN) &&
         w.rect.bottom == ::GetSystemMetrics(SM_CYSCREEN) && (w.style & WS_CAPTION) == 0;
}

bool WaitUntil(DWORD timeoutMs, const auto& condition) {
  const DWORD start = ::GetTickCount();
  while (!condition()) {
    if (::GetTickCount() - start > timeoutMs) return false;
    ::Sleep(20);
  }
  return true;
}

// The notice the main window shows in place of the player, or "" when it plays.
std::string NoticeOf(HWND window) {
  const HWND notice = ::FindWindowExA(window, nullptr, "TBookNotice", nullptr);
  if (!notice || !::IsWindowVisible(notice)) return "";
  char text[512] = {};
  ::GetWindowTextA(notice, text, sizeof text);
  return text;
}

RECT ClientOnScreen(HWND window) {
  RECT r;
  ::GetClientRect(window, &r);
  ::MapWindowPoints(window, nullptr, reinterpret_cast<POINT*>(&r), 2);
  return r;
}

void CloseAndExpectExit(TBookProcess& book) {
  book.Post(WM_CLOSE);
  DWORD code = 99;
  ASSERT_TRUE(book.WaitForExit(10000, &code));
  EXPECT_EQ(code, 0u);
}

swf::ActionList MainMovieActions() {
  swf::ActionList actions = {FullScreen("TRUE"),
                             FullScreen("true"),
                             FullScreen("true"),
                             LoadLevel("files/large/1.swf", 1),
                             LoadLevel("./files/thumb/3.jpg", 2),
                             LoadLevel("a/./b.swf", 3)};
  Append(actions, LoadLevelNamedByTheProbeAnswer(4));
  actions.push_back(LoadLevel("http://book.invalid/extra.swf", 5));
  return actions;
}

// The book that plays: its main movie goes full screen, loads pages by the URL road under names
// the index holds, with "./" in front, with "./" inside, by the answer to the host probe, and by
// a whole URL that only the bundle knows; the pages it gets ask for more in turn.
std::vector<TBookEntry> PlayingBook(bool withRuntime) {
  std::vector<TBookEntry> entries = {
      {"ExeConfig.xml", ExeConfigXml("Plays", "1", "640", "480")},
      {"book.swf", Movie(MainMovieActions(), kBookBackground)},
      {"files/large/1.swf", Movie({LoadLevel("2.swf", 6)})},
      {"files/large/2.swf", Movie({})},
      {"files/thumb/3.jpg", Movie({LoadLevel("3-next.swf", 7)})},
      {"files/thumb/3-next.swf", Movie({})},
      {"a/b.swf", Movie({})},
      {"http://book.invalid/extra.swf", Movie({LoadLevel("http://book.invalid/more.swf", 8)})},
      {"http://book.invalid/more.swf", Movie({})},
  };
  if (withRuntime) entries.push_back({"flash.ocx", StandInRuntime()});
  return entries;
}

TEST(PlayerEndToEnd, PlaysTheMainMovieFromMemoryAndAnswersItsRequestsFromTheBundle) {
  const std::string runtime = StandInRuntime();
  ASSERT_GT(runtime.size(), 4096u);
  const std::string book = MakeBook("plays.exe", PlayingBook(true));
  TBookProcess process(book, "-d -Fplays.log");
  ASSERT_TRUE(process.WaitForWindow());
  const std::string log = LogPath("plays.log");

  // The last request of the chain: every page before it was delivered whole and played.
  ASSERT_TRUE(
      WaitForFileText(log, "ContentProvider url[http://book.invalid/more.swf]", kPlayTimeoutMs))
      << ReadFileBytes(log);
  ASSERT_TRUE(WaitForFileText(log, "Got .. url2[files/large/2.swf]", kPlayTimeoutMs));
  // Asked for by the page that came through "./": its own name keeps the "./" before it.
  ASSERT_TRUE(WaitForFileText(log, "Got .. url2_2[files/thumb/3-next.swf]", kPlayTimeoutMs));
  ASSERT_TRUE(WaitForFileText(log, std::string("To load url2[files/") + kProbeAnswer + ".swf]",
                              kPlayTimeoutMs));
  ASSERT_TRUE(WaitForFileText(log, "To load url2[a/./b.swf]", kPlayTimeoutMs));
  const std::vector<std::string> lines = ReadLines(log);

  // Each request by the URL road: the Ex event first, then the plain one, which finds the name.
  EXPECT_TRUE(InOrder(lines, {"ConfigFileName:ExeConfig.xml", "Loading book.swf..."}));
  EXPECT_TRUE(
      InOrder(lines, {"Loading book.swf...", "To load url 333[files/large/1.swf]",
                      "To load url2[files/large/1.swf]", "Got .. url2[files/large/1.swf]",
                      "To load url 333[files/large/2.swf]", "To load url2[files/large/2.swf]",
                      "Got .. url2[files/large/2.swf]"}));
  // "./" at the start is cut for a second look, and only there.
  EXPECT_TRUE(
      InOrder(lines, {"To load url 333[./files/thumb/3.jpg]", "To load url2[./files/thumb/3.jpg]",
                      "Got .. url2_2[files/thumb/3.jpg]", "To load url2[./files/thumb/3-next.swf]",
                      "Got .. url2_2[files/thumb/3-next.swf]"}));
  EXPECT_FALSE(HasLine(lines, "Got .. url2[./files/thumb/3.jpg]"));
  EXPECT_FALSE(HasLine(lines, "ContentProvider url[./files/thumb/3.jpg]"));
  EXPECT_FALSE(HasLine(lines, "To load url 44"));
  EXPECT_TRUE(InOrder(lines, {"To load url 333[a/./b.swf]", "To load url2[a/./b.swf]"}));
  EXPECT_FALSE(HasLine(lines, "Got .. url2[a/./b.swf]"));
  EXPECT_FALSE(HasLine(lines, "url2_2[a/b.swf]"));
  // A whole URL without the memory marker is the global handler's, looked up as it stands.
  EXPECT_TRUE(InOrder(lines, {"ContentProvider url[http://book.invalid/extra.swf]",
                              "ContentProvider url[http://book.invalid/more.swf]"}));
  EXPECT_FALSE(HasLine(lines, "To load url2[http://"));

  // The runtime came from the bundle, mapped by our loader, never by the system's.
  for (const std::string& name : ModuleNames(process.Pid())) EXPECT_NE(name, "flash.ocx");
  EXPECT_EQ(MappedImagesOfSize(process.Pid(), SizeOfImage(runtime)), 1);

  // "TRUE" did nothing; "true" twice went full screen once.
  ASSERT_TRUE(WaitUntil(kPlayTimeoutMs, [&] { return IsFullScreen(process.Report()); }))
      << "the movie's FSCommand did not make the window full screen";
  EXPECT_EQ(NoticeOf(process.Window()), "");

  // The movie's window fills the main window, in its background colour (once painted).
  TScreenShot shot;
  WaitUntil(5000, [&] {
    shot = CaptureScreen(ClientOnScreen(process.Window()));
    return !shot.pixels.empty() && shot.At(shot.width - 2, shot.height - 2) == kBookBackground;
  });
  ASSERT_EQ(shot.width, ::GetSystemMetrics(SM_CXSCREEN));
  EXPECT_TRUE(SavePng(shot, LinuxToWine(PAGETURN_E2E_BOOKS_DIR "/playing-book.png")));
  for (const auto& [fx, fy] : std::vector<std::pair<double, double>>{
           {0.02, 0.98}, {0.5, 0.6}, {0.98, 0.02}, {0.98, 0.98}, {0.3, 0.9}}) {
    const int x = int(fx * (shot.width - 1)), y = int(fy * (shot.height - 1));
    EXPECT_EQ(shot.At(x, y), kBookBackground) << "at " << x << "," << y;
  }

  // Keys that reach the form are logged and go on to the player.
  process.PostKeyDown(VK_RIGHT);
  process.PostKeyUp(VK_RIGHT);
  EXPECT_TRUE(WaitForFileText(log, "FormKeyUp[39]"));
  EXPECT_TRUE(InOrder(ReadLines(log), {"FormKeyDown[39]", "FormKeyUp[39]"}));
  CloseAndExpectExit(process);
}

TEST(PlayerEndToEnd, FullScreenTwiceFromTheMovieThenBackRestoresThePlaceBeforeTheFirst) {
  const std::string book =
      MakeBook("fullscreen-back.exe",
               {{"ExeConfig.xml", ExeConfigXml("Back", "1", "640", "480")},
                {"book.swf", Movie({FullScreen("true"), FullScreen("true"), FullScreen("false"),
                                    LoadLevel("files/large/1.swf", 1)})},
                {"files/large/1.swf", Movie({})},
                {"flash.ocx", StandInRuntime()}});
  TBookProcess process(book, "-d -Fback.log");
  ASSERT_TRUE(process.WaitForWindow());
  // The request comes after the three commands in the same frame.
  ASSERT_TRUE(
      WaitForFileText(LogPath("back.log"), "Got .. url2[files/large/1.swf]", kPlayTimeoutMs));
  const TWindowReport w = process.Report();
  EXPECT_EQ(w.rect.left, 399);
  EXPECT_EQ(w.rect.top, 262);
  EXPECT_EQ(w.rect.right - w.rect.left, 640);
  EXPECT_EQ(w.rect.bottom - w.rect.top, 480);
  EXPECT_EQ(w.style & WS_OVERLAPPEDWINDOW, WS_OVERLAPPEDWINDOW);
  EXPECT_FALSE(w.zoomed);
  CloseAndExpectExit(process);
}

TEST(PlayerEndToEnd, ABookWithoutRuntimePlaysWithTheRegisteredOneMappedFromMemory) {
  const std::string runtime = StandInRuntime();
  const TRegisteredRuntime registered(LinuxToWine(STANDIN_FLASH_PATH));
  const std::string book = MakeBook("registered.exe", PlayingBook(false));
  TBookProcess process(book, "-d -Fregistered.log");
  ASSERT_TRUE(process.WaitForWindow());
  ASSERT_TRUE(
      WaitForFileText(LogPath("registered.log"), "Got .. url2[files/large/2.swf]", kPlayTimeoutMs));
  for (const std::string& name : ModuleNames(process.Pid())) EXPECT_NE(name, "flash.ocx");
  EXPECT_EQ(MappedImagesOfSize(process.Pid(), SizeOfImage(runtime)), 1);
  EXPECT_EQ(NoticeOf(process.Window()), "");
  CloseAndExpectExit(process);
}

// Books that cannot play say why, in the window and in the log, and still close cleanly.
TEST(PlayerEndToEnd, ABookThatCannotPlaySaysWhyInTheWindow) {
  enum Runtime { kNone, kStandIn, kRefusing, kRefusingSite };
  struct Case {
    const char* name;
    Runtime runtime;
    bool withMovie;
    const char* notice;
    const char* logLine;
  };
  const Case cases[] = {
      {"no-runtime", kNone, true, "needs the Adobe Flash Player runtime",
       "No Flash runtime: none in the book, none installed"},
      {"no-runtime-no-movie", kNone, false, "needs the Adobe Flash Player runtime",
       "No Flash runtime: none in the book, none installed"},
      {"no-movie", kStandIn, false, "it has no main movie (book.swf)",
       "book.swf not found in the book"},
      {"refusing-runtime", kRefusing, true,
       "The Flash Player runtime could not be started: OLE control activation failed",
       "Flash runtime failed to start: OLE control activation failed"},
      {"refusing-site", kRefusingSite, true,
       "The Flash Player runtime could not be started: ", "Flash runtime failed to start: "},
  };
  const TRegisteredRuntime noneRegistered("");
  // All at once: each start costs a second or two.
  std::vector<std::unique_ptr<TBookProcess>> processes;
  for (const Case& c : cases) {
    std::vector<TBookEntry> entries = {{"ExeConfig.xml", ExeConfigXml(c.name, "1", "500", "300")}};
    if (c.withMovie) entries.push_back({"book.swf", Movie({LoadLevel("files/large/1.swf", 1)})});
    if (c.runtime == kStandIn) entries.push_back({"flash.ocx", StandInRuntime()});
    if (c.runtime == kRefusing)
      entries.push_back({"flash.ocx", ReadFileBytes(LinuxToWine(REFUSING_RUNTIME_PATH))});
    if (c.runtime == kRefusingSite)
      entries.push_back({"flash.ocx", ReadFileBytes(LinuxToWine(REFUSING_SITE_RUNTIME_PATH))});
    processes.push_back(std::make_unique<TBookProcess>(
        MakeBook(std::string(c.name) + ".exe", entries), std::string("-d -F") + c.name + ".log"));
  }
  for (size_t i = 0; i < processes.size(); ++i) {
    const Case& c = cases[i];
    SCOPED_TRACE(c.name);
    TBookProcess& process = *processes[i];
    ASSERT_TRUE(process.WaitForWindow());
    const std::string log = LogPath(std::string(c.name) + ".log");
    EXPECT_TRUE(WaitForFileText(log, c.logLine)) << ReadFileBytes(log);
    std::string notice;
    EXPECT_TRUE(WaitUntil(10000, [&] { return !(notice = NoticeOf(process.Window())).empty(); }));
    EXPECT_NE(notice.find(c.notice), std::string::npos) << notice;
    EXPECT_EQ(process.Report().caption, c.name);

    // Text on the window colour, in the middle of the client area (once painted).
    const std::uint32_t window = ::GetSysColor(COLOR_WINDOW);
    const std::uint32_t windowRgb =
        (GetRValue(window) << 16) | (GetGValue(window) << 8) | GetBValue(window);
    TScreenShot shot;
    int ink = 0;
    WaitUntil(5000, [&] {
      shot = CaptureScreen(ClientOnScreen(process.Window()));
      ink = 0;
      for (int y = shot.height / 3; y < 2 * shot.height / 3; ++y)
        for (int x = 0; x < shot.width; ++x) ink += shot.At(x, y) != windowRgb;
      return !shot.pixels.empty() && shot.At(2, 2) == windowRgb && ink > 50;
    });
    ASSERT_FALSE(shot.pixels.empty());
    EXPECT_EQ(shot.At(2, 2), windowRgb);
    EXPECT_GT(ink, 50) << "no text in the middle of the window";
    if (i == 0) SavePng(shot, LinuxToWine(PAGETURN_E2E_BOOKS_DIR "/notice.png"));
    EXPECT_FALSE(HasLine(ReadLines(log), "To load url"));
    CloseAndExpectExit(process);
  }
}

}  // namespace
}  // namespace pageturn::e2e
