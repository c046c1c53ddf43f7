// A book made by `pageturn-pack make` from generated pictures, played by the real player with
// the stand-in runtime under Wine: the screen shows each page's picture where the stage puts it,
// keys and clicks turn pages, F toggles full screen, and the debug log shows each page's request.
// Built once the player hosts the control and the stand-in draws.
#include <gtest/gtest.h>
#include <windows.h>
#include <zlib.h>

#include <algorithm>
#include <cstdio>
#include <functional>
#include <sstream>
#include <string>
#include <vector>

#include "swf/swf_writer.h"
#include "tests/e2e/book_harness.h"
#include "tools/pack_command.h"

namespace pageturn::e2e {
namespace {

constexpr DWORD kPlayTimeoutMs = 20000;
constexpr int kPageWidth = 200, kPageHeight = 150;
// What the made navigator paints around the stage.
constexpr std::uint32_t kBookBackground = 0x303030;
// Each page a colour of its own, with a black corner block at its top left.
constexpr std::uint32_t kPageColours[] = {0xE03020, 0x20B040, 0x2050E0, 0xE0C020};
constexpr int kCorner = 30;

// What the screen shows in a rectangle (screen coordinates), as 0xRRGGBB pixels by rows.
struct TShot {
  int width = 0, height = 0;
  std::vector<std::uint32_t> pixels;
  std::uint32_t At(int x, int y) const { return pixels[size_t(y) * width + x] & 0xFFFFFF; }
};

TShot CaptureScreen(const RECT& r) {
  TShot shot;
  const int w = r.right - r.left, h = r.bottom - r.top;
  if (w <= 0 || h <= 0) return shot;
  const HDC screen = ::GetDC(nullptr);
  const HDC memory = ::CreateCompatibleDC(screen);
  BITMAPINFO info = {};
  info.bmiHeader = {sizeof(BITMAPINFOHEADER), w, -h, 1, 32, BI_RGB};
  void* bits = nullptr;
  const HBITMAP bitmap = ::CreateDIBSection(screen, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
  if (bitmap) {
    const HGDIOBJ old = ::SelectObject(memory, bitmap);
    if (::BitBlt(memory, 0, 0, w, h, screen, r.left, r.top, SRCCOPY)) {
      shot.width = w;
      shot.height = h;
      const auto* p = static_cast<const std::uint32_t*>(bits);
      shot.pixels.assign(p, p + size_t(w) * h);
    }
    ::SelectObject(memory, old);
    ::DeleteObject(bitmap);
  }
  ::DeleteDC(memory);
  ::ReleaseDC(nullptr, screen);
  return shot;
}

// A PNG of one colour with a black block in its top left corner.
std::string PagePng(std::uint32_t colour, int width = kPageWidth, int height = kPageHeight) {
  auto be32 = [](std::uint32_t v) {
    return std::string{char(v >> 24), char(v >> 16), char(v >> 8), char(v)};
  };
  auto chunk = [&](const std::string& kind, const std::string& data) {
    const std::string body = kind + data;
    const auto crc = ::crc32(0, reinterpret_cast<const Bytef*>(body.data()), uInt(body.size()));
    return be32(std::uint32_t(data.size())) + body + be32(std::uint32_t(crc));
  };
  std::vector<std::uint8_t> rows;
  for (int y = 0; y < height; ++y) {
    rows.push_back(0);  // no filter
    for (int x = 0; x < width; ++x) {
      const std::uint32_t c = x < kCorner && y < kCorner ? 0 : colour;
      rows.insert(rows.end(), {std::uint8_t(c >> 16), std::uint8_t(c >> 8), std::uint8_t(c)});
    }
  }
  const std::vector<std::uint8_t> packed = swf::Deflate(rows);
  return std::string("\x89PNG\r\n\x1a\n", 8) +
         chunk("IHDR", be32(std::uint32_t(width)) + be32(std::uint32_t(height)) +
                           std::string("\x08\x02\0\0\0", 5)) +
         chunk("IDAT", std::string(packed.begin(), packed.end())) + chunk("IEND", "");
}

bool WaitUntil(DWORD timeoutMs, const auto& condition) {
  const DWORD start = ::GetTickCount();
  while (!condition()) {
    if (::GetTickCount() - start > timeoutMs) return false;
    ::Sleep(20);
  }
  return true;
}

RECT ClientOnScreen(HWND window) {
  RECT r;
  ::GetClientRect(window, &r);
  ::MapWindowPoints(window, nullptr, reinterpret_cast<POINT*>(&r), 2);
  return r;
}

// Where "show all" puts the stage in the client area: the largest centred fit.
RECT StageOnScreen(const RECT& client) {
  const int cw = client.right - client.left, ch = client.bottom - client.top;
  const double scale = std::min(double(cw) / kPageWidth, double(ch) / kPageHeight);
  const int w = int(kPageWidth * scale), h = int(kPageHeight * scale);
  const int left = client.left + (cw - w) / 2, top = client.top + (ch - h) / 2;
  return {left, top, left + w, top + h};
}

class MadeBook : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    const std::string pages = BooksFolder() + "\\made-pages";
    ::CreateDirectoryA(pages.c_str(), nullptr);
    for (int n = 0; n < 4; ++n) {
      std::FILE* f = std::fopen((pages + "\\page" + std::to_string(n + 1) + ".png").c_str(), "wb");
      ASSERT_NE(f, nullptr);
      const std::string png = PagePng(kPageColours[n]);
      std::fwrite(png.data(), 1, png.size(), f);
      std::fclose(f);
    }
    book_ = BooksFolder() + "\\made.exe";
    std::ostringstream out, err;
    ASSERT_EQ(RunPackCommand({"make", pages, "-o", book_, "--caption", "Made", "--mode", "1",
                              "--width", "600", "--height", "440", "--player", PlayerPath(),
                              "--runtime", LinuxToWine(STANDIN_FLASH_PATH)},
                             out, err, false),
              0)
        << err.str();
  }

