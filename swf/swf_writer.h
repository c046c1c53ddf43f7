// Writes movies of the SWF subset of movie.h: what the reader reads back as the same
// structures. Values that the format cannot hold (a string with a NUL, a branch out of its list,
// a payload over 64 KiB or on a code below 0x80, a style index past its list, a field wider
// than its bit count, a colour's alpha in DefineShape/2, clip actions without their flag) are
// an SwfError, never a silently different file.
#pragma once

#include <cstdint>
#include <vector>

#include "swf/movie.h"

namespace swf {

// MSB-first bit fields after byte-aligned little-endian integers, as the format stores them.
class BitWriter {
 public:
  void U8(uint8_t v);
  void U16(uint16_t v);
  void U32(uint32_t v);
  void Bytes(const std::vector<uint8_t>& bytes);
  void String(const std::string& s);  // zero-terminated; a NUL inside is an SwfError
  void UB(uint32_t value, unsigned bits);
  void SB(int32_t value, unsigned bits);
  void Align();  // pads the bit field in progress to a whole byte

  const std::vector<uint8_t>& bytes() const { return out_; }
  std::vector<uint8_t> Take() { return std::move(out_); }

 private:
  std::vector<uint8_t> out_;
  unsigned bitsUsed_ = 0;  // bits of the last byte already written by a bit field
};

// The fewest bits that hold each value as a signed (SB) or unsigned (UB) field.
unsigned SignedBits(std::initializer_list<int32_t> values);
unsigned UnsignedBits(uint32_t value);

void WriteRect(BitWriter& w, const Rect& rect);
void WriteMatrix(BitWriter& w, const Matrix& matrix);
void WriteColorTransform(BitWriter& w, const ColorTransform& cx);

// One action list with its closing 00.
std::vector<uint8_t> WriteActions(const ActionList& actions);

// The whole file: header with the exact FileLength (CWS when header.compressed, zlib from byte
// 8), the frame RECT, rate and count (frames.size()), FileAttributes first when set, then
// SetBackgroundColor, then JPEGTables when set, then per frame its tags, its DoActions and
// ShowFrame; End last.
std::vector<uint8_t> WriteMovie(const Movie& movie);

// zlib data (a complete stream) of `data`, for lossless bitmaps and JPEG alpha.
std::vector<uint8_t> Deflate(const std::vector<uint8_t>& data, int level = 6);

}  // namespace swf
