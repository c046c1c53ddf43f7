// JPEG data as movies store it. A tables stream (quantisation and Huffman tables between their
// own SOI and EOI) may come before the image, either inside the same tag (DefineBitsJPEG2/3) or
// as the movie's JPEGTables beside a DefineBits frame; Flash runtimes read the two as one image.
// Standard decoders stop at the first EOI, so these helpers make one standalone JPEG by walking
// the markers, never by searching for byte patterns that may as well be table values.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <vector>

namespace swf {

// The image with every EOI and every SOI but the first removed from the markers before the frame
// header (or the first scan), and fill bytes there dropped; the rest byte for byte. Data whose
// markers cannot be walked up to a frame header or a scan is given back as it is, for the
// decoder to judge.
std::vector<uint8_t> StandaloneJpeg(std::span<const uint8_t> data);

// DefineBits: the movie's JPEGTables (may be empty) followed by the tag's frame, as one
// standalone JPEG.
std::vector<uint8_t> JoinJpegTables(std::span<const uint8_t> tables,
                                    std::span<const uint8_t> frame);

struct JpegFrame {
  uint8_t marker = 0;  // SOFn: C0 baseline, C1 extended, C2 progressive, C3 lossless...
  uint8_t precision = 0;
  uint16_t width = 0, height = 0;
  uint8_t components = 0;
};

// The frame header of a standalone JPEG, found by walking its segments from SOI; nothing when
// the markers end, run past the data or reach a scan first.
std::optional<JpegFrame> ReadJpegFrame(std::span<const uint8_t> jpeg);

}  // namespace swf
