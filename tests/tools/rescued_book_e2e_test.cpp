// An older book, its page movies holding their pictures in the four bitmap forms (DefineBits
// with JPEGTables, DefineBitsJPEG2, DefineBitsJPEG3 with alpha, DefineBitsLossless2) under an
// engine's book.swf that the stand-in does not play, made into one of ours by `pageturn-pack
// rescue` and played by the real player with the stand-in under Wine: each page's picture is
// seen at the centre of the window, in order, and Right and Left turn the pages.
#include <gtest/gtest.h>
#include <windows.h>

#include <cstdio>
#include <sstream>
#include <string>
#include <vector>

#include "old_book_builder.h"
#include "tests/e2e/book_harness.h"
#include "tests/support/jpeg_tables.h"
#include "tools/imaging.h"
#include "tools/pack_command.h"

namespace pageturn::e2e {
namespace {

using namespace oldmovie;

constexpr DWORD kPlayTimeoutMs = 20000;
constexpr int kWidth = 200, kHeight = 150, kTwips = 20;
constexpr std::uint32_t kColours[] = {0xE03020, 0x20B040, 0x2050E0, 0xE0C020};

TImage PagePixels(std::uint32_t colour, bool clearCorner) {
  TImage image{kWidth, kHeight, {}};
  for (int y = 0; y < kHeight; ++y)
    for (int x = 0; x < kWidth; ++x)
      image.rgba.insert(
          image.rgba.end(),
          {std::uint8_t(colour >> 16), std::uint8_t(colour >> 8), std::uint8_t(colour),
           std::uint8_t(clearCorner && x < 20 && y < 20 ? 0 : 255)});
  return image;
}

Bytes PageMovie(const Bytes& definitions) {
  return Movie(
      Cat({Tag(69, {0, 0, 0, 0}), Surroundings(), definitions,
           DefineBitsLossless(50, 1, 4, 4, Bytes(64, 0x7F)),
           Shape(2, kWidth * kTwips, kHeight * kTwips, 1, Matrix(20, 20)),
           Shape(51, 4 * kTwips, 4 * kTwips, 50, Matrix(20, 20)),
           Sprite(3, Cat({PlaceObject2(1, 2, Matrix(1, 1)), ShowFrame()})),
           PlaceObject2(1, 51, Matrix(1, 1)), PlaceObject2(2, 3, Matrix(1, 1)), ShowFrame()}),
      kWidth, kHeight);
}

bool Near(std::uint32_t a, std::uint32_t b) {
  for (int shift : {0, 8, 16})
    if (std::abs(int(a >> shift & 0xFF) - int(b >> shift & 0xFF)) > 24) return false;
  return true;
}

RECT ClientOnScreen(HWND window) {
  RECT r;
  ::GetClientRect(window, &r);
  ::MapWindowPoints(window, nullptr, reinterpret_cast<POINT*>(&r), 2);
  return r;
}

class RescuedBook : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    Bytes premultiplied;  // ARGB of the fourth colour, opaque
    for (std::size_t i = 0; i < kWidth * kHeight; ++i)
      premultiplied.insert(premultiplied.end(), {0xFF, 0xE0, 0xC0, 0x20});
    const auto [tables, frame] = SplitJpegTables(EncodeJpeg(PagePixels(kColours[0], false)));
    Bytes alpha(kWidth * kHeight, 0xFF);
    for (int y = 0; y < 20; ++y)
      for (int x = 0; x < 20; ++x) alpha[y * kWidth + x] = 0;
    const std::vector<Bytes> movies = {
        PageMovie(Cat({JpegTables(tables), DefineBits(1, frame)})),
        PageMovie(DefineBitsJpeg2(1, EncodePng(PagePixels(kColours[1], true)))),
        PageMovie(DefineBitsJpeg3(1, EncodeJpeg(PagePixels(kColours[2], false)), alpha)),
        PageMovie(DefineBitsLossless(1, 2, kWidth, kHeight, premultiplied)),
    };
    std::vector<TBookEntry> entries = {{"book.swf", Text(ForeignBookMovie())},
                                       {"files/book.bin", std::string(64, '\x01')},
                                       {"ExeConfig.xml", OldExeConfig("Old Atlas", 1, 600, 440)}};
    for (std::size_t n = 0; n < movies.size(); ++n) {
      entries.push_back({"files/large/" + std::to_string(n + 1) + ".swf", Text(movies[n])});
      entries.push_back({"files/thumb/" + std::to_string(n + 1) + ".jpg",
                         Text(EncodeJpeg(PagePixels(0x808080, false)))});
    }
    old_ = MakeBook("old.exe", entries);
    book_ = BooksFolder() + "\\rescued.exe";
    std::ostringstream out, err;
    ASSERT_EQ(RunPackCommand({"rescue", old_, "-o", book_, "--player", PlayerPath(), "--runtime",
                              LinuxToWine(STANDIN_FLASH_PATH)},
                             out, err, false),
              0)
        << err.str();
    rescueOutput_ = out.str();
  }

