// Lays out small SWF files byte by byte, apart from the swf writer, for tests of readers.
#pragma once

#include <zlib.h>

#include <cstdint>
#include <stdexcept>
#include <string>
#include <vector>

namespace swftest {

using Bytes = std::vector<uint8_t>;

class SwfBuilder {
 public:
  SwfBuilder& Tag(uint16_t code, const Bytes& payload, bool longForm = false) {
    if (payload.size() < 0x3F && !longForm) {
      U16(body_, uint16_t(code << 6 | payload.size()));
    } else {
      U16(body_, uint16_t(code << 6 | 0x3F));
      U32(body_, uint32_t(payload.size()));
    }
    body_.insert(body_.end(), payload.begin(), payload.end());
    return *this;
  }
  SwfBuilder& FileAttributes() { return Tag(69, {0, 0, 0, 0}); }
  SwfBuilder& Background(uint8_t r, uint8_t g, uint8_t b) { return Tag(9, {r, g, b}); }
  SwfBuilder& ShowFrame() { return Tag(1, {}); }
  SwfBuilder& End() { return Tag(0, {}); }
  SwfBuilder& DoAction(const Bytes& actions) {
    Bytes p = actions;
    p.push_back(0);
    return Tag(12, p);
  }
  SwfBuilder& FrameRate(uint16_t fixed88) {
    frameRate_ = fixed88;
    return *this;
  }
  SwfBuilder& FrameCount(uint16_t n) {
    frameCount_ = n;
    return *this;
  }

  // The whole file: "FWS" or "CWS" (zlib from byte 8), version 8, 550 x 400 px stage.
  Bytes Build(bool compressed) const {
    Bytes body = {0x78, 0x00, 0x05, 0x5F, 0x00, 0x00, 0x0F, 0xA0, 0x00};  // RECT 550 x 400 px
    U16(body, frameRate_);
    U16(body, frameCount_);
    body.insert(body.end(), body_.begin(), body_.end());
    Bytes file = {uint8_t(compressed ? 'C' : 'F'), 'W', 'S', 8};
    U32(file, uint32_t(body.size() + 8));
    if (!compressed) {
      file.insert(file.end(), body.begin(), body.end());
      return file;
    }
    uLongf size = compressBound(uLong(body.size()));
    Bytes packed(size);
    if (compress2(packed.data(), &size, body.data(), uLong(body.size()), 9) != Z_OK)
      throw std::runtime_error("compress2 failed");
    file.insert(file.end(), packed.begin(), packed.begin() + size);
    return file;
  }

  static void U16(Bytes& b, uint16_t v) {
    b.push_back(uint8_t(v));
    b.push_back(uint8_t(v >> 8));
  }
  static void U32(Bytes& b, uint32_t v) {
    for (int i = 0; i < 4; ++i) b.push_back(uint8_t(v >> (8 * i)));
  }

 private:
  Bytes body_;
  uint16_t frameRate_ = 0x1800;  // 24 fps
  uint16_t frameCount_ = 1;
};

// Action records.
inline Bytes Str(const std::string& s) {
  Bytes b(s.begin(), s.end());
  b.push_back(0);
  return b;
}
inline Bytes Cat(std::initializer_list<Bytes> parts) {
  Bytes out;
  for (const auto& p : parts) out.insert(out.end(), p.begin(), p.end());
  return out;
}
inline Bytes Record(uint8_t code, const Bytes& payload) {
  Bytes b = {code};
  SwfBuilder::U16(b, uint16_t(payload.size()));
  b.insert(b.end(), payload.begin(), payload.end());
  return b;
}
inline Bytes GetUrl(const std::string& url, const std::string& target) {
  return Record(0x83, Cat({Str(url), Str(target)}));
}
inline Bytes GotoFrame(uint16_t frame) {
  Bytes p;
  SwfBuilder::U16(p, frame);
  return Record(0x81, p);
}
inline Bytes PushString(const std::string& s) { return Record(0x96, Cat({{0}, Str(s)})); }
inline Bytes PushInt(int32_t v) {
  Bytes p = {7};
  SwfBuilder::U32(p, uint32_t(v));
  return Record(0x96, p);
}
inline const Bytes kStop = {0x07}, kPlay = {0x06}, kNextFrame = {0x04}, kPrevFrame = {0x05};

}  // namespace swftest
