// The SWF subset our book tooling writes and the stand-in plays, as plain structures: what the
// reader produces and the writer consumes. Coordinates are twips (1/20 pixel) as in the file.
#pragma once

#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string>
#include <variant>
#include <vector>

namespace swf {

class SwfError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

enum TagCode : uint16_t {
  kTagEnd = 0,
  kTagShowFrame = 1,
  kTagDefineShape = 2,
  kTagDefineBits = 6,
  kTagJpegTables = 8,
  kTagSetBackgroundColor = 9,
  kTagDoAction = 12,
  kTagDefineBitsLossless = 20,
  kTagDefineBitsJpeg2 = 21,
  kTagDefineShape2 = 22,
  kTagPlaceObject2 = 26,
  kTagRemoveObject2 = 28,
  kTagDefineShape3 = 32,
  kTagDefineButton2 = 34,
  kTagDefineBitsJpeg3 = 35,
  kTagDefineBitsLossless2 = 36,
  kTagFileAttributes = 69,
};

enum ActionCode : uint8_t {
  kActionEnd = 0x00,
  kActionNextFrame = 0x04,
  kActionPrevFrame = 0x05,
  kActionPlay = 0x06,
  kActionStop = 0x07,
  kActionAdd = 0x0A,
  kActionEquals = 0x0E,
  kActionNot = 0x12,
  kActionPop = 0x17,
  kActionGetVariable = 0x1C,
  kActionSetVariable = 0x1D,
  kActionStringAdd = 0x21,
  kActionAdd2 = 0x47,
  kActionEquals2 = 0x49,
  kActionGetMember = 0x4E,
  kActionCallMethod = 0x52,
  kActionGotoFrame = 0x81,
  kActionGetUrl = 0x83,
  kActionConstantPool = 0x88,
  kActionSetTarget = 0x8B,
  kActionPush = 0x96,
  kActionJump = 0x99,
  kActionGetUrl2 = 0x9A,
  kActionIf = 0x9D,
};

struct Rect {
  int32_t xMin = 0, xMax = 0, yMin = 0, yMax = 0;
  bool operator==(const Rect&) const = default;
};

// x' = x*scaleX + y*rotateSkew1 + translateX; y' = x*rotateSkew0 + y*scaleY + translateY.
// Scale and skew are 16.16 fixed point as stored.
struct Matrix {
  bool hasScale = false;
  int32_t scaleX = 0x10000, scaleY = 0x10000;
  bool hasRotate = false;
  int32_t rotateSkew0 = 0, rotateSkew1 = 0;
  int32_t translateX = 0, translateY = 0;
  bool operator==(const Matrix&) const = default;
};

// CXFORMWITHALPHA: multiply terms are 8.8 fixed point (256 = 1.0), in the order R, G, B, A.
struct ColorTransform {
  bool hasMult = false;
  int16_t mult[4] = {256, 256, 256, 256};
  bool hasAdd = false;
  int16_t add[4] = {0, 0, 0, 0};
  bool operator==(const ColorTransform&) const = default;
};

// 0xAARRGGBB; colours read as RGB get alpha 0xFF.
using Rgba = uint32_t;

// One value of a Push action, typed as the file stores it.
struct PushValue {
  enum Type : uint8_t {
    kString = 0,
    kFloat = 1,
    kNull = 2,
    kUndefined = 3,
    kRegister = 4,
    kBool = 5,
    kDouble = 6,
    kInteger = 7,
    kConstant8 = 8,
    kConstant16 = 9,
  };
  Type type = kUndefined;
  std::string string;    // kString
  double number = 0;     // kFloat (exactly a float), kDouble
  uint32_t integer = 0;  // kRegister, kBool (0/1), kInteger (two's complement), kConstant8/16
  bool operator==(const PushValue&) const = default;
};

// One AVM1 action record. `code` and, for codes >= 0x80, the raw `payload` are always set; the
// fields the code uses are decoded (and checked) by the reader and encoded by the writer, which
// falls back to `payload` for codes it does not know.
struct ActionRecord {
  uint8_t code = 0;
  std::vector<uint8_t> payload;

