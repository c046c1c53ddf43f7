// The writer against the format's own examples, byte for byte, and writer -> reader round trips
// for every tag and action of the subset.
#include "swf/swf_writer.h"

#include <gtest/gtest.h>

#include <cstring>

#include "swf/swf_reader.h"

namespace swf {
namespace {

using Bytes = std::vector<uint8_t>;

Bytes Concat(std::initializer_list<Bytes> parts) {
  Bytes out;
  for (const auto& p : parts) out.insert(out.end(), p.begin(), p.end());
  return out;
}

Bytes Text(const char* s) { return Bytes(s, s + std::strlen(s) + 1); }

// The body of a one-frame movie after its RECT, rate and count: what the frame's tags became.
Bytes FrameTagBytes(Frame frame) {
  Movie m;
  m.frames.push_back(std::move(frame));
  Bytes file = WriteMovie(m);
  const size_t prefix = 8 + 1 + 4;  // header, empty RECT, rate and count
  const size_t suffix = 2 + 2;      // ShowFrame, End
  return Bytes(file.begin() + prefix, file.end() - suffix);
}

Matrix Scale20() {
  Matrix m;
  m.hasScale = true;
  m.scaleX = m.scaleY = 20 << 16;
  return m;
}

DefineShape RectangleShape() {
  DefineShape s;
  s.id = 2;
  s.bounds = {0, 8000, 0, 6000};
  FillStyle fill;
  fill.type = FillStyle::kClippedBitmap;
  fill.bitmapId = 1;
  fill.matrix = Scale20();
  s.fillStyles = {fill};
  ShapeRecord move;
  move.hasMoveTo = true;
  move.fillStyle1 = 1;
  s.records.push_back(move);
  for (auto [dx, dy] : {std::pair{8000, 0}, {0, 6000}, {-8000, 0}, {0, -6000}}) {
    ShapeRecord edge;
    edge.kind = ShapeRecord::kStraightEdge;
    edge.dx = dx;
    edge.dy = dy;
    s.records.push_back(edge);
  }
  return s;
}

TEST(SwfWriter, WritesTheFormatsOwnExamples) {
  BitWriter rect;
  WriteRect(rect, {0, 550 * 20, 0, 400 * 20});
  EXPECT_EQ(rect.bytes(), (Bytes{0x78, 0x00, 0x05, 0x5F, 0x00, 0x00, 0x0F, 0xA0, 0x00}));
  BitWriter identity;
  WriteMatrix(identity, Matrix{});
  WriteColorTransform(identity, ColorTransform{});
  EXPECT_EQ(identity.bytes(), (Bytes{0x00, 0x00}));

  Movie attributes;
  attributes.fileAttributes = 0;
  attributes.frames.resize(1);
  Bytes file = WriteMovie(attributes);
  EXPECT_EQ(Bytes(file.begin() + 9, file.begin() + 19),
            (Bytes{0x00, 0x18, 0x01, 0x00, 0x44, 0x11, 0x00, 0x00, 0x00, 0x00}))
      << "24 fps, one frame, FileAttributes first";

  EXPECT_EQ(FrameTagBytes({{RectangleShape()}, {}}),
            (Bytes{0xA5, 0x00, 0x02, 0x00, 0x70, 0x00, 0x0F, 0xA0, 0x00, 0x00, 0xBB, 0x80, 0x01,
                   0x41, 0x01, 0x00, 0xD9, 0x40, 0x00, 0x05, 0x00, 0x00, 0x00, 0x00, 0x10, 0x14,
                   0x1F, 0x07, 0xD0, 0x3C, 0x57, 0x70, 0xF0, 0x83, 0x03, 0xC6, 0x89, 0x00, 0x00}));

  PlaceObject2 place;
  place.depth = 1;
  place.characterId = 3;
  place.matrix = Matrix{};
  EXPECT_EQ(FrameTagBytes({{place}, {}}), (Bytes{0x86, 0x06, 0x06, 0x01, 0x00, 0x03, 0x00, 0x00}));

  ActionRecord load{.code = kActionGetUrl, .url = "child.swf", .target = "_level1"};
  EXPECT_EQ(WriteActions({load}),
            Concat({{0x83, 0x12, 0x00}, Text("child.swf"), Text("_level1"), {0x00}}));

  // Bitmap tags always take the long header.
  DefineBitsJpeg jpeg;
  jpeg.id = 1;
  jpeg.image = {0xFF, 0xD8, 0xFF, 0xD9};
  EXPECT_EQ(FrameTagBytes({{jpeg}, {}}),
            (Bytes{0x7F, 0x05, 0x06, 0x00, 0x00, 0x00, 0x01, 0x00, 0xFF, 0xD8, 0xFF, 0xD9}));
}

// Codes whose payload the writer derives from the decoded fields: the raw payload read back is
// not part of the comparison.
void ForgetDerivedPayloads(ActionList& list) {
  for (auto& a : list)
    if (a.code != 0 && a.code < 0x80)
      a.payload.clear();
    else if (a.code == kActionGotoFrame || a.code == kActionGetUrl || a.code == kActionSetTarget ||
             a.code == kActionGetUrl2 || a.code == kActionConstantPool || a.code == kActionPush ||
             a.code == kActionJump || a.code == kActionIf)
      a.payload.clear();
}

void ForgetDerivedPayloads(Frame& frame) {
  for (auto& list : frame.actions) ForgetDerivedPayloads(list);
  for (auto& tag : frame.tags)
    if (auto* button = std::get_if<DefineButton2>(&tag))
      for (auto& cond : button->actions) ForgetDerivedPayloads(cond.actions);
}

Movie RoundTrip(const Movie& movie) {
  Bytes file = WriteMovie(movie);
  EXPECT_EQ(ReadHeader(file).fileLength,
            movie.header.compressed ? ReadHeader(file).fileLength : uint32_t(file.size()));
  Movie back = ReadMovie(file);
  for (auto& frame : back.frames) ForgetDerivedPayloads(frame);
  EXPECT_EQ(WriteMovie(back), file) << "writing what was read gives the same bytes";
  return back;
}

// A frame that defines character 3 (so that placements and buttons may use it), then `tag`.
Frame FrameWith(Tag tag) {
  DefineBitsJpeg three;
  three.id = 3;
  three.image = {0xFF, 0xD8, 0xFF, 0xD9};
  three.kind = ImageKind::kJpeg;
  return Frame{{three, std::move(tag)}, {}};
}

TEST(SwfWriter, EveryTagRoundTrips) {
  DefineBitsJpeg png;
  png.id = 4;
  png.image = {0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A, 7};
  png.kind = ImageKind::kPng;
  DefineBitsJpeg jpeg3;
  jpeg3.id = 5;
  jpeg3.version = 3;
  jpeg3.image = {0xFF, 0xD9, 0xFF, 0xD8, 0xFF, 0xD8, 0xFF, 0xC0};
  jpeg3.kind = ImageKind::kJpeg;
  jpeg3.alphaZlib = Deflate({0x00, 0x80, 0xFF, 0x40});

  DefineBitsLossless palette;
  palette.id = 6;
  palette.format = DefineBitsLossless::kPalette;
  palette.width = 3;
  palette.height = 2;
  palette.colorTableSize = 256;
  palette.zlibData = Deflate(Bytes(256 * 3 + 4 * 2, 1));
  DefineBitsLossless argb = palette;
  argb.version = 2;
  argb.format = DefineBitsLossless::kRgb32;
  argb.colorTableSize = 0;
  argb.width = 65535;
  argb.height = 1;
  argb.zlibData = Deflate(Bytes(65535 * 4, 0xEE));
  DefineBitsLossless rgb555 = palette;
  rgb555.format = DefineBitsLossless::kRgb555;
  rgb555.colorTableSize = 0;

  DefineShape solid;
  solid.id = 7;
  solid.version = 3;
  solid.bounds = {-20, 20, -40, 1 << 20};
  FillStyle red;
  red.color = 0x80FF0000;
  FillStyle tiled;
  tiled.type = FillStyle::kRepeatingBitmapHard;
  tiled.bitmapId = 0xFFFF;
  tiled.matrix.hasRotate = true;
  tiled.matrix.rotateSkew0 = -0x8000;
  tiled.matrix.rotateSkew1 = 1;
  tiled.matrix.translateX = -1;
  solid.fillStyles = {red, tiled, FillStyle{.type = FillStyle::kClippedBitmapHard}};
  solid.lineStyles = {{20, 0xFF00FF00}, {1, 0x01020304}};
  ShapeRecord style;
  style.fillStyle0 = 3;
  style.fillStyle1 = 0;
  style.lineStyle = 2;
  ShapeRecord curve;
  curve.kind = ShapeRecord::kCurvedEdge;
  curve.dx = 1;
  curve.dy = -1;
  curve.anchorDx = 65535;
  curve.anchorDy = -65536;
  ShapeRecord diagonal;
  diagonal.kind = ShapeRecord::kStraightEdge;
  diagonal.dx = -3;
  diagonal.dy = 7;
  ShapeRecord restyle;
  restyle.hasMoveTo = true;
  restyle.moveX = -100000;
  restyle.moveY = 5;
  restyle.hasNewStyles = true;
  restyle.newFillStyles = std::vector<FillStyle>(300, red);  // extended count
  restyle.fillStyle1 = 1;  // of the old list: indexes precede the new styles
  ShapeRecord pick;
  pick.fillStyle0 = 300;
  solid.records = {style, curve, diagonal, restyle, pick, diagonal};
  DefineShape shape2 = RectangleShape();
  shape2.version = 2;
  shape2.id = 8;
  shape2.fillStyles.push_back(FillStyle{.color = 0xFF123456});
  DefineShape empty;
  empty.id = 9;

  DefineButton2 button;
  button.id = 10;
  button.trackAsMenu = true;
  ButtonRecord hit{.states = ButtonRecord::kHitTest, .characterId = 3, .depth = 1};
  ButtonRecord shown{.states = ButtonRecord::kUp | ButtonRecord::kOver | ButtonRecord::kDown,
                     .characterId = 3,
                     .depth = 2,
                     .matrix = Scale20()};
  shown.colorTransform.hasAdd = true;
  shown.colorTransform.add[3] = -255;
  shown.blendMode = 2;
  button.records = {hit, shown};
  button.actions = {
      {ButtonCondAction::kOverDownToOverUp, {{.code = kActionNextFrame}}},
      {KeyCondition(kKeyRight), {{.code = kActionNextFrame}, {.code = kActionPlay}}},
      {uint16_t(KeyCondition('f') | ButtonCondAction::kOverUpToOverDown), {}},
  };
  DefineButton2 silent;
  silent.id = 11;
  silent.records = {hit};

  PlaceObject2 everything;
  everything.depth = 65535;
  everything.characterId = 3;
  everything.matrix = Scale20();
  everything.colorTransform = ColorTransform{.hasMult = true, .mult = {-256, 0, 255, 1}};
  everything.ratio = 0;
  everything.name = "page";
  everything.clipDepth = 9;
  everything.hasClipActions = true;
  everything.clipActions = {0, 0, 1, 2, 3};
  PlaceObject2 modify;
  modify.move = true;
  modify.depth = 1;
  modify.matrix = Matrix{.translateX = 400, .translateY = -400};
  PlaceObject2 replace = modify;
  replace.characterId = 3;

  struct Case {
    const char* name;
    Tag tag;
  } cases[] = {
      {"DefineBitsJPEG2 PNG", png},
      {"DefineBitsJPEG3 with tables and alpha", jpeg3},
      {"DefineBitsLossless palette", palette},
      {"DefineBitsLossless2 ARGB", argb},
      {"DefineBitsLossless RGB555", rgb555},
      {"DefineShape3 solid, hard bitmap, lines, curves, new styles", solid},
      {"DefineShape2", shape2},
      {"DefineShape without styles or records", empty},
      {"DefineButton2 with conditions", button},
      {"DefineButton2 without actions", silent},
      {"PlaceObject2 every flag", everything},
      {"PlaceObject2 move", modify},
      {"PlaceObject2 replace", replace},
      {"RemoveObject2", RemoveObject2{65535}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Movie m;
    m.frames.push_back(FrameWith(c.tag));
    Movie back = RoundTrip(m);
    ASSERT_EQ(back.frames.size(), 1u);
    EXPECT_EQ(back.frames[0], m.frames[0]);
  }
}

TEST(SwfWriter, EveryActionRoundTrips) {
  const PushValue values[] = {
      {.type = PushValue::kString, .string = "files/large/1.swf"},
      {.type = PushValue::kString, .string = ""},
      {.type = PushValue::kFloat, .number = -0.25},
      {.type = PushValue::kNull},
      {.type = PushValue::kUndefined},
      {.type = PushValue::kRegister, .integer = 3},
      {.type = PushValue::kBool, .integer = 1},
      {.type = PushValue::kDouble, .number = 1234.5678},
      {.type = PushValue::kInteger, .integer = uint32_t(-400)},
      {.type = PushValue::kConstant8, .integer = 255},
      {.type = PushValue::kConstant16, .integer = 65535},
  };
  ActionList all = {
      {.code = kActionConstantPool, .constants = {"flash", "external", "", "ExternalInterface"}},
      {.code = kActionPush, .values = {std::begin(values), std::end(values)}},
      {.code = kActionIf, .branchTarget = 4},
      {.code = kActionJump, .branchTarget = 0},
      {.code = kActionGotoFrame, .frame = 65535},
      {.code = kActionGetUrl, .url = "FSCommand:fullscreen", .target = "true"},
      {.code = kActionSetTarget, .target = ""},
      {.code = kActionGetUrl2, .getUrl2Flags = 0x40},
      {.code = 0xF0, .payload = {1, 2, 3}},  // unknown: kept as read
      {.code = kActionJump, .branchTarget = 31},
  };
  for (uint8_t code : std::initializer_list<uint8_t>{
           kActionNextFrame, kActionPrevFrame, kActionPlay, kActionStop, kActionAdd, kActionEquals,
           kActionNot, kActionPop, kActionGetVariable, kActionSetVariable, kActionStringAdd,
           kActionAdd2, kActionEquals2, kActionGetMember, kActionCallMethod, 0x30})
    all.push_back({.code = code});
  all.push_back({.code = kActionIf, .branchTarget = 2});
  all.push_back({.code = kActionJump, .branchTarget = 27});  // to itself
  all.push_back({.code = kActionPop});
  ASSERT_EQ(all.size(), 29u);
  all[9].branchTarget = all.size();  // the end of the list
  all[26].branchTarget = 26;

  Movie m;
  m.frames = {Frame{{}, {all, {}, {{.code = kActionStop}}}}, Frame{}};
  m.frames[1].tags.push_back(RemoveObject2{1});
  Movie back = RoundTrip(m);
  ASSERT_EQ(back.frames.size(), 2u);
  EXPECT_EQ(back.frames[0], m.frames[0]);
  EXPECT_EQ(back.frames[1], m.frames[1]);
  EXPECT_EQ(WriteActions({}), Bytes{0x00});
}

TEST(SwfWriter, MovieFieldsRoundTripInBothContainers) {
  for (bool compressed : {false, true}) {
    Movie m;
    m.header.compressed = compressed;
    m.header.version = 10;
    m.frameSize = {0, 1920 * 20, 0, 1080 * 20};
    m.frameRate = 0x0C00;
    m.fileAttributes = 0x08;
    m.backgroundColor = 0xFEDCBA;
    m.jpegTables = Bytes{0xFF, 0xD8, 0xFF, 0xD9};
    m.frames.resize(300);
    m.frames[1].tags = {DefineBitsJpeg{
        .id = 1, .version = 1, .image = {0xFF, 0xD8, 0xFF, 0xC0}, .kind = ImageKind::kJpeg}};
    m.frames[299].actions = {{{.code = kActionStop}}};
    Bytes file = WriteMovie(m);
    EXPECT_EQ(file[0], compressed ? 'C' : 'F');
    Movie back = RoundTrip(m);
    EXPECT_EQ(back.header.compressed, compressed);
    EXPECT_EQ(back.header.version, 10);
    EXPECT_EQ(back.frameSize, m.frameSize);
    EXPECT_EQ(back.frameRate, 0x0C00);
    EXPECT_EQ(back.frameCount, 300);
    EXPECT_EQ(back.fileAttributes, 0x08u);
    EXPECT_EQ(back.backgroundColor, 0xFEDCBAu);
    EXPECT_EQ(back.jpegTables, m.jpegTables);
    EXPECT_EQ(back.frames, m.frames);
  }
  Movie bare;
  EXPECT_EQ(WriteMovie(bare).size(), 8u + 1 + 4 + 2);
  Movie none = ReadMovie(WriteMovie(bare));
  EXPECT_EQ(none.frameCount, 0);
  EXPECT_EQ(none.frames.size(), 0u) << "a movie of no frames stays so";
  EXPECT_EQ(WriteMovie(none), WriteMovie(bare));
}

TEST(SwfWriter, WhatTheFormatCannotHoldIsRefused) {
  auto movieWith = [](Tag tag) {
    Movie m;
    m.frames.push_back(FrameWith(std::move(tag)));
    return m;
  };
  auto movieWithActions = [](ActionList list) {
    Movie m;
    m.frames.push_back(Frame{{}, {std::move(list)}});
    return m;
  };
  DefineShape badIndex = RectangleShape();
  badIndex.records[0].fillStyle1 = 2;
  DefineShape nothing = RectangleShape();
  nothing.records.push_back(ShapeRecord{});
  DefineShape newStylesInV1 = RectangleShape();
  newStylesInV1.records[0].hasNewStyles = true;
  DefineShape gradient = RectangleShape();
  gradient.fillStyles[0].type = 0x10;
  DefineShape tooManyV1 = RectangleShape();
  tooManyV1.fillStyles.resize(256);
  DefineShape farMove = RectangleShape();
  farMove.records[0].moveX = INT32_MIN;
  DefineButton2 stateless{.id = 12, .records = {{.states = 0, .characterId = 3}}};
  DefineBitsLossless noTable{.id = 13, .format = DefineBitsLossless::kPalette};
  DefineBitsLossless format6{.id = 13, .format = 6};
  DefineBitsJpeg alphaInV2{.id = 14, .image = {0xFF, 0xD8}, .alphaZlib = {1}};
  DefineBitsJpeg alphaInV1{.id = 14, .version = 1, .image = {0xFF, 0xD8}, .alphaZlib = {1}};
  ColorTransform wide{.hasAdd = true, .add = {-32768, 0, 0, 0}};
  PlaceObject2 wideCx{.depth = 1, .colorTransform = wide};
  PlaceObject2 nulName{.depth = 1, .name = std::string("a\0b", 3)};
  DefineShape translucentV2 = RectangleShape();
  translucentV2.version = 2;
  translucentV2.fillStyles[0] = FillStyle{.type = FillStyle::kSolid, .color = 0x80FF0000};
  DefineShape translucentLineV1 = RectangleShape();
  translucentLineV1.lineStyles = {LineStyle{.width = 20, .color = 0x00000000}};
  PlaceObject2 unflaggedClipActions{.depth = 1, .clipActions = {0, 0, 0, 0, 0, 0}};

  struct Case {
    const char* name;
    Movie movie;
  } cases[] = {
      {"fill index past the styles", movieWith(badIndex)},
      {"a style change that changes nothing", movieWith(nothing)},
      {"new styles in DefineShape", movieWith(newStylesInV1)},
      {"gradient fill", movieWith(gradient)},
      {"256 fill styles in DefineShape", movieWith(tooManyV1)},
      {"a coordinate wider than 31 bits", movieWith(farMove)},
      {"button record without a state", movieWith(stateless)},
      {"colour table of 0 entries", movieWith(noTable)},
      {"lossless format 6", movieWith(format6)},
      {"alpha in DefineBitsJPEG2", movieWith(alphaInV2)},
      {"alpha in DefineBits", movieWith(alphaInV1)},
      {"colour transform term of 16 bits", movieWith(wideCx)},
      {"NUL inside a string", movieWith(nulName)},
      {"a translucent fill in DefineShape2", movieWith(translucentV2)},
      {"a translucent line in DefineShape", movieWith(translucentLineV1)},
      {"clip actions without their flag", movieWith(unflaggedClipActions)},
      {"payload on a short action",
       movieWithActions({{.code = kActionStop, .payload = {0x01, 0x02}}})},
      {"branch past the list", movieWithActions({{.code = kActionJump, .branchTarget = 2}})},
      {"action code 0 inside a list", movieWithActions({{.code = 0}})},
      {"payload over 64 KiB",
       movieWithActions(
           {{.code = kActionPush,
             .values = {{.type = PushValue::kString, .string = std::string(70000, 'x')}}}})},
      {"Push constant8 over 255",
       movieWithActions(
           {{.code = kActionPush, .values = {{.type = PushValue::kConstant8, .integer = 256}}}})},
      {"CWS before version 6",
       [] {
         Movie m;
         m.header = {.compressed = true, .version = 5};
         return m;
       }()},
      {"more than 65535 frames",
       [] {
         Movie m;
         m.frames.resize(65536);
         return m;
       }()},
  };
  for (const auto& c : cases) EXPECT_THROW(WriteMovie(c.movie), SwfError) << c.name;

  ActionList farJump = {{.code = kActionJump, .branchTarget = 2},
                        {.code = kActionGetUrl, .url = std::string(40000, 'a')},
                        {.code = kActionGetUrl, .url = std::string(40000, 'b')}};
  farJump.push_back({.code = kActionJump, .branchTarget = 0});
  EXPECT_THROW(WriteActions(farJump), SwfError) << "branch beyond 32 KiB";
}

}  // namespace
}  // namespace swf
