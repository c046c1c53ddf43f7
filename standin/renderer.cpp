#include "renderer.h"

#include <algorithm>
#include <cmath>
#include <memory>
#include <variant>

#include "scaled_bitmaps.h"

namespace standin {

namespace {

// Characters inside buttons inside buttons...: a movie cannot make drawing recurse for ever.
constexpr int kMaxNesting = 4;
// A repeating fill whose tiles are tiny would take millions of blends: it is sampled pixel by
// pixel instead.
constexpr long kMaxTiles = 4096;
// Buttons of many copies of buttons of many copies multiply: one paint draws this many
// characters inside buttons at most (the display lists' own entries always draw).
constexpr int kMaxNestedDrawsPerPaint = 2000;

class ScopedDc {
 public:
  explicit ScopedDc(HDC dc) : dc_(dc) {}
  ~ScopedDc() {
    if (dc_) DeleteDC(dc_);
  }
  ScopedDc(const ScopedDc&) = delete;
  ScopedDc& operator=(const ScopedDc&) = delete;
  HDC get() const { return dc_; }

 private:
  HDC dc_;
};

class ScopedObject {
 public:
  explicit ScopedObject(HGDIOBJ object) : object_(object) {}
  ~ScopedObject() {
    if (object_) DeleteObject(object_);
  }
  ScopedObject(const ScopedObject&) = delete;
  ScopedObject& operator=(const ScopedObject&) = delete;
  HGDIOBJ get() const { return object_; }

 private:
  HGDIOBJ object_;
};

// Keeps the DC's state (clip, objects, modes) across one drawing step.
class SavedDc {
 public:
  explicit SavedDc(HDC dc) : dc_(dc), saved_(SaveDC(dc)) {}
  ~SavedDc() { RestoreDC(dc_, saved_); }
  SavedDc(const SavedDc&) = delete;
  SavedDc& operator=(const SavedDc&) = delete;

 private:
  HDC dc_;
  int saved_;
};

COLORREF ToColorRef(::swf::Rgba c) { return RGB(c >> 16 & 0xFF, c >> 8 & 0xFF, c & 0xFF); }

bool DefinePath(HDC dc, const std::vector<std::vector<swf::Point>>& contours,
                const swf::Affine& toDevice) {
  BeginPath(dc);
  bool any = false;
  std::vector<POINT> points;
  for (const auto& contour : contours) {
    if (contour.size() < 3) continue;
    points.clear();
    for (const auto& p : contour) {
      swf::Point d = toDevice.Apply(p);
      points.push_back({LONG(std::lround(d.x)), LONG(std::lround(d.y))});
    }
    MoveToEx(dc, points[0].x, points[0].y, nullptr);
    PolylineTo(dc, points.data() + 1, DWORD(points.size() - 1));
    CloseFigure(dc);
    any = true;
  }
  EndPath(dc);
  return any;
}

class StagePainter {
 public:
  StagePainter(HDC dc, const StageSettings& settings)
      : dc_(dc), source_(CreateCompatibleDC(dc)), settings_(settings) {}

  void DrawLevel(Player::Level& level, const swf::Affine& stage) {
    for (const auto& [depth, placement] : level.timeline->DisplayList()) {
      bool pressed = settings_.pressedLevel == level.number && settings_.pressedDepth == depth;
      DrawCharacter(level, placement.characterId, stage.After(swf::Affine::From(placement.matrix)),
                    pressed ? ::swf::ButtonRecord::kDown : ::swf::ButtonRecord::kUp, 0);
    }
  }

 private:
  void DrawCharacter(Player::Level& level, uint16_t id, const swf::Affine& toDevice,
                     uint8_t buttonState, int nesting) {
    if (nesting > kMaxNesting || (nesting > 0 && ++nestedDraws_ > kMaxNestedDrawsPerPaint)) return;
    const ::swf::Tag* tag = level.timeline->Character(id);
    if (!tag) return;
    if (const auto* button = std::get_if<::swf::DefineButton2>(tag)) {
      for (const auto& record : button->records)
        if (record.states & buttonState)
          DrawCharacter(level, record.characterId, toDevice.After(swf::Affine::From(record.matrix)),
                        ::swf::ButtonRecord::kUp, nesting + 1);
    } else if (std::holds_alternative<::swf::DefineShape>(*tag)) {
      if (const swf::FlatShape* shape = level.Shape(id)) DrawShape(level, *shape, toDevice);
    }
  }

