#include "tools/picture_scan.h"

#include <zlib.h>

#include <algorithm>
#include <cmath>
#include <map>

#include "swf/jpeg.h"
#include "swf/swf_reader.h"

namespace pageturn {

namespace {

using swf::CheckedReader;
using swf::SwfError;

constexpr std::uint16_t kTagPlaceObject = 4, kTagRemoveObject = 5, kTagDefineSprite = 39,
                        kTagPlaceObject3 = 70, kTagDefineShape4 = 83;

// Sprites may place sprites, and a damaged movie may make that a loop: the walk of what the
// first frame shows ends at a depth and at a number of characters visited.
constexpr int kMaxNesting = 16;
constexpr std::size_t kMaxVisits = 100000;

// As much of a CWS body as inflates, up to `expected` bytes: a movie of another tool may claim
// a wrong length or end its stream early, and what came out before is still worth reading.
std::vector<std::uint8_t> InflateWhatThereIs(std::span<const std::uint8_t> zlib,
                                             std::size_t expected) {
  std::vector<std::uint8_t> out;
  z_stream zs{};
  if (inflateInit(&zs) != Z_OK) throw SwfError("zlib initialisation failed");
  struct End {
    z_stream* zs;
    ~End() { inflateEnd(zs); }
  } end{&zs};
  zs.next_in = const_cast<Bytef*>(zlib.data());
  zs.avail_in = static_cast<uInt>(std::min<std::size_t>(zlib.size(), UINT32_MAX));
  std::size_t produced = 0;
  while (produced < expected) {
    // Grow with what has arrived (at least 64 KiB), never straight to the claim.
    const std::size_t target =
        std::min(expected, produced + std::max<std::size_t>(64 * 1024, produced));
    out.resize(target);
    zs.next_out = out.data() + produced;
    zs.avail_out = static_cast<uInt>(target - produced);
    const int rc = inflate(&zs, Z_NO_FLUSH);
    produced = target - zs.avail_out;
    if (rc != Z_OK) break;  // the end, damage, or no more input
  }
  out.resize(produced);
  if (out.empty()) throw SwfError("compressed data does not inflate");
  return out;
}

std::vector<std::uint8_t> MovieBody(std::span<const std::uint8_t> bytes) {
  if (bytes.size() < 8) throw SwfError("file shorter than the SWF header");
  if (bytes[1] != 'W' || bytes[2] != 'S') throw SwfError("not a SWF file");
  if (bytes[0] == 'Z') throw SwfError("LZMA-compressed movie (ZWS)");
  if (bytes[0] != 'F' && bytes[0] != 'C') throw SwfError("not a SWF file");
  const std::uint32_t fileLength = std::uint32_t(bytes[4]) | std::uint32_t(bytes[5]) << 8 |
                                   std::uint32_t(bytes[6]) << 16 | std::uint32_t(bytes[7]) << 24;
  // A FileLength that cannot be true leaves the body as long as the data or the cap.
  std::size_t claimed = fileLength >= 8 ? fileLength - 8 : swf::kMaxMovieSize;
  claimed = std::min<std::size_t>(claimed, swf::kMaxMovieSize);
  const auto rest = bytes.subspan(8);
  if (bytes[0] == 'C') return InflateWhatThereIs(rest, claimed);
  return {rest.begin(), rest.begin() + std::min(claimed, rest.size())};
}

struct TPlacement {
  std::uint16_t characterId = 0;
  swf::Matrix matrix;
};
using TDisplayList = std::map<std::uint16_t, TPlacement>;  // by depth

struct TBitmapFill {
  std::uint16_t bitmapId = 0;
  swf::Matrix matrix;
};
struct TShape {
  double boundsArea = 0;  // twips squared
  std::vector<TBitmapFill> fills;
};

double Determinant(const swf::Matrix& m) {
  return std::fabs(double(m.scaleX) * m.scaleY - double(m.rotateSkew0) * m.rotateSkew1) /
         (65536.0 * 65536.0);
}

std::uint32_t BigEndian32(std::span<const std::uint8_t> b, std::size_t at) {
  return std::uint32_t(b[at]) << 24 | std::uint32_t(b[at + 1]) << 16 |
         std::uint32_t(b[at + 2]) << 8 | b[at + 3];
}

// The size an image's own header gives: JPEG frame header, PNG IHDR, GIF logical screen.
void ReadImageSize(std::span<const std::uint8_t> image, TMovieBitmap& bitmap) {
  switch (swf::ImageKindOf(image)) {
    case swf::ImageKind::kJpeg:
      if (auto frame = swf::ReadJpegFrame(swf::StandaloneJpeg(image))) {
        bitmap.width = frame->width;
        bitmap.height = frame->height;
      }
      break;
    case swf::ImageKind::kPng:
      if (image.size() >= 24 && std::equal(image.begin() + 12, image.begin() + 16, "IHDR")) {
        bitmap.width = BigEndian32(image, 16);
        bitmap.height = BigEndian32(image, 20);
      }
      break;
    case swf::ImageKind::kGif:
      if (image.size() >= 10) {
        bitmap.width = image[6] | image[7] << 8;
        bitmap.height = image[8] | image[9] << 8;
      }
      break;
    case swf::ImageKind::kUnknown:
      break;
  }
}

class TScanner {
 public:
  TMovieScan Scan(std::span<const std::uint8_t> bytes) {
    const std::vector<std::uint8_t> body = MovieBody(bytes);
    CheckedReader r(body);
    try {
      swf::ReadRect(r);
      r.Skip(4);  // frame rate and count
    } catch (const SwfError&) {
      throw SwfError("movie header cut short");
    }
    TDisplayList firstFrame;
    ScanTags(r, &firstFrame, true);
    for (TMovieBitmap& b : scan_.bitmaps) {
      if (b.code != swf::kTagDefineBits) continue;
      // DefineBits is sized once the movie's tables are known, wherever they come.
      const auto& image = std::get<swf::DefineBitsJpeg>(b.tag).image;
      const auto tables = scan_.jpegTables ? std::span<const std::uint8_t>(*scan_.jpegTables)
                                           : std::span<const std::uint8_t>();
      if (auto frame = swf::ReadJpegFrame(swf::JoinJpegTables(tables, image))) {
        b.width = frame->width;
        b.height = frame->height;
      }
    }
    Choose(firstFrame);
    return std::move(scan_);
  }

