#include "swf/image_header.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace swf {
namespace {

using Bytes = std::vector<uint8_t>;

Bytes Cat(std::initializer_list<Bytes> parts) {
  Bytes out;
  for (const Bytes& p : parts) out.insert(out.end(), p.begin(), p.end());
  return out;
}

Bytes Be16(uint32_t v) { return {uint8_t(v >> 8), uint8_t(v)}; }
Bytes Le16(uint32_t v) { return {uint8_t(v), uint8_t(v >> 8)}; }
Bytes Be32(uint32_t v) { return Cat({Be16(v >> 16), Be16(v & 0xFFFF)}); }
Bytes Prefix(Bytes bytes, size_t n) {
  bytes.resize(n);
  return bytes;
}

Bytes Png(uint32_t width, uint32_t height) {
  return Cat({{0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A},
              {0, 0, 0, 13, 'I', 'H', 'D', 'R'},
              Be32(width),
              Be32(height),
              {8, 6, 0, 0, 0, 0, 0, 0, 0}});
}

// A marker segment: FF, marker, length (counting itself), payload.
Bytes Segment(uint8_t marker, Bytes payload) {
  return Cat({{0xFF, marker}, Be16(uint32_t(payload.size() + 2)), payload});
}
Bytes FrameHeader(uint8_t marker, uint32_t width, uint32_t height) {
  return Segment(marker,
                 Cat({{8}, Be16(height), Be16(width), {3, 1, 0x22, 0, 2, 0x11, 1, 3, 0x11, 1}}));
}
const Bytes kSoi = {0xFF, 0xD8}, kEoi = {0xFF, 0xD9};
// A segment whose payload holds FF C0 and a plausible size: a search would take it.
const Bytes kDecoy = Segment(0xE1, {0xFF, 0xC0, 0x00, 0x11, 0x08, 0x3E, 0x80, 0x3E, 0x80});
const Bytes kTables = Cat({Segment(0xDB, Bytes(65, 1)), Segment(0xC4, Bytes(30, 2))});

Bytes Gif(uint32_t screenW, uint32_t screenH, bool colourTable, Bytes afterScreen) {
  return Cat({{'G', 'I', 'F', '8', '9', 'a'},
              Le16(screenW),
              Le16(screenH),
              {uint8_t(colourTable ? 0x81 : 0x00), 0, 0},
              colourTable ? Bytes(12, 0) : Bytes{},
              afterScreen});
}
Bytes ImageDescriptor(uint32_t w, uint32_t h) {
  return Cat({{0x2C, 0, 0, 0, 0}, Le16(w), Le16(h), {0}});
}
const Bytes kGraphicControl = {0x21, 0xF9, 4, 0, 0, 0, 0, 0};

TEST(ImageHeader, SizesComeFromThePicturesOwnHeader) {
  struct Case {
    const char* what;
    Bytes image;
    std::optional<ImageSize> size;
  } cases[] = {
      {"PNG", Png(640, 480), ImageSize{640, 480}},
      {"PNG claiming 16000 x 16000", Png(16000, 16000), ImageSize{16000, 16000}},
      {"PNG of no pixels", Png(0, 480), std::nullopt},
      {"PNG cut inside IHDR", Prefix(Png(640, 480), 20), std::nullopt},
      {"PNG whose first chunk is not IHDR",
       Cat({Prefix(Png(1, 1), 12), {'t', 'E', 'X', 't'}, Be32(9), Be32(9)}), std::nullopt},
      {"baseline JPEG after APP0 and tables",
       Cat({kSoi, Segment(0xE0, Bytes(14, 0)), kTables, FrameHeader(0xC0, 800, 600)}),
       ImageSize{800, 600}},
      {"progressive JPEG", Cat({kSoi, FrameHeader(0xC2, 16000, 16000)}), ImageSize{16000, 16000}},
      {"the markers are walked, not searched", Cat({kSoi, kDecoy, FrameHeader(0xC0, 10, 20)}),
       ImageSize{10, 20}},
      {"DHT is no frame header",
       Cat({kSoi, Segment(0xC4, Bytes(8, 0x40)), FrameHeader(0xC1, 3, 4)}), ImageSize{3, 4}},
      {"fill bytes before a marker", Cat({kSoi, {0xFF, 0xFF}, FrameHeader(0xC0, 5, 6)}),
       ImageSize{5, 6}},
      {"a tables stream before the image",
       Cat({kSoi, kTables, kEoi, kSoi, FrameHeader(0xC0, 7, 8)}), ImageSize{7, 8}},
      {"an empty tables stream before the image", Cat({kEoi, kSoi, FrameHeader(0xC0, 9, 9)}),
       ImageSize{9, 9}},
      {"JPEG of height 0 (given later)", Cat({kSoi, FrameHeader(0xC0, 100, 0)}), std::nullopt},
      {"JPEG whose data starts before a frame header",
       Cat({kSoi, Segment(0xDA, Bytes(10, 0)), FrameHeader(0xC0, 1, 1)}), std::nullopt},
      {"JPEG segment longer than the file", Cat({kSoi, {0xFF, 0xE0, 0x40, 0x00}}), std::nullopt},
      {"JPEG frame header cut short", Cat({kSoi, {0xFF, 0xC0, 0x00, 0x05, 0x08, 0x00, 0x10}}),
       std::nullopt},
      {"GIF screen", Gif(320, 200, true, ImageDescriptor(320, 200)), ImageSize{320, 200}},
      {"GIF screen alone", Gif(16000, 16000, false, {}), ImageSize{16000, 16000}},
      {"GIF image larger than its screen, after an extension",
       Gif(10, 10, true, Cat({kGraphicControl, ImageDescriptor(16000, 12)})), ImageSize{16000, 12}},
      {"GIF of no pixels", Gif(0, 0, false, ImageDescriptor(0, 0)), std::nullopt},
      {"GIF cut inside its screen", Prefix(Gif(1, 1, false, {}), 9), std::nullopt},
      {"no picture", Bytes{'B', 'M', 0, 0}, std::nullopt},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    std::optional<ImageSize> size = ReadImageSize(c.image);
    ASSERT_EQ(size.has_value(), c.size.has_value());
    if (size) {
      EXPECT_EQ(size->width, c.size->width);
      EXPECT_EQ(size->height, c.size->height);
    }
    // Every shorter piece is read inside its bounds (the sanitizers watch).
    for (size_t n = 0; n < c.image.size(); ++n)
      ReadImageSize(std::span<const uint8_t>(c.image.data(), n));
  }
}

}  // namespace
}  // namespace swf
