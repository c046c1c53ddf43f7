// Reads the SWF subset of movie.h from untrusted bytes: header (FWS, and CWS through zlib),
// definitions, display-list tags and actions. Every length and offset is checked before use;
// a malformed or truncated file is rejected with SwfError, never read outside its buffer.
// Tags outside the subset are skipped by their length.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "swf/movie.h"

namespace swf {

// Reads little-endian integers, zero-terminated strings and MSB-first bit fields from a
// byte range; any read past the end raises SwfError.
class CheckedReader {
 public:
  explicit CheckedReader(std::span<const uint8_t> data) : data_(data) {}

  size_t Position() const { return pos_; }
  size_t Remaining() const { return data_.size() - pos_; }
  bool AtEnd() const { return pos_ == data_.size(); }

  uint8_t U8();
  uint16_t U16();
  int16_t S16() { return static_cast<int16_t>(U16()); }
  uint32_t U32();
  std::span<const uint8_t> Bytes(size_t count);
  std::span<const uint8_t> Rest() { return Bytes(Remaining()); }
  void Skip(size_t count) { Bytes(count); }
  // A zero-terminated string; the terminator must lie inside the range.
  std::string String();

  // Bit fields start at the next whole byte unless a bit read is in progress.
  uint32_t UB(unsigned bits);
  int32_t SB(unsigned bits);
  void AlignToByte() { bitCount_ = 0; }

 private:
  std::span<const uint8_t> data_;
  size_t pos_ = 0;
  uint8_t bitBuffer_ = 0;
  unsigned bitCount_ = 0;  // bits of bitBuffer_ not yet consumed
};

// The largest movie (uncompressed) and the largest inflated bitmap the reader accepts.
inline constexpr uint32_t kMaxMovieSize = 64u * 1024u * 1024u;
inline constexpr uint64_t kMaxBitmapBytes = 64u * 1024u * 1024u;

// The 8-byte header alone, as soon as that much has arrived. Rejects anything but FWS/CWS.
Header ReadHeader(std::span<const uint8_t> bytes);

// The whole movie. The uncompressed body must be exactly fileLength bytes long, every tag
// must lie inside it, character ids are unique and non-zero, and placed characters are
// defined before.
Movie ReadMovie(std::span<const uint8_t> bytes);

// One action list (a DoAction payload) up to its terminating 00.
ActionList ReadActions(std::span<const uint8_t> bytes);

Rect ReadRect(CheckedReader& r);
Matrix ReadMatrix(CheckedReader& r);
ColorTransform ReadColorTransform(CheckedReader& r);

ImageKind ImageKindOf(std::span<const uint8_t> image);

// The bytes an image decoder takes: for JPEG, one standalone image (see jpeg.h) of a leading
// tables stream and the frame, or for DefineBits of the movie's `jpegTables` and the frame;
// PNG and GIF as stored.
std::vector<uint8_t> StandaloneImage(const DefineBitsJpeg& bitmap,
                                     std::span<const uint8_t> jpegTables = {});

// Inflates a complete zlib stream to exactly `expected` bytes; more, less or damaged data is an
// SwfError, and so is an `expected` above `cap`. The output grows with the data inflated, not
// with `expected`, so a short stream claiming a huge size costs nothing.
std::vector<uint8_t> Inflate(std::span<const uint8_t> zlib, uint64_t expected, uint64_t cap);

// The size a lossless bitmap inflates to (colour table, then rows padded to 4 bytes), in 64
// bits so that no header can overflow it.
uint64_t LosslessDataSize(const DefineBitsLossless& bitmap);

// The inflated colour table and pixel rows of a lossless bitmap, at most `cap` bytes.
std::vector<uint8_t> InflateLossless(const DefineBitsLossless& bitmap,
                                     uint64_t cap = kMaxBitmapBytes);

}  // namespace swf
