#include "swf/jpeg.h"

namespace swf {

namespace {

constexpr uint8_t kSoi = 0xD8, kEoi = 0xD9, kSos = 0xDA;

// Markers that carry no length: SOI, EOI, RSTn and TEM.
bool Standalone(uint8_t marker) {
  return marker == kSoi || marker == kEoi || (marker >= 0xD0 && marker <= 0xD7) || marker == 0x01;
}

// SOF0..SOF15 but DHT (C4), JPG (C8) and DAC (CC), which share the range.
bool FrameHeader(uint8_t marker) {
  return marker >= 0xC0 && marker <= 0xCF && marker != 0xC4 && marker != 0xC8 && marker != 0xCC;
}

// The length of the segment whose marker is at `pos` (marker bytes included), or 0 when it runs
// past the data.
size_t SegmentLength(std::span<const uint8_t> data, size_t pos) {
  if (data.size() - pos < 4) return 0;
  const size_t length = size_t(data[pos + 2]) << 8 | data[pos + 3];
  // Does the whole segment, with its two length bytes, lie inside the data?
  if (length < 2 || length > data.size() - pos - 2) return 0;
  return length + 2;
}

}  // namespace

std::vector<uint8_t> StandaloneJpeg(std::span<const uint8_t> data) {
  std::vector<uint8_t> out;
  out.reserve(data.size());
  bool started = false;
  size_t pos = 0;
  while (data.size() - pos >= 2 && data[pos] == 0xFF) {
    const uint8_t marker = data[pos + 1];
    if (marker == 0xFF) {  // a fill byte
      ++pos;
      continue;
    }
    if (marker == kSoi || marker == kEoi) {
      if (marker == kSoi && !started) out.insert(out.end(), {0xFF, kSoi});
      started = started || marker == kSoi;
      pos += 2;
      continue;
    }
    if (!started) break;
    if (FrameHeader(marker) || marker == kSos) {
      out.insert(out.end(), data.begin() + pos, data.end());
      return out;
    }
    const size_t length = Standalone(marker) ? 2 : SegmentLength(data, pos);
    if (length == 0) break;
    out.insert(out.end(), data.begin() + pos, data.begin() + pos + length);
    pos += length;
  }
  return {data.begin(), data.end()};
}

std::vector<uint8_t> JoinJpegTables(std::span<const uint8_t> tables,
                                    std::span<const uint8_t> frame) {
  std::vector<uint8_t> joined(tables.begin(), tables.end());
  joined.insert(joined.end(), frame.begin(), frame.end());
  return StandaloneJpeg(joined);
}

std::optional<JpegFrame> ReadJpegFrame(std::span<const uint8_t> jpeg) {
  if (jpeg.size() < 2 || jpeg[0] != 0xFF || jpeg[1] != kSoi) return std::nullopt;
  size_t pos = 2;
  while (jpeg.size() - pos >= 2) {
    if (jpeg[pos] != 0xFF) return std::nullopt;
    const uint8_t marker = jpeg[pos + 1];
    if (marker == 0xFF) {
      ++pos;
      continue;
    }
    if (marker == kSos || marker == kEoi) return std::nullopt;
    if (Standalone(marker)) {
      pos += 2;
      continue;
    }
    const size_t length = SegmentLength(jpeg, pos);
    if (length == 0) return std::nullopt;
    if (FrameHeader(marker)) {
      // Precision, height, width, component count: 6 bytes after the length.
      if (length < 10) return std::nullopt;
      const uint8_t* f = jpeg.data() + pos + 4;
      return JpegFrame{marker, f[0], uint16_t(f[3] << 8 | f[4]), uint16_t(f[1] << 8 | f[2]), f[5]};
    }
    pos += length;
  }
  return std::nullopt;
}

}  // namespace swf
