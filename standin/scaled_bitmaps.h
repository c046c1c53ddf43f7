// A movie's bitmaps as a paint draws them: resampled to the size and turned to the orientation
// they take in the window, filtered in premultiplied alpha (area averaging when they shrink,
// bilinear when they grow) or, for the unsmoothed fill types, by the nearest pixel. Kept per
// size, so that a repaint of the same window does not resample again.
#pragma once

#include <windows.h>

#include <cstdint>
#include <list>
#include <memory>

#include "bitmaps.h"
#include "stage/resample.h"

namespace standin {

using BitmapTurn = swf::PixelTurn;

// The bitmap resampled to `width` x `height` window pixels, turned by `turn`.
std::unique_ptr<DecodedBitmap> ResampleBitmap(const DecodedBitmap& source, int width, int height,
                                              BitmapTurn turn, bool smooth, bool repeat);

class ScaledBitmapCache {
 public:
  // The bitmap of character `id` (decoded as `source`) at that size and turn; null when it
  // cannot be made (too large, or GDI refuses).
  const DecodedBitmap* Get(uint16_t id, const DecodedBitmap& source, int width, int height,
                           BitmapTurn turn, bool smooth, bool repeat);

  // No scaled bitmap larger than this is made (the window's own size is far below it); a fill
  // drawn larger is sampled pixel by pixel from the decoded bitmap instead.
  static constexpr uint64_t kMaxBytes = 64ull * 1024 * 1024;

 private:
  struct Entry {
    uint16_t id;
    const DecodedBitmap* source;
    int width, height;
    BitmapTurn turn;
    bool smooth, repeat;
    std::unique_ptr<DecodedBitmap> bitmap;
  };
  // Most recent first. A few per movie: the window's current size and the one before it.
  std::list<Entry> entries_;
  static constexpr size_t kKept = 4;
};

}  // namespace standin
