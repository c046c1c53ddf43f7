#include "stage/resample.h"

#include <algorithm>
#include <cmath>
#include <vector>

#define STB_IMAGE_RESIZE_IMPLEMENTATION
#include <stb_image_resize.h>

namespace standin::swf {

namespace {

// Area averaging when an axis shrinks, bilinear when it grows.
stbir_filter FilterFor(int from, int to) {
  return to < from ? STBIR_FILTER_BOX : STBIR_FILTER_TRIANGLE;
}

}  // namespace

std::optional<AlignedPlace> AlignedPlacement(const Affine& m, int width, int height) {
  const double size = std::fabs(m.a) + std::fabs(m.b) + std::fabs(m.c) + std::fabs(m.d);
  if (!(size > 0) || !std::isfinite(size + m.tx + m.ty)) return std::nullopt;
  const double tiny = size * 1e-9;
  const bool straight = std::fabs(m.b) <= tiny && std::fabs(m.c) <= tiny;
  const bool swapped = std::fabs(m.a) <= tiny && std::fabs(m.d) <= tiny;
  if (!straight && !swapped) return std::nullopt;
  const Point p = m.Apply({0, 0}), q = m.Apply({double(width), double(height)});
  AlignedPlace place{};
  place.left = int(std::lround(std::min(p.x, q.x)));
  place.top = int(std::lround(std::min(p.y, q.y)));
  place.width = int(std::lround(std::max(p.x, q.x))) - place.left;
  place.height = int(std::lround(std::max(p.y, q.y))) - place.top;
  if (straight) {
    place.turn.flipX = m.a < 0;
    place.turn.flipY = m.d < 0;
  } else {
    place.turn.swap = true;
    place.turn.flipX = m.c < 0;
    place.turn.flipY = m.b < 0;
  }
  return place;
}

void ResizePixels(const uint32_t* source, int sourceWidth, int sourceHeight, uint32_t* out,
                  int width, int height, bool repeat) {
  const stbir_edge edge = repeat ? STBIR_EDGE_WRAP : STBIR_EDGE_CLAMP;
  // BGRA in memory, alpha last; already premultiplied, so the colours are filtered as they are
  // and no colour of an invisible pixel bleeds into its neighbours.
  stbir_resize(source, sourceWidth, sourceHeight, sourceWidth * 4, out, width, height, width * 4,
               STBIR_TYPE_UINT8, 4, 3, STBIR_FLAG_ALPHA_PREMULTIPLIED, edge, edge,
               FilterFor(sourceWidth, width), FilterFor(sourceHeight, height),
               STBIR_COLORSPACE_LINEAR, nullptr);
}

void ResamplePixels(const uint32_t* source, int sourceWidth, int sourceHeight, uint32_t* out,
                    int width, int height, PixelTurn turn, bool smooth, bool repeat) {
  // The size before the turn: along the source's own axes.
  const int alongX = turn.swap ? height : width, alongY = turn.swap ? width : height;
  const bool sameSize = alongX == sourceWidth && alongY == sourceHeight;
  std::vector<uint32_t> resized;
  const uint32_t* from = source;
  if (smooth && !sameSize) {
    resized.resize(size_t(alongX) * size_t(alongY));
    ResizePixels(source, sourceWidth, sourceHeight, resized.data(), alongX, alongY, repeat);
    from = resized.data();
  }
  const bool sized = smooth || sameSize;  // `from` holds alongX x alongY pixels
  const int fromWidth = sized ? alongX : sourceWidth;
  std::vector<int> columns(static_cast<size_t>(alongX)), rows(static_cast<size_t>(alongY));
  for (int i = 0; i < alongX; ++i)
    columns[size_t(i)] = sized ? i : int((i + 0.5) * sourceWidth / alongX);
  for (int j = 0; j < alongY; ++j)
    rows[size_t(j)] = sized ? j : int((j + 0.5) * sourceHeight / alongY);
  for (int y = 0; y < height; ++y) {
    const int wy = turn.flipY ? height - 1 - y : y;
    for (int x = 0; x < width; ++x) {
      const int wx = turn.flipX ? width - 1 - x : x;
      const int i = turn.swap ? wy : wx, j = turn.swap ? wx : wy;
      out[size_t(y) * size_t(width) + size_t(x)] =
          from[size_t(rows[size_t(j)]) * size_t(fromWidth) + size_t(columns[size_t(i)])];
    }
  }
}

void SamplePixels(const uint32_t* source, int sourceWidth, int sourceHeight, uint32_t* out,
                  int left, int top, int width, int height, const Affine& windowToSource,
                  bool smooth, bool repeat) {
  auto index = [&](long i, long n) {
    if (repeat) return ((i % n) + n) % n;
    return std::clamp(i, 0L, n - 1);
  };
  auto at = [&](long x, long y) {
    return source[size_t(index(y, sourceHeight)) * size_t(sourceWidth) +
                  size_t(index(x, sourceWidth))];
  };
  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < width; ++x) {
      const Point p = windowToSource.Apply({left + x + 0.5, top + y + 0.5});
      uint32_t c = 0;
      if (!smooth) {
        c = at(long(std::floor(p.x)), long(std::floor(p.y)));
      } else {
        const double fu = p.x - 0.5, fv = p.y - 0.5;
        const long x0 = long(std::floor(fu)), y0 = long(std::floor(fv));
        const double wx = fu - double(x0), wy = fv - double(y0);
        const uint32_t c00 = at(x0, y0), c10 = at(x0 + 1, y0), c01 = at(x0, y0 + 1),
                       c11 = at(x0 + 1, y0 + 1);
        for (int shift = 0; shift < 32; shift += 8) {
          const double upper = (c00 >> shift & 0xFF) * (1 - wx) + (c10 >> shift & 0xFF) * wx;
          const double lower = (c01 >> shift & 0xFF) * (1 - wx) + (c11 >> shift & 0xFF) * wx;
          c |= uint32_t(std::lround(upper * (1 - wy) + lower * wy)) << shift;
        }
      }
      out[size_t(y) * size_t(width) + size_t(x)] = c;
    }
  }
}

}  // namespace standin::swf