  void DrawShape(Player::Level& level, const swf::FlatShape& shape, const swf::Affine& toDevice) {
    for (const auto& fill : shape.fills) {
      SavedDc saved(dc_);
      SetPolyFillMode(dc_, ALTERNATE);
      if (!DefinePath(dc_, fill.contours, toDevice)) continue;
      if (!fill.style.IsBitmap()) {
        if ((fill.style.color >> 24) == 0) {
          AbortPath(dc_);
          continue;
        }
        ScopedObject brush(CreateSolidBrush(ToColorRef(fill.style.color)));
        SelectObject(dc_, brush.get());
        SelectObject(dc_, GetStockObject(NULL_PEN));
        FillPath(dc_);
        continue;
      }
      SelectClipPath(dc_, RGN_AND);
      std::wstring error;
      const ::swf::Tag* tag = level.timeline->Character(fill.style.bitmapId);
      const auto& tables = level.timeline->movie().jpegTables;
      const DecodedBitmap* bitmap = level.bitmaps.Get(
          fill.style.bitmapId, tag, &error,
          tables ? std::span<const uint8_t>(*tables) : std::span<const uint8_t>());
      if (!error.empty()) errors_.push_back(error);
      const bool smooth = fill.style.type == ::swf::FillStyle::kRepeatingBitmap ||
                          fill.style.type == ::swf::FillStyle::kClippedBitmap;
      if (bitmap)
        DrawBitmap(level, fill.style.bitmapId, *bitmap,
                   toDevice.After(swf::Affine::From(fill.style.matrix)), !fill.style.IsClipped(),
                   smooth);
    }
    for (const auto& line : shape.lines) {
      double scale = std::sqrt(std::fabs(toDevice.a * toDevice.d - toDevice.b * toDevice.c));
      int width = std::max(1, int(std::lround(line.style.width * scale)));
      ScopedObject pen(CreatePen(PS_SOLID, width, ToColorRef(line.style.color)));
      SavedDc saved(dc_);
      SelectObject(dc_, pen.get());
      for (const auto& polyline : line.polylines) {
        std::vector<POINT> points;
        for (const auto& p : polyline) {
          swf::Point d = toDevice.Apply(p);
          points.push_back({LONG(std::lround(d.x)), LONG(std::lround(d.y))});
        }
        Polyline(dc_, points.data(), int(points.size()));
      }
    }
  }

  // The bitmap's pixels mapped by `toDevice`, within the clip already set. An axis-aligned
  // bitmap (mirrored or turned by quarters too) is drawn from its copy resampled to the window,
  // kept for the next paint; any other matrix is sampled pixel by pixel. A clipped fill extends
  // its edge pixels over the rest of the shape; a repeating one tiles.
  void DrawBitmap(Player::Level& level, uint16_t id, const DecodedBitmap& bitmap,
                  const swf::Affine& m, bool repeat, bool smooth) {
    RECT clip;
    const int kind = GetClipBox(dc_, &clip);
    if (kind == NULLREGION || kind == ERROR) return;
    if (const auto place = swf::AlignedPlacement(m, bitmap.width(), bitmap.height())) {
      if (place->width > 1000000 || place->height > 1000000) return;
      if (place->width < 1 || place->height < 1) {
        if (!repeat) return;  // smaller than a pixel
      } else if (!repeat || TileCount(clip, place->left, place->top, place->width, place->height) <=
                                kMaxTiles) {
        if (const DecodedBitmap* scaled = level.scaled.Get(id, bitmap, place->width, place->height,
                                                           place->turn, smooth, repeat)) {
          if (repeat)
            Tile(*scaled, place->left, place->top, clip);
          else
            PutExtended(*scaled, place->left, place->top, clip);
          return;
        }
      }
    }
    DrawSampled(level, id, bitmap, m, clip, repeat, smooth);
  }

  static long TileCount(const RECT& clip, int left, int top, int width, int height) {
    const long across = (clip.right - left) / width - (clip.left - left) / width + 2;
    const long down = (clip.bottom - top) / height - (clip.top - top) / height + 2;
    return across * down;
  }