  uint16_t frame = 0;                  // GotoFrame, 0-based
  std::string url, target;             // GetURL: both; SetTarget: target
  uint8_t getUrl2Flags = 0;            // GetURL2: b7 LoadVariables, b6 LoadTarget, b1-0 method
  std::vector<std::string> constants;  // ConstantPool
  std::vector<PushValue> values;       // Push
  // Jump, If: the index in the same list of the record the branch lands on (the list's size:
  // its end). The byte offset is derived from it on writing.
  size_t branchTarget = 0;

  bool operator==(const ActionRecord&) const = default;
};

using ActionList = std::vector<ActionRecord>;

// --- characters ---

enum class ImageKind { kJpeg, kPng, kGif, kUnknown };

// DefineBits (version 1: a JPEG frame that needs the movie's JPEGTables), DefineBitsJPEG2
// (version 2) or DefineBitsJPEG3 (version 3).
struct DefineBitsJpeg {
  uint16_t id = 0;
  int version = 2;
  std::vector<uint8_t> image;            // as stored; see StandaloneImage() for a decoder's input
  ImageKind kind = ImageKind::kUnknown;  // by the image's magic bytes
  std::vector<uint8_t> alphaZlib;        // version 3: zlib data, one byte per pixel
  bool operator==(const DefineBitsJpeg&) const = default;
};

// DefineBitsLossless (version 1) or DefineBitsLossless2 (version 2). `zlibData` inflates to the
// colour table (format 3) followed by rows padded to 4 bytes; see InflateLossless().
struct DefineBitsLossless {
  enum Format : uint8_t { kPalette = 3, kRgb555 = 4, kRgb32 = 5 };
  uint16_t id = 0;
  int version = 1;
  uint8_t format = kRgb32;
  uint16_t width = 0, height = 0;
  uint16_t colorTableSize = 0;  // entries, format 3 only (1..256)
  std::vector<uint8_t> zlibData;
  bool operator==(const DefineBitsLossless&) const = default;
};

struct FillStyle {
  enum Type : uint8_t {
    kSolid = 0x00,
    kRepeatingBitmap = 0x40,
    kClippedBitmap = 0x41,
    kRepeatingBitmapHard = 0x42,
    kClippedBitmapHard = 0x43,
  };
  uint8_t type = kSolid;
  Rgba color = 0xFF000000;  // kSolid
  uint16_t bitmapId = 0;    // bitmap types
  Matrix matrix;            // bitmap types: bitmap pixels to twips (1:1 is scale 20.0)
  bool IsBitmap() const { return type >= kRepeatingBitmap && type <= kClippedBitmapHard; }
  bool IsClipped() const { return type == kClippedBitmap || type == kClippedBitmapHard; }
  bool operator==(const FillStyle&) const = default;
};

struct LineStyle {
  uint16_t width = 0;  // twips
  Rgba color = 0xFF000000;
  bool operator==(const LineStyle&) const = default;
};

// One shape record. Style changes move the pen to an absolute point and pick styles (indexes
// start at 1, 0 is none); edges are relative to the pen.
struct ShapeRecord {
  enum Kind { kStyleChange, kStraightEdge, kCurvedEdge };
  Kind kind = kStyleChange;
  // kStyleChange
  bool hasMoveTo = false;
  int32_t moveX = 0, moveY = 0;
  std::optional<uint32_t> fillStyle0, fillStyle1, lineStyle;
  bool hasNewStyles = false;  // DefineShape2/3: the lists below replace the current ones
  std::vector<FillStyle> newFillStyles;
  std::vector<LineStyle> newLineStyles;
  // kStraightEdge: dx, dy; kCurvedEdge: control then anchor deltas
  int32_t dx = 0, dy = 0, anchorDx = 0, anchorDy = 0;
  bool operator==(const ShapeRecord&) const = default;
};

// DefineShape (version 1), DefineShape2 (2) or DefineShape3 (3, colours with alpha).
struct DefineShape {
  uint16_t id = 0;
  int version = 1;
  Rect bounds;
  std::vector<FillStyle> fillStyles;
  std::vector<LineStyle> lineStyles;
  std::vector<ShapeRecord> records;  // the edges as a path, EndShape not included
  bool operator==(const DefineShape&) const = default;
};

struct ButtonRecord {
  enum State : uint8_t { kUp = 1, kOver = 2, kDown = 4, kHitTest = 8 };
  uint8_t states = 0;
  uint16_t characterId = 0;
  uint16_t depth = 0;
  Matrix matrix;
  ColorTransform colorTransform;
  std::optional<uint8_t> blendMode;
  bool operator==(const ButtonRecord&) const = default;
};

struct ButtonCondAction {
  enum Condition : uint16_t {
    kIdleToOverUp = 1 << 0,
    kOverUpToIdle = 1 << 1,
    kOverUpToOverDown = 1 << 2,
    kOverDownToOverUp = 1 << 3,
    kOverDownToOutDown = 1 << 4,
    kOutDownToOverDown = 1 << 5,
    kOutDownToIdle = 1 << 6,
    kIdleToOverDown = 1 << 7,
    kOverDownToIdle = 1 << 8,
  };
  uint16_t conditions = 0;  // bits 9-15: key code
  ActionList actions;
  uint8_t KeyCode() const { return uint8_t(conditions >> 9); }
  bool operator==(const ButtonCondAction&) const = default;
};

// Key codes of button conditions.
enum KeyCode : uint8_t {
  kKeyLeft = 1,
  kKeyRight = 2,
  kKeyHome = 3,
  kKeyEnd = 4,
  kKeyInsert = 5,
  kKeyDelete = 6,
  kKeyBackspace = 8,
  kKeyEnter = 13,
  kKeyUp = 14,
  kKeyDown = 15,
  kKeyPageUp = 16,
  kKeyPageDown = 17,
  kKeyTab = 18,
  kKeyEscape = 19,
};
constexpr uint16_t KeyCondition(uint8_t key) { return uint16_t(key << 9); }

struct DefineButton2 {
  uint16_t id = 0;
  bool trackAsMenu = false;
  std::vector<ButtonRecord> records;
  std::vector<ButtonCondAction> actions;
  bool operator==(const DefineButton2&) const = default;
};

// --- display list ---

struct PlaceObject2 {
  bool move = false;  // Move flag: modify (alone) or replace (with a character)
  uint16_t depth = 0;
  std::optional<uint16_t> characterId;
  std::optional<Matrix> matrix;
  std::optional<ColorTransform> colorTransform;
  std::optional<uint16_t> ratio;
  std::optional<std::string> name;
  std::optional<uint16_t> clipDepth;
  std::vector<uint8_t> clipActions;  // raw CLIPACTIONS when flagged (sprites only); not played
  bool hasClipActions = false;
  bool operator==(const PlaceObject2&) const = default;
};

struct RemoveObject2 {
  uint16_t depth = 0;
  bool operator==(const RemoveObject2&) const = default;
};

// Definition and display-list tags of a frame, in file order.
using Tag = std::variant<DefineBitsJpeg, DefineBitsLossless, DefineShape, DefineButton2,
                         PlaceObject2, RemoveObject2>;

struct Frame {
  std::vector<Tag> tags;
  std::vector<ActionList> actions;  // DoAction lists, in file order; they run after the tags
  bool operator==(const Frame&) const = default;
};

struct Header {
  bool compressed = false;
  uint8_t version = 8;
  uint32_t fileLength = 0;  // uncompressed length of the whole file, header included
  bool operator==(const Header&) const = default;
};

struct Movie {
  Header header;
  Rect frameSize;
  uint16_t frameRate = 0x1800;              // 8.8 fixed point: 24 fps
  uint16_t frameCount = 0;                  // as stored; the writer stores frames.size()
  std::optional<uint32_t> fileAttributes;   // flags; the writer puts it first when set
  std::optional<uint32_t> backgroundColor;  // 0xRRGGBB
  // JPEGTables: the tables stream that every DefineBits of the movie is decoded with.
  std::optional<std::vector<uint8_t>> jpegTables;
  std::vector<Frame> frames;  // one per ShowFrame
};

}  // namespace swf
