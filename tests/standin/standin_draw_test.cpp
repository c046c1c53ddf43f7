// What a reader sees and does: movies played by the stand-in (flash_test.ocx) in a real window on
// the X display, checked pixel by pixel in screenshots of that window; clicks and keys posted
// to it reach the movies' buttons; hostile movies meet the runtime's caps.
#include <gtest/gtest.h>
#include <ocidl.h>
#include <olectl.h>
#include <psapi.h>
#include <wincodec.h>
#include <windows.h>
#include <zlib.h>

#include <cstdio>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "shockwave_flash.h"
#include "standin_test_surface.h"
#include "swf/swf_reader.h"
#include "swf/swf_writer.h"
#include "tests/support/jpeg_tables.h"
#include "tools/book_movies.h"
#include "window_harness.h"

namespace {

using namespace standintest;
using standin::IShockwaveFlash;

constexpr int kTwips = 20;

// ---------------------------------------------------------------------------------------------
// Movies

swf::Movie Stage(int widthPx, int heightPx, uint32_t background) {
  swf::Movie m;
  m.header.compressed = true;
  m.frameSize = {0, widthPx * kTwips, 0, heightPx * kTwips};
  m.fileAttributes = 0;
  m.backgroundColor = background;
  return m;
}

swf::Matrix Translate(int xPx, int yPx) {
  swf::Matrix m;
  m.translateX = xPx * kTwips;
  m.translateY = yPx * kTwips;
  return m;
}

// A rectangle at (0, 0) of w x h pixels filled with a style.
swf::DefineShape Rectangle(uint16_t id, int wPx, int hPx, swf::FillStyle fill) {
  swf::DefineShape s;
  s.id = id;
  s.version = 3;
  s.bounds = {0, wPx * kTwips, 0, hPx * kTwips};
  s.fillStyles = {fill};
  swf::ShapeRecord start;
  start.hasMoveTo = true;
  start.fillStyle1 = 1;
  s.records.push_back(start);
  int w = wPx * kTwips, h = hPx * kTwips;
  for (auto [dx, dy] : {std::pair{w, 0}, {0, h}, {-w, 0}, {0, -h}}) {
    swf::ShapeRecord edge;
    edge.kind = swf::ShapeRecord::kStraightEdge;
    edge.dx = dx;
    edge.dy = dy;
    s.records.push_back(edge);
  }
  return s;
}

// A bitmap fill drawing each bitmap pixel as `pixelPx` stage pixels.
swf::FillStyle BitmapFill(uint16_t bitmapId, int pixelPx,
                          uint8_t type = swf::FillStyle::kClippedBitmap) {
  swf::FillStyle f;
  f.type = type;
  f.bitmapId = bitmapId;
  f.matrix.hasScale = true;
  f.matrix.scaleX = f.matrix.scaleY = pixelPx * kTwips * 65536;
  return f;
}

swf::FillStyle SolidFill(uint32_t rgb) {
  swf::FillStyle f;
  f.color = 0xFF000000u | rgb;
  return f;
}

swf::PlaceObject2 Place(uint16_t depth, uint16_t id, int xPx, int yPx) {
  swf::PlaceObject2 p;
  p.depth = depth;
  p.characterId = id;
  p.matrix = Translate(xPx, yPx);
  return p;
}

// Lossless 32-bit pixels (0xRRGGBB), opaque.
swf::DefineBitsLossless Lossless(uint16_t id, int w, int h, const std::vector<uint32_t>& rgb) {
  swf::DefineBitsLossless b;
  b.id = id;
  b.version = 1;
  b.format = swf::DefineBitsLossless::kRgb32;
  b.width = uint16_t(w);
  b.height = uint16_t(h);
  Bytes raw;
  for (uint32_t c : rgb)
    raw.insert(raw.end(), {0xFF, uint8_t(c >> 16), uint8_t(c >> 8), uint8_t(c)});
  b.zlibData = swf::Deflate(raw);
  return b;
}

swf::ActionRecord Action(uint8_t code) {
  swf::ActionRecord a;
  a.code = code;
  return a;
}

swf::ActionRecord FsCommand(const std::string& command, const std::string& args) {
  swf::ActionRecord a = Action(swf::kActionGetUrl);
  a.url = "FSCommand:" + command;
  a.target = args;
  return a;
}

swf::ActionRecord Push(std::initializer_list<swf::PushValue> values) {
  swf::ActionRecord a = Action(swf::kActionPush);
  a.values = values;
  return a;
}

swf::PushValue Text(const std::string& s) {
  swf::PushValue v;
  v.type = swf::PushValue::kString;
  v.string = s;
  return v;
}

// ---------------------------------------------------------------------------------------------
// The window and the object

class Runtime : public ::testing::Environment {
 public:
  void SetUp() override {
    CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    module = LoadLibraryW(OcxPath().c_str());
    ASSERT_NE(module, nullptr);
  }
  void TearDown() override {
    if (container) DestroyWindow(container);
    CoUninitialize();
  }
  HMODULE module = nullptr;
  // One top-level window for the whole binary: without a window manager, Wine takes seconds
  // to withdraw each one that goes.
  HWND container = nullptr;
};
Runtime* g_runtime = static_cast<Runtime*>(::testing::AddGlobalTestEnvironment(new Runtime));

class Player : public ::testing::Test {
 protected:
  void SetUp() override { Open(400, 200); }
  void TearDown() override { Close(); }

