// The pixel size that a picture's own header claims (PNG IHDR, JPEG frame header, GIF screen
// and first image descriptors), read without decoding anything: what a decoder would allocate
// for it is known before a decoder sees the picture.
#pragma once

#include <cstdint>
#include <optional>
#include <span>

#include "swf/movie.h"

namespace swf {

struct ImageSize {
  uint32_t width = 0, height = 0;
  bool operator==(const ImageSize&) const = default;
};

// The size of a JPEG (its first frame header, found by walking the markers), PNG or GIF (the
// larger of the screen and its first image); nothing when the header is missing, damaged or
// claims no pixels.
std::optional<ImageSize> ReadImageSize(std::span<const uint8_t> image);

}  // namespace swf
