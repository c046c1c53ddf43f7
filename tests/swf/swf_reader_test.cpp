#include "swf/swf_reader.h"

#include <gtest/gtest.h>
#include <zlib.h>

#include "swf_builder.h"

namespace swf {
namespace {

using swftest::Bytes;
using swftest::SwfBuilder;

Bytes TwoFrameMovie(bool compressed) {
  return SwfBuilder()
      .FrameCount(2)
      .FileAttributes()
      .Background(0x12, 0x34, 0x56)
      .DoAction(swftest::Cat({swftest::GetUrl("FSCommand:fullscreen", "true"), swftest::kStop}))
      .ShowFrame()
      .Tag(21, Bytes(100, 0xAB), true)  // DefineBitsJPEG2 of character 0xABAB
      .ShowFrame()
      .End()
      .Build(compressed);
}

class ReadsBothContainers : public ::testing::TestWithParam<bool> {};

TEST_P(ReadsBothContainers, HeaderStageFramesAndActions) {
  Bytes file = TwoFrameMovie(GetParam());
  Movie m = ReadMovie(file);
  EXPECT_EQ(m.header.compressed, GetParam());
  EXPECT_EQ(m.header.version, 8);
  EXPECT_EQ(m.frameSize.xMin, 0);
  EXPECT_EQ(m.frameSize.xMax, 550 * 20);
  EXPECT_EQ(m.frameSize.yMax, 400 * 20);
  EXPECT_EQ(m.frameRate, 0x1800);
  EXPECT_EQ(m.frameCount, 2);
  ASSERT_TRUE(m.backgroundColor.has_value());
  EXPECT_EQ(*m.backgroundColor, 0x123456u);
  ASSERT_EQ(m.frames.size(), 2u);
  ASSERT_EQ(m.frames[0].actions.size(), 1u);
  const auto& list = m.frames[0].actions[0];
  ASSERT_EQ(list.size(), 2u);
  EXPECT_EQ(list[0].code, kActionGetUrl);
  EXPECT_EQ(list[1].code, kActionStop);
  EXPECT_TRUE(m.frames[1].actions.empty());
}

TEST_P(ReadsBothContainers, EveryTruncationIsRejected) {
  Bytes file = TwoFrameMovie(GetParam());
  for (size_t n = 0; n < file.size(); ++n) {
    Bytes cut(file.begin(), file.begin() + n);
    EXPECT_THROW(ReadMovie(cut), SwfError) << "length " << n;
  }
}

INSTANTIATE_TEST_SUITE_P(FwsAndCws, ReadsBothContainers, ::testing::Values(false, true));

TEST(SwfReader, HeaderAloneIsReadFromEightBytes) {
  Bytes file = TwoFrameMovie(true);
  Header h = ReadHeader(std::span<const uint8_t>(file).first(8));
  EXPECT_TRUE(h.compressed);
  EXPECT_EQ(h.fileLength, TwoFrameMovie(false).size());
}

TEST(SwfReader, MalformedFilesAreRejected) {
  Bytes good = TwoFrameMovie(false);
  auto with = [&](size_t at, std::initializer_list<uint8_t> bytes) {
    Bytes b = good;
    size_t i = at;
    for (uint8_t v : bytes) b[i++] = v;
    return b;
  };
  auto setLength = [](Bytes b, uint32_t length) {
    for (int i = 0; i < 4; ++i) b[4 + i] = uint8_t(length >> (8 * i));
    return b;
  };
  Bytes cwsBody = TwoFrameMovie(true);
  Bytes corruptZlib = cwsBody;
  corruptZlib[8] ^= 0xFF;
  Bytes noEnd = SwfBuilder().ShowFrame().Build(false);
  Bytes tagPastEnd = SwfBuilder().Tag(12, {0x07, 0x00}).End().Build(false);
  tagPastEnd[tagPastEnd.size() - 6] = 0x3E;  // DoAction header claims 62 bytes
  Bytes actionPastTag = SwfBuilder().Tag(12, {0x83, 0x40, 0x00, 0x00}).End().Build(false);
  Bytes actionUnterminated = SwfBuilder().Tag(12, {0x07}).End().Build(false);
  Bytes shortBackground = SwfBuilder().Tag(9, {1, 2}).End().Build(false);

  struct Case {
    const char* name;
    Bytes file;
  } cases[] = {
      {"not SWF", with(0, {'G', 'I', 'F'})},
      {"LZMA", with(0, {'Z'})},
      {"CWS before version 6",
       [&] {
         Bytes b = cwsBody;
         b[3] = 5;
         return b;
       }()},
      {"FileLength below 8", setLength(good, 7)},
      {"FileLength beyond the file", setLength(good, uint32_t(good.size() + 1))},
      {"CWS longer than FileLength", setLength(cwsBody, uint32_t(good.size() - 1))},
      {"CWS shorter than FileLength", setLength(cwsBody, uint32_t(good.size() + 1))},
      {"corrupt zlib", corruptZlib},
      {"missing End", noEnd},
      {"tag past the end", tagPastEnd},
      {"action payload past its tag", actionPastTag},
      {"action list without its 00", actionUnterminated},
      {"SetBackgroundColor too short", shortBackground},
  };
  for (const auto& c : cases) EXPECT_THROW(ReadMovie(c.file), SwfError) << c.name;
}

TEST(SwfReader, FileLengthIsTheUncompressedLengthNotTheFileSize) {
  Bytes good = TwoFrameMovie(false);
  Bytes trailing = good;
  trailing.push_back(0xEE);  // bytes after FileLength are not part of the movie
  EXPECT_NO_THROW(ReadMovie(trailing));
}

TEST(CheckedReader, BitFieldsAreMsbFirstAndSigned) {
  // 5-bit width 4, then values 0111 (7) and 1001 (-7), then padding.
  const uint8_t bits[] = {0b00100'011, 0b1'1001'000};
  CheckedReader r(bits);
  unsigned n = r.UB(5);
  EXPECT_EQ(n, 4u);
  EXPECT_EQ(r.SB(n), 7);
  EXPECT_EQ(r.SB(n), -7);
  EXPECT_EQ(r.SB(0), 0);
  r.AlignToByte();
  EXPECT_TRUE(r.AtEnd());
  EXPECT_THROW(r.UB(1), SwfError);
}

TEST(CheckedReader, StringsNeedTheirTerminatorInside) {
  const uint8_t text[] = {'a', 'b', 0, 'c'};
  CheckedReader r(text);
  EXPECT_EQ(r.String(), "ab");
  EXPECT_THROW(r.String(), SwfError);
  CheckedReader empty(std::span<const uint8_t>{});
  EXPECT_THROW(empty.String(), SwfError);
}

// --- the subset's tags and actions, from bytes laid out by hand ---

using swftest::Cat;
using swftest::Record;
using swftest::Str;

struct RawTag {
  uint16_t code;
  Bytes payload;
};

// One frame holding the given tags, then End; character 3 is defined first (a JPEG) when asked.
Bytes OneFrame(std::initializer_list<RawTag> tags, bool defineCharacter3 = true) {
  SwfBuilder b;
  if (defineCharacter3) b.Tag(21, {3, 0, 0xFF, 0xD8, 0xFF, 0xD9}, true);
  for (const auto& t : tags) b.Tag(t.code, t.payload);
  return b.ShowFrame().End().Build(false);
}

template <typename T>
T OnlyTag(const Movie& m, size_t index) {
  EXPECT_EQ(m.frames.size(), 1u);
  return std::get<T>(m.frames.at(0).tags.at(index));
}

// The layout example of a 400 x 300 px rectangle filled by clipped bitmap 1 at 1:1.
const Bytes kRectangleShape = {0x02, 0x00, 0x70, 0x00, 0x0F, 0xA0, 0x00, 0x00, 0xBB, 0x80,
                               0x01, 0x41, 0x01, 0x00, 0xD9, 0x40, 0x00, 0x05, 0x00, 0x00,
                               0x00, 0x00, 0x10, 0x14, 0x1F, 0x07, 0xD0, 0x3C, 0x57, 0x70,
                               0xF0, 0x83, 0x03, 0xC6, 0x89, 0x00, 0x00};

TEST(SwfSubset, ShapeWithClippedBitmapFill) {
  Movie m = ReadMovie(OneFrame({{2, kRectangleShape}}, false));
  auto shape = OnlyTag<DefineShape>(m, 0);
  EXPECT_EQ(shape.id, 2);
  EXPECT_EQ(shape.version, 1);
  EXPECT_EQ(shape.bounds, (Rect{0, 8000, 0, 6000}));
  ASSERT_EQ(shape.fillStyles.size(), 1u);
  const FillStyle& fill = shape.fillStyles[0];
  EXPECT_EQ(fill.type, FillStyle::kClippedBitmap);
  EXPECT_TRUE(fill.IsBitmap() && fill.IsClipped());
  EXPECT_EQ(fill.bitmapId, 1);
  Matrix scale20;
  scale20.hasScale = true;
  scale20.scaleX = scale20.scaleY = 20 << 16;
  EXPECT_EQ(fill.matrix, scale20);
  EXPECT_TRUE(shape.lineStyles.empty());
  ASSERT_EQ(shape.records.size(), 5u);
  EXPECT_EQ(shape.records[0].kind, ShapeRecord::kStyleChange);
  EXPECT_TRUE(shape.records[0].hasMoveTo);
  EXPECT_EQ(shape.records[0].fillStyle1, 1u);
  EXPECT_FALSE(shape.records[0].fillStyle0.has_value());
  const int32_t edges[4][2] = {{8000, 0}, {0, 6000}, {-8000, 0}, {0, -6000}};
  for (int i = 0; i < 4; ++i) {
    EXPECT_EQ(shape.records[1 + i].kind, ShapeRecord::kStraightEdge);
    EXPECT_EQ(shape.records[1 + i].dx, edges[i][0]) << i;
    EXPECT_EQ(shape.records[1 + i].dy, edges[i][1]) << i;
  }
}

TEST(SwfSubset, PlaceAndRemoveByDepth) {
  // Place character 3 at depth 1 with the identity matrix; then every optional field; remove.
  Bytes everything = {0x7E, 0x02, 0x00, 0x03, 0x00,
                      0x00,              // matrix: identity
                      0x40,              // cxform: multiply terms of 0 bits, so all 0
                      0x07, 0x00,        // ratio 7
                      'p',  'g',  0x00,  // name
                      0x05, 0x00};       // clip depth 5
  Movie m = ReadMovie(OneFrame({{26, {0x06, 0x01, 0x00, 0x03, 0x00, 0x00}},
                                {26, everything},
                                {26, {0x01, 0x02, 0x00}},
                                {28, {0x01, 0x00}}}));
  auto place = OnlyTag<PlaceObject2>(m, 1);
  EXPECT_FALSE(place.move);
  EXPECT_EQ(place.depth, 1);
  EXPECT_EQ(place.characterId, 3);
  EXPECT_EQ(place.matrix, Matrix{});
  EXPECT_FALSE(place.colorTransform || place.ratio || place.name || place.clipDepth);
  auto all = OnlyTag<PlaceObject2>(m, 2);
  EXPECT_EQ(all.depth, 2);
  ASSERT_TRUE(all.colorTransform.has_value());
  EXPECT_TRUE(all.colorTransform->hasMult);
  EXPECT_FALSE(all.colorTransform->hasAdd);
  for (int16_t term : all.colorTransform->mult) EXPECT_EQ(term, 0);
  EXPECT_EQ(all.ratio, 7);
  EXPECT_EQ(all.name, "pg");
  EXPECT_EQ(all.clipDepth, 5);
  auto move = OnlyTag<PlaceObject2>(m, 3);
  EXPECT_TRUE(move.move);
  EXPECT_FALSE(move.characterId.has_value());
  EXPECT_EQ(OnlyTag<RemoveObject2>(m, 4).depth, 1);
}

TEST(SwfSubset, ButtonWithHitAreaAndKeyConditions) {
  Bytes button = {0x05, 0x00, 0x00, 0x0A, 0x00,                    // ActionOffset: past the records
                  0x08, 0x03, 0x00, 0x01, 0x00, 0x00, 0x00,        // HitTest record of 3 at depth 1
                  0x00, 0x07, 0x00, 0x08, 0x00, 0x04, 0x00, 0x00,  // 7 bytes: release -> NextFrame
                  0x00, 0x00, 0x00, 0x04, 0x05, 0x00};             // last: Right key -> PrevFrame
  Movie m = ReadMovie(OneFrame({{34, button}}));
  auto b = OnlyTag<DefineButton2>(m, 1);
  EXPECT_EQ(b.id, 5);
  EXPECT_FALSE(b.trackAsMenu);
  ASSERT_EQ(b.records.size(), 1u);
  EXPECT_EQ(b.records[0].states, ButtonRecord::kHitTest);
  EXPECT_EQ(b.records[0].characterId, 3);
  EXPECT_EQ(b.records[0].depth, 1);
  ASSERT_EQ(b.actions.size(), 2u);
  EXPECT_EQ(b.actions[0].conditions, ButtonCondAction::kOverDownToOverUp);
  ASSERT_EQ(b.actions[0].actions.size(), 1u);
  EXPECT_EQ(b.actions[0].actions[0].code, kActionNextFrame);
  EXPECT_EQ(b.actions[1].KeyCode(), kKeyRight);
  EXPECT_EQ(b.actions[1].conditions, KeyCondition(kKeyRight));
  EXPECT_EQ(b.actions[1].actions.at(0).code, kActionPrevFrame);
}

TEST(SwfSubset, BitmapsJpegPngGifAndLossless) {
  const Bytes png = {0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A, 1, 2};
  const Bytes alpha = {0x78, 0x9C, 1, 2};
  Bytes jpeg3 = Cat({{7, 0}, {Bytes{uint8_t(png.size()), 0, 0, 0}}, png, alpha});
  Bytes lossless = {8, 0, 3, 3, 0, 2, 0, 1, 0x78, 0x9C};  // palette 3 x 2, 2 entries
  Movie m = ReadMovie(
      OneFrame({{21, Cat({{6, 0}, {'G', 'I', 'F', '8', '9', 'a'}})}, {35, jpeg3}, {36, lossless}}));
  auto jpeg = OnlyTag<DefineBitsJpeg>(m, 0);
  EXPECT_EQ(jpeg.id, 3);
  EXPECT_EQ(jpeg.kind, ImageKind::kJpeg);
  EXPECT_EQ(OnlyTag<DefineBitsJpeg>(m, 1).kind, ImageKind::kGif);
  auto withAlpha = OnlyTag<DefineBitsJpeg>(m, 2);
  EXPECT_EQ(withAlpha.version, 3);
  EXPECT_EQ(withAlpha.kind, ImageKind::kPng);
  EXPECT_EQ(withAlpha.image, png);
  EXPECT_EQ(withAlpha.alphaZlib, alpha);
  auto l = OnlyTag<DefineBitsLossless>(m, 3);
  EXPECT_EQ(l.version, 2);
  EXPECT_EQ(l.format, DefineBitsLossless::kPalette);
  EXPECT_EQ(l.width, 3);
  EXPECT_EQ(l.height, 2);
  EXPECT_EQ(l.colorTableSize, 2);
  EXPECT_EQ(LosslessDataSize(l), 2u * 4 + 4u * 2) << "RGBA table, rows padded to 4";
}

TEST(SwfSubset, StandaloneImageDropsTheEmptyTablesStreamBeforeTheFrameHeader) {
  struct Case {
    Bytes stored, decoded;
  } cases[] = {
      {{0xFF, 0xD9, 0xFF, 0xD8, 0xFF, 0xD8, 0xFF, 0xC0, 1}, {0xFF, 0xD8, 0xFF, 0xC0, 1}},
      {{0xFF, 0xD8, 0xFF, 0xDB, 0x00, 0x02, 0xFF, 0xD9, 0xFF, 0xD8, 0xFF, 0xC0},
       {0xFF, 0xD8, 0xFF, 0xDB, 0x00, 0x02, 0xFF, 0xC0}},
      // After the frame header the same bytes are image data.
      {{0xFF, 0xD8, 0xFF, 0xC0, 0xFF, 0xD9, 0xFF, 0xD8},
       {0xFF, 0xD8, 0xFF, 0xC0, 0xFF, 0xD9, 0xFF, 0xD8}},
  };
  for (const auto& c : cases) {
    DefineBitsJpeg b;
    b.image = c.stored;
    b.kind = ImageKindOf(b.image);
    EXPECT_EQ(StandaloneImage(b), c.decoded);
  }
  DefineBitsJpeg png;
  png.image = {0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A, 0xFF, 0xD9, 0xFF, 0xD8};
  png.kind = ImageKindOf(png.image);
  EXPECT_EQ(StandaloneImage(png), png.image);
  EXPECT_EQ(ImageKindOf(Bytes{'B', 'M'}), ImageKind::kUnknown);
}

// Older movies keep one tables stream per movie (JPEGTables) and frames without tables
// (DefineBits); the tables may come after the frames that need them.
TEST(SwfSubset, DefineBitsAndTheMoviesJpegTablesAreRead) {
  const Bytes tables = {0xFF, 0xD8, 0xFF, 0xDB, 0x00, 0x03, 7, 0xFF, 0xD9};
  const Bytes frame = {0xFF, 0xD8, 0xFF, 0xC0, 0x00, 0x02, 0xFF, 0xD9};
  Movie m = ReadMovie(OneFrame({{6, Cat({{9, 0}, frame})}, {8, tables}}));
  auto bits = OnlyTag<DefineBitsJpeg>(m, 1);
  EXPECT_EQ(bits.id, 9);
  EXPECT_EQ(bits.version, 1);
  EXPECT_EQ(bits.kind, ImageKind::kJpeg);
  EXPECT_EQ(bits.image, frame);
  ASSERT_TRUE(m.jpegTables);
  EXPECT_EQ(*m.jpegTables, tables);
  EXPECT_EQ(StandaloneImage(bits, *m.jpegTables),
            (Bytes{0xFF, 0xD8, 0xFF, 0xDB, 0x00, 0x03, 7, 0xFF, 0xC0, 0x00, 0x02, 0xFF, 0xD9}));

  EXPECT_FALSE(ReadMovie(OneFrame({})).jpegTables) << "no JPEGTables tag: none";
  EXPECT_EQ(ReadMovie(OneFrame({{8, {}}})).jpegTables, Bytes{}) << "an empty one is kept";
  EXPECT_THROW(ReadMovie(OneFrame({{8, tables}, {8, tables}})), SwfError);
  EXPECT_THROW(ReadMovie(OneFrame({{6, {9, 0}}, {6, {9, 0}}})), SwfError) << "id defined twice";
}

Bytes Zlib(const Bytes& data) {
  uLongf size = compressBound(uLong(data.size()));
  Bytes packed(size);
  EXPECT_EQ(compress2(packed.data(), &size, data.data(), uLong(data.size()), 9), Z_OK);
  packed.resize(size);
  return packed;
}

TEST(SwfSubset, LosslessDataInflatesToExactlyItsSizeUnderTheCap) {
  DefineBitsLossless b;
  b.format = DefineBitsLossless::kRgb555;
  b.width = 3;
  b.height = 2;
  const Bytes pixels(8 * 2, 0x5A);  // 6 bytes a row, padded to 8
  b.zlibData = Zlib(pixels);
  EXPECT_EQ(InflateLossless(b), pixels);
  EXPECT_THROW(InflateLossless(b, 15), SwfError) << "above the cap";

  DefineBitsLossless shortData = b;
  shortData.height = 3;
  EXPECT_THROW(InflateLossless(shortData), SwfError);
  DefineBitsLossless longData = b;
  longData.height = 1;
  EXPECT_THROW(InflateLossless(longData), SwfError);
  DefineBitsLossless corrupt = b;
  corrupt.zlibData[3] ^= 0x55;
  EXPECT_THROW(InflateLossless(corrupt), SwfError);

  // 65535 x 65535 x 4 overflows 32 bits; computed in 64 it is simply above any cap.
  DefineBitsLossless huge;
  huge.format = DefineBitsLossless::kRgb32;
  huge.width = huge.height = 0xFFFF;
  huge.zlibData = Zlib(Bytes(16));
  EXPECT_EQ(LosslessDataSize(huge), 0xFFFFull * 0xFFFF * 4);
  EXPECT_THROW(InflateLossless(huge), SwfError);
  EXPECT_THROW(InflateLossless(huge, UINT64_MAX), SwfError) << "claims far more than it holds";
}

// Actions: every payload decoded; branches resolved to the record they land on.
TEST(SwfSubset, ActionPayloadsAreDecoded) {
  Bytes list = Cat({
      Record(0x88, Cat({{2, 0}, Str("flash"), Str("call")})),
      Record(0x96, Cat({{0},
                        Str("s"),
                        {1, 0x00, 0x00, 0xC0, 0x3F},
                        {2},
                        {3},
                        {4, 9},
                        {5, 1},
                        {6, 0x00, 0x00, 0xF8, 0x3F, 0x00, 0x00, 0x00, 0x00},
                        {7, 0xFE, 0xFF, 0xFF, 0xFF},
                        {8, 1},
                        {9, 0x00, 0x01}})),
      Record(0x81, {0x02, 0x01}),
      Record(0x83, Cat({Str("files/large/1.swf"), Str("_level1")})),
      Record(0x8B, Str("_level1")),
      Record(0x9A, {0x40}),
      {0x0A, 0x0E, 0x12, 0x47, 0x49},
  });
  list.push_back(0);
  ActionList a = ReadActions(list);
  ASSERT_EQ(a.size(), 11u);
  EXPECT_EQ(a[0].constants, (std::vector<std::string>{"flash", "call"}));
  const auto& v = a[1].values;
  ASSERT_EQ(v.size(), 10u);
  EXPECT_EQ(v[0].type, PushValue::kString);
  EXPECT_EQ(v[0].string, "s");
  EXPECT_EQ(v[1].type, PushValue::kFloat);
  EXPECT_EQ(v[1].number, 1.5);
  EXPECT_EQ(v[2].type, PushValue::kNull);
  EXPECT_EQ(v[3].type, PushValue::kUndefined);
  EXPECT_EQ(v[4].integer, 9u);
  EXPECT_EQ(v[5].integer, 1u);
  EXPECT_EQ(v[6].type, PushValue::kDouble);
  EXPECT_EQ(v[6].number, 1.5) << "high word first";
  EXPECT_EQ(int32_t(v[7].integer), -2);
  EXPECT_EQ(v[8].type, PushValue::kConstant8);
  EXPECT_EQ(v[9].integer, 256u);
  EXPECT_EQ(a[2].frame, 0x0102);
  EXPECT_EQ(a[3].url, "files/large/1.swf");
  EXPECT_EQ(a[3].target, "_level1");
  EXPECT_EQ(a[4].target, "_level1");
  EXPECT_EQ(a[5].getUrl2Flags, 0x40);
  const uint8_t simple[] = {kActionAdd, kActionEquals, kActionNot, kActionAdd2, kActionEquals2};
  for (int i = 0; i < 5; ++i) EXPECT_EQ(a[6 + i].code, simple[i]);
}

TEST(SwfSubset, BranchesLandOnRecords) {
  // 0: If +1 (over Stop), 1: Stop, 2: Jump -11 (back to 0), 3: Jump 0 (next), 4: If +0 -> end
  Bytes list = Cat({Record(0x9D, {1, 0}),
                    {0x07},
                    Record(0x99, {0xF5, 0xFF}),
                    Record(0x99, {0, 0}),
                    Record(0x9D, {0, 0}),
                    {0x00}});
  ActionList a = ReadActions(list);
  ASSERT_EQ(a.size(), 5u);
  EXPECT_EQ(a[0].branchTarget, 2u);
  EXPECT_EQ(a[2].branchTarget, 0u);
  EXPECT_EQ(a[3].branchTarget, 4u);
  EXPECT_EQ(a[4].branchTarget, 5u) << "the end of the list";

  struct Case {
    const char* name;
    Bytes list;
  } bad[] = {
      {"into a record", Cat({Record(0x99, {1, 0}), Record(0x96, {3}), {0}})},
      {"past the end", Cat({Record(0x99, {2, 0}), {0}})},
      {"before the start", Cat({Record(0x99, {0xF0, 0xFF}), {0}})},
      {"offset missing", Cat({Record(0x9D, {}), {0}})},
  };
  for (const auto& c : bad) EXPECT_THROW(ReadActions(c.list), SwfError) << c.name;
}

TEST(SwfSubset, MalformedSubsetTagsAreRejected) {
  const Bytes hitRecord = {0x08, 0x03, 0x00, 0x01, 0x00, 0x00, 0x00};
  struct Case {
    const char* name;
    Bytes file;
  } cases[] = {
      {"character id 0", OneFrame({{21, {0, 0, 0xFF, 0xD8}}})},
      {"character defined twice", OneFrame({{21, {3, 0, 0xFF, 0xD8}}})},
      {"placing an undefined character", OneFrame({{26, {0x02, 1, 0, 9, 0}}})},
      {"PlaceObject2 cut short", OneFrame({{26, {0x06, 1, 0, 3}}})},
      {"button of an undefined character",
       OneFrame({{34, Cat({{5, 0, 0, 0, 0}, {0x08, 9, 0, 1, 0, 0, 0}, {0}})}})},
      {"button records without their end", OneFrame({{34, Cat({{5, 0, 0, 0, 0}, hitRecord})}})},
      {"button filters", OneFrame({{34, Cat({{5, 0, 0, 0, 0}, {0x18, 3, 0, 1, 0, 0, 0}, {0}})}})},
      {"button actions inside the records",
       OneFrame({{34, Cat({{5, 0, 0, 3, 0}, hitRecord, {0}, {0, 0, 0, 4, 0}})}})},
      {"button actions past the tag", OneFrame({{34, Cat({{5, 0, 0, 40, 0}, hitRecord, {0}})}})},
      {"button action size below its header",
       OneFrame({{34, Cat({{5, 0, 0, 10, 0}, hitRecord, {0}, {3, 0, 0, 4, 0}})}})},
      {"button action size past the tag",
       OneFrame({{34, Cat({{5, 0, 0, 10, 0}, hitRecord, {0}, {30, 0, 0, 4, 0}})}})},
      {"gradient fill", OneFrame({{2, {9, 0, 0, 1, 0x10}}})},
      // No fill styles, one fill bit; a style change picks fill 1.
      {"fill index past the styles", OneFrame({{2, {9, 0, 0x00, 0, 0, 0x10, 0x12, 0x00}}})},
      {"shape cut short",
       OneFrame({{2, Bytes(kRectangleShape.begin(), kRectangleShape.end() - 4)}}, false)},
      {"lossless format 6", OneFrame({{20, {8, 0, 6, 1, 0, 1, 0}}})},
      {"JPEG3 alpha offset past the tag", OneFrame({{35, {8, 0, 9, 0, 0, 0, 0xFF}}})},
      {"unknown Push type", OneFrame({{12, Cat({Record(0x96, {10}), {0}})}})},
      {"Push string unterminated", OneFrame({{12, Cat({Record(0x96, {0, 'a'}), {0}})}})},
      {"GotoFrame without its frame", OneFrame({{12, Cat({Record(0x81, {1}), {0}})}})},
      {"ConstantPool shorter than its count",
       OneFrame({{12, Cat({Record(0x88, Cat({{2, 0}, Str("a")})), {0}})}})},
      {"FileAttributes too short", OneFrame({{69, {0, 0}}})},
  };
  for (const auto& c : cases) EXPECT_THROW(ReadMovie(c.file), SwfError) << c.name;
}

TEST(SwfSubset, TinyRecordsCannotMultiplyTheMovieInMemory) {
  // A million one-byte actions would cost a few hundred bytes each once parsed.
  Bytes list(1 << 20, kActionStop);
  list.push_back(0);
  SwfBuilder b;
  b.Tag(12, list, true).ShowFrame().End();
  EXPECT_THROW(ReadMovie(b.Build(true)), SwfError);
  Bytes frames;
  SwfBuilder many;
  for (int i = 0; i < (1 << 19); ++i) many.ShowFrame();
  EXPECT_THROW(ReadMovie(many.End().Build(true)), SwfError);
}

}  // namespace
}  // namespace swf
