// Page movies as other tools made them, laid out byte by byte (apart from the swf room's writer)
// for the tests of `pages` and `rescue`: bitmaps of every kind, shapes filled with them, sprites,
// placements with matrices, and tags outside our subset around them.
#pragma once

#include <zlib.h>

#include <cmath>
#include <cstdint>
#include <stdexcept>
#include <string>
#include <vector>

namespace oldmovie {

using Bytes = std::vector<uint8_t>;

inline void Append(Bytes& to, const Bytes& b) { to.insert(to.end(), b.begin(), b.end()); }
inline Bytes Cat(std::initializer_list<Bytes> parts) {
  Bytes out;
  for (const auto& p : parts) Append(out, p);
  return out;
}
inline Bytes U16(uint16_t v) { return {uint8_t(v), uint8_t(v >> 8)}; }
inline Bytes U32(uint32_t v) {
  return {uint8_t(v), uint8_t(v >> 8), uint8_t(v >> 16), uint8_t(v >> 24)};
}

inline Bytes Zlib(const Bytes& data) {
  uLongf size = compressBound(uLong(data.size()));
  Bytes packed(size);
  if (compress2(packed.data(), &size, data.data(), uLong(data.size()), 9) != Z_OK)
    throw std::runtime_error("compress2 failed");
  packed.resize(size);
  return packed;
}

// MSB-first bit fields, padded to a byte by Take().
class Bits {
 public:
  Bits& UB(uint32_t v, unsigned n) {
    for (unsigned i = n; i-- > 0;) {
      if (used_ == 0) out_.push_back(0);
      if (v >> i & 1) out_.back() |= uint8_t(0x80 >> used_);
      used_ = (used_ + 1) % 8;
    }
    return *this;
  }
  Bits& SB(int32_t v, unsigned n) { return UB(uint32_t(v) & (n == 32 ? ~0u : (1u << n) - 1), n); }
  Bytes Take() {
    used_ = 0;
    return std::move(out_);
  }