  void Open(int width, int height) {
    if (!g_runtime->container)
      g_runtime->container = CreateWindowExW(WS_EX_TOPMOST, L"STATIC", L"stand-in drawing",
                                             WS_POPUP | WS_VISIBLE | WS_CLIPCHILDREN, 0, 0, width,
                                             height, nullptr, nullptr, nullptr, nullptr);
    window_ = g_runtime->container;
    ASSERT_NE(window_, nullptr);
    SetWindowPos(window_, nullptr, 0, 0, width, height, SWP_NOZORDER | SWP_NOACTIVATE);
    site_ = std::make_unique<Site>(window_);
    using GetClassObject = HRESULT(STDAPICALLTYPE*)(REFCLSID, REFIID, void**);
    auto get = reinterpret_cast<GetClassObject>(
        reinterpret_cast<void*>(GetProcAddress(g_runtime->module, "DllGetClassObject")));
    ASSERT_NE(get, nullptr);
    Ref<IClassFactory> factory;
    ASSERT_EQ(get(standin::kClsidShockwaveFlash, IID_IClassFactory, factory.Out()), S_OK);
    ASSERT_EQ(factory->CreateInstance(nullptr, IID_IOleObject, object_.Out()), S_OK);
    ASSERT_EQ(object_->SetClientSite(site_.get()), S_OK);
    ASSERT_EQ(object_->QueryInterface(standin::kIidShockwaveFlash, flash_.Out()), S_OK);
    ASSERT_EQ(object_->QueryInterface(IID_IStandInTestSurface, surface_.Out()), S_OK);
    Ref<IConnectionPointContainer> points;
    ASSERT_EQ(object_->QueryInterface(IID_IConnectionPointContainer, points.Out()), S_OK);
    ASSERT_EQ(points->FindConnectionPoint(standin::kDiidShockwaveFlashEvents,
                                          reinterpret_cast<IConnectionPoint**>(events_.Out())),
              S_OK);
    ASSERT_EQ(events_->Advise(&sink_, &cookie_), S_OK);
    RECT r;
    GetClientRect(window_, &r);
    ASSERT_EQ(object_->DoVerb(OLEIVERB_INPLACEACTIVATE, nullptr, site_.get(), 0, window_, &r),
              S_OK);
    Ref<IOleInPlaceObject> inPlace;
    ASSERT_EQ(object_->QueryInterface(IID_IOleInPlaceObject, inPlace.Out()), S_OK);
    ASSERT_EQ(inPlace->GetWindow(&child_), S_OK);
  }

  void Close() {
    if (events_.p) events_->Unadvise(cookie_);
    if (object_.p) {
      object_->Close(OLECLOSE_NOSAVE);
      object_->SetClientSite(nullptr);
    }
  }

  void Resize(int width, int height) {
    SetWindowPos(window_, nullptr, 0, 0, width, height, SWP_NOZORDER | SWP_NOACTIVATE);
    Ref<IOleInPlaceObject> inPlace;
    object_->QueryInterface(IID_IOleInPlaceObject, inPlace.Out());
    RECT r{0, 0, width, height};
    inPlace->SetObjectRects(&r, &r);
  }

  void Load(const std::wstring& url) {
    sink_.readyState = -1;
    BSTR b = SysAllocString(url.c_str());
    ASSERT_EQ(flash_->put_Movie(b), S_OK);
    SysFreeString(b);
    ASSERT_TRUE(PumpUntil([&] { return sink_.readyState == 4; })) << Narrow(url);
  }

  std::map<std::wstring, std::wstring> Report() {
    BSTR r = nullptr;
    EXPECT_EQ(surface_->GetReport(&r), S_OK);
    return ParseReport(r);
  }

  // The window as the X display shows it, after every pending paint.
  class Shot {
   public:
    explicit Shot(HWND window) {
      RedrawWindow(window, nullptr, nullptr, RDW_INVALIDATE | RDW_UPDATENOW | RDW_ALLCHILDREN);
      PumpUntil([] { return false; }, 100);
      RECT r;
      GetWindowRect(window, &r);
      width_ = r.right - r.left;
      height_ = r.bottom - r.top;
      HDC screen = GetDC(nullptr);
      HDC memory = CreateCompatibleDC(screen);
      BITMAPINFO info{};
      info.bmiHeader = {sizeof(BITMAPINFOHEADER), width_, -height_, 1, 32, BI_RGB};
      void* bits = nullptr;
      HBITMAP bitmap = CreateDIBSection(screen, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
      HGDIOBJ old = SelectObject(memory, bitmap);
      BitBlt(memory, 0, 0, width_, height_, screen, r.left, r.top, SRCCOPY);
      GdiFlush();
      pixels_.assign(static_cast<uint32_t*>(bits), static_cast<uint32_t*>(bits) + width_ * height_);
      SelectObject(memory, old);
      DeleteObject(bitmap);
      DeleteDC(memory);
      ReleaseDC(nullptr, screen);
    }
    // 0xRRGGBB at window pixel (x, y).
    uint32_t At(int x, int y) const {
      if (x < 0 || y < 0 || x >= width_ || y >= height_) return 0xDEADBEEF;
      return pixels_[size_t(y) * width_ + x] & 0xFFFFFF;
    }

   private:
    int width_ = 0, height_ = 0;
    std::vector<uint32_t> pixels_;
  };

  static std::string Hex(uint32_t c) {
    char buf[16];
    std::snprintf(buf, sizeof buf, "%06X", c);
    return buf;
  }
  static bool Near(uint32_t a, uint32_t b, int tolerance) {
    for (int shift : {0, 8, 16})
      if (std::abs(int(a >> shift & 0xFF) - int(b >> shift & 0xFF)) > tolerance) return false;
    return true;
  }

