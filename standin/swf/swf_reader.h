// The SWF container subset the stand-in runtime plays: header (FWS, and CWS through zlib), the
// bit-packed frame RECT, frame rate and count, and the tag records that drive a timeline
// (SetBackgroundColor, DoAction, ShowFrame, End). Every other tag is skipped by its length.
// Files are untrusted: every length and offset is checked before use and a malformed or
// truncated file is rejected with SwfError, never read outside its buffer.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <stdexcept>
#include <string>
#include <vector>

namespace standin::swf {

class SwfError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

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
  uint32_t U32();
  std::span<const uint8_t> Bytes(size_t count);
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

struct Rect {
  int32_t xMin = 0, xMax = 0, yMin = 0, yMax = 0;  // twips
};

// One AVM1 action record: code, and the payload of codes >= 0x80.
struct ActionRecord {
  uint8_t code = 0;
  std::vector<uint8_t> payload;
};

enum ActionCode : uint8_t {
  kActionEnd = 0x00,
  kActionNextFrame = 0x04,
  kActionPrevFrame = 0x05,
  kActionPlay = 0x06,
  kActionStop = 0x07,
  kActionPop = 0x17,
  kActionGetVariable = 0x1C,
  kActionSetVariable = 0x1D,
  kActionStringAdd = 0x21,
  kActionGetMember = 0x4E,
  kActionCallMethod = 0x52,
  kActionGotoFrame = 0x81,
  kActionGetUrl = 0x83,
  kActionConstantPool = 0x88,
  kActionSetTarget = 0x8B,
  kActionPush = 0x96,
  kActionGetUrl2 = 0x9A,
};

struct Frame {
  std::vector<std::vector<ActionRecord>> actions;  // DoAction lists, in file order
};

struct Header {
  bool compressed = false;
  uint8_t version = 0;
  uint32_t fileLength = 0;  // uncompressed length of the whole file, header included
};

struct Movie {
  Header header;
  Rect frameSize;
  uint16_t frameRate = 0;  // 8.8 fixed point
  uint16_t frameCount = 0;
  std::optional<uint32_t> backgroundColor;  // 0xRRGGBB
  std::vector<Frame> frames;                // one per ShowFrame
};

// The 8-byte header alone, as soon as that much has arrived. Rejects anything but FWS/CWS.
Header ReadHeader(std::span<const uint8_t> bytes);

// The whole movie. The uncompressed body must be exactly fileLength bytes long, and every tag
// must lie inside it. Limits the inflated size to kMaxMovieSize.
Movie ReadMovie(std::span<const uint8_t> bytes);

// Parses one action list (DoAction payload) up to its terminating 00.
std::vector<ActionRecord> ReadActions(std::span<const uint8_t> bytes);

inline constexpr uint32_t kMaxMovieSize = 64u * 1024u * 1024u;

}  // namespace standin::swf