  // The page the window shows at its centre, polled: a turn is painted a moment later. Each
  // check saves what the window showed.
  static ::testing::AssertionResult ShowsPage(HWND window, int page) {
    const std::uint32_t colour = kColours[page - 1];
    std::uint32_t seen = 0;
    TScreenShot shot;
    const DWORD start = ::GetTickCount();
    do {
      const RECT client = ClientOnScreen(window);
      shot = CaptureScreen(client);
      if (!shot.pixels.empty()) {
        seen = shot.At(shot.width / 2, shot.height / 2) & 0xFFFFFF;
        if (Near(seen, colour)) break;
      }
      ::Sleep(50);
    } while (::GetTickCount() - start < kPlayTimeoutMs);
    SavePng(shot, BooksFolder() + "\\rescued-page-" + std::to_string(page) + ".png");
    if (Near(seen, colour)) return ::testing::AssertionSuccess();
    char text[64];
    std::snprintf(text, sizeof text, "page %d not shown: %06X", page, seen);
    return ::testing::AssertionFailure() << text;
  }

  static std::string old_, book_, rescueOutput_;
};

std::string RescuedBook::old_, RescuedBook::book_, RescuedBook::rescueOutput_;

TEST_F(RescuedBook, PlaysEachPagesPictureAndTurnsByRightAndLeft) {
  for (const char* line : {"page 1: DefineBits 200\xC3\x97"
                           "150 from files/large/1.swf",
                           "page 2: DefineBitsJPEG2 200\xC3\x97"
                           "150 from files/large/2.swf",
                           "page 3: DefineBitsJPEG3 200\xC3\x97"
                           "150 from files/large/3.swf",
                           "page 4: DefineBitsLossless2 200\xC3\x97"
                           "150 from files/large/4.swf"})
    EXPECT_NE(rescueOutput_.find(line), std::string::npos) << line << " in\n" << rescueOutput_;

  TBookProcess process(book_, "");
  ASSERT_TRUE(process.WaitForWindow());
  EXPECT_EQ(process.Report().caption, "Old Atlas");
  ASSERT_TRUE(ShowsPage(process.Window(), 1));
  const struct Step {
    WORD key;
    int page;
  } steps[] = {{VK_RIGHT, 2}, {VK_RIGHT, 3}, {VK_RIGHT, 4}, {VK_LEFT, 3}, {VK_LEFT, 2}};
  for (const auto& s : steps) {
    SCOPED_TRACE(s.page);
    const RECT client = ClientOnScreen(process.Window());
    const HWND player =
        ::WindowFromPoint({(client.left + client.right) / 2, (client.top + client.bottom) / 2});
    const UINT scan = ::MapVirtualKeyA(s.key, MAPVK_VK_TO_VSC);
    ::PostMessageA(player, WM_KEYDOWN, s.key, 1 | (scan << 16));
    ::PostMessageA(player, WM_KEYUP, s.key, 1 | (scan << 16) | 0xC0000000u);
    EXPECT_TRUE(ShowsPage(process.Window(), s.page));
  }
  process.Post(WM_CLOSE);
  DWORD code = 99;
  ASSERT_TRUE(process.WaitForExit(10000, &code));
  EXPECT_EQ(code, 0u);
}

}  // namespace
}  // namespace pageturn::e2e