 private:
  // Reads tags up to End or the end of the data. The top level defines characters and builds the
  // first frame's display list; a sprite's body only builds its own.
  void ScanTags(CheckedReader& r, TDisplayList* firstFrame, bool topLevel) {
    bool frameDone = false;
    for (;;) {
      std::uint16_t code = 0;
      std::span<const std::uint8_t> payload;
      try {
        const std::uint16_t codeAndLength = r.U16();
        code = codeAndLength >> 6;
        std::uint32_t length = codeAndLength & 0x3F;
        if (length == 0x3F) length = r.U32();
        payload = r.Bytes(length);
      } catch (const SwfError&) {
        if (topLevel) scan_.cutShort = true;
        return;
      }
      if (code == swf::kTagEnd) return;
      try {
        if (code == swf::kTagShowFrame) {
          frameDone = true;
        } else if (DisplayListTag(code)) {
          if (!frameDone) Place(code, payload, *firstFrame);
        } else if (topLevel) {
          Define(code, payload);
        }
      } catch (const SwfError&) {
        // A damaged tag of its own: what it held is lost, the rest is still read.
      }
    }
  }

  static bool DisplayListTag(std::uint16_t code) {
    return code == kTagPlaceObject || code == swf::kTagPlaceObject2 || code == kTagPlaceObject3 ||
           code == kTagRemoveObject || code == swf::kTagRemoveObject2;
  }

