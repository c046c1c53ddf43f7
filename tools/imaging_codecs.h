// What each build's imaging implementation provides to tools/imaging.cpp: decoding through
// the native libraries (imaging_native.cpp) or WIC (imaging_wic.cpp).
#pragma once

#include <cstdint>
#include <span>

#include "tools/imaging.h"

namespace pageturn {

// The picture decoded; a JPEG may be reduced by its decoder while it stays at least
// minWidth x minHeight (kWhole x kWhole: never reduced).
inline constexpr std::uint32_t kWhole = 0xFFFFFFFFu;
TImage DecodeWithCodecs(std::span<const std::uint8_t> bytes, std::uint32_t minWidth,
                        std::uint32_t minHeight);

// Four bytes a pixel of C, M, Y, K ink (0 none, 255 full) turned into R, G, B, 255 in place,
// the same way in both builds.
void CmykToRgba(std::uint8_t* pixels, std::size_t count);

// Raises Error unless width x height is a picture that may be decoded.
void CheckDecodableSize(std::uint64_t width, std::uint64_t height);

}  // namespace pageturn
