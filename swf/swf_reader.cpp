#include "swf/swf_reader.h"

#include <zlib.h>

#include <algorithm>
#include <cstring>
#include <set>

#include "swf/jpeg.h"

namespace swf {

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

std::vector<uint8_t> Inflate(std::span<const uint8_t> zlib, uint64_t expected, uint64_t cap) {
  if (expected > cap) throw SwfError("inflated size above the limit");
  std::vector<uint8_t> out;
  z_stream zs{};
  if (inflateInit(&zs) != Z_OK) throw SwfError("zlib initialisation failed");
  struct End {
    z_stream* zs;
    ~End() { inflateEnd(zs); }
  } end{&zs};
  zs.next_in = const_cast<Bytef*>(zlib.data());
  // Inputs beyond 4 GiB cannot reach here: movies are capped far below.
  zs.avail_in = static_cast<uInt>(std::min<size_t>(zlib.size(), UINT32_MAX));
  int rc = Z_OK;
  size_t produced = 0;
  while (rc != Z_STREAM_END) {
    if (produced == expected) {
      // Room for one more byte tells "longer than expected" from "ends right here".
      uint8_t extra;
      zs.next_out = &extra;
      zs.avail_out = 1;
      rc = inflate(&zs, Z_NO_FLUSH);
      if (zs.avail_out == 0) throw SwfError("zlib data longer than expected");
    } else {
      // Grow by what has arrived so far (at least 64 KiB), never straight to the claim.
      size_t step = std::max<size_t>(64 * 1024, produced);
      size_t target = size_t(std::min<uint64_t>(expected, uint64_t(produced) + step));
      out.resize(target);
      zs.next_out = out.data() + produced;
      zs.avail_out = static_cast<uInt>(target - produced);
      rc = inflate(&zs, Z_NO_FLUSH);
      produced = target - zs.avail_out;
    }
    if (rc == Z_STREAM_END) break;
    if (rc == Z_BUF_ERROR && zs.avail_in == 0) throw SwfError("zlib data shorter than expected");
    if (rc != Z_OK && rc != Z_BUF_ERROR) throw SwfError("corrupt zlib data");
  }
  if (produced != expected) throw SwfError("zlib data shorter than expected");
  out.resize(produced);
  return out;
}

uint64_t LosslessDataSize(const DefineBitsLossless& bitmap) {
  auto padded = [](uint64_t rowBytes) { return (rowBytes + 3) / 4 * 4; };
  uint64_t w = bitmap.width, h = bitmap.height;
  switch (bitmap.format) {
    case DefineBitsLossless::kPalette:
      return uint64_t(bitmap.colorTableSize) * (bitmap.version == 2 ? 4 : 3) + padded(w) * h;
    case DefineBitsLossless::kRgb555:
      return padded(w * 2) * h;
    case DefineBitsLossless::kRgb32:
      return w * 4 * h;
  }
  throw SwfError("unsupported lossless bitmap format");
}

std::vector<uint8_t> InflateLossless(const DefineBitsLossless& bitmap, uint64_t cap) {
  return Inflate(bitmap.zlibData, LosslessDataSize(bitmap), cap);
}

ImageKind ImageKindOf(std::span<const uint8_t> image) {
  auto startsWith = [&](std::initializer_list<uint8_t> magic) {
    return image.size() >= magic.size() && std::equal(magic.begin(), magic.end(), image.begin());
  };
  if (startsWith({0xFF, 0xD8}) || startsWith({0xFF, 0xD9, 0xFF, 0xD8})) return ImageKind::kJpeg;
  if (startsWith({0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A})) return ImageKind::kPng;
  if (startsWith({'G', 'I', 'F', '8', '7', 'a'}) || startsWith({'G', 'I', 'F', '8', '9', 'a'}))
    return ImageKind::kGif;
  return ImageKind::kUnknown;
}

std::vector<uint8_t> StandaloneImage(const DefineBitsJpeg& bitmap,
                                     std::span<const uint8_t> jpegTables) {
  if (bitmap.version == 1) return JoinJpegTables(jpegTables, bitmap.image);
  if (bitmap.kind != ImageKind::kJpeg) return bitmap.image;
  return StandaloneJpeg(bitmap.image);
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

Matrix ReadMatrix(CheckedReader& r) {
  Matrix m;
  m.hasScale = r.UB(1);
  if (m.hasScale) {
    unsigned n = r.UB(5);
    m.scaleX = r.SB(n);
    m.scaleY = r.SB(n);
  }
  m.hasRotate = r.UB(1);
  if (m.hasRotate) {
    unsigned n = r.UB(5);
    m.rotateSkew0 = r.SB(n);
    m.rotateSkew1 = r.SB(n);
  }
  unsigned n = r.UB(5);
  m.translateX = r.SB(n);
  m.translateY = r.SB(n);
  r.AlignToByte();
  return m;
}

ColorTransform ReadColorTransform(CheckedReader& r) {
  ColorTransform c;
  c.hasAdd = r.UB(1);
  c.hasMult = r.UB(1);
  unsigned n = r.UB(4);
  if (c.hasMult)
    for (auto& v : c.mult) v = int16_t(r.SB(n));
  if (c.hasAdd)
    for (auto& v : c.add) v = int16_t(r.SB(n));
  r.AlignToByte();
  return c;
}

namespace {

// Every parsed element (frame, tag, action, pushed value, shape or button record) costs a few
// hundred bytes at most; the budget keeps a movie made of tiny records from multiplying its
// size many times over in memory.
constexpr size_t kMaxElements = size_t(1) << 18;

class Budget {
 public:
  void Take(size_t n = 1) {
    if (n > left_) throw SwfError("movie too complex");
    left_ -= n;
  }

 private:
  size_t left_ = kMaxElements;
};

void DecodeAction(ActionRecord& a, Budget& budget) {
  CheckedReader r(a.payload);
  switch (a.code) {
    case kActionGotoFrame:
      a.frame = r.U16();
      break;
    case kActionGetUrl:
      a.url = r.String();
      a.target = r.String();
      break;
    case kActionSetTarget:
      a.target = r.String();
      break;
    case kActionGetUrl2:
      a.getUrl2Flags = r.U8();
      break;
    case kActionConstantPool: {
      uint16_t count = r.U16();
      budget.Take(count);
      for (uint16_t i = 0; i < count; ++i) a.constants.push_back(r.String());
      break;
    }
    case kActionPush:
      while (!r.AtEnd()) {
        budget.Take();
        PushValue v;
        v.type = static_cast<PushValue::Type>(r.U8());
        switch (v.type) {
          case PushValue::kString:
            v.string = r.String();
            break;
          case PushValue::kFloat: {
            uint32_t bits = r.U32();
            float f;
            std::memcpy(&f, &bits, 4);
            v.number = f;
            break;
          }
          case PushValue::kNull:
          case PushValue::kUndefined:
            break;
          case PushValue::kRegister:
          case PushValue::kBool:
          case PushValue::kConstant8:
            v.integer = r.U8();
            break;
          case PushValue::kDouble: {
            uint64_t high = r.U32(), low = r.U32();
            uint64_t bits = high << 32 | low;
            std::memcpy(&v.number, &bits, 8);
            break;
          }
          case PushValue::kInteger:
            v.integer = r.U32();
            break;
          case PushValue::kConstant16:
            v.integer = r.U16();
            break;
          default:
            throw SwfError("unknown Push type");
        }
        if (v.type == PushValue::kBool && v.integer > 1) v.integer = 1;
        a.values.push_back(std::move(v));
      }
      break;
    default:
      break;
  }
}

ActionList ReadActionList(std::span<const uint8_t> bytes, Budget& budget) {
  CheckedReader r(bytes);
  ActionList list;
  std::vector<size_t> starts;  // byte offset of each record, then of the closing 00
  std::vector<int16_t> branches;
  for (;;) {
    starts.push_back(r.Position());
    uint8_t code = r.U8();
    if (code == kActionEnd) break;
    budget.Take();
    ActionRecord a;
    a.code = code;
    if (code >= 0x80) {
      uint16_t length = r.U16();
      auto payload = r.Bytes(length);
      a.payload.assign(payload.begin(), payload.end());
    }
    DecodeAction(a, budget);
    if (code == kActionJump || code == kActionIf) {
      CheckedReader p(a.payload);
      branches.push_back(p.S16());
    } else {
      branches.push_back(0);
    }
    list.push_back(std::move(a));
  }
  for (size_t i = 0; i < list.size(); ++i) {
    if (list[i].code != kActionJump && list[i].code != kActionIf) continue;
    // Offsets count from the end of the branching record; they must land on a record.
    int64_t landing = int64_t(starts[i + 1]) + branches[i];
    auto at = std::lower_bound(starts.begin(), starts.end(), landing);
    if (landing < 0 || at == starts.end() || int64_t(*at) != landing)
      throw SwfError("branch lands outside the action records");
    list[i].branchTarget = size_t(at - starts.begin());
  }
  return list;
}

Rgba ReadColor(CheckedReader& r, bool withAlpha) {
  uint32_t red = r.U8(), green = r.U8(), blue = r.U8();
  uint32_t alpha = withAlpha ? r.U8() : 0xFF;
  return alpha << 24 | red << 16 | green << 8 | blue;
}

std::vector<FillStyle> ReadFillStyles(CheckedReader& r, int version) {
  size_t count = r.U8();
  if (count == 0xFF && version >= 2) count = r.U16();
  std::vector<FillStyle> styles;
  for (size_t i = 0; i < count; ++i) {
    FillStyle s;
    s.type = r.U8();
    if (s.type == FillStyle::kSolid) {
      s.color = ReadColor(r, version >= 3);
    } else if (s.IsBitmap()) {
      s.bitmapId = r.U16();
      s.matrix = ReadMatrix(r);
    } else {
      throw SwfError("unsupported fill style");
    }
    styles.push_back(s);
  }
  return styles;
}

std::vector<LineStyle> ReadLineStyles(CheckedReader& r, int version) {
  size_t count = r.U8();
  if (count == 0xFF) count = r.U16();
  std::vector<LineStyle> styles;
  for (size_t i = 0; i < count; ++i) {
    LineStyle s;
    s.width = r.U16();
    s.color = ReadColor(r, version >= 3);
    styles.push_back(s);
  }
  return styles;
}

DefineShape ReadShape(CheckedReader& r, int version, Budget& budget) {
  DefineShape shape;
  shape.version = version;
  shape.id = r.U16();
  shape.bounds = ReadRect(r);
  shape.fillStyles = ReadFillStyles(r, version);
  shape.lineStyles = ReadLineStyles(r, version);
  budget.Take(shape.fillStyles.size() + shape.lineStyles.size());
  unsigned fillBits = r.UB(4), lineBits = r.UB(4);
  size_t fillCount = shape.fillStyles.size(), lineCount = shape.lineStyles.size();
  for (;;) {
    ShapeRecord rec;
    if (r.UB(1) == 0) {
      unsigned flags = r.UB(5);
      if (flags == 0) break;  // EndShape
      budget.Take();
      const bool newStyles = flags & 0x10, lineStyle = flags & 0x08, fill1 = flags & 0x04,
                 fill0 = flags & 0x02, moveTo = flags & 0x01;
      rec.kind = ShapeRecord::kStyleChange;
      if (moveTo) {
        unsigned n = r.UB(5);
        rec.hasMoveTo = true;
        rec.moveX = r.SB(n);
        rec.moveY = r.SB(n);
      }
      // Style indexes refer to the styles in force before any new ones of this record.
      auto styleIndex = [&](unsigned bits, size_t count) {
        uint32_t index = r.UB(bits);
        if (index > count) throw SwfError("shape style index out of range");
        return index;
      };
      if (fill0) rec.fillStyle0 = styleIndex(fillBits, fillCount);
      if (fill1) rec.fillStyle1 = styleIndex(fillBits, fillCount);
      if (lineStyle) rec.lineStyle = styleIndex(lineBits, lineCount);
      if (newStyles) {
        if (version < 2) throw SwfError("new shape styles need DefineShape2 or later");
        rec.hasNewStyles = true;
        rec.newFillStyles = ReadFillStyles(r, version);
        rec.newLineStyles = ReadLineStyles(r, version);
        budget.Take(rec.newFillStyles.size() + rec.newLineStyles.size());
        fillCount = rec.newFillStyles.size();
        lineCount = rec.newLineStyles.size();
        fillBits = r.UB(4);
        lineBits = r.UB(4);
      }
    } else {
      budget.Take();
      bool straight = r.UB(1);
      unsigned n = r.UB(4) + 2;
      if (straight) {
        rec.kind = ShapeRecord::kStraightEdge;
        if (r.UB(1)) {  // general line
          rec.dx = r.SB(n);
          rec.dy = r.SB(n);
        } else if (r.UB(1)) {  // vertical
          rec.dy = r.SB(n);
        } else {
          rec.dx = r.SB(n);
        }
      } else {
        rec.kind = ShapeRecord::kCurvedEdge;
        rec.dx = r.SB(n);
        rec.dy = r.SB(n);
        rec.anchorDx = r.SB(n);
        rec.anchorDy = r.SB(n);
      }
    }
    shape.records.push_back(std::move(rec));
  }
  r.AlignToByte();
  return shape;
}

DefineButton2 ReadButton2(std::span<const uint8_t> payload, Budget& budget) {
  CheckedReader r(payload);
  DefineButton2 button;
  button.id = r.U16();
  button.trackAsMenu = r.U8() & 1;
  const size_t offsetField = r.Position();
  const uint16_t actionOffset = r.U16();
  for (;;) {
    uint8_t flags = r.U8();
    if (flags == 0) break;
    budget.Take();
    ButtonRecord rec;
    rec.states = flags & 0x0F;
    rec.characterId = r.U16();
    rec.depth = r.U16();
    rec.matrix = ReadMatrix(r);
    rec.colorTransform = ReadColorTransform(r);
    if (flags & 0x10) throw SwfError("button filters are not supported");
    if (flags & 0x20) rec.blendMode = r.U8();
    button.records.push_back(std::move(rec));
  }
  if (actionOffset == 0) return button;
  // Does the first condition action lie after the records, inside the tag?
  if (offsetField + actionOffset < r.Position()) throw SwfError("button actions overlap records");
  if (offsetField + actionOffset > payload.size()) throw SwfError("button actions past the tag");
  r.Skip(offsetField + actionOffset - r.Position());
  for (;;) {
    const size_t start = r.Position();
    const uint16_t size = r.U16();
    ButtonCondAction cond;
    cond.conditions = r.U16();
    std::span<const uint8_t> actions;
    if (size == 0) {
      actions = r.Rest();
    } else {
      if (size < 4 || size > payload.size() - start) throw SwfError("bad button action size");
      actions = r.Bytes(size - 4);
    }
    budget.Take();
    cond.actions = ReadActionList(actions, budget);
    button.actions.push_back(std::move(cond));
    if (size == 0) break;
  }
  return button;
}

PlaceObject2 ReadPlaceObject2(std::span<const uint8_t> payload) {
  CheckedReader r(payload);
  PlaceObject2 p;
  uint8_t flags = r.U8();
  p.move = flags & 0x01;
  p.depth = r.U16();
  if (flags & 0x02) p.characterId = r.U16();
  if (flags & 0x04) p.matrix = ReadMatrix(r);
  if (flags & 0x08) p.colorTransform = ReadColorTransform(r);
  if (flags & 0x10) p.ratio = r.U16();
  if (flags & 0x20) p.name = r.String();
  if (flags & 0x40) p.clipDepth = r.U16();
  if (flags & 0x80) {
    p.hasClipActions = true;
    auto rest = r.Rest();
    p.clipActions.assign(rest.begin(), rest.end());
  }
  return p;
}

DefineBitsJpeg ReadJpeg(std::span<const uint8_t> payload, int version) {
  CheckedReader r(payload);
  DefineBitsJpeg b;
  b.version = version;
  b.id = r.U16();
  std::span<const uint8_t> image;
  if (version == 3) {
    uint32_t alphaOffset = r.U32();
    if (alphaOffset > r.Remaining()) throw SwfError("JPEG alpha offset past the tag");
    image = r.Bytes(alphaOffset);
    auto alpha = r.Rest();
    b.alphaZlib.assign(alpha.begin(), alpha.end());
  } else {
    image = r.Rest();
  }
  b.image.assign(image.begin(), image.end());
  b.kind = ImageKindOf(b.image);
  return b;
}

DefineBitsLossless ReadLossless(std::span<const uint8_t> payload, int version) {
  CheckedReader r(payload);
  DefineBitsLossless b;
  b.version = version;
  b.id = r.U16();
  b.format = r.U8();
  if (b.format != DefineBitsLossless::kPalette && b.format != DefineBitsLossless::kRgb555 &&
      b.format != DefineBitsLossless::kRgb32)
    throw SwfError("unsupported lossless bitmap format");
  b.width = r.U16();
  b.height = r.U16();
  if (b.format == DefineBitsLossless::kPalette) b.colorTableSize = uint16_t(r.U8() + 1);
  auto data = r.Rest();
  b.zlibData.assign(data.begin(), data.end());
  return b;
}

// The body after the 8-byte header: exactly fileLength - 8 bytes, inflated for CWS.
std::vector<uint8_t> InflateBody(std::span<const uint8_t> input, size_t expected) {
  try {
    return Inflate(input, expected, kMaxMovieSize);
  } catch (const SwfError& e) {
    const std::string what = e.what();
    if (what == "zlib data shorter than expected")
      throw SwfError("compressed data shorter than FileLength");
    if (what == "zlib data longer than expected")
      throw SwfError("compressed data longer than FileLength");
    throw;
  }
}

class CharacterTable {
 public:
  void Define(uint16_t id) {
    if (id == 0) throw SwfError("character id 0");
    if (!ids_.insert(id).second) throw SwfError("character defined twice");
  }
  void Use(uint16_t id) const {
    if (!ids_.count(id)) throw SwfError("character used before it is defined");
  }

 private:
  std::set<uint16_t> ids_;
};

}  // namespace

ActionList ReadActions(std::span<const uint8_t> bytes) {
  Budget budget;
  return ReadActionList(bytes, budget);
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

  Budget budget;
  CharacterTable characters;
  Frame pending;
  for (;;) {
    if (r.AtEnd()) throw SwfError("missing End tag");
    uint16_t codeAndLength = r.U16();
    uint16_t code = codeAndLength >> 6;
    uint32_t length = codeAndLength & 0x3F;
    if (length == 0x3F) length = r.U32();
    if (length > r.Remaining()) throw SwfError("tag runs past the end of the file");
    auto payload = r.Bytes(length);
    budget.Take();
    CheckedReader p(payload);
    switch (code) {
      case kTagEnd:
        // What follows the last ShowFrame is a frame of its own; End alone makes one only
        // when the header counts one (a movie of no frames stays so).
        if (!pending.actions.empty() || !pending.tags.empty() ||
            (movie.frames.empty() && movie.frameCount > 0))
          movie.frames.push_back(std::move(pending));
        return movie;
      case kTagShowFrame:
        movie.frames.push_back(std::move(pending));
        pending = Frame{};
        break;
      case kTagFileAttributes:
        if (payload.size() < 4) throw SwfError("FileAttributes too short");
        movie.fileAttributes = p.U32();
        break;
      case kTagSetBackgroundColor:
        if (payload.size() < 3) throw SwfError("SetBackgroundColor too short");
        movie.backgroundColor = ReadColor(p, false) & 0xFFFFFF;
        break;
      case kTagDoAction:
        pending.actions.push_back(ReadActionList(payload, budget));
        break;
      case kTagJpegTables:
        // One per movie; a second one would change pictures already defined.
        if (movie.jpegTables) throw SwfError("JPEGTables twice");
        movie.jpegTables.emplace(payload.begin(), payload.end());
        break;
      case kTagDefineBits:
      case kTagDefineBitsJpeg2:
      case kTagDefineBitsJpeg3: {
        DefineBitsJpeg b = ReadJpeg(payload, code == kTagDefineBitsJpeg3 ? 3
                                             : code == kTagDefineBits    ? 1
                                                                         : 2);
        characters.Define(b.id);
        pending.tags.push_back(std::move(b));
        break;
      }
      case kTagDefineBitsLossless:
      case kTagDefineBitsLossless2: {
        DefineBitsLossless b = ReadLossless(payload, code == kTagDefineBitsLossless2 ? 2 : 1);
        characters.Define(b.id);
        pending.tags.push_back(std::move(b));
        break;
      }
      case kTagDefineShape:
      case kTagDefineShape2:
      case kTagDefineShape3: {
        int version = code == kTagDefineShape ? 1 : code == kTagDefineShape2 ? 2 : 3;
        DefineShape shape = ReadShape(p, version, budget);
        characters.Define(shape.id);
        pending.tags.push_back(std::move(shape));
        break;
      }
      case kTagDefineButton2: {
        DefineButton2 button = ReadButton2(payload, budget);
        for (const auto& rec : button.records) characters.Use(rec.characterId);
        characters.Define(button.id);
        pending.tags.push_back(std::move(button));
        break;
      }
      case kTagPlaceObject2: {
        PlaceObject2 place = ReadPlaceObject2(payload);
        if (place.characterId) characters.Use(*place.characterId);
        pending.tags.push_back(std::move(place));
        break;
      }
      case kTagRemoveObject2:
        pending.tags.push_back(RemoveObject2{p.U16()});
        break;
      default:
        break;  // outside the subset: skipped by its length
    }
  }
}

}  // namespace swf