  void Place(std::uint16_t code, std::span<const std::uint8_t> payload, TDisplayList& list) {
    CheckedReader p(payload);
    switch (code) {
      case kTagPlaceObject: {
        TPlacement placed;
        placed.characterId = p.U16();
        const std::uint16_t depth = p.U16();
        placed.matrix = swf::ReadMatrix(p);
        list[depth] = placed;
        break;
      }
      case swf::kTagPlaceObject2:
      case kTagPlaceObject3: {
        const std::uint8_t flags = p.U8();
        const std::uint8_t flags3 = code == kTagPlaceObject3 ? p.U8() : 0;
        const std::uint16_t depth = p.U16();
        const bool move = flags & 0x01, hasCharacter = flags & 0x02, hasMatrix = flags & 0x04;
        // PlaceObject3: HasClassName, or HasImage with a character, puts a class name first.
        if ((flags3 & 0x08) || ((flags3 & 0x10) && hasCharacter)) p.String();
        std::optional<std::uint16_t> character;
        if (hasCharacter) character = p.U16();
        std::optional<swf::Matrix> matrix;
        if (hasMatrix) matrix = swf::ReadMatrix(p);
        auto found = list.find(depth);
        if (character && (!move || found == list.end())) {
          list[depth] = TPlacement{*character, matrix.value_or(swf::Matrix{})};
        } else if (found != list.end()) {
          if (character) found->second.characterId = *character;
          if (matrix) found->second.matrix = *matrix;
        }
        break;
      }
      case kTagRemoveObject:
        p.U16();
        list.erase(p.U16());
        break;
      case swf::kTagRemoveObject2:
        list.erase(p.U16());
        break;
      default:
        break;
    }
  }

  void Define(std::uint16_t code, std::span<const std::uint8_t> payload) {
    CheckedReader p(payload);
    switch (code) {
      case swf::kTagJpegTables:
        if (!scan_.jpegTables) scan_.jpegTables.emplace(payload.begin(), payload.end());
        break;
      case swf::kTagDefineBits:
      case swf::kTagDefineBitsJpeg2:
      case swf::kTagDefineBitsJpeg3:
      case kTagDefineBitsJpeg4:
        DefineJpeg(code, p);
        break;
      case swf::kTagDefineBitsLossless:
      case swf::kTagDefineBitsLossless2:
        DefineLossless(code, p);
        break;
      case swf::kTagDefineShape:
      case swf::kTagDefineShape2:
      case swf::kTagDefineShape3:
      case kTagDefineShape4:
        DefineShape(code, p);
        break;
      case kTagDefineSprite: {
        const std::uint16_t id = p.U16();
        p.U16();  // frame count
        TDisplayList firstFrame;
        ScanTags(p, &firstFrame, false);
        if (!sprites_.count(id) && !Defined(id)) {
          std::vector<TPlacement>& placed = sprites_[id];
          for (const auto& [depth, placement] : firstFrame) placed.push_back(placement);
        }
        break;
      }
      default:
        break;
    }
  }

  bool Defined(std::uint16_t id) const {
    return bitmapIndex_.count(id) || shapes_.count(id) || sprites_.count(id);
  }

  void AddBitmap(TMovieBitmap bitmap, std::uint16_t id) {
    // A second definition of an id changes nothing, as in Flash runtimes.
    if (Defined(id)) return;
    bitmapIndex_[id] = scan_.bitmaps.size();
    scan_.bitmaps.push_back(std::move(bitmap));
  }

  void DefineJpeg(std::uint16_t code, CheckedReader& p) {
    swf::DefineBitsJpeg jpeg;
    jpeg.id = p.U16();
    jpeg.version = code == swf::kTagDefineBits ? 1 : code == swf::kTagDefineBitsJpeg2 ? 2 : 3;
    std::span<const std::uint8_t> image;
    if (jpeg.version == 3) {
      const std::uint32_t alphaOffset = p.U32();
      if (code == kTagDefineBitsJpeg4) p.U16();  // deblocking filter
      image = p.Bytes(alphaOffset);
      const auto alpha = p.Rest();
      jpeg.alphaZlib.assign(alpha.begin(), alpha.end());
    } else {
      image = p.Rest();
    }
    jpeg.image.assign(image.begin(), image.end());
    jpeg.kind = code == swf::kTagDefineBits ? swf::ImageKind::kJpeg : swf::ImageKindOf(image);
    TMovieBitmap bitmap;
    bitmap.code = code;
    if (code != swf::kTagDefineBits) ReadImageSize(image, bitmap);
    const std::uint16_t id = jpeg.id;
    bitmap.tag = std::move(jpeg);
    AddBitmap(std::move(bitmap), id);
  }

