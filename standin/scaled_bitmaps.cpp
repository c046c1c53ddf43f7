#include "scaled_bitmaps.h"

namespace standin {

std::unique_ptr<DecodedBitmap> ResampleBitmap(const DecodedBitmap& source, int width, int height,
                                              BitmapTurn turn, bool smooth, bool repeat) {
  auto out = std::make_unique<DecodedBitmap>(width, height);
  out->set_opaque(source.opaque());
  swf::ResamplePixels(const_cast<DecodedBitmap&>(source).pixels(), source.width(), source.height(),
                      out->pixels(), width, height, turn, smooth, repeat);
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