  // The page the screen shows: its colour at the stage's centre, the corner block at the
  // stage's top left, the background beside the stage.
  // What is wrong with the screen for the page, or "" when it shows it.
  static std::string PageProblem(HWND window, int page) {
    const std::uint32_t colour = kPageColours[page - 1];
    const RECT client = ClientOnScreen(window);
    const RECT stage = StageOnScreen(client);
    const TShot shot = CaptureScreen(client);
    if (shot.pixels.empty()) return "no capture";
    auto at = [&](int x, int y) { return shot.At(x - client.left, y - client.top); };
    auto hex = [](std::uint32_t v) {
      char text[16];
      std::snprintf(text, sizeof text, "%06X", v);
      return std::string(text);
    };
    const int cx = (stage.left + stage.right) / 2, cy = (stage.top + stage.bottom) / 2;
    if (at(cx, cy) != colour)
      return "page " + std::to_string(page) + " not shown: " + hex(at(cx, cy));
    const double scale = double(stage.right - stage.left) / kPageWidth;
    const int cornerX = stage.left + int(kCorner * scale / 2);
    const int cornerY = stage.top + int(kCorner * scale / 2);
    if (at(cornerX, cornerY) != 0) return "no corner block at the stage's top left";
    if (at(stage.left + int(kCorner * scale) + 3, cornerY) != colour)
      return "the corner block is larger than the picture's";
    if (stage.left - client.left > 2 && at(client.left + 1, cy) != kBookBackground)
      return "beside the stage: " + hex(at(client.left + 1, cy));
    if (stage.top - client.top > 2 && at(cx, client.top + 1) != kBookBackground)
      return "above the stage: " + hex(at(cx, client.top + 1));
    return "";
  }