  void DefineLossless(std::uint16_t code, CheckedReader& p) {
    swf::DefineBitsLossless lossless;
    lossless.id = p.U16();
    lossless.version = code == swf::kTagDefineBitsLossless2 ? 2 : 1;
    lossless.format = p.U8();
    lossless.width = p.U16();
    lossless.height = p.U16();
    if (lossless.format == swf::DefineBitsLossless::kPalette)
      lossless.colorTableSize = std::uint16_t(p.U8() + 1);
    const auto data = p.Rest();
    lossless.zlibData.assign(data.begin(), data.end());
    TMovieBitmap bitmap;
    bitmap.code = code;
    bitmap.width = lossless.width;
    bitmap.height = lossless.height;
    const std::uint16_t id = lossless.id;
    bitmap.tag = std::move(lossless);
    AddBitmap(std::move(bitmap), id);
  }

  // Fill styles, noting the bitmap fills; gradients and solid colours are read past.
  static void ReadFills(CheckedReader& p, int version, TShape& shape) {
    std::size_t count = p.U8();
    if (count == 0xFF && version >= 2) count = p.U16();
    for (std::size_t i = 0; i < count; ++i) ReadFill(p, version, &shape);
  }

  static void ReadFill(CheckedReader& p, int version, TShape* shape) {
    const std::uint8_t type = p.U8();
    if (type == 0x00) {
      p.Skip(version >= 3 ? 4 : 3);
    } else if (type == 0x10 || type == 0x12 || type == 0x13) {
      swf::ReadMatrix(p);
      const std::size_t stops = p.U8() & 0x0F;
      p.Skip(stops * (version >= 3 ? 5 : 4));
      if (type == 0x13) p.Skip(2);  // focal point
    } else if (type >= 0x40 && type <= 0x43) {
      TBitmapFill fill;
      fill.bitmapId = p.U16();
      fill.matrix = swf::ReadMatrix(p);
      if (shape) shape->fills.push_back(fill);
    } else {
      throw SwfError("unknown fill style");
    }
  }

  static void ReadLines(CheckedReader& p, int version) {
    std::size_t count = p.U8();
    if (count == 0xFF) count = p.U16();
    for (std::size_t i = 0; i < count; ++i) {
      p.Skip(2);  // width
      if (version < 4) {
        p.Skip(version >= 3 ? 4 : 3);
        continue;
      }
      const std::uint16_t flags = p.U16();
      if ((flags >> 12 & 3) == 2) p.Skip(2);  // miter limit of a miter join
      if (flags & 0x0800) {
        ReadFill(p, version, nullptr);  // a filled line is no picture
      } else {
        p.Skip(4);
      }
    }
  }

  void DefineShape(std::uint16_t code, CheckedReader& p) {
    const int version = code == swf::kTagDefineShape    ? 1
                        : code == swf::kTagDefineShape2 ? 2
                        : code == swf::kTagDefineShape3 ? 3
                                                        : 4;
    const std::uint16_t id = p.U16();
    if (Defined(id)) return;
    TShape& shape = shapes_[id];
    const swf::Rect bounds = swf::ReadRect(p);
    shape.boundsArea = std::max(0.0, double(bounds.xMax) - bounds.xMin) *
                       std::max(0.0, double(bounds.yMax) - bounds.yMin);
    if (version == 4) {
      swf::ReadRect(p);  // edge bounds
      p.U8();
    }
    // What is read before a damaged part still counts.
    ReadFills(p, version, shape);
    ReadLines(p, version);
    unsigned fillBits = p.UB(4), lineBits = p.UB(4);
    for (;;) {
      if (p.UB(1) == 0) {
        const unsigned flags = p.UB(5);
        if (flags == 0) return;  // EndShape
        if (flags & 0x01) {
          const unsigned n = p.UB(5);
          p.SB(n);
          p.SB(n);
        }
        if (flags & 0x02) p.UB(fillBits);
        if (flags & 0x04) p.UB(fillBits);
        if (flags & 0x08) p.UB(lineBits);
        if (flags & 0x10) {
          ReadFills(p, version, shape);
          ReadLines(p, version);
          fillBits = p.UB(4);
          lineBits = p.UB(4);
        }
      } else {
        const bool straight = p.UB(1);
        const unsigned n = p.UB(4) + 2;
        if (straight) {
          if (p.UB(1)) {
            p.SB(n);
            p.SB(n);
          } else {
            p.UB(1);
            p.SB(n);
          }
        } else {
          for (int i = 0; i < 4; ++i) p.SB(n);
        }
      }
    }
  }

