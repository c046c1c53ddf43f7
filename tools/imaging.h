// Pictures as pixels, for the tools: JPEG, PNG and GIF decoded, JPEG and PNG encoded, pixels
// scaled and turned upright. One interface with two implementations chosen by the build:
// libjpeg-turbo, libpng (and stb_image for GIF) natively, the platform's imaging (WIC) on
// Windows. Both builds scale with the same resampler (stb_image_resize), so that they give the
// same sizes and pixels within the rounding of their decoders.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

namespace pageturn {

// Pixels top row first, four bytes each: red, green, blue, alpha. Alpha is straight (the
// colours are not multiplied by it).
struct TImage {
  std::uint32_t width = 0, height = 0;
  std::vector<std::uint8_t> rgba;  // width * height * 4 bytes
};

// The largest picture decoded at all: 512 MiB of pixels. A header claiming more is refused
// before anything is allocated.
inline constexpr std::uint64_t kMaxDecodedPixels = 128ull << 20;

// Decodes a JPEG (baseline, progressive or arithmetic-coded; greyscale, YCbCr, CMYK or YCCK,
// Adobe's inverted CMYK included: CMYK is turned into RGB), a PNG (any depth, palette and
// transparency) or a GIF (its first frame on its logical screen, transparent where it has no
// pixels). Raises Error for anything else, a damaged picture or one over kMaxDecodedPixels.
// The pixels are as stored: an EXIF orientation is not applied (see Orient).
TImage DecodePicture(std::span<const std::uint8_t> bytes);

// As DecodePicture, but a JPEG may come out smaller, down to an eighth of each side, as long
// as it stays at least minWidth x minHeight (the decoder skips the detail that scaling would
// drop anyway); a fast path for thumbnails and scaled-down pages. Other pictures come out
// whole.
TImage DecodePictureAtLeast(std::span<const std::uint8_t> bytes, std::uint32_t minWidth,
                            std::uint32_t minHeight);

// A baseline JPEG (8-bit, Huffman-coded, YCbCr 4:2:0) of the colours, which runtimes draw
// wherever they draw JPEG. Alpha is dropped: give opaque pixels, or flatten them first.
std::vector<std::uint8_t> EncodeJpeg(const TImage& image, int quality = 90);

// An 8-bit PNG with alpha, or without it when every pixel is opaque.
std::vector<std::uint8_t> EncodePng(const TImage& image);

// The image scaled to width x height (each at least 1) by stb_image_resize, filtered with
// premultiplied alpha so that transparent pixels lend no colour to their neighbours.
TImage Resize(const TImage& image, std::uint32_t width, std::uint32_t height);

// The image turned and mirrored from its stored state to upright, for an EXIF orientation
// value (1-8, as TPictureSize::orientation describes them; anything else leaves it as is).
TImage Orient(const TImage& image, std::uint8_t orientation);

// The largest size within maxWidth x maxHeight with the aspect of width x height (each side
// at least 1 pixel); the size itself when it fits already.
struct TFitSize {
  std::uint32_t width, height;
};
TFitSize FitInside(std::uint32_t width, std::uint32_t height, std::uint32_t maxWidth,
                   std::uint32_t maxHeight);

}  // namespace pageturn
