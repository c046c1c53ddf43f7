#include "scaled_bitmaps.h"

#include <vector>

#define STB_IMAGE_RESIZE_IMPLEMENTATION
#include <stb_image_resize.h>

namespace standin {

namespace {

// Area averaging when an axis shrinks, bilinear when it grows.
stbir_filter FilterFor(int from, int to) {
  return to < from ? STBIR_FILTER_BOX : STBIR_FILTER_TRIANGLE;
}

}  // namespace

void ResizePixels(const uint32_t* source, int sourceWidth, int sourceHeight, uint32_t* pixels,
                  int width, int height, bool repeat) {
  const stbir_edge edge = repeat ? STBIR_EDGE_WRAP : STBIR_EDGE_CLAMP;
  // BGRA in memory, alpha last; already premultiplied, so the colours are filtered as they are
  // and no colour of an invisible pixel bleeds into its neighbours.
  stbir_resize(source, sourceWidth, sourceHeight, sourceWidth * 4, pixels, width, height, width * 4,
               STBIR_TYPE_UINT8, 4, 3, STBIR_FLAG_ALPHA_PREMULTIPLIED, edge, edge,
               FilterFor(sourceWidth, width), FilterFor(sourceHeight, height),
               STBIR_COLORSPACE_LINEAR, nullptr);
}

std::unique_ptr<DecodedBitmap> ResampleBitmap(const DecodedBitmap& source, int width, int height,
                                              BitmapTurn turn, bool smooth, bool repeat) {
  // The size before the turn: along the source's own axes.
  const int alongX = turn.swap ? height : width, alongY = turn.swap ? width : height;
  auto out = std::make_unique<DecodedBitmap>(width, height);
  out->set_opaque(source.opaque());
  std::vector<uint32_t> resized;
  const uint32_t* from = const_cast<DecodedBitmap&>(source).pixels();
  const bool sameSize = alongX == source.width() && alongY == source.height();
  if (smooth && !sameSize) {
    resized.resize(size_t(alongX) * alongY);
    ResizePixels(from, source.width(), source.height(), resized.data(), alongX, alongY, repeat);
    from = resized.data();
  }
  const bool sampled = smooth || sameSize;  // `from` has alongX x alongY pixels
  const int fromWidth = sampled ? alongX : source.width();
  std::vector<int> columns(static_cast<size_t>(alongX)), rows(static_cast<size_t>(alongY));
  for (int i = 0; i < alongX; ++i)
    columns[size_t(i)] = sampled ? i : int((i + 0.5) * source.width() / alongX);
  for (int j = 0; j < alongY; ++j)
    rows[size_t(j)] = sampled ? j : int((j + 0.5) * source.height() / alongY);
  uint32_t* to = out->pixels();
  for (int y = 0; y < height; ++y) {
    const int wy = turn.flipY ? height - 1 - y : y;
    for (int x = 0; x < width; ++x) {
      const int wx = turn.flipX ? width - 1 - x : x;
      const int i = turn.swap ? wy : wx, j = turn.swap ? wx : wy;
      to[size_t(y) * width + x] = from[size_t(rows[size_t(j)]) * fromWidth + columns[size_t(i)]];
    }
  }
  return out;
}

const DecodedBitmap* ScaledBitmapCache::Get(uint16_t id, const DecodedBitmap& source, int width,
                                            int height, BitmapTurn turn, bool smooth, bool repeat) {
  for (auto e = entries_.begin(); e != entries_.end(); ++e) {
    if (e->id == id && e->source == &source && e->width == width && e->height == height &&
        e->turn == turn && e->smooth == smooth && e->repeat == repeat) {
      entries_.splice(entries_.begin(), entries_, e);
      return entries_.front().bitmap.get();
    }
  }
  if (width <= 0 || height <= 0 || uint64_t(width) * uint64_t(height) * 4 > kMaxBytes)
    return nullptr;
  std::unique_ptr<DecodedBitmap> bitmap;
  try {
    bitmap = ResampleBitmap(source, width, height, turn, smooth, repeat);
  } catch (const std::exception&) {
    return nullptr;  // GDI refused the bitmap: the paint goes on without it
  }
  entries_.push_front({id, &source, width, height, turn, smooth, repeat, std::move(bitmap)});
  if (entries_.size() > kKept) entries_.pop_back();
  return entries_.front().bitmap.get();
}

}  // namespace standin
