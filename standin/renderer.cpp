#include "renderer.h"

#include <algorithm>
#include <cmath>
#include <variant>

namespace standin {

namespace {

// Characters inside buttons inside buttons...: a movie cannot make drawing recurse for ever.
constexpr int kMaxNesting = 4;
// A repeating fill whose tiles are tiny would take millions of blends.
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
      if (bitmap)
        DrawBitmap(*bitmap, toDevice.After(swf::Affine::From(fill.style.matrix)),
                   !fill.style.IsClipped());
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

  // The bitmap's pixels mapped by `toDevice` (scale and translation; a rotated bitmap is drawn
  // unrotated at its place), within the clip already set.
  void DrawBitmap(const DecodedBitmap& bitmap, const swf::Affine& toDevice, bool repeat) {
    double w = toDevice.a * bitmap.width(), h = toDevice.d * bitmap.height();
    if (!(w >= 1 && h >= 1) || w > 1e6 || h > 1e6) return;
    HGDIOBJ old = SelectObject(source_.get(), bitmap.handle());
    BLENDFUNCTION blend{AC_SRC_OVER, 0, 255, AC_SRC_ALPHA};
    auto put = [&](double x, double y) {
      int left = int(std::lround(x)), top = int(std::lround(y));
      int right = int(std::lround(x + w)), bottom = int(std::lround(y + h));
      if (bitmap.opaque()) {
        SetStretchBltMode(dc_, COLORONCOLOR);
        StretchBlt(dc_, left, top, right - left, bottom - top, source_.get(), 0, 0, bitmap.width(),
                   bitmap.height(), SRCCOPY);
      } else {
        AlphaBlend(dc_, left, top, right - left, bottom - top, source_.get(), 0, 0, bitmap.width(),
                   bitmap.height(), blend);
      }
    };
    if (!repeat) {
      put(toDevice.tx, toDevice.ty);
    } else {
      RECT clip;
      if (GetClipBox(dc_, &clip) == NULLREGION) {
        SelectObject(source_.get(), old);
        return;
      }
      long firstX = long(std::floor((clip.left - toDevice.tx) / w));
      long lastX = long(std::floor((clip.right - toDevice.tx) / w));
      long firstY = long(std::floor((clip.top - toDevice.ty) / h));
      long lastY = long(std::floor((clip.bottom - toDevice.ty) / h));
      if ((lastX - firstX + 1) * (lastY - firstY + 1) <= kMaxTiles)
        for (long ty = firstY; ty <= lastY; ++ty)
          for (long tx = firstX; tx <= lastX; ++tx) put(toDevice.tx + tx * w, toDevice.ty + ty * h);
    }
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
