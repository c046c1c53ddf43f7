#include "tools/imaging.h"

#include <algorithm>
#include <string>

#include "core/error.h"
#include "tools/imaging_codecs.h"

#define STB_IMAGE_RESIZE_IMPLEMENTATION
#define STB_IMAGE_RESIZE_STATIC
#if defined(__GNUC__)
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wunused-function"
#pragma GCC diagnostic ignored "-Wmissing-field-initializers"
#endif
#include <stb_image_resize.h>
#if defined(__GNUC__)
#pragma GCC diagnostic pop
#endif

namespace pageturn {

void CheckDecodableSize(std::uint64_t width, std::uint64_t height) {
  if (width == 0 || height == 0) throw Error("picture of no pixels");
  if (width * height > kMaxDecodedPixels)
    throw Error("picture too large to decode: " + std::to_string(width) + " x " +
                std::to_string(height) + " pixels");
}

void CmykToRgba(std::uint8_t* pixels, std::size_t count) {
  for (std::size_t i = 0; i < count; ++i, pixels += 4) {
    const unsigned paper = 255 - pixels[3];
    pixels[0] = std::uint8_t((255 - pixels[0]) * paper / 255);
    pixels[1] = std::uint8_t((255 - pixels[1]) * paper / 255);
    pixels[2] = std::uint8_t((255 - pixels[2]) * paper / 255);
    pixels[3] = 255;
  }
}

TImage DecodePicture(std::span<const std::uint8_t> bytes) {
  return DecodeWithCodecs(bytes, kWhole, kWhole);
}

TImage DecodePictureAtLeast(std::span<const std::uint8_t> bytes, std::uint32_t minWidth,
                            std::uint32_t minHeight) {
  return DecodeWithCodecs(bytes, minWidth, minHeight);
}

TImage Resize(const TImage& image, std::uint32_t width, std::uint32_t height) {
  if (width == 0 || height == 0) throw Error("cannot scale a picture to no pixels");
  if (image.width == 0 || image.height == 0 ||
      image.rgba.size() != std::size_t(image.width) * image.height * 4)
    throw Error("cannot scale a picture without its pixels");
  if (width == image.width && height == image.height) return image;
  TImage out;
  out.width = width;
  out.height = height;
  out.rgba.resize(std::size_t(width) * height * 4);
  // Values taken as they are (no gamma), as runtimes blend them; alpha in channel 3, which the
  // resampler multiplies in before filtering and divides out after.
  if (!stbir_resize_uint8_generic(image.rgba.data(), int(image.width), int(image.height),
                                  int(image.width * 4), out.rgba.data(), int(width), int(height),
                                  int(width * 4), 4, 3, 0, STBIR_EDGE_CLAMP, STBIR_FILTER_DEFAULT,
                                  STBIR_COLORSPACE_LINEAR, nullptr))
    throw Error("cannot scale the picture");
  return out;
}

TImage Orient(const TImage& image, std::uint8_t orientation) {
  if (orientation < 2 || orientation > 8) return image;
  const std::uint32_t w = image.width, h = image.height;
  const bool turned = orientation >= 5;
  TImage out;
  out.width = turned ? h : w;
  out.height = turned ? w : h;
  out.rgba.resize(image.rgba.size());
  const auto* in = reinterpret_cast<const std::uint8_t*>(image.rgba.data());
  std::uint8_t* to = out.rgba.data();
  for (std::uint32_t uy = 0; uy < out.height; ++uy) {
    for (std::uint32_t ux = 0; ux < out.width; ++ux, to += 4) {
      // Where the upright pixel (ux, uy) is stored.
      std::uint32_t x = ux, y = uy;
      switch (orientation) {
        case 2:
          x = w - 1 - ux;
          break;
        case 3:
          x = w - 1 - ux, y = h - 1 - uy;
          break;
        case 4:
          y = h - 1 - uy;
          break;
        case 5:
          x = uy, y = ux;
          break;
        case 6:
          x = uy, y = h - 1 - ux;
          break;
        case 7:
          x = w - 1 - uy, y = h - 1 - ux;
          break;
        case 8:
          x = w - 1 - uy, y = ux;
          break;
      }
      std::copy_n(in + (std::size_t(y) * w + x) * 4, 4, to);
    }
  }
  return out;
}

TFitSize FitInside(std::uint32_t width, std::uint32_t height, std::uint32_t maxWidth,
                   std::uint32_t maxHeight) {
  if (width <= maxWidth && height <= maxHeight) return {width, height};
  // The side that limits most sets the scale; the other is rounded, never past its limit.
  if (std::uint64_t(width) * maxHeight >= std::uint64_t(height) * maxWidth) {
    const std::uint64_t h = (std::uint64_t(height) * maxWidth + width / 2) / width;
    return {maxWidth, std::uint32_t(std::clamp<std::uint64_t>(h, 1, maxHeight))};
  }
  const std::uint64_t w = (std::uint64_t(width) * maxHeight + height / 2) / height;
  return {std::uint32_t(std::clamp<std::uint64_t>(w, 1, maxWidth)), maxHeight};
}

}  // namespace pageturn
