#include "swf_reader.h"

#include <zlib.h>

#include <cstring>

namespace standin::swf {

uint8_t CheckedReader::U8() {
  bitCount_ = 0;
  if (Remaining() < 1) throw SwfError("unexpected end of data");
  return data_[pos_++];
}

uint16_t CheckedReader::U16() {
  bitCount_ = 0;
  if (Remaining() < 2) throw SwfError("unexpected end of data");
  uint16_t v = uint16_t(data_[pos_] | (data_[pos_ + 1] << 8));
  pos_ += 2;
  return v;
}

uint32_t CheckedReader::U32() {
  bitCount_ = 0;
  if (Remaining() < 4) throw SwfError("unexpected end of data");
  uint32_t v = uint32_t(data_[pos_]) | uint32_t(data_[pos_ + 1]) << 8 |
               uint32_t(data_[pos_ + 2]) << 16 | uint32_t(data_[pos_ + 3]) << 24;
  pos_ += 4;
  return v;
}

std::span<const uint8_t> CheckedReader::Bytes(size_t count) {
  bitCount_ = 0;
  if (count > Remaining()) throw SwfError("unexpected end of data");
  auto out = data_.subspan(pos_, count);
  pos_ += count;
  return out;
}

std::string CheckedReader::String() {
  bitCount_ = 0;
  if (Remaining() == 0) throw SwfError("unterminated string");
  const uint8_t* begin = data_.data() + pos_;
  const void* nul = std::memchr(begin, 0, Remaining());
  if (!nul) throw SwfError("unterminated string");
  size_t length = static_cast<const uint8_t*>(nul) - begin;
  std::string s(reinterpret_cast<const char*>(begin), length);
  pos_ += length + 1;
  return s;
}

uint32_t CheckedReader::UB(unsigned bits) {
  if (bits > 32) throw SwfError("bit field too wide");
  uint32_t v = 0;
  for (unsigned i = 0; i < bits; ++i) {
    if (bitCount_ == 0) {
      if (Remaining() < 1) throw SwfError("unexpected end of data");
      bitBuffer_ = data_[pos_++];
      bitCount_ = 8;
    }
    --bitCount_;
    v = (v << 1) | ((bitBuffer_ >> bitCount_) & 1u);
  }
  return v;
}

int32_t CheckedReader::SB(unsigned bits) {
  uint32_t v = UB(bits);
  if (bits > 0 && bits < 32 && (v & (1u << (bits - 1)))) v |= ~0u << bits;  // sign-extend
  return static_cast<int32_t>(v);
}

Header ReadHeader(std::span<const uint8_t> bytes) {
  if (bytes.size() < 8) throw SwfError("file shorter than the SWF header");
  Header h;
  if (bytes[1] != 'W' || bytes[2] != 'S') throw SwfError("not a SWF file");
  if (bytes[0] == 'F') {
    h.compressed = false;
  } else if (bytes[0] == 'C') {
    h.compressed = true;
  } else if (bytes[0] == 'Z') {
    throw SwfError("LZMA-compressed SWF is not supported");
  } else {
    throw SwfError("not a SWF file");
  }
  h.version = bytes[3];
  h.fileLength = uint32_t(bytes[4]) | uint32_t(bytes[5]) << 8 | uint32_t(bytes[6]) << 16 |
                 uint32_t(bytes[7]) << 24;
  if (h.fileLength < 8) throw SwfError("FileLength smaller than the header");
  if (h.compressed && h.version < 6) throw SwfError("CWS needs SWF version 6 or later");
  return h;
}

namespace {

// The body after the 8-byte header: exactly fileLength - 8 bytes, inflated for CWS.
std::vector<uint8_t> InflateBody(std::span<const uint8_t> input, size_t expected) {
  std::vector<uint8_t> out(expected);
  z_stream zs{};
  if (inflateInit(&zs) != Z_OK) throw SwfError("zlib initialisation failed");
  zs.next_in = const_cast<Bytef*>(input.data());
  zs.avail_in = static_cast<uInt>(input.size());
  zs.next_out = out.data();
  zs.avail_out = static_cast<uInt>(out.size());
  int rc = inflate(&zs, Z_FINISH);
  size_t produced = out.size() - zs.avail_out;
  inflateEnd(&zs);
  // Exactly FileLength bytes and a complete zlib stream, nothing else.
  if (rc == Z_STREAM_END && produced == expected) return out;
  if (rc == Z_DATA_ERROR || rc == Z_NEED_DICT || rc == Z_MEM_ERROR)
    throw SwfError("corrupt zlib data");
  if (produced < expected) throw SwfError("compressed data shorter than FileLength");
  throw SwfError("compressed data longer than FileLength");
}

Rect ReadRect(CheckedReader& r) {
  Rect rect;
  unsigned n = r.UB(5);
  rect.xMin = r.SB(n);
  rect.xMax = r.SB(n);
  rect.yMin = r.SB(n);
  rect.yMax = r.SB(n);
  r.AlignToByte();
  return rect;
}

enum TagCode : uint16_t {
  kTagEnd = 0,
  kTagShowFrame = 1,
  kTagSetBackgroundColor = 9,
  kTagDoAction = 12,
};

}  // namespace

std::vector<ActionRecord> ReadActions(std::span<const uint8_t> bytes) {
  CheckedReader r(bytes);
  std::vector<ActionRecord> list;
  for (;;) {
    uint8_t code = r.U8();
    if (code == kActionEnd) return list;
    ActionRecord a;
    a.code = code;
    if (code >= 0x80) {
      uint16_t length = r.U16();
      auto payload = r.Bytes(length);
      a.payload.assign(payload.begin(), payload.end());
    }
    list.push_back(std::move(a));
  }
}

Movie ReadMovie(std::span<const uint8_t> bytes) {
  Movie movie;
  movie.header = ReadHeader(bytes);
  size_t bodyLength = movie.header.fileLength - 8;
  if (movie.header.fileLength > kMaxMovieSize) throw SwfError("movie too large");

  std::vector<uint8_t> inflated;
  std::span<const uint8_t> body;
  if (movie.header.compressed) {
    inflated = InflateBody(bytes.subspan(8), bodyLength);
    body = inflated;
  } else {
    if (bytes.size() - 8 < bodyLength) throw SwfError("file shorter than FileLength");
    body = bytes.subspan(8, bodyLength);
  }

  CheckedReader r(body);
  movie.frameSize = ReadRect(r);
  movie.frameRate = r.U16();
  movie.frameCount = r.U16();

  Frame pending;
  for (;;) {
    if (r.AtEnd()) throw SwfError("missing End tag");
    uint16_t codeAndLength = r.U16();
    uint16_t code = codeAndLength >> 6;
    uint32_t length = codeAndLength & 0x3F;
    if (length == 0x3F) length = r.U32();
    if (length > r.Remaining()) throw SwfError("tag runs past the end of the file");
    auto payload = r.Bytes(length);
    switch (code) {
      case kTagEnd:
        if (!pending.actions.empty() || movie.frames.empty())
          movie.frames.push_back(std::move(pending));
        return movie;
      case kTagShowFrame:
        movie.frames.push_back(std::move(pending));
        pending = Frame{};
        break;
      case kTagSetBackgroundColor: {
        if (payload.size() < 3) throw SwfError("SetBackgroundColor too short");
        movie.backgroundColor = uint32_t(payload[0]) << 16 | uint32_t(payload[1]) << 8 | payload[2];
        break;
      }
      case kTagDoAction:
        pending.actions.push_back(ReadActions(payload));
        break;
      default:
        break;  // outside the played subset: skipped by its length
    }
  }
}

}  // namespace standin::swf