  // Pixels of `bitmap` (sx, sy, sw, sh) into the window's (dx, dy, dw, dh); a 1-pixel source
  // stretched repeats that pixel.
  void Put(const DecodedBitmap& bitmap, int sx, int sy, int sw, int sh, int dx, int dy, int dw,
           int dh) {
    if (dw <= 0 || dh <= 0) return;
    if (bitmap.opaque()) {
      if (sw == dw && sh == dh) {
        BitBlt(dc_, dx, dy, dw, dh, source_.get(), sx, sy, SRCCOPY);
      } else {
        SetStretchBltMode(dc_, COLORONCOLOR);
        StretchBlt(dc_, dx, dy, dw, dh, source_.get(), sx, sy, sw, sh, SRCCOPY);
      }
    } else {
      BLENDFUNCTION blend{AC_SRC_OVER, 0, 255, AC_SRC_ALPHA};
      AlphaBlend(dc_, dx, dy, dw, dh, source_.get(), sx, sy, sw, sh, blend);
    }
  }

  void PutExtended(const DecodedBitmap& bitmap, int left, int top, const RECT& clip) {
    HGDIOBJ old = SelectObject(source_.get(), bitmap.handle());
    const int w = bitmap.width(), h = bitmap.height(), right = left + w, bottom = top + h;
    Put(bitmap, 0, 0, w, h, left, top, w, h);
    // The edge pixels carried out to the clip's sides, and the corner pixels into its corners.
    const int beforeX = left - clip.left, afterX = clip.right - right;
    const int beforeY = top - clip.top, afterY = clip.bottom - bottom;
    Put(bitmap, 0, 0, 1, h, clip.left, top, beforeX, h);
    Put(bitmap, w - 1, 0, 1, h, right, top, afterX, h);
    Put(bitmap, 0, 0, w, 1, left, clip.top, w, beforeY);
    Put(bitmap, 0, h - 1, w, 1, left, bottom, w, afterY);
    Put(bitmap, 0, 0, 1, 1, clip.left, clip.top, beforeX, beforeY);
    Put(bitmap, w - 1, 0, 1, 1, right, clip.top, afterX, beforeY);
    Put(bitmap, 0, h - 1, 1, 1, clip.left, bottom, beforeX, afterY);
    Put(bitmap, w - 1, h - 1, 1, 1, right, bottom, afterX, afterY);
    SelectObject(source_.get(), old);
  }

  void Tile(const DecodedBitmap& bitmap, int left, int top, const RECT& clip) {
    HGDIOBJ old = SelectObject(source_.get(), bitmap.handle());
    const int w = bitmap.width(), h = bitmap.height();
    auto first = [](int from, int origin, int step) {
      return origin + int(std::floor(double(from - origin) / step)) * step;
    };
    for (int y = first(clip.top, top, h); y < clip.bottom; y += h)
      for (int x = first(clip.left, left, w); x < clip.right; x += w)
        Put(bitmap, 0, 0, w, h, x, y, w, h);
    SelectObject(source_.get(), old);
  }

  // Each window pixel of the clip box from the bitmap point under its centre: bilinear when
  // smoothed, from a copy first reduced to about the drawn size when it shrinks; nearest pixel
  // otherwise. Outside the bitmap a clipped fill takes the nearest edge pixel, a repeating one
  // wraps.
  void DrawSampled(Player::Level& level, uint16_t id, const DecodedBitmap& bitmap,
                   const swf::Affine& m, const RECT& clip, bool repeat, bool smooth) {
    swf::Affine inverse;
    if (!m.Invert(inverse)) return;
    const int width = clip.right - clip.left, height = clip.bottom - clip.top;
    if (width <= 0 || height <= 0) return;
    const DecodedBitmap* from = &bitmap;
    const double alongX = std::hypot(m.a, m.b), alongY = std::hypot(m.c, m.d);
    if (smooth && (alongX < 1 || alongY < 1)) {
      const int w = std::max(1, int(std::lround(bitmap.width() * std::min(alongX, 1.0))));
      const int h = std::max(1, int(std::lround(bitmap.height() * std::min(alongY, 1.0))));
      if (const DecodedBitmap* reduced = level.scaled.Get(id, bitmap, w, h, {}, true, repeat))
        from = reduced;
    }
    const double kx = double(from->width()) / bitmap.width();
    const double ky = double(from->height()) / bitmap.height();
    std::unique_ptr<DecodedBitmap> out;
    try {
      out = std::make_unique<DecodedBitmap>(width, height);
    } catch (const std::exception&) {
      return;
    }
    swf::SamplePixels(const_cast<DecodedBitmap*>(from)->pixels(), from->width(), from->height(),
                      out->pixels(), clip.left, clip.top, width, height,
                      swf::Affine::Scale(kx, ky).After(inverse), smooth, repeat);
    HGDIOBJ old = SelectObject(source_.get(), out->handle());
    BLENDFUNCTION blend{AC_SRC_OVER, 0, 255, AC_SRC_ALPHA};
    AlphaBlend(dc_, clip.left, clip.top, width, height, source_.get(), 0, 0, width, height, blend);
    SelectObject(source_.get(), old);
  }

