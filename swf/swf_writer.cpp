#include "swf/swf_writer.h"

#include <zlib.h>

#include <cstring>
#include <limits>

namespace swf {

void BitWriter::U8(uint8_t v) {
  Align();
  out_.push_back(v);
}

void BitWriter::U16(uint16_t v) {
  U8(uint8_t(v));
  U8(uint8_t(v >> 8));
}

void BitWriter::U32(uint32_t v) {
  for (int i = 0; i < 4; ++i) U8(uint8_t(v >> (8 * i)));
}

void BitWriter::Bytes(const std::vector<uint8_t>& bytes) {
  Align();
  out_.insert(out_.end(), bytes.begin(), bytes.end());
}

void BitWriter::String(const std::string& s) {
  if (s.find('\0') != std::string::npos) throw SwfError("string holds a NUL");
  Align();
  out_.insert(out_.end(), s.begin(), s.end());
  out_.push_back(0);
}

void BitWriter::UB(uint32_t value, unsigned bits) {
  if (bits > 32 || (bits < 32 && (value >> bits) != 0))
    throw SwfError("value too wide for its field");
  for (unsigned i = bits; i-- > 0;) {
    if (bitsUsed_ == 0) out_.push_back(0);
    if ((value >> i) & 1u) out_.back() |= uint8_t(0x80u >> bitsUsed_);
    bitsUsed_ = (bitsUsed_ + 1) % 8;
  }
}

void BitWriter::SB(int32_t value, unsigned bits) {
  if (bits == 0) {
    if (value != 0) throw SwfError("value too wide for its field");
    return;
  }
  if (bits < 32) {
    const int64_t limit = int64_t(1) << (bits - 1);
    if (value < -limit || value >= limit) throw SwfError("value too wide for its field");
  }
  UB(bits == 32 ? uint32_t(value) : uint32_t(value) & ((1u << bits) - 1), bits);
}

void BitWriter::Align() { bitsUsed_ = 0; }

unsigned SignedBits(std::initializer_list<int32_t> values) {
  unsigned bits = 0;
  for (int32_t v : values) {
    if (v == 0) continue;
    // Bits of the magnitude (one's complement for negatives), plus the sign.
    uint32_t magnitude = v < 0 ? ~uint32_t(v) : uint32_t(v);
    bits = std::max(bits, UnsignedBits(magnitude) + 1);
  }
  return bits;
}

unsigned UnsignedBits(uint32_t value) {
  unsigned bits = 0;
  while (value) {
    ++bits;
    value >>= 1;
  }
  return bits;
}

namespace {

// A bit count for a field of `width` bits (UB5 holds at most 31).
unsigned CountField(unsigned bits, unsigned width) {
  if (bits >= (1u << width)) throw SwfError("value too wide for its field");
  return bits;
}

}  // namespace

void WriteRect(BitWriter& w, const Rect& r) {
  unsigned n = CountField(SignedBits({r.xMin, r.xMax, r.yMin, r.yMax}), 5);
  w.UB(n, 5);
  w.SB(r.xMin, n);
  w.SB(r.xMax, n);
  w.SB(r.yMin, n);
  w.SB(r.yMax, n);
  w.Align();
}

void WriteMatrix(BitWriter& w, const Matrix& m) {
  w.UB(m.hasScale, 1);
  if (m.hasScale) {
    unsigned n = CountField(SignedBits({m.scaleX, m.scaleY}), 5);
    w.UB(n, 5);
    w.SB(m.scaleX, n);
    w.SB(m.scaleY, n);
  }
  w.UB(m.hasRotate, 1);
  if (m.hasRotate) {
    unsigned n = CountField(SignedBits({m.rotateSkew0, m.rotateSkew1}), 5);
    w.UB(n, 5);
    w.SB(m.rotateSkew0, n);
    w.SB(m.rotateSkew1, n);
  }
  unsigned n = CountField(SignedBits({m.translateX, m.translateY}), 5);
  w.UB(n, 5);
  w.SB(m.translateX, n);
  w.SB(m.translateY, n);
  w.Align();
}

void WriteColorTransform(BitWriter& w, const ColorTransform& c) {
  unsigned n = 0;
  for (int i = 0; i < 4; ++i) {
    if (c.hasMult) n = std::max(n, SignedBits({c.mult[i]}));
    if (c.hasAdd) n = std::max(n, SignedBits({c.add[i]}));
  }
  n = CountField(n, 4);
  w.UB(c.hasAdd, 1);
  w.UB(c.hasMult, 1);
  w.UB(n, 4);
  if (c.hasMult)
    for (int16_t v : c.mult) w.SB(v, n);
  if (c.hasAdd)
    for (int16_t v : c.add) w.SB(v, n);
  w.Align();
}

namespace {

std::vector<uint8_t> PushPayload(const std::vector<PushValue>& values) {
  BitWriter w;
  for (const PushValue& v : values) {
    w.U8(v.type);
    switch (v.type) {
      case PushValue::kString:
        w.String(v.string);
        break;
      case PushValue::kFloat: {
        float f = static_cast<float>(v.number);
        uint32_t bits;
        std::memcpy(&bits, &f, 4);
        w.U32(bits);
        break;
      }
      case PushValue::kNull:
      case PushValue::kUndefined:
        break;
      case PushValue::kRegister:
      case PushValue::kBool:
      case PushValue::kConstant8:
        if (v.integer > 0xFF) throw SwfError("Push value too wide for its type");
        w.U8(uint8_t(v.integer));
        break;
      case PushValue::kDouble: {
        uint64_t bits;
        std::memcpy(&bits, &v.number, 8);
        w.U32(uint32_t(bits >> 32));
        w.U32(uint32_t(bits));
        break;
      }
      case PushValue::kInteger:
        w.U32(v.integer);
        break;
      case PushValue::kConstant16:
        if (v.integer > 0xFFFF) throw SwfError("Push value too wide for its type");
        w.U16(uint16_t(v.integer));
        break;
      default:
        throw SwfError("unknown Push type");
    }
  }
  return w.Take();
}

// The payload of a record of code >= 0x80, from its decoded fields where the code is known.
std::vector<uint8_t> ActionPayload(const ActionRecord& a) {
  BitWriter w;
  switch (a.code) {
    case kActionGotoFrame:
      w.U16(a.frame);
      break;
    case kActionGetUrl:
      w.String(a.url);
      w.String(a.target);
      break;
    case kActionSetTarget:
      w.String(a.target);
      break;
    case kActionGetUrl2:
      w.U8(a.getUrl2Flags);
      break;
    case kActionConstantPool:
      if (a.constants.size() > 0xFFFF) throw SwfError("too many constants");
      w.U16(uint16_t(a.constants.size()));
      for (const auto& c : a.constants) w.String(c);
      break;
    case kActionPush:
      return PushPayload(a.values);
    case kActionJump:
    case kActionIf:
      w.U16(0);
      break;  // the offset is filled in once every record is sized
    default:
      return a.payload;
  }
  return w.Take();
}

}  // namespace

std::vector<uint8_t> WriteActions(const ActionList& actions) {
  std::vector<std::vector<uint8_t>> payloads;
  std::vector<size_t> starts;  // of each record, then of the closing 00
  size_t at = 0;
  for (const ActionRecord& a : actions) {
    starts.push_back(at);
    if (a.code == kActionEnd) throw SwfError("action code 0 inside a list");
    // A code below 0x80 has no length field: a payload would be lost.
    if (a.code < 0x80 && !a.payload.empty()) throw SwfError("payload on an action without one");
    payloads.push_back(a.code >= 0x80 ? ActionPayload(a) : std::vector<uint8_t>{});
    if (payloads.back().size() > 0xFFFF) throw SwfError("action payload over 64 KiB");
    at += a.code >= 0x80 ? 3 + payloads.back().size() : 1;
  }
  starts.push_back(at);
  BitWriter w;
  for (size_t i = 0; i < actions.size(); ++i) {
    const ActionRecord& a = actions[i];
    w.U8(a.code);
    if (a.code < 0x80) continue;
    if (a.code == kActionJump || a.code == kActionIf) {
      if (a.branchTarget > actions.size()) throw SwfError("branch past the end of its list");
      int64_t offset = int64_t(starts[a.branchTarget]) - int64_t(starts[i + 1]);
      if (offset < INT16_MIN || offset > INT16_MAX) throw SwfError("branch too far");
      uint16_t bits = uint16_t(int16_t(offset));
      payloads[i] = {uint8_t(bits), uint8_t(bits >> 8)};
    }
    w.U16(uint16_t(payloads[i].size()));
    w.Bytes(payloads[i]);
  }
  w.U8(kActionEnd);
  return w.Take();
}

std::vector<uint8_t> Deflate(const std::vector<uint8_t>& data, int level) {
  uLongf size = compressBound(uLong(data.size()));
  std::vector<uint8_t> packed(size);
  if (compress2(packed.data(), &size, data.data(), uLong(data.size()), level) != Z_OK)
    throw SwfError("zlib compression failed");
  packed.resize(size);
  return packed;
}

namespace {

void WriteColor(BitWriter& w, Rgba color, bool withAlpha) {
  w.U8(uint8_t(color >> 16));
  w.U8(uint8_t(color >> 8));
  w.U8(uint8_t(color));
  if (withAlpha) w.U8(uint8_t(color >> 24));
}

// DefineShape and DefineShape2 store RGB: a colour that is not opaque needs DefineShape3.
void WriteShapeColor(BitWriter& w, Rgba color, int version) {
  if (version < 3 && color >> 24 != 0xFF) throw SwfError("colour alpha needs DefineShape3");
  WriteColor(w, color, version >= 3);
}

void WriteStyleCount(BitWriter& w, size_t count, bool extended) {
  if (count < 0xFF || (!extended && count == 0xFF)) {
    w.U8(uint8_t(count));
  } else {
    if (!extended || count > 0xFFFF) throw SwfError("too many shape styles");
    w.U8(0xFF);
    w.U16(uint16_t(count));
  }
}

void WriteFillStyles(BitWriter& w, const std::vector<FillStyle>& styles, int version) {
  WriteStyleCount(w, styles.size(), version >= 2);
  for (const FillStyle& s : styles) {
    w.U8(s.type);
    if (s.type == FillStyle::kSolid) {
      WriteShapeColor(w, s.color, version);
    } else if (s.IsBitmap()) {
      w.U16(s.bitmapId);
      WriteMatrix(w, s.matrix);
    } else {
      throw SwfError("unsupported fill style");
    }
  }
}

void WriteLineStyles(BitWriter& w, const std::vector<LineStyle>& styles, int version) {
  WriteStyleCount(w, styles.size(), true);
  for (const LineStyle& s : styles) {
    w.U16(s.width);
    WriteShapeColor(w, s.color, version);
  }
}

std::vector<uint8_t> ShapePayload(const DefineShape& shape) {
  if (shape.version < 1 || shape.version > 3) throw SwfError("DefineShape version 1 to 3");
  BitWriter w;
  w.U16(shape.id);
  WriteRect(w, shape.bounds);
  WriteFillStyles(w, shape.fillStyles, shape.version);
  WriteLineStyles(w, shape.lineStyles, shape.version);
  size_t fillCount = shape.fillStyles.size(), lineCount = shape.lineStyles.size();
  unsigned fillBits = CountField(UnsignedBits(uint32_t(fillCount)), 4);
  unsigned lineBits = CountField(UnsignedBits(uint32_t(lineCount)), 4);
  w.UB(fillBits, 4);
  w.UB(lineBits, 4);
  auto styleIndex = [&](uint32_t index, size_t count, unsigned bits) {
    if (index > count) throw SwfError("shape style index out of range");
    w.UB(index, bits);
  };
  for (const ShapeRecord& r : shape.records) {
    switch (r.kind) {
      case ShapeRecord::kStyleChange: {
        const unsigned flags = (r.hasNewStyles ? 0x10 : 0) | (r.lineStyle ? 0x08 : 0) |
                               (r.fillStyle1 ? 0x04 : 0) | (r.fillStyle0 ? 0x02 : 0) |
                               (r.hasMoveTo ? 0x01 : 0);
        // No flags would read as the end of the shape.
        if (flags == 0) throw SwfError("style change record that changes nothing");
        if (r.hasNewStyles && shape.version < 2)
          throw SwfError("new shape styles need DefineShape2 or later");
        w.UB(0, 1);
        w.UB(flags, 5);
        if (r.hasMoveTo) {
          unsigned n = CountField(SignedBits({r.moveX, r.moveY}), 5);
          w.UB(n, 5);
          w.SB(r.moveX, n);
          w.SB(r.moveY, n);
        }
        if (r.fillStyle0) styleIndex(*r.fillStyle0, fillCount, fillBits);
        if (r.fillStyle1) styleIndex(*r.fillStyle1, fillCount, fillBits);
        if (r.lineStyle) styleIndex(*r.lineStyle, lineCount, lineBits);
        if (r.hasNewStyles) {
          WriteFillStyles(w, r.newFillStyles, shape.version);
          WriteLineStyles(w, r.newLineStyles, shape.version);
          fillCount = r.newFillStyles.size();
          lineCount = r.newLineStyles.size();
          fillBits = CountField(UnsignedBits(uint32_t(fillCount)), 4);
          lineBits = CountField(UnsignedBits(uint32_t(lineCount)), 4);
          w.UB(fillBits, 4);
          w.UB(lineBits, 4);
        }
        break;
      }
      case ShapeRecord::kStraightEdge: {
        unsigned n = std::max(2u, SignedBits({r.dx, r.dy}));
        w.UB(1, 1);
        w.UB(1, 1);
        w.UB(CountField(n - 2, 4), 4);
        if (r.dx != 0 && r.dy != 0) {
          w.UB(1, 1);
          w.SB(r.dx, n);
          w.SB(r.dy, n);
        } else {
          w.UB(0, 1);
          w.UB(r.dx == 0, 1);  // vertical
          w.SB(r.dx == 0 ? r.dy : r.dx, n);
        }
        break;
      }
      case ShapeRecord::kCurvedEdge: {
        unsigned n = std::max(2u, SignedBits({r.dx, r.dy, r.anchorDx, r.anchorDy}));
        w.UB(1, 1);
        w.UB(0, 1);
        w.UB(CountField(n - 2, 4), 4);
        w.SB(r.dx, n);
        w.SB(r.dy, n);
        w.SB(r.anchorDx, n);
        w.SB(r.anchorDy, n);
        break;
      }
    }
  }
  w.UB(0, 6);  // EndShape
  w.Align();
  return w.Take();
}

std::vector<uint8_t> Button2Payload(const DefineButton2& b) {
  BitWriter w;
  w.U16(b.id);
  w.U8(b.trackAsMenu ? 1 : 0);
  BitWriter records;
  for (const ButtonRecord& r : b.records) {
    if ((r.states & 0x0F) == 0 || (r.states & ~0x0F))
      throw SwfError("button record needs one of the four states, and only those");
    records.U8(uint8_t(r.states | (r.blendMode ? 0x20 : 0)));
    records.U16(r.characterId);
    records.U16(r.depth);
    WriteMatrix(records, r.matrix);
    WriteColorTransform(records, r.colorTransform);
    if (r.blendMode) records.U8(*r.blendMode);
  }
  records.U8(0);
  const size_t offset = b.actions.empty() ? 0 : 2 + records.bytes().size();
  if (offset > 0xFFFF) throw SwfError("button records over 64 KiB");
  w.U16(uint16_t(offset));
  w.Bytes(records.bytes());
  for (size_t i = 0; i < b.actions.size(); ++i) {
    std::vector<uint8_t> actions = WriteActions(b.actions[i].actions);
    const bool last = i + 1 == b.actions.size();
    if (!last && 4 + actions.size() > 0xFFFF) throw SwfError("button action over 64 KiB");
    w.U16(last ? 0 : uint16_t(4 + actions.size()));
    w.U16(b.actions[i].conditions);
    w.Bytes(actions);
  }
  return w.Take();
}

std::vector<uint8_t> PlaceObject2Payload(const PlaceObject2& p) {
  if (!p.hasClipActions && !p.clipActions.empty())
    throw SwfError("clip actions without their flag");
  BitWriter w;
  const uint8_t flags = (p.hasClipActions ? 0x80 : 0) | (p.clipDepth ? 0x40 : 0) |
                        (p.name ? 0x20 : 0) | (p.ratio ? 0x10 : 0) | (p.colorTransform ? 0x08 : 0) |
                        (p.matrix ? 0x04 : 0) | (p.characterId ? 0x02 : 0) | (p.move ? 0x01 : 0);
  w.U8(flags);
  w.U16(p.depth);
  if (p.characterId) w.U16(*p.characterId);
  if (p.matrix) WriteMatrix(w, *p.matrix);
  if (p.colorTransform) WriteColorTransform(w, *p.colorTransform);
  if (p.ratio) w.U16(*p.ratio);
  if (p.name) w.String(*p.name);
  if (p.clipDepth) w.U16(*p.clipDepth);
  if (p.hasClipActions) w.Bytes(p.clipActions);
  return w.Take();
}

std::vector<uint8_t> JpegPayload(const DefineBitsJpeg& b) {
  BitWriter w;
  w.U16(b.id);
  if (b.version == 3) {
    if (b.image.size() > UINT32_MAX) throw SwfError("image too large");
    w.U32(uint32_t(b.image.size()));
    w.Bytes(b.image);
    w.Bytes(b.alphaZlib);
  } else if (b.version == 1 || b.version == 2) {
    if (!b.alphaZlib.empty()) throw SwfError("alpha data needs DefineBitsJPEG3");
    w.Bytes(b.image);
  } else {
    throw SwfError("DefineBits version 1, 2 or 3");
  }
  return w.Take();
}

std::vector<uint8_t> LosslessPayload(const DefineBitsLossless& b) {
  if (b.version != 1 && b.version != 2) throw SwfError("DefineBitsLossless version 1 or 2");
  BitWriter w;
  w.U16(b.id);
  w.U8(b.format);
  w.U16(b.width);
  w.U16(b.height);
  if (b.format == DefineBitsLossless::kPalette) {
    if (b.colorTableSize < 1 || b.colorTableSize > 256)
      throw SwfError("colour table of 1 to 256 entries");
    w.U8(uint8_t(b.colorTableSize - 1));
  } else if (b.format != DefineBitsLossless::kRgb555 && b.format != DefineBitsLossless::kRgb32) {
    throw SwfError("unsupported lossless bitmap format");
  }
  w.Bytes(b.zlibData);
  return w.Take();
}

void WriteTag(BitWriter& w, uint16_t code, const std::vector<uint8_t>& payload,
              bool longForm = false) {
  if (payload.size() > UINT32_MAX) throw SwfError("tag too large");
  if (payload.size() < 0x3F && !longForm) {
    w.U16(uint16_t(code << 6 | payload.size()));
  } else {
    w.U16(uint16_t(code << 6 | 0x3F));
    w.U32(uint32_t(payload.size()));
  }
  w.Bytes(payload);
}

struct TagWriter {
  BitWriter& w;
  void operator()(const DefineBitsJpeg& b) const {
    static const uint16_t kCodes[] = {kTagDefineBitsJpeg2, kTagDefineBits, kTagDefineBitsJpeg2,
                                      kTagDefineBitsJpeg3};
    WriteTag(w, kCodes[b.version >= 1 && b.version <= 3 ? b.version : 0], JpegPayload(b), true);
  }
  void operator()(const DefineBitsLossless& b) const {
    WriteTag(w, b.version == 2 ? kTagDefineBitsLossless2 : kTagDefineBitsLossless,
             LosslessPayload(b), true);
  }
  void operator()(const DefineShape& s) const {
    static const uint16_t kCodes[] = {kTagDefineShape, kTagDefineShape, kTagDefineShape2,
                                      kTagDefineShape3};
    WriteTag(w, kCodes[s.version >= 1 && s.version <= 3 ? s.version : 0], ShapePayload(s));
  }
  void operator()(const DefineButton2& b) const {
    WriteTag(w, kTagDefineButton2, Button2Payload(b));
  }
  void operator()(const PlaceObject2& p) const {
    WriteTag(w, kTagPlaceObject2, PlaceObject2Payload(p));
  }
  void operator()(const RemoveObject2& r) const {
    WriteTag(w, kTagRemoveObject2, {uint8_t(r.depth), uint8_t(r.depth >> 8)});
  }
};

}  // namespace

std::vector<uint8_t> WriteMovie(const Movie& movie) {
  if (movie.frames.size() > 0xFFFF) throw SwfError("more than 65535 frames");
  if (movie.header.compressed && movie.header.version < 6)
    throw SwfError("CWS needs SWF version 6 or later");
  BitWriter body;
  WriteRect(body, movie.frameSize);
  body.U16(movie.frameRate);
  body.U16(uint16_t(movie.frames.size()));
  if (movie.fileAttributes) {
    BitWriter p;
    p.U32(*movie.fileAttributes);
    WriteTag(body, kTagFileAttributes, p.bytes());
  }
  if (movie.backgroundColor) {
    BitWriter p;
    WriteColor(p, *movie.backgroundColor, false);
    WriteTag(body, kTagSetBackgroundColor, p.bytes());
  }
  if (movie.jpegTables) WriteTag(body, kTagJpegTables, *movie.jpegTables);
  for (const Frame& frame : movie.frames) {
    for (const Tag& tag : frame.tags) std::visit(TagWriter{body}, tag);
    for (const ActionList& list : frame.actions) WriteTag(body, kTagDoAction, WriteActions(list));
    WriteTag(body, kTagShowFrame, {});
  }
  WriteTag(body, kTagEnd, {});

  std::vector<uint8_t> bytes = body.Take();
  if (bytes.size() > UINT32_MAX - 8) throw SwfError("movie too large");
  BitWriter file;
  file.U8(movie.header.compressed ? 'C' : 'F');
  file.U8('W');
  file.U8('S');
  file.U8(movie.header.version);
  file.U32(uint32_t(bytes.size() + 8));
  std::vector<uint8_t> out = file.Take();
  if (movie.header.compressed) bytes = Deflate(bytes);
  out.insert(out.end(), bytes.begin(), bytes.end());
  return out;
}

}  // namespace swf
