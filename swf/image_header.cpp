#include "swf/image_header.h"

#include <algorithm>

#include "swf/swf_reader.h"

namespace swf {

namespace {

uint32_t BigEndian16(const uint8_t* p) { return uint32_t(p[0]) << 8 | p[1]; }
uint32_t BigEndian32(const uint8_t* p) { return BigEndian16(p) << 16 | BigEndian16(p + 2); }
uint32_t LittleEndian16(const uint8_t* p) { return uint32_t(p[1]) << 8 | p[0]; }

std::optional<ImageSize> Checked(uint32_t width, uint32_t height) {
  if (width == 0 || height == 0) return std::nullopt;
  return ImageSize{width, height};
}

std::optional<ImageSize> PngSize(std::span<const uint8_t> png) {
  // Signature, then the IHDR chunk first: length 13, "IHDR", width, height.
  static const uint8_t kIhdr[] = {0, 0, 0, 13, 'I', 'H', 'D', 'R'};
  if (png.size() < 24 || !std::equal(kIhdr, kIhdr + 8, png.begin() + 8)) return std::nullopt;
  uint32_t width = BigEndian32(&png[16]), height = BigEndian32(&png[20]);
  if (width > 0x7FFFFFFF || height > 0x7FFFFFFF) return std::nullopt;
  return Checked(width, height);
}

bool IsFrameHeader(uint8_t marker) {
  // SOF0 to SOF15, but for DHT (C4), JPG (C8) and DAC (CC), which share the range.
  return marker >= 0xC0 && marker <= 0xCF && marker != 0xC4 && marker != 0xC8 && marker != 0xCC;
}

std::optional<ImageSize> JpegSize(std::span<const uint8_t> jpeg) {
  // A movie's JPEG data may begin with a tables stream of its own, or an empty one (FF D9 FF D8):
  // the frame header is looked for in the image after it.
  size_t at = jpeg.size() >= 4 && jpeg[0] == 0xFF && jpeg[1] == 0xD9 ? 2 : 0;
  if (jpeg.size() - at < 4 || jpeg[at] != 0xFF || jpeg[at + 1] != 0xD8) return std::nullopt;
  at += 2;
  while (at < jpeg.size()) {
    if (jpeg[at] != 0xFF) return std::nullopt;
    while (at < jpeg.size() && jpeg[at] == 0xFF) ++at;  // fill bytes
    if (at >= jpeg.size()) return std::nullopt;
    uint8_t marker = jpeg[at++];
    // Markers without a segment: TEM and the restart markers.
    if (marker == 0x01 || (marker >= 0xD0 && marker <= 0xD7)) continue;
    if (marker == 0xD9) {
      // The end of a tables stream, when an image follows.
      if (jpeg.size() - at >= 2 && jpeg[at] == 0xFF && jpeg[at + 1] == 0xD8) {
        at += 2;
        continue;
      }
      return std::nullopt;
    }
    // The image data starts before any frame header.
    if (marker == 0xDA || marker == 0xD8 || marker == 0x00) return std::nullopt;
    if (jpeg.size() - at < 2) return std::nullopt;
    size_t length = BigEndian16(&jpeg[at]);
    if (length < 2 || length > jpeg.size() - at) return std::nullopt;
    if (IsFrameHeader(marker)) {
      // Length, precision, height, width.
      if (length < 7) return std::nullopt;
      return Checked(BigEndian16(&jpeg[at + 5]), BigEndian16(&jpeg[at + 3]));
    }
    at += length;
  }
  return std::nullopt;
}

std::optional<ImageSize> GifSize(std::span<const uint8_t> gif) {
  // "GIF87a"/"GIF89a", then the logical screen: width, height, flags, background, aspect.
  if (gif.size() < 13) return std::nullopt;
  uint32_t width = LittleEndian16(&gif[6]), height = LittleEndian16(&gif[8]);
  uint8_t flags = gif[10];
  size_t at = 13;
  if (flags & 0x80) at += 3u << ((flags & 7) + 1);  // the global colour table
  // Extensions may come before the first image; a decoder allocates that image's size.
  while (at < gif.size()) {
    uint8_t block = gif[at];
    if (block == 0x21) {
      at += 2;  // introducer and label, then sub-blocks up to an empty one
      while (at < gif.size() && gif[at] != 0) at += 1 + size_t(gif[at]);
      ++at;
    } else if (block == 0x2C) {
      // Image descriptor: left, top, width, height.
      if (gif.size() - at < 9) return std::nullopt;
      width = std::max(width, LittleEndian16(&gif[at + 5]));
      height = std::max(height, LittleEndian16(&gif[at + 7]));
      break;
    } else {
      break;  // the trailer, or something no decoder takes
    }
  }
  return Checked(width, height);
}

}  // namespace

std::optional<ImageSize> ReadImageSize(std::span<const uint8_t> image) {
  switch (ImageKindOf(image)) {
    case ImageKind::kPng:
      return PngSize(image);
    case ImageKind::kJpeg:
      return JpegSize(image);
    case ImageKind::kGif:
      return GifSize(image);
    default:
      return std::nullopt;
  }
}

}  // namespace swf
