#include "swf/jpeg.h"

#include <gtest/gtest.h>

#include "swf/swf_reader.h"
#include "swf_builder.h"

namespace swf {
namespace {

using swftest::Bytes;
using swftest::Cat;

// JPEG segments as an encoder lays them out: marker, then a length that counts itself.
Bytes Segment(uint8_t marker, const Bytes& body) {
  const size_t length = body.size() + 2;
  return Cat({{0xFF, marker, uint8_t(length >> 8), uint8_t(length)}, body});
}
const Bytes kSoi = {0xFF, 0xD8}, kEoi = {0xFF, 0xD9};
// A quantisation table whose values hold the bytes of a frame header and of a stream boundary.
const Bytes kTables = Segment(0xDB, {0x00, 0xFF, 0xC0, 0x00, 0x11, 0xFF, 0xD9, 0xFF, 0xD8, 9});
const Bytes kHuffman = Segment(0xC4, {0x00, 1, 2, 3});
// A 300 x 200 baseline frame of three components.
const Bytes kFrame =
    Segment(0xC0, {8, 0x00, 0xC8, 0x01, 0x2C, 3, 1, 0x22, 0, 2, 0x11, 1, 3, 0x11, 1});
// A scan whose entropy data holds the same bytes again (they are data there).
const Bytes kScan = Cat(
    {Segment(0xDA, {1, 1, 0, 0, 0x3F, 0}), {0x12, 0xFF, 0x00, 0xFF, 0xD9, 0xFF, 0xD8, 0x34}, kEoi});
const Bytes kComment = Segment(0xFE, {'a', 0xFF, 0xD9, 0xFF, 0xD8, 'b'});

TEST(Jpeg, StandaloneJpegJoinsTablesAndFrameByTheirMarkers) {
  const Bytes image = Cat({kSoi, kTables, kHuffman, kFrame, kScan});
  struct Case {
    const char* name;
    Bytes stored, standalone;
  } cases[] = {
      {"already standalone", image, image},
      {"erroneous header before the image", Cat({kEoi, kSoi, image}), image},
      {"tables stream, then the image", Cat({kSoi, kTables, kHuffman, kEoi, kSoi, kFrame, kScan}),
       image},
      {"empty tables stream", Cat({kSoi, kEoi, image}), image},
      {"erroneous header and a tables stream",
       Cat({kEoi, kSoi, kSoi, kTables, kEoi, kSoi, kHuffman, kFrame, kScan}), image},
      {"a comment that holds a boundary's bytes",
       Cat({kSoi, kComment, kTables, kEoi, kSoi, kHuffman, kFrame, kScan}),
       Cat({kSoi, kComment, kTables, kHuffman, kFrame, kScan})},
      {"fill bytes before a marker",
       Cat({kSoi, {0xFF, 0xFF}, kTables, kEoi, kSoi, kHuffman, kFrame, kScan}), image},
      {"progressive frame",
       Cat({kSoi, kTables, kEoi, kSoi, Segment(0xC2, {8, 0, 1, 0, 1, 1, 1, 0x11, 0}), kScan}),
       Cat({kSoi, kTables, Segment(0xC2, {8, 0, 1, 0, 1, 1, 1, 0x11, 0}), kScan})},
      {"tables straight into the scan", Cat({kSoi, kTables, kEoi, kSoi, kScan}),
       Cat({kSoi, kTables, kScan})},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(StandaloneJpeg(c.stored), c.standalone);
  }
}

TEST(Jpeg, MarkersThatCannotBeWalkedLeaveTheDataAsItIs) {
  const Bytes cases[] = {
      {},
      {0xFF},
      kEoi,
      Cat({kSoi, kTables, kEoi}),                                       // no frame at all
      Cat({kSoi, {0xFF, 0xDB, 0x00}}),                                  // length cut short
      Cat({kSoi, {0xFF, 0xDB, 0x00, 0x40, 1, 2}, kEoi, kSoi, kFrame}),  // segment past the end
      Cat({kSoi, {0xFF, 0xDB, 0x00, 0x01}, kFrame}),                    // length below its own size
      Cat({kSoi, {0x12}, kFrame}),                                      // not a marker
      {0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A},
  };
  for (const auto& stored : cases) EXPECT_EQ(StandaloneJpeg(stored), stored);
}

TEST(Jpeg, DefineBitsFramesJoinTheMoviesTables) {
  const Bytes original = Cat({kSoi, kTables, kHuffman, kFrame, kScan});
  // Split as encoders of DefineBits split them: tables in their own stream, the frame in its own.
  const Bytes tables = Cat({kSoi, kTables, kHuffman, kEoi});
  const Bytes frame = Cat({kSoi, kFrame, kScan});
  EXPECT_EQ(JoinJpegTables(tables, frame), original);
  EXPECT_EQ(JoinJpegTables({}, original), original) << "no tables: the frame stands alone";
  EXPECT_EQ(JoinJpegTables(tables, Cat({kEoi, kSoi, frame})), original)
      << "a frame with the erroneous header";
  EXPECT_EQ(JoinJpegTables(Cat({kEoi, kSoi, tables}), frame), original);

  DefineBitsJpeg bits{.id = 1, .version = 1, .image = frame, .kind = ImageKindOf(frame)};
  EXPECT_EQ(StandaloneImage(bits, tables), original);
  DefineBitsJpeg jpeg2{.id = 1, .version = 2, .image = Cat({tables, frame})};
  jpeg2.kind = ImageKindOf(jpeg2.image);
  EXPECT_EQ(StandaloneImage(jpeg2), original);
  EXPECT_EQ(StandaloneImage(jpeg2, Bytes{0xFF, 0xD8, 0xFF, 0xD9}), original)
      << "the movie's tables belong to DefineBits alone";
}

TEST(Jpeg, FrameHeaderIsFoundByWalkingTheSegments) {
  auto frame = ReadJpegFrame(Cat({kSoi, kComment, kTables, kHuffman, kFrame, kScan}));
  ASSERT_TRUE(frame);
  EXPECT_EQ(frame->marker, 0xC0);
  EXPECT_EQ(frame->precision, 8);
  EXPECT_EQ(frame->width, 300);
  EXPECT_EQ(frame->height, 200);
  EXPECT_EQ(frame->components, 3);
  auto progressive =
      ReadJpegFrame(Cat({kSoi, Segment(0xC2, {8, 0x06, 0x40, 0x04, 0xB0, 1, 1, 0x11, 0}), kScan}));
  ASSERT_TRUE(progressive);
  EXPECT_EQ(progressive->marker, 0xC2);
  EXPECT_EQ(progressive->width, 1200);
  EXPECT_EQ(progressive->height, 1600);

  const Bytes none[] = {
      {},
      Cat({kTables, kFrame}),                    // no SOI
      Cat({kSoi, kTables, kScan, kFrame}),       // a scan before any frame
      Cat({kSoi, kTables, kEoi, kSoi, kFrame}),  // two streams: not standalone
      Cat({kSoi, Segment(0xC0, {8, 0, 1})}),     // frame header too short
      Cat({kSoi, {0xFF, 0xC0, 0x00, 0x11, 8}}),  // frame header past the end
  };
  for (const auto& bytes : none) EXPECT_FALSE(ReadJpegFrame(bytes));
}

}  // namespace
}  // namespace swf