  // The largest stage area each shown bitmap takes, through shapes and sprites.
  void Show(std::uint16_t id, double scale, int nesting) {
    if (nesting > kMaxNesting || ++visits_ > kMaxVisits) return;
    if (auto b = bitmapIndex_.find(id); b != bitmapIndex_.end()) {
      const TMovieBitmap& bitmap = scan_.bitmaps[b->second];
      Consider(b->second, double(bitmap.width) * bitmap.height * 400 * scale);
    } else if (auto s = shapes_.find(id); s != shapes_.end()) {
      for (const TBitmapFill& fill : s->second.fills) {
        auto found = bitmapIndex_.find(fill.bitmapId);
        if (found == bitmapIndex_.end()) continue;
        const TMovieBitmap& bitmap = scan_.bitmaps[found->second];
        // A clipped fill shows no more than the shape, a tiled one counts one tile.
        double area = s->second.boundsArea;
        if (bitmap.width && bitmap.height)
          area = std::min(area, double(bitmap.width) * bitmap.height * Determinant(fill.matrix));
        Consider(found->second, area * scale);
      }
    } else if (auto sprite = sprites_.find(id); sprite != sprites_.end()) {
      for (const TPlacement& placed : sprite->second)
        Show(placed.characterId, scale * Determinant(placed.matrix), nesting + 1);
    }
  }

  void Consider(std::size_t index, double area) {
    if (area > bestArea_) {
      bestArea_ = area;
      scan_.picture = index;
      scan_.shown = true;
    }
  }

  void Choose(const TDisplayList& firstFrame) {
    for (const auto& [depth, placed] : firstFrame)
      Show(placed.characterId, Determinant(placed.matrix), 0);
    if (scan_.shown) return;
    double largest = -1;
    for (std::size_t i = 0; i < scan_.bitmaps.size(); ++i) {
      const double pixels = double(scan_.bitmaps[i].width) * scan_.bitmaps[i].height;
      if (pixels > largest) {
        largest = pixels;
        scan_.picture = i;
      }
    }
  }

  TMovieScan scan_;
  std::map<std::uint16_t, std::size_t> bitmapIndex_;
  std::map<std::uint16_t, TShape> shapes_;
  std::map<std::uint16_t, std::vector<TPlacement>> sprites_;
  double bestArea_ = 0;
  std::size_t visits_ = 0;
};

}  // namespace

std::string BitmapTagName(std::uint16_t code) {
  switch (code) {
    case swf::kTagDefineBits:
      return "DefineBits";
    case swf::kTagDefineBitsJpeg2:
      return "DefineBitsJPEG2";
    case swf::kTagDefineBitsJpeg3:
      return "DefineBitsJPEG3";
    case kTagDefineBitsJpeg4:
      return "DefineBitsJPEG4";
    case swf::kTagDefineBitsLossless:
      return "DefineBitsLossless";
    case swf::kTagDefineBitsLossless2:
      return "DefineBitsLossless2";
    default:
      return "tag " + std::to_string(code);
  }
}

TMovieScan ScanMoviePictures(std::span<const std::uint8_t> movie) { return TScanner().Scan(movie); }

}  // namespace pageturn