  HWND window_ = nullptr, child_ = nullptr;
  std::unique_ptr<Site> site_;
  Sink sink_;
  Ref<IOleObject> object_;
  Ref<IShockwaveFlash> flash_;
  Ref<IStandInTestSurface> surface_;
  Ref<IConnectionPoint> events_;
  DWORD cookie_ = 0;
  Folder folder_;
};

// ---------------------------------------------------------------------------------------------
// Drawing

constexpr uint32_t kBlue = 0x0000FF, kRed = 0xFF0000, kGreen = 0x00FF00, kYellow = 0xFFFF00,
                   kWhite = 0xFFFFFF, kBlack = 0x000000;

// A 200 x 100 stage on blue, with a 4 x 2 bitmap whose pixels are 10 stage pixels each, placed
// at (50, 30): shown all in windows of two shapes, letterboxed.
const std::vector<uint32_t> kKnownPixels = {kRed,   kGreen, kYellow, kWhite,
                                            kBlack, kWhite, kRed,    kGreen};

Bytes KnownBitmapMovie() {
  swf::Movie m = Stage(200, 100, kBlue);
  m.frames.resize(1);
  m.frames[0].tags = {Lossless(1, 4, 2, kKnownPixels), Rectangle(2, 40, 20, BitmapFill(1, 10)),
                      Place(1, 2, 50, 30)};
  m.frames[0].actions = {{Action(swf::kActionStop)}};
  return swf::WriteMovie(m);
}

TEST_F(Player, ShowAllPutsAKnownBitmapAtItsPlaceAndScaleInEveryWindowShape) {
  const std::vector<uint32_t>& pixels = kKnownPixels;
  Load(folder_.Write(L"bitmap.swf", KnownBitmapMovie()));

  struct Window {
    int width, height;
    double scale;
    int offsetX, offsetY;  // of the stage in the window
  } windows[] = {{400, 200, 2.0, 0, 0}, {300, 300, 1.5, 0, 75}, {600, 200, 2.0, 100, 0}};
  for (const auto& w : windows) {
    SCOPED_TRACE(std::to_string(w.width) + "x" + std::to_string(w.height));
    Resize(w.width, w.height);
    Shot shot(window_);
    for (int j = 0; j < 2; ++j) {
      for (int i = 0; i < 4; ++i) {
        // The centre of bitmap pixel (i, j), and a point one window pixel inside its corner.
        double sx = 50 + 10 * i, sy = 30 + 10 * j;
        int cx = w.offsetX + int((sx + 5) * w.scale), cy = w.offsetY + int((sy + 5) * w.scale);
        int ex = w.offsetX + int(sx * w.scale) + 1, ey = w.offsetY + int(sy * w.scale) + 1;
        EXPECT_EQ(Hex(shot.At(cx, cy)), Hex(pixels[j * 4 + i])) << i << "," << j;
        EXPECT_EQ(Hex(shot.At(ex, ey)), Hex(pixels[j * 4 + i])) << "corner of " << i << "," << j;
      }
    }
    // Just outside the bitmap, inside the stage, and in the letterbox: background.
    auto at = [&](double sx, double sy) {
      return shot.At(w.offsetX + int(sx * w.scale), w.offsetY + int(sy * w.scale));
    };
    EXPECT_EQ(Hex(at(48, 35)), Hex(kBlue));
    EXPECT_EQ(Hex(at(92, 35)), Hex(kBlue));
    EXPECT_EQ(Hex(at(60, 52)), Hex(kBlue));
    EXPECT_EQ(Hex(shot.At(2, 2)), Hex(kBlue));
    EXPECT_EQ(Hex(shot.At(w.width - 3, w.height - 3)), Hex(kBlue));
  }
}

// The other fits of the stage, by Scale, ScaleMode and SAlign, in a 300 x 300 window: where
// the centre of each bitmap pixel lands.
TEST_F(Player, ScaleAndAlignFitTheStage) {
  Load(folder_.Write(L"bitmap.swf", KnownBitmapMovie()));
  Resize(300, 300);
  struct Fit {
    const wchar_t* scale;  // Scale, or null for ScaleMode
    int scaleMode;
    const wchar_t* align;
    double sx, sy, offsetX, offsetY;
  } fits[] = {
      {L"ExactFit", 0, L"", 1.5, 3, 0, 0},     {nullptr, 2, L"", 1.5, 3, 0, 0},
      {L"NoBorder", 0, L"", 3, 3, -150, 0},    {L"noscale", 0, L"", 1, 1, 50, 100},
      {L"NoScale", 0, L"TL", 1, 1, 0, 0},      {L"ShowAll", 0, L"T", 1.5, 1.5, 0, 0},
      {L"ShowAll", 0, L"B", 1.5, 1.5, 0, 150}, {L"NoScale", 0, L"BR", 1, 1, 100, 200},
  };
  for (const auto& f : fits) {
    SCOPED_TRACE(Narrow(f.scale ? f.scale : L"ScaleMode") + " " + Narrow(f.align));
    if (f.scale) {
      BSTR b = SysAllocString(f.scale);
      ASSERT_EQ(flash_->put_Scale(b), S_OK);
      SysFreeString(b);
    } else {
      ASSERT_EQ(flash_->put_ScaleMode(f.scaleMode), S_OK);
    }
    BSTR a = SysAllocString(f.align);
    ASSERT_EQ(flash_->put_SAlign(a), S_OK);
    SysFreeString(a);
    Shot shot(window_);
    for (int j = 0; j < 2; ++j)
      for (int i = 0; i < 4; ++i)
        EXPECT_EQ(Hex(shot.At(int(f.offsetX + (55 + 10 * i) * f.sx),
                              int(f.offsetY + (35 + 10 * j) * f.sy))),
                  Hex(kKnownPixels[j * 4 + i]))
            << i << "," << j;
  }
}

// Pictures of every kind the subset carries, each in a 40 x 40 box of its own: JPEG (with and
// without the leading tables stream, and with JPEG3 alpha), PNG, and lossless palette bitmaps.
TEST_F(Player, EveryBitmapKindIsDecoded) {
  std::vector<uint32_t> halves(8 * 8);
  for (int y = 0; y < 8; ++y)
    for (int x = 0; x < 8; ++x) halves[y * 8 + x] = x < 4 ? kRed : kGreen;
  Bytes jpeg = Encode(GUID_ContainerFormatJpeg, 8, 8, halves);
  Bytes png = Encode(GUID_ContainerFormatPng, 8, 8, halves);
  ASSERT_GT(jpeg.size(), 4u);

  swf::DefineBitsJpeg plain{1, 2, jpeg, swf::ImageKind::kJpeg, {}};
  Bytes withTables = {0xFF, 0xD9, 0xFF, 0xD8};
  withTables.insert(withTables.end(), jpeg.begin(), jpeg.end());
  swf::DefineBitsJpeg tables{2, 2, withTables, swf::ImageKind::kJpeg, {}};
  swf::DefineBitsJpeg pngTag{3, 2, png, swf::ImageKind::kPng, {}};
  Bytes alpha(64);
  for (int y = 0; y < 8; ++y)
    for (int x = 0; x < 8; ++x) alpha[y * 8 + x] = y < 4 ? 0xFF : 0x00;  // lower half clear
  swf::DefineBitsJpeg jpeg3{4, 3, jpeg, swf::ImageKind::kJpeg, swf::Deflate(alpha)};
  swf::DefineBitsLossless palette;
  palette.id = 5;
  palette.version = 2;
  palette.format = swf::DefineBitsLossless::kPalette;
  palette.width = 2;
  palette.height = 1;
  palette.colorTableSize = 2;
  palette.zlibData =
      swf::Deflate({0xFF, 0, 0, 0xFF, 0, 0xFF, 0, 0xFF, 0, 1, 0, 0});  // RGBA x2, row

  swf::Movie m = Stage(200, 100, kBlue);
  m.frames.resize(1);
  m.frames[0].tags = {plain, tables, pngTag, jpeg3, palette};
  for (uint16_t i = 0; i < 5; ++i) {
    int pixel = i == 4 ? 20 : 5;  // 8 x 8 pictures and the 2 x 1 palette bitmap, 40 px wide
    m.frames[0].tags.push_back(
        Rectangle(uint16_t(10 + i), 40, 40, BitmapFill(uint16_t(1 + i), pixel)));
    m.frames[0].tags.push_back(Place(uint16_t(1 + i), uint16_t(10 + i), i * 40, 0));
  }
  Load(folder_.Write(L"kinds.swf", swf::WriteMovie(m)));
  EXPECT_EQ(Report()[L"error"], L"");
  Resize(200, 100);
  Shot shot(window_);
  for (int i = 0; i < 5; ++i) {
    SCOPED_TRACE("picture " + std::to_string(i + 1));
    int tolerance = i == 2 || i == 4 ? 0 : 24;  // JPEG is lossy
    EXPECT_TRUE(Near(shot.At(i * 40 + 8, 8), kRed, tolerance)) << Hex(shot.At(i * 40 + 8, 8));
    EXPECT_TRUE(Near(shot.At(i * 40 + 32, 8), kGreen, tolerance)) << Hex(shot.At(i * 40 + 32, 8));
    uint32_t lower = i == 3 ? kBlue : i == 4 ? 0xDEADBEEF : kRed;  // JPEG3's clear half
    if (i != 4)
      EXPECT_TRUE(Near(shot.At(i * 40 + 8, 32), lower, tolerance)) << Hex(shot.At(i * 40 + 8, 32));
  }
}

// DefineBits with the movie's JPEGTables; DefineBitsJPEG2 whose tables stream (with a value that
// looks like a frame header) comes first; DefineBitsJPEG3 holding a PNG, whose alpha block would
// clear it all: PNG carries its own transparency.
TEST_F(Player, JpegTablesAndJpeg3AlphaAreReadAsFlashReadsThem) {
  std::vector<uint32_t> halves(8 * 8);
  for (int y = 0; y < 8; ++y)
    for (int x = 0; x < 8; ++x) halves[y * 8 + x] = x < 4 ? kRed : kGreen;
  const Bytes jpeg = Encode(GUID_ContainerFormatJpeg, 8, 8, halves);
  const Bytes png = Encode(GUID_ContainerFormatPng, 8, 8, halves);
  const auto [tables, frame] = SplitJpegTables(jpeg);
  ASSERT_GT(tables.size(), 4u + 60) << "the encoder's tables";
  ASSERT_EQ(frame.size() + tables.size() - 4, jpeg.size());

  Bytes leading = {0xFF, 0xD8, 0xFF, 0xFE, 0x00, 0x04, 0xFF, 0xC0};  // a comment
  leading.insert(leading.end(), tables.begin() + 2, tables.end());
  leading.insert(leading.end(), frame.begin(), frame.end());
  swf::DefineBitsJpeg bits{1, 1, frame, swf::ImageKind::kJpeg, {}};
  swf::DefineBitsJpeg jpeg2{2, 2, leading, swf::ImageKind::kJpeg, {}};
  swf::DefineBitsJpeg pngInJpeg3{3, 3, png, swf::ImageKind::kPng, swf::Deflate(Bytes(64, 0))};

  swf::Movie m = Stage(120, 40, kBlue);
  m.jpegTables = tables;
  m.frames.resize(1);
  m.frames[0].tags = {bits, jpeg2, pngInJpeg3};
  for (uint16_t i = 0; i < 3; ++i) {
    m.frames[0].tags.push_back(Rectangle(uint16_t(10 + i), 40, 40, BitmapFill(uint16_t(1 + i), 5)));
    m.frames[0].tags.push_back(Place(uint16_t(1 + i), uint16_t(10 + i), i * 40, 0));
  }
  Load(folder_.Write(L"tables.swf", swf::WriteMovie(m)));
  EXPECT_EQ(Report()[L"error"], L"");
  Resize(120, 40);
  Shot shot(window_);
  for (int i = 0; i < 3; ++i) {
    SCOPED_TRACE("picture " + std::to_string(i + 1));
    const int tolerance = i == 2 ? 0 : 24;  // JPEG is lossy
    for (int y : {8, 32}) {
      EXPECT_TRUE(Near(shot.At(i * 40 + 8, y), kRed, tolerance)) << Hex(shot.At(i * 40 + 8, y));
      EXPECT_TRUE(Near(shot.At(i * 40 + 32, y), kGreen, tolerance)) << Hex(shot.At(i * 40 + 32, y));
    }
  }
}

// Frame 0 shows red at depth 1; frame 1 removes it and shows green at depth 2, moved. Going
// back rebuilds the list from the first frame.
TEST_F(Player, DisplayListFollowsJumpsBothWays) {
  swf::Movie m = Stage(200, 100, kBlue);
  m.frames.resize(2);
  m.frames[0].tags = {Rectangle(1, 20, 20, SolidFill(kRed)),
                      Rectangle(2, 20, 20, SolidFill(kGreen)), Place(1, 1, 10, 10)};
  m.frames[0].actions = {{Action(swf::kActionStop)}};
  swf::PlaceObject2 move;
  move.depth = 2;
  move.move = true;
  move.matrix = Translate(120, 50);
  swf::RemoveObject2 remove;
  remove.depth = 1;
  m.frames[1].tags = {remove, Place(2, 2, 100, 10), move};
  Load(folder_.Write(L"frames.swf", swf::WriteMovie(m)));
  Resize(200, 100);
  struct Step {
    long frame;
    uint32_t at20, at130, at125_55;
  } steps[] = {{0, kRed, kBlue, kBlue}, {1, kBlue, kBlue, kGreen}, {0, kRed, kBlue, kBlue}};
  for (const auto& s : steps) {
    ASSERT_EQ(flash_->GotoFrame(s.frame), S_OK);
    Shot shot(window_);
    EXPECT_EQ(Hex(shot.At(20, 20)), Hex(s.at20)) << "frame " << s.frame;
    EXPECT_EQ(Hex(shot.At(130, 20)), Hex(s.at130)) << "frame " << s.frame;
    EXPECT_EQ(Hex(shot.At(125, 55)), Hex(s.at125_55)) << "frame " << s.frame;
  }
}

// ---------------------------------------------------------------------------------------------
// Input

// A button of a HitTest-only record over the left half of the stage: press, release, the Right
// key and the character 'f' each raise an FSCommand; a second level's button hears keys too.
TEST_F(Player, ButtonsHearPressReleaseAndKeysInEveryLevel) {
  swf::DefineButton2 button;
  button.id = 2;
  swf::ButtonRecord hit;
  hit.states = swf::ButtonRecord::kHitTest;
  hit.characterId = 1;
  hit.depth = 1;
  button.records = {hit};
  auto condition = [](uint16_t bits, const char* command) {
    swf::ButtonCondAction c;
    c.conditions = bits;
    c.actions = {FsCommand(command, "")};
    return c;
  };
  button.actions = {condition(swf::ButtonCondAction::kOverUpToOverDown, "press"),
                    condition(swf::ButtonCondAction::kOverDownToOverUp, "release"),
                    condition(swf::KeyCondition(swf::kKeyRight), "right"),
                    condition(swf::KeyCondition('f'), "f")};
  swf::Movie main = Stage(200, 100, kBlue);
  main.frames.resize(1);
  main.frames[0].tags = {Rectangle(1, 100, 100, SolidFill(kRed)), button, Place(1, 2, 0, 0)};
  swf::ActionRecord loadChild = Action(swf::kActionGetUrl);
  loadChild.url = "child.swf";
  loadChild.target = "_level1";
  main.frames[0].actions = {{loadChild, Action(swf::kActionStop)}};
  swf::Movie child = Stage(200, 100, kBlue);
  child.frames.resize(1);
  swf::DefineButton2 keys;
  keys.id = 1;
  keys.actions = {condition(swf::KeyCondition(swf::kKeyRight), "child right")};
  child.frames[0].tags = {keys, Place(1, 1, 0, 0)};
  folder_.Write(L"child.swf", swf::WriteMovie(child));
  Load(folder_.Write(L"buttons.swf", swf::WriteMovie(main)));
  ASSERT_TRUE(PumpUntil([&] { return Report()[L"levels"] == L"0,1"; }));
  Resize(400, 200);  // stage at scale 2: the hit area is x < 200

  EXPECT_EQ(SendMessageW(child_, WM_GETDLGCODE, 0, 0) & (DLGC_WANTARROWS | DLGC_WANTCHARS),
            DLGC_WANTARROWS | DLGC_WANTCHARS);
  struct Case {
    const char* what;
    std::vector<std::pair<UINT, POINT>> mouse;
    std::vector<std::pair<UINT, WPARAM>> keys;
    std::vector<std::wstring> commands;
  } cases[] = {
      {"click inside",
       {{WM_LBUTTONDOWN, {50, 50}}, {WM_LBUTTONUP, {60, 60}}},
       {},
       {L"press|", L"release|"}},
      {"press inside, release outside",
       {{WM_LBUTTONDOWN, {150, 50}}, {WM_LBUTTONUP, {300, 60}}},
       {},
       {L"press|"}},
      {"click outside", {{WM_LBUTTONDOWN, {250, 50}}, {WM_LBUTTONUP, {250, 50}}}, {}, {}},
      {"Right arrow", {}, {{WM_KEYDOWN, VK_RIGHT}}, {L"right|", L"child right|"}},
      {"the character f", {}, {{WM_KEYDOWN, 'F'}, {WM_CHAR, 'f'}}, {L"f|"}},
      {"a key no button names", {}, {{WM_KEYDOWN, VK_LEFT}, {WM_CHAR, 'x'}}, {}},
  };
  for (const auto& c : cases) {
    sink_.commands.clear();
    for (const auto& [msg, p] : c.mouse) SendMessageW(child_, msg, 0, MAKELPARAM(p.x, p.y));
    for (const auto& [msg, key] : c.keys) SendMessageW(child_, msg, key, 0);
    EXPECT_EQ(sink_.commands, c.commands) << c.what;
  }
  // A container that offers the active object its keys first: Right to the buttons (taken),
  // a key no button names left to the container.
  Ref<IOleInPlaceActiveObject> active;
  ASSERT_EQ(object_->QueryInterface(IID_IOleInPlaceActiveObject, active.Out()), S_OK);
  sink_.commands.clear();
  MSG right{window_, WM_KEYDOWN, VK_RIGHT, 0};
  MSG other{window_, WM_KEYDOWN, VK_F1, 0};
  MSG ours{child_, WM_KEYDOWN, VK_RIGHT, 0};
  EXPECT_EQ(active->TranslateAccelerator(&right), S_OK);
  EXPECT_EQ(active->TranslateAccelerator(&other), S_FALSE);
  EXPECT_EQ(active->TranslateAccelerator(&ours), S_FALSE) << "arrives in its window anyway";
  EXPECT_EQ(sink_.commands, (std::vector<std::wstring>{L"right|", L"child right|"}));

  // The hand over the button, the arrow elsewhere.
  HCURSOR hand = LoadCursorA(g_runtime->module, MAKEINTRESOURCEA(STANDIN_CURSOR_HAND));
  HCURSOR arrow = LoadCursorW(nullptr, reinterpret_cast<LPCWSTR>(IDC_ARROW));
  for (auto [x, cursor] : {std::pair{50, hand}, {300, arrow}}) {
    SetCursorPos(x, 50);
    SendMessageW(child_, WM_SETCURSOR, WPARAM(child_), MAKELPARAM(HTCLIENT, WM_MOUSEMOVE));
    EXPECT_EQ(GetCursor(), cursor) << "at x " << x;
  }
  EXPECT_EQ(GetFocus(), child_) << "a click takes the focus";
  EXPECT_GE(site_->uiActivations, 1) << "and UI-activates through the site";
}

// loadVariablesNum("vars.txt", 0): the fetched name=value pairs become the movie's variables.
TEST_F(Player, LoadVariablesFillsTheMoviesVariables) {
  std::string text = "page=3&title=A%20book+of+pages";
  folder_.Write(L"vars.txt", Bytes(text.begin(), text.end()));
  swf::ActionRecord load = Action(swf::kActionGetUrl2);
  load.getUrl2Flags = 0x80;
  swf::Movie m = Stage(200, 100, kBlue);
  m.frames.resize(1);
  m.frames[0].actions = {
      {Push({Text("vars.txt"), Text("_level0")}), load, Action(swf::kActionStop)}};
  Load(folder_.Write(L"variables.swf", swf::WriteMovie(m)));
  auto variable = [&](const wchar_t* name) {
    BSTR n = SysAllocString(name), value = nullptr;
    flash_->GetVariable(n, &value);
    std::wstring v = value ? value : L"";
    SysFreeString(n);
    SysFreeString(value);
    return v;
  };
  EXPECT_TRUE(PumpUntil([&] { return variable(L"page") == L"3"; })) << Narrow(Report()[L"errors"]);
  EXPECT_EQ(variable(L"title"), L"A book of pages");
}

// A book as `pageturn-pack make` writes it: the navigator in level 0 shows each page in a level
// of its own with the next page behind it; keys and clicks on the halves turn the pages, F asks
// for full screen.
TEST_F(Player, AMadeBookTurnsItsPages) {
  const uint32_t colours[] = {kRed, kGreen, kYellow};
  folder_.Subfolder(L"files");
  folder_.Subfolder(L"files\\large");
  for (int page = 1; page <= 3; ++page) {
    Bytes png = Encode(GUID_ContainerFormatPng, 400, 200,
                       std::vector<uint32_t>(400 * 200, colours[page - 1]));
    swf::Movie movie =
        pageturn::PageMovie(png, {pageturn::TPictureKind::kPng, 400, 200},
                            {.stageWidth = 400, .stageHeight = 200, .number = page, .count = 3});
    folder_.Write(L"files\\large\\" + std::to_wstring(page) + L".swf", swf::WriteMovie(movie));
  }
  Load(folder_.Write(L"book.swf", swf::WriteMovie(pageturn::NavigatorMovie(3, 400, 200))));
  Resize(400, 200);
  auto showing = [&](uint32_t colour) {
    return PumpUntil([&] { return Shot(window_).At(200, 100) == colour; }, 5000);
  };
  EXPECT_TRUE(showing(kRed)) << "page 1";
  struct Step {
    const char* what;
    UINT msg;
    WPARAM key;
    POINT click;
    uint32_t colour;
  } steps[] = {
      {"Right", WM_KEYDOWN, VK_RIGHT, {}, kGreen},
      {"a click on the right half", WM_LBUTTONDOWN, 0, {300, 100}, kYellow},
      {"Left", WM_KEYDOWN, VK_LEFT, {}, kGreen},
      {"a click on the left half", WM_LBUTTONDOWN, 0, {100, 100}, kRed},
      {"End", WM_KEYDOWN, VK_END, {}, kYellow},
      {"Home", WM_KEYDOWN, VK_HOME, {}, kRed},
      {"Page Down", WM_KEYDOWN, VK_NEXT, {}, kGreen},
  };
  for (const auto& s : steps) {
    if (s.msg == WM_KEYDOWN) {
      SendMessageW(child_, WM_KEYDOWN, s.key, 0);
    } else {
      SendMessageW(child_, WM_LBUTTONDOWN, 0, MAKELPARAM(s.click.x, s.click.y));
      SendMessageW(child_, WM_LBUTTONUP, 0, MAKELPARAM(s.click.x, s.click.y));
    }
    EXPECT_TRUE(showing(s.colour)) << s.what << ": " << Hex(Shot(window_).At(200, 100));
  }
  sink_.commands.clear();
  SendMessageW(child_, WM_CHAR, 'f', 0);
  SendMessageW(child_, WM_CHAR, 'f', 0);
  EXPECT_EQ(sink_.commands, (std::vector<std::wstring>{L"fullscreen|true", L"fullscreen|false"}));
}

// ---------------------------------------------------------------------------------------------
// Hostile movies

swf::Movie OneFrame(swf::ActionList actions, std::vector<swf::Tag> tags = {}) {
  swf::Movie m = Stage(200, 100, kBlue);
  m.frames.resize(1);
  m.frames[0].tags = std::move(tags);
  actions.push_back(Action(swf::kActionStop));
  m.frames[0].actions = {std::move(actions)};
  return m;
}

// The most memory the process has held so far, as the system counts it (its peak private
// bytes and its peak working set, whichever is larger).
SIZE_T PeakMemoryBytes() {
  PROCESS_MEMORY_COUNTERS counters{};
  counters.cb = sizeof counters;
  GetProcessMemoryInfo(GetCurrentProcess(), &counters, sizeof counters);
  return std::max(counters.PeakPagefileUsage, counters.PeakWorkingSetSize);
}

// A real 8 x 8 picture of the platform's encoder whose header then claims `side` x `side`
// pixels (the PNG's header checksum made right again): a decoder that trusts the header
// allocates for the claim.
Bytes PictureClaiming(const GUID& container, uint16_t side) {
  Bytes picture = Encode(container, 8, 8, std::vector<uint32_t>(64, kRed));
  auto be16 = [&](size_t at) {
    picture[at] = uint8_t(side >> 8);
    picture[at + 1] = uint8_t(side);
  };
  if (container == GUID_ContainerFormatPng) {
    for (size_t at : {16, 20}) {
      picture[at] = picture[at + 1] = 0;
      be16(at + 2);
    }
    uint32_t crc = crc32(0, &picture[12], 17);
    for (int i = 0; i < 4; ++i) picture[29 + i] = uint8_t(crc >> (24 - 8 * i));
  } else {
    // The frame header, found by walking the markers.
    for (size_t at = 2; at + 9 < picture.size();) {
      uint8_t marker = picture[at + 1];
      size_t length = size_t(picture[at + 2]) << 8 | picture[at + 3];
      if (marker == 0xC0 || marker == 0xC2) {
        be16(at + 5);
        be16(at + 7);
        break;
      }
      at += 2 + length;
    }
  }
  return picture;
}

// A GIF whose screen and only image claim `side` x `side` pixels, of a few bytes of data.
Bytes GifClaiming(uint16_t side) {
  uint8_t lo = uint8_t(side), hi = uint8_t(side >> 8);
  return {'G',  'I',  'F', '8', '9', 'a', lo, hi, lo, hi, 0x80, 0, 0, 0,    0,    0, 0xFF, 0xFF,
          0xFF, 0x2C, 0,   0,   0,   0,   lo, hi, lo, hi, 0,    2, 2, 0x4C, 0x01, 0, 0x3B};
}

TEST_F(Player, HostileMoviesMeetTheCaps) {
  // A bitmap whose header claims 30000 x 30000 pixels from a few bytes: not decoded (nothing
  // allocated for the claim), the rest still drawn.
  swf::DefineBitsLossless huge = Lossless(1, 1, 1, {kRed});
  huge.width = huge.height = 30000;
  // A string that doubles until it is too long, and one variable after another.
  swf::ActionList doubling = {Push({Text("s"), Text("xxxxxxxxxxxxxxxx")}),
                              Action(swf::kActionSetVariable)};
  swf::ActionRecord top = Push({Text("s"), Text("s")});
  doubling.push_back(top);
  doubling.push_back(Action(swf::kActionGetVariable));
  doubling.push_back(Push({Text("s")}));
  doubling.push_back(Action(swf::kActionGetVariable));
  doubling.push_back(Action(swf::kActionStringAdd));
  doubling.push_back(Action(swf::kActionSetVariable));
  swf::ActionRecord again = Action(swf::kActionJump);
  again.branchTarget = 2;
  doubling.push_back(again);

  swf::ActionList spin = {Action(swf::kActionJump)};
  spin[0].branchTarget = 0;

  swf::ActionList levels;
  for (int i = 1; i <= 100; ++i) {
    swf::ActionRecord load = Action(swf::kActionGetUrl);
    load.url = "none" + std::to_string(i) + ".swf";
    load.target = "_level" + std::to_string(i);
    levels.push_back(load);
  }
  swf::ActionList chatter;
  for (int i = 0; i < 600; ++i) chatter.push_back(FsCommand("c" + std::to_string(i), ""));

  std::wstring big = folder_.Sparse(L"big.swf", 65ll * 1024 * 1024);
  swf::ActionRecord loadBig = Action(swf::kActionGetUrl);
  loadBig.url = Narrow(big);
  loadBig.target = "_level1";

  // Buttons of sixty copies of the one before, four deep: millions of shapes for one paint.
  std::vector<swf::Tag> nested = {Rectangle(1, 10, 10, SolidFill(kGreen))};
  for (uint16_t id = 2; id <= 5; ++id) {
    swf::DefineButton2 b;
    b.id = id;
    for (uint16_t copy = 0; copy < 60; ++copy) {
      swf::ButtonRecord record;
      record.states = swf::ButtonRecord::kUp;
      record.characterId = uint16_t(id - 1);
      record.depth = uint16_t(copy + 1);
      b.records.push_back(record);
    }
    nested.push_back(b);
  }
  nested.push_back(Place(1, 5, 0, 0));
  nested.push_back(Rectangle(7, 20, 20, SolidFill(kRed)));
  nested.push_back(Place(2, 7, 100, 0));

  // Pictures whose own headers claim 16,000 x 16,000 pixels (a gigabyte decoded), beside a
  // shape that must still be drawn.
  auto claiming = [](Bytes picture) {
    swf::DefineBitsJpeg tag{1, 2, picture, swf::ImageKindOf(picture), {}};
    return OneFrame({}, {tag, Rectangle(2, 40, 40, BitmapFill(1, 1)), Place(1, 2, 0, 0),
                         Rectangle(3, 20, 20, SolidFill(kRed)), Place(2, 3, 100, 0)});
  };
  SIZE_T peakBefore = 0;
  auto refusedWithinMemory = [&](auto& r) {
    EXPECT_NE(r[L"error"].find(L"too large"), std::wstring::npos) << Narrow(r[L"error"]);
    Shot shot(window_);
    EXPECT_EQ(Hex(shot.At(220, 20)), Hex(kRed)) << "the rest is drawn";
    SIZE_T peak = PeakMemoryBytes(), grown = peak > peakBefore ? peak - peakBefore : 0;
    std::printf("peak memory grown by %u KiB\n", unsigned(grown / 1024));
    EXPECT_LT(grown, SIZE_T(128) << 20) << "nothing allocated for the claim";
  };

  // A finished fetch of a level's movie (8 MB) keeps nothing of it once the movie is read.
  std::string noise(8u << 20, '\0');
  for (size_t i = 0; i < noise.size(); ++i) noise[i] = char((i * 2654435761u) >> 13);
  swf::DefineBitsLossless neverDrawn = Lossless(1, 1, 1, {kRed});
  neverDrawn.zlibData.assign(noise.begin(), noise.end());
  std::wstring bigChild =
      folder_.Write(L"big-child.swf", swf::WriteMovie(OneFrame({}, {neverDrawn})));
  swf::ActionRecord loadBigChild = Action(swf::kActionGetUrl);
  loadBigChild.url = "big-child.swf";
  loadBigChild.target = "_level1";

  struct Case {
    const char* what;
    swf::Movie movie;
    std::function<void(std::map<std::wstring, std::wstring>&)> check;
  } cases[] = {
      {"bitmap too large",
       OneFrame({}, {huge, Rectangle(2, 40, 40, BitmapFill(1, 1)), Place(1, 2, 0, 0),
                     Rectangle(3, 20, 20, SolidFill(kRed)), Place(2, 3, 100, 0)}),
       [&](auto& r) {
         EXPECT_NE(r[L"error"].find(L"too large"), std::wstring::npos) << Narrow(r[L"error"]);
         Shot shot(window_);
         EXPECT_EQ(Hex(shot.At(220, 20)), Hex(kRed)) << "the rest is drawn";
       }},
      {"PNG claiming 16000 x 16000", claiming(PictureClaiming(GUID_ContainerFormatPng, 16000)),
       refusedWithinMemory},
      {"JPEG claiming 16000 x 16000", claiming(PictureClaiming(GUID_ContainerFormatJpeg, 16000)),
       refusedWithinMemory},
      {"GIF claiming 16000 x 16000", claiming(GifClaiming(16000)), refusedWithinMemory},
      {"a finished fetch", OneFrame({loadBigChild}),
       [&](auto&) {
         ASSERT_TRUE(PumpUntil([&] { return Report()[L"levels"] == L"0,1"; }));
         EXPECT_EQ(Report()[L"retired_bytes"], L"0");
       }},
      {"buttons nested without end", OneFrame({}, nested),
       [&](auto&) {
         Shot shot(window_);  // returns: one paint draws a bounded number of shapes
         EXPECT_EQ(Hex(shot.At(220, 20)), Hex(kRed));
         EXPECT_EQ(Hex(shot.At(5, 5)), Hex(kGreen));
       }},
      {"string doubling", OneFrame(doubling),
       [](auto& r) {
         EXPECT_NE(r[L"error"].find(L"string too long"), std::wstring::npos) << Narrow(r[L"error"]);
       }},
      {"endless jump", OneFrame(spin),
       [](auto& r) {
         EXPECT_NE(r[L"error"].find(L"too many actions"), std::wstring::npos)
             << Narrow(r[L"error"]);
       }},
      {"a hundred levels", OneFrame(levels),
       [&](auto& r) {
         ASSERT_TRUE(PumpUntil(
             [&] { return Report()[L"errors"].find(L"too many levels") != std::wstring::npos; }));
         PumpUntil([&] { return Report()[L"fetches"].find(L"none32.swf") != std::wstring::npos; });
         auto now = Report();
         EXPECT_LE(std::stoi(now[L"loads_peak"]), 8) << "threads at once";
       }},
      {"six hundred events", OneFrame(chatter),
       [](auto& r) {
         size_t entries = 1;
         for (wchar_t c : r[L"events"]) entries += c == L',';
         EXPECT_LE(entries, 256u) << "the diagnostic list is bounded";
         EXPECT_NE(r[L"events"].find(L"c599"), std::wstring::npos) << "and keeps the newest";
       }},
      {"a fetch larger than any movie", OneFrame({loadBig}),
       [&](auto&) {
         ASSERT_TRUE(PumpUntil(
             [&] { return Report()[L"error"].find(L"largest movie") != std::wstring::npos; },
             30000))
             << Narrow(Report()[L"error"]);
         EXPECT_EQ(Report()[L"levels"], L"0");
       }},
  };
  for (auto& c : cases) {
    SCOPED_TRACE(c.what);
    peakBefore = PeakMemoryBytes();
    Load(folder_.Write(L"hostile.swf", swf::WriteMovie(c.movie)));
    auto r = Report();
    c.check(r);
  }
}

// `count` actions that end: each Jump goes to the next.
swf::ActionList Busy(size_t count) {
  swf::ActionList list;
  for (size_t i = 0; i < count; ++i) {
    list.push_back(Action(swf::kActionJump));
    list.back().branchTarget = i + 1;
  }
  return list;
}

swf::ActionRecord SetTarget(const std::string& target) {
  swf::ActionRecord a = Action(swf::kActionSetTarget);
  a.target = target;
  return a;
}

swf::ActionRecord GotoFrame(uint16_t frame) {
  swf::ActionRecord a = Action(swf::kActionGotoFrame);
  a.frame = frame;
  return a;
}

// Frame 0 runs `start`; frames 1 and 2 play forever: frame 1 runs `work`, frame 2 says "lap"
// and goes back.
swf::Movie Forever(swf::ActionList start, std::vector<swf::ActionList> work) {
  swf::Movie m = Stage(200, 100, kBlue);
  m.frames.resize(3);
  m.frames[0].actions = {std::move(start)};
  m.frames[1].actions = std::move(work);
  m.frames[2].actions = {{FsCommand("lap", ""), GotoFrame(1), Action(swf::kActionPlay)}};
  return m;
}

// Sends a window 40 messages, one every 20 ms, each waited for 5 s at most.
struct Probe {
  HWND window;
  DWORD slowest = 0;
  int answered = 0;
};

DWORD WINAPI ProbeThread(void* arg) {
  auto* p = static_cast<Probe*>(arg);
  for (int i = 0; i < 40; ++i) {
    DWORD start = GetTickCount();
    DWORD_PTR result = 0;
    if (SendMessageTimeoutW(p->window, WM_NULL, 0, 0, SMTO_NORMAL, 5000, &result)) ++p->answered;
    p->slowest = std::max(p->slowest, GetTickCount() - start);
    Sleep(20);
  }
  return 0;
}

// While the movie plays, another thread sends the object's window messages: every one is
// answered (the slowest answer is printed), and the object closes when asked.
TEST_F(Player, AMovieThatLoopsForeverLeavesTheWindowAnswering) {
  auto probe = [&](const char* what) {
    Probe p{child_};
    HANDLE thread = CreateThread(nullptr, 0, ProbeThread, &p, 0, nullptr);
    ASSERT_NE(thread, nullptr);
    PumpUntil([&] { return WaitForSingleObject(thread, 0) == WAIT_OBJECT_0; }, 240000);
    CloseHandle(thread);
    std::printf("%s: slowest answer %lu ms\n", what, p.slowest);
    EXPECT_EQ(p.answered, 40) << what;
  };

  // Each pass, level 0 sends level 1 to its frame 1 ten thousand times; that frame holds lists
  // of just under a hundred thousand actions each.
  swf::ActionList again;
  for (int i = 0; i < 10000; ++i)
    for (const auto& a : {SetTarget("_level1"), GotoFrame(0), GotoFrame(1), SetTarget("")})
      again.push_back(a);
  swf::Movie child = Stage(200, 100, kBlue);
  child.frames.resize(2);
  child.frames[0].actions = {{Action(swf::kActionStop)}};
  child.frames[1].actions = {Busy(90000), Busy(90000)};
  folder_.Write(L"busy-child.swf", swf::WriteMovie(child));
  swf::ActionRecord load = Action(swf::kActionGetUrl);
  load.url = "busy-child.swf";
  load.target = "_level1";
  Load(folder_.Write(L"forever.swf", swf::WriteMovie(Forever({load}, {again}))));
  ASSERT_TRUE(PumpUntil([&] { return Report()[L"levels"] == L"0,1"; }));
  probe("two levels nesting their runs");
  EXPECT_NE(Report()[L"errors"].find(L"too many actions"), std::wstring::npos)
      << Narrow(Report()[L"errors"]);

  // A loop that stays inside the budget plays on, and the window still answers.
  Load(folder_.Write(L"spin.swf", swf::WriteMovie(Forever({}, {Busy(60000)}))));
  auto laps = [&] { return std::count(sink_.commands.begin(), sink_.commands.end(), L"lap|"); };
  auto lapsBefore = laps();
  std::wstring errorsBefore = Report()[L"errors"];
  probe("a loop within the budget");
  auto r = Report();
  EXPECT_EQ(r[L"playing"], L"1");
  EXPECT_EQ(r[L"errors"], errorsBefore);
  EXPECT_GE(laps() - lapsBefore, 2) << "it played on meanwhile";

  DWORD start = GetTickCount();
  EXPECT_EQ(object_->Close(OLECLOSE_NOSAVE), S_OK);
  std::printf("closed in %lu ms\n", GetTickCount() - start);
}

}  // namespace