 private:
  Bytes out_;
  unsigned used_ = 0;
};

inline Bytes Rect(int32_t x0, int32_t x1, int32_t y0, int32_t y1) {
  return Bits().UB(31, 5).SB(x0, 31).SB(x1, 31).SB(y0, 31).SB(y1, 31).Take();
}

// Scale (and skew) as real numbers, translation in twips.
inline Bytes Matrix(double sx, double sy, int32_t tx = 0, int32_t ty = 0, double r0 = 0,
                    double r1 = 0) {
  Bits b;
  b.UB(1, 1)
      .UB(31, 5)
      .SB(int32_t(std::lround(sx * 65536)), 31)
      .SB(int32_t(std::lround(sy * 65536)), 31);
  if (r0 != 0 || r1 != 0) {
    b.UB(1, 1)
        .UB(31, 5)
        .SB(int32_t(std::lround(r0 * 65536)), 31)
        .SB(int32_t(std::lround(r1 * 65536)), 31);
  } else {
    b.UB(0, 1);
  }
  b.UB(31, 5).SB(tx, 31).SB(ty, 31);
  return b.Take();
}

inline Bytes Tag(uint16_t code, const Bytes& payload) {
  Bytes out;
  if (payload.size() < 0x3F) {
    Append(out, U16(uint16_t(code << 6 | payload.size())));
  } else {
    Append(out, U16(uint16_t(code << 6 | 0x3F)));
    Append(out, U32(uint32_t(payload.size())));
  }
  Append(out, payload);
  return out;
}

// A rectangle of w x h twips at (0, 0), filled with bitmap `bitmapId` through `fillMatrix`
// (type 0x41 clipped, 0x40 repeating), as DefineShape of `version` 1 to 4.
inline Bytes Shape(uint16_t id, int32_t w, int32_t h, uint16_t bitmapId, const Bytes& fillMatrix,
                   int version = 1, uint8_t fillType = 0x41) {
  static const uint16_t kCodes[] = {0, 2, 22, 32, 83};
  Bytes p = Cat({U16(id), Rect(0, w, 0, h)});
  if (version == 4) Append(p, Cat({Rect(0, w, 0, h), {0}}));
  // A solid fill and a gradient before the bitmap, as drawing tools leave them.
  const Bytes color = version >= 3 ? Bytes{1, 2, 3, 255} : Bytes{1, 2, 3};
  Append(p, {3, 0x00});
  Append(p, color);
  Append(p, {0x10});
  Append(p, Matrix(1, 1));
  Append(p, {2, 0});
  Append(p, color);
  Append(p, {255});
  Append(p, color);
  Append(p, {fillType});
  Append(p, U16(bitmapId));
  Append(p, fillMatrix);
  if (version == 4) {
    Append(p, {1, 20, 0, 0x00, 0x00, 0, 0, 0, 255});  // one LINESTYLE2: width, flags, colour
  } else {
    Append(p, {1, 20, 0});
    Append(p, color);
  }
  Bits b;
  b.UB(2, 4).UB(1, 4);                                            // fill bits, line bits
  b.UB(0, 1).UB(0x05, 5).UB(31, 5).SB(0, 31).SB(0, 31).UB(3, 2);  // MoveTo, fill 1 = style 3
  for (auto [dx, dy] : {std::pair{w, 0}, {0, h}, {-w, 0}, {0, -h}})
    b.UB(1, 1).UB(1, 1).UB(29, 4).UB(1, 1).SB(dx, 31).SB(dy, 31);  // general straight edges
  b.UB(0, 6);
  Append(p, b.Take());
  return Tag(kCodes[version], p);
}

inline Bytes PlaceObject2(uint16_t depth, uint16_t id, const Bytes& matrix) {
  return Tag(26, Cat({{0x06}, U16(depth), U16(id), matrix}));
}
inline Bytes PlaceObject3(uint16_t depth, uint16_t id, const Bytes& matrix) {
  // HasCharacter, HasMatrix; second flags: HasClassName (a name before the character).
  return Tag(70, Cat({{0x06, 0x08}, U16(depth), {'P', 'a', 'g', 'e', 0}, U16(id), matrix}));
}
inline Bytes RemoveObject2(uint16_t depth) { return Tag(28, U16(depth)); }
inline Bytes ShowFrame() { return Tag(1, {}); }

inline Bytes Sprite(uint16_t id, const Bytes& tags) {
  return Tag(39, Cat({U16(id), U16(1), tags, Tag(0, {})}));
}

inline Bytes DefineBits(uint16_t id, const Bytes& frame) { return Tag(6, Cat({U16(id), frame})); }
inline Bytes JpegTables(const Bytes& tables) { return Tag(8, tables); }
inline Bytes DefineBitsJpeg2(uint16_t id, const Bytes& image) {
  return Tag(21, Cat({U16(id), image}));
}
inline Bytes DefineBitsJpeg3(uint16_t id, const Bytes& jpeg, const Bytes& alpha) {
  return Tag(35, Cat({U16(id), U32(uint32_t(jpeg.size())), jpeg, Zlib(alpha)}));
}
// Pixels as the tag stores them: premultiplied ARGB (version 2) or XRGB (version 1).
inline Bytes DefineBitsLossless(uint16_t id, int version, uint16_t w, uint16_t h,
                                const Bytes& argb) {
  return Tag(version == 2 ? 36 : 20, Cat({U16(id), {5}, U16(w), U16(h), Zlib(argb)}));
}

// What page movies carry beside their picture, none of it in our subset: a font, a text, a
// sound, an action block of a newer version (DoABC) and actions of codes no reader knows.
inline Bytes Surroundings() {
  return Cat({Tag(48, Cat({U16(90), Bytes(40, 0x2A)})),                         // DefineFont2
              Tag(37, Cat({U16(91), Rect(0, 2000, 0, 400), Bytes(12, 0x41)})),  // DefineEditText
              Tag(14, Cat({U16(92), Bytes(30, 0x55)})),                         // DefineSound
              Tag(82, Cat({U32(1), {'f', 0}, Bytes(50, 0x10)})),                // DoABC
              Tag(12, {0x8E, 4, 0, 1, 2, 3, 4, 0xF0, 0x2C, 0})});  // DoAction, unknown codes
}

// The whole movie: signature, version, FileLength, a stage of w x h pixels, 24 fps, the tags,
// End. CWS compresses from byte 8.
inline Bytes Movie(const Bytes& tags, int stageW = 1200, int stageH = 1600, bool compressed = false,
                   uint8_t version = 10) {
  Bytes body = Cat({Rect(0, stageW * 20, 0, stageH * 20), {0, 24}, U16(1), tags, Tag(0, {})});
  Bytes file = {uint8_t(compressed ? 'C' : 'F'), 'W', 'S', version};
  Append(file, U32(uint32_t(body.size() + 8)));
  Append(file, compressed ? Zlib(body) : body);
  return file;
}

// JPEG segments: marker, then a length counting itself.
inline Bytes Segment(uint8_t marker, const Bytes& body) {
  const size_t length = body.size() + 2;
  return Cat({{0xFF, marker, uint8_t(length >> 8), uint8_t(length)}, body});
}

// A JPEG's markers with the given frame size (no decoder would show it; enough for a scan).
inline Bytes SizedJpeg(uint16_t w, uint16_t h) {
  return Cat(
      {{0xFF, 0xD8},
       Segment(0xDB, Bytes(65, 1)),
       Segment(0xC0, {8, uint8_t(h >> 8), uint8_t(h), uint8_t(w >> 8), uint8_t(w), 1, 1, 0x11, 0}),
       Segment(0xC4, Bytes(20, 0)),
       Segment(0xDA, {1, 1, 0, 0, 0x3F, 0}),
       {0x12, 0x34, 0xFF, 0x00, 0x56, 0xFF, 0xD9}});
}

// A PNG signature and IHDR of the given size.
inline Bytes SizedPng(uint32_t w, uint32_t h) {
  Bytes b = {0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A, 0, 0, 0, 13, 'I', 'H', 'D', 'R'};
  for (uint32_t v : {w, h})
    for (int s : {24, 16, 8, 0}) b.push_back(uint8_t(v >> s));
  Append(b, {8, 6, 0, 0, 0, 0, 0, 0, 0});
  return b;
}

}  // namespace oldmovie