  // Polled whole: after a page turn or a change of display mode the window settles, and is
  // painted, a moment later.
  ::testing::AssertionResult ShowsPage(HWND window, int page) {
    std::string problem;
    if (WaitUntil(kPlayTimeoutMs, [&] { return (problem = PageProblem(window, page)).empty(); }))
      return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << problem;
  }

  static std::string book_;
};

std::string MadeBook::book_;

TEST_F(MadeBook, ShowsPageOneAndTurnsPagesByKeysClicksAndFullScreen) {
  const std::string log = BooksFolder() + "\\made.log";
  ::DeleteFileA(log.c_str());
  // Mode 1 at 600 x 440 from the designed place (399, 262): the window lies wholly on the
  // 1024 x 768 test screen, so its capture is what it shows.
  TBookProcess process(book_, "-d -Fmade.log");
  ASSERT_TRUE(process.WaitForWindow());
  ASSERT_TRUE(WaitForFileText(log, "Got .. url2[files/large/1.swf]", kPlayTimeoutMs));
  ASSERT_TRUE(ShowsPage(process.Window(), 1));

  // Input goes where a person's would: to the player's window under the stage.
  auto player = [&] {
    const RECT stage = StageOnScreen(ClientOnScreen(process.Window()));
    return ::WindowFromPoint({(stage.left + stage.right) / 2, (stage.top + stage.bottom) / 2});
  };
  // Down and up, as a keyboard sends them: the player's message loop makes the character.
  auto key = [&](WORD vk) {
    const UINT scan = ::MapVirtualKeyA(vk, MAPVK_VK_TO_VSC);
    ::PostMessageA(player(), WM_KEYDOWN, vk, 1 | (scan << 16));
    ::PostMessageA(player(), WM_KEYUP, vk, 1 | (scan << 16) | 0xC0000000u);
  };
  auto click = [&](double fx) {
    const RECT stage = StageOnScreen(ClientOnScreen(process.Window()));
    POINT at{stage.left + int(fx * (stage.right - stage.left)), (stage.top + stage.bottom) / 2};
    const HWND target = ::WindowFromPoint(at);
    ::ScreenToClient(target, &at);
    const LPARAM where = MAKELPARAM(at.x, at.y);
    ::PostMessageA(target, WM_MOUSEMOVE, 0, where);
    ::PostMessageA(target, WM_LBUTTONDOWN, MK_LBUTTON, where);
    ::PostMessageA(target, WM_LBUTTONUP, 0, where);
  };

  const struct Step {
    const char* what;
    std::function<void()> act;
    int page;
  } steps[] = {
      {"Right arrow", [&] { key(VK_RIGHT); }, 2},
      {"a click on the right half", [&] { click(0.8); }, 3},
      {"Left arrow", [&] { key(VK_LEFT); }, 2},
      {"End", [&] { key(VK_END); }, 4},
      {"Home", [&] { key(VK_HOME); }, 1},
  };
  for (const auto& s : steps) {
    SCOPED_TRACE(s.what);
    s.act();
    EXPECT_TRUE(ShowsPage(process.Window(), s.page));
  }
  // Each page came from the bundle at its request.
  const std::string lines = ReadFileBytes(log);
  for (const char* page : {"2", "3", "4"}) {
    const std::string request = std::string("Got .. url2[files/large/") + page + ".swf]";
    EXPECT_NE(lines.find(request), std::string::npos) << request << " in\n" << lines;
  }

  // F: full screen, the page drawn over the whole screen; F again: back to the window.
  key('F');
  ASSERT_TRUE(WaitUntil(kPlayTimeoutMs, [&] {
    const TWindowReport w = process.Report();
    return w.rect.right - w.rect.left == ::GetSystemMetrics(SM_CXSCREEN) &&
           (w.style & WS_CAPTION) == 0;
  })) << "F did not go full screen";
  EXPECT_TRUE(ShowsPage(process.Window(), 1));
  key('F');
  ASSERT_TRUE(WaitUntil(kPlayTimeoutMs, [&] {
    const TWindowReport w = process.Report();
    return w.rect.right - w.rect.left == 600 && (w.style & WS_CAPTION) == WS_CAPTION;
  })) << "F again did not come back";
  EXPECT_TRUE(ShowsPage(process.Window(), 1));

  process.Post(WM_CLOSE);
  DWORD code = 99;
  ASSERT_TRUE(process.WaitForExit(10000, &code));
  EXPECT_EQ(code, 0u);
}

// Pages of three sizes on the stage of the size most of them have (200 x 150), played in two
// window shapes: each picture fitted inside the stage, aspect kept, centred, the rest of the
// stage the book's background.
TEST(MadeBookLayout, PagesOfThreeSizesAreFittedAndCentredInTwoWindowShapes) {
  const struct {
    int width, height;
    std::uint32_t colour;
  } pages[] = {
      {200, 150, 0xE03020}, {100, 150, 0x20B040}, {300, 150, 0x2050E0}, {200, 150, 0xE0C020}};
  const std::string folder = BooksFolder() + "\\sizes-pages";
  ::CreateDirectoryA(folder.c_str(), nullptr);
  for (int n = 0; n < 4; ++n) {
    std::FILE* f = std::fopen((folder + "\\page" + std::to_string(n + 1) + ".png").c_str(), "wb");
    ASSERT_NE(f, nullptr);
    const std::string png = PagePng(pages[n].colour, pages[n].width, pages[n].height);
    std::fwrite(png.data(), 1, png.size(), f);
    std::fclose(f);
  }
  for (const auto& [windowWidth, windowHeight] : {std::pair{600, 440}, std::pair{360, 600}}) {
    SCOPED_TRACE(std::to_string(windowWidth) + " x " + std::to_string(windowHeight));
    const std::string book = BooksFolder() + "\\sizes-" + std::to_string(windowWidth) + ".exe";
    std::ostringstream out, err;
    ASSERT_EQ(RunPackCommand({"make", folder, "-o", book, "--mode", "1", "--width",
                              std::to_string(windowWidth), "--height", std::to_string(windowHeight),
                              "--no-page-numbers", "--player", PlayerPath(), "--runtime",
                              LinuxToWine(STANDIN_FLASH_PATH)},
                             out, err, false),
              0)
        << err.str();
    TBookProcess process(book, "");
    ASSERT_TRUE(process.WaitForWindow());
    auto key = [&](WORD vk) {
      const RECT client = ClientOnScreen(process.Window());
      const HWND player =
          ::WindowFromPoint({(client.left + client.right) / 2, (client.top + client.bottom) / 2});
      ::PostMessageA(player, WM_KEYDOWN, vk, 1);
      ::PostMessageA(player, WM_KEYUP, vk, 0xC0000001u);
    };
    for (int n = 0; n < 4; ++n) {
      SCOPED_TRACE("page " + std::to_string(n + 1));
      if (n > 0) key(VK_RIGHT);
      const auto& page = pages[n];
      std::string problem;
      const bool shown = WaitUntil(kPlayTimeoutMs, [&] {
        const RECT client = ClientOnScreen(process.Window());
        const RECT stage = StageOnScreen(client);
        const double k = double(stage.right - stage.left) / kPageWidth;
        const double fit =
            std::min(double(kPageWidth) / page.width, double(kPageHeight) / page.height);
        const double w = page.width * fit * k, h = page.height * fit * k;
        const double left = (stage.left + stage.right - w) / 2,
                     top = (stage.top + stage.bottom - h) / 2;
        const TShot shot = CaptureScreen(client);
        if (shot.pixels.empty()) return (problem = "no capture").empty();
        auto at = [&](double x, double y) {
          return shot.At(int(x) - client.left, int(y) - client.top);
        };
        const double cx = left + w / 2, cy = top + h / 2;
        const struct {
          const char* where;
          double x, y;
          std::uint32_t colour;
        } points[] = {
            {"centre", cx, cy, page.colour},
            {"near the left edge", left + 3, cy, page.colour},
            {"near the right edge", left + w - 4, cy, page.colour},
            {"near the top edge", cx, top + 3, page.colour},
            {"near the bottom edge", cx, top + h - 4, page.colour},
            {"in the corner block", left + 4, top + 4, 0},
        };
        for (const auto& p : points) {
          if (at(p.x, p.y) != p.colour) {
            char text[96];
            std::snprintf(text, sizeof text, "%s: %06X", p.where, at(p.x, p.y));
            problem = text;
            return false;
          }
        }
        // Beside a picture narrower or lower than the stage, still inside the stage.
        if (left - stage.left > 6 && at(left - 4, cy) != kBookBackground)
          return (problem = "left of the picture: not the background").empty();
        if (stage.bottom - (top + h) > 6 && at(cx, top + h + 4) != kBookBackground)
          return (problem = "below the picture: not the background").empty();
        return true;
      });
      EXPECT_TRUE(shown) << problem;
    }
    process.Post(WM_CLOSE);
    ASSERT_TRUE(process.WaitForExit(10000, nullptr));
  }
}

// Where clicks land: the halves of the whole window count, the bands beside the stage included;
// the first click after start turns; a double click turns twice; the wheel does nothing (the
// movies have no listener for it).
TEST_F(MadeBook, ClicksTurnByTheHalvesOfTheWholeWindow) {
  TBookProcess process(book_, "");
  ASSERT_TRUE(process.WaitForWindow());
  ASSERT_TRUE(ShowsPage(process.Window(), 1));
  auto send = [&](double fx, double fy, std::initializer_list<UINT> messages) {
    const RECT client = ClientOnScreen(process.Window());
    POINT at{client.left + int(fx * (client.right - client.left)),
             client.top + int(fy * (client.bottom - client.top))};
    const HWND target = ::WindowFromPoint(at);
    ::ScreenToClient(target, &at);
    const LPARAM where = MAKELPARAM(at.x, at.y);
    ::PostMessageA(target, WM_MOUSEMOVE, 0, where);
    for (UINT m : messages)
      ::PostMessageA(target, m, m == WM_MOUSEWHEEL ? MAKEWPARAM(0, WHEEL_DELTA) : 0, where);
  };
  const std::initializer_list<UINT> click = {WM_LBUTTONDOWN, WM_LBUTTONUP};
  const struct Step {
    const char* what;
    double fx, fy;
    std::initializer_list<UINT> messages;
    int page;
  } steps[] = {
      {"the first click after start, right of the middle", 0.7, 0.5, click, 2},
      {"the band beside the stage, right", 0.99, 0.5, click, 3},
      {"the band beside the stage, left", 0.01, 0.5, click, 2},
      {"the top edge, left of the middle", 0.2, 0.01, click, 1},
      {"the bottom edge, right of the middle", 0.8, 0.99, click, 2},
      {"the wheel", 0.7, 0.5, {WM_MOUSEWHEEL}, 2},
      {"then a click on the left half", 0.3, 0.5, click, 1},
      {"a double click on the right half",
       0.7,
       0.5,
       {WM_LBUTTONDOWN, WM_LBUTTONUP, WM_LBUTTONDBLCLK, WM_LBUTTONUP},
       3},
      {"a double click on the left half",
       0.3,
       0.5,
       {WM_LBUTTONDOWN, WM_LBUTTONUP, WM_LBUTTONDBLCLK, WM_LBUTTONUP},
       1},
  };
  for (const auto& s : steps) {
    SCOPED_TRACE(s.what);
    send(s.fx, s.fy, s.messages);
    EXPECT_TRUE(ShowsPage(process.Window(), s.page));
  }
  process.Post(WM_CLOSE);
  ASSERT_TRUE(process.WaitForExit(10000, nullptr));
}

}  // namespace
}  // namespace pageturn::e2e