 public:
  std::vector<std::wstring> errors_;

 private:
  HDC dc_;
  ScopedDc source_;
  const StageSettings& settings_;
  int nestedDraws_ = 0;
};

}  // namespace

swf::Affine StageTransform(const Player& player, int width, int height,
                           const StageSettings& settings) {
  ::swf::Rect stage{0, 550 * 20, 0, 400 * 20};
  if (const swf::Timeline* main = player.MainTimeline()) stage = main->movie().frameSize;
  return swf::FitStage(stage, width, height, settings.scale, settings.align);
}

void RenderStage(HDC dc, const RECT& client, Player& player, const StageSettings& settings,
                 const std::vector<std::wstring>& status) {
  int width = client.right - client.left, height = client.bottom - client.top;
  if (width <= 0 || height <= 0) return;
  ScopedDc back(CreateCompatibleDC(dc));
  ScopedObject buffer(CreateCompatibleBitmap(dc, width, height));
  if (!back.get() || !buffer.get()) return;
  HGDIOBJ old = SelectObject(back.get(), buffer.get());
  RECT all{0, 0, width, height};
  {
    ScopedObject brush(CreateSolidBrush(settings.background));
    FillRect(back.get(), &all, static_cast<HBRUSH>(brush.get()));
  }
  swf::Affine stage = StageTransform(player, width, height, settings);
  StagePainter painter(back.get(), settings);
  {
    // Levels draw inside the stage only: what lies outside shows the background.
    SavedDc saved(back.get());
    ::swf::Rect frame{0, 550 * 20, 0, 400 * 20};
    if (const swf::Timeline* main = player.MainTimeline()) frame = main->movie().frameSize;
    swf::Point a = stage.Apply({double(frame.xMin), double(frame.yMin)});
    swf::Point b = stage.Apply({double(frame.xMax), double(frame.yMax)});
    IntersectClipRect(back.get(), int(std::lround(std::min(a.x, b.x))),
                      int(std::lround(std::min(a.y, b.y))), int(std::lround(std::max(a.x, b.x))),
                      int(std::lround(std::max(a.y, b.y))));
    for (const auto& [number, level] : player.Levels())
      if (level->timeline) painter.DrawLevel(*level, stage);
  }
  for (const auto& error : painter.errors_) player.SetLastError(error);
  if (!status.empty()) {
    int luminance = (GetRValue(settings.background) * 3 + GetGValue(settings.background) * 6 +
                     GetBValue(settings.background)) /
                    10;
    SetTextColor(back.get(), luminance > 128 ? RGB(0, 0, 0) : RGB(255, 255, 255));
    SetBkMode(back.get(), TRANSPARENT);
    HGDIOBJ oldFont = SelectObject(back.get(), GetStockObject(DEFAULT_GUI_FONT));
    int y = 4;
    for (const auto& line : status) {
      TextOutW(back.get(), 4, y, line.c_str(), int(line.size()));
      y += 16;
    }
    SelectObject(back.get(), oldFont);
  }
  BitBlt(dc, client.left, client.top, width, height, back.get(), 0, 0, SRCCOPY);
  SelectObject(back.get(), old);
}

}  // namespace standin
