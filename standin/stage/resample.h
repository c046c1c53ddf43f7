// Pixels of a bitmap as a paint draws them, on plain premultiplied 0xAARRGGBB buffers (no
// platform): resampled to a size with the shared resampler (area averaging when an axis
// shrinks, bilinear when it grows) or by the nearest pixel, turned by quarters and mirrors, or
// sampled through any affine matrix.
#pragma once

#include <cstdint>
#include <optional>

#include "stage/geometry.h"

namespace standin::swf {

// How a bitmap lies in the window when its matrix keeps it axis-aligned: mirrored on either
// axis and/or with its rows and columns swapped (a quarter turn is a swap and one mirror).
struct PixelTurn {
  bool swap = false;   // source x runs down the window, source y across
  bool flipX = false;  // the window's x runs against the source axis laid along it
  bool flipY = false;
  bool operator==(const PixelTurn&) const = default;
};

// Where an axis-aligned matrix (bitmap pixels to window pixels) puts a bitmap of `width` x
// `height`: the window rectangle (whole pixels) and the turn. Nothing for rotations and skews.
struct AlignedPlace {
  int left, top, width, height;
  PixelTurn turn;
};
std::optional<AlignedPlace> AlignedPlacement(const Affine& m, int width, int height);

// `source` (sourceWidth x sourceHeight) resized with the shared resampler to width x height;
// the edges clamp, or wrap for a repeating fill.
void ResizePixels(const uint32_t* source, int sourceWidth, int sourceHeight, uint32_t* out,
                  int width, int height, bool repeat);

// `source` to `out` of width x height window pixels, turned by `turn`: filtered (`smooth`) or
// by the nearest pixel.
void ResamplePixels(const uint32_t* source, int sourceWidth, int sourceHeight, uint32_t* out,
                    int width, int height, PixelTurn turn, bool smooth, bool repeat);

// Each pixel of the window rectangle (left, top, width x height) from the source point under
// its centre through `windowToSource`: bilinear when `smooth`, else the nearest pixel. Outside
// the source a clipped fill takes its nearest edge pixel, a repeating one wraps.
void SamplePixels(const uint32_t* source, int sourceWidth, int sourceHeight, uint32_t* out,
                  int left, int top, int width, int height, const Affine& windowToSource,
                  bool smooth, bool repeat);

}  // namespace standin::swf
