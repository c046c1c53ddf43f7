#include "tools/picture_scan.h"

#include <gtest/gtest.h>

#include "old_movie_builder.h"
#include "swf/swf_reader.h"

namespace pageturn {
namespace {

using namespace oldmovie;

// Twips of a w x h pixel rectangle, and a fill matrix drawing each bitmap pixel as `px` stage
// pixels.
constexpr int32_t kTwips = 20;
Bytes PixelFill(double px) { return Matrix(20 * px, 20 * px); }

struct Picked {
  uint16_t code, width, height;
  bool shown;
};

Picked Pick(const Bytes& movie) {
  const TMovieScan scan = ScanMoviePictures(movie);
  if (!scan.picture) return {0, 0, 0, false};
  const TMovieBitmap& b = scan.bitmaps.at(*scan.picture);
  return {b.code, uint16_t(b.width), uint16_t(b.height), scan.shown};
}

TEST(PictureScan, ThePictureIsTheLargestBitmapOnTheStage) {
  const Bytes large = SizedJpeg(1200, 1600), small = SizedJpeg(400, 400);
  struct Case {
    const char* name;
    Bytes tags;
    Picked expected;
  } cases[] = {
      {"the larger of two shown at 1:1",
       Cat({DefineBitsJpeg2(1, small), DefineBitsJpeg2(2, large),
            Shape(3, 400 * kTwips, 400 * kTwips, 1, PixelFill(1)),
            Shape(4, 1200 * kTwips, 1600 * kTwips, 2, PixelFill(1), 3),
            PlaceObject2(1, 3, Matrix(1, 1)), PlaceObject2(2, 4, Matrix(1, 1)), ShowFrame()}),
       {21, 1200, 1600, true}},
      {"the large one placed at a quarter of its size is smaller on the stage",
       Cat({DefineBitsJpeg2(1, large), DefineBitsJpeg2(2, small),
            Shape(3, 1200 * kTwips, 1600 * kTwips, 1, PixelFill(1), 2),
            Shape(4, 400 * kTwips, 400 * kTwips, 2, PixelFill(1), 4),
            PlaceObject2(1, 3, Matrix(0.25, 0.25)), PlaceObject2(2, 4, Matrix(1, 1)), ShowFrame()}),
       {21, 400, 400, true}},
      {"a fill matrix that halves the bitmap in a shape of the bitmap's size",
       Cat({DefineBitsJpeg2(1, large), DefineBitsJpeg2(2, small),
            Shape(3, 1200 * kTwips, 1600 * kTwips, 1, PixelFill(0.25)),
            Shape(4, 400 * kTwips, 400 * kTwips, 2, PixelFill(1)), PlaceObject2(1, 3, Matrix(1, 1)),
            PlaceObject2(2, 4, Matrix(1, 1)), ShowFrame()}),
       {21, 400, 400, true}},
      {"a small tile repeated over a large shape counts one tile",
       Cat({DefineBitsJpeg2(1, SizedJpeg(16, 16)), DefineBitsJpeg2(2, small),
            Shape(3, 2000 * kTwips, 2000 * kTwips, 1, PixelFill(1), 1, 0x40),
            Shape(4, 400 * kTwips, 400 * kTwips, 2, PixelFill(1)), PlaceObject2(1, 3, Matrix(1, 1)),
            PlaceObject2(2, 4, Matrix(1, 1)), ShowFrame()}),
       {21, 400, 400, true}},
      {"in a sprite's first frame, the sprite scaled up",
       Cat({DefineBitsJpeg2(1, small), DefineBitsJpeg2(2, SizedJpeg(600, 600)),
            Shape(3, 400 * kTwips, 400 * kTwips, 1, PixelFill(1)),
            Shape(4, 600 * kTwips, 600 * kTwips, 2, PixelFill(1)),
            Sprite(5, Cat({PlaceObject2(1, 3, Matrix(1, 1)), ShowFrame(), RemoveObject2(1)})),
            PlaceObject3(1, 5, Matrix(2, 2)), PlaceObject2(2, 4, Matrix(1, 1)), ShowFrame()}),
       {21, 400, 400, true}},
      {"a bitmap placed as a character of its own, rotated",
       Cat({DefineBitsJpeg2(1, SizedPng(300, 200)), DefineBitsJpeg2(2, SizedJpeg(100, 100)),
            Shape(3, 100 * kTwips, 100 * kTwips, 2, PixelFill(1)),
            PlaceObject2(1, 1, Matrix(0, 0, 0, 0, 1, -1)), PlaceObject2(2, 3, Matrix(1, 1)),
            ShowFrame()}),
       {21, 300, 200, true}},
      {"removed before the frame is shown",
       Cat({DefineBitsJpeg2(1, large), DefineBitsJpeg2(2, small),
            Shape(3, 1200 * kTwips, 1600 * kTwips, 1, PixelFill(1)),
            Shape(4, 400 * kTwips, 400 * kTwips, 2, PixelFill(1)), PlaceObject2(1, 3, Matrix(1, 1)),
            PlaceObject2(2, 4, Matrix(1, 1)), RemoveObject2(1), ShowFrame()}),
       {21, 400, 400, true}},
      {"shown only from the second frame: the largest defined",
       Cat({DefineBitsJpeg2(1, small), DefineBitsJpeg2(2, SizedJpeg(600, 300)),
            Shape(3, 400 * kTwips, 400 * kTwips, 1, PixelFill(1)), ShowFrame(),
            PlaceObject2(1, 3, Matrix(1, 1)), ShowFrame()}),
       {21, 600, 300, false}},
      {"DefineBits sized through the movie's tables, which come after it",
       Cat({DefineBits(1, Cat({{0xFF, 0xD8}, Bytes(large.begin() + 71, large.end())})),
            JpegTables(Cat({Bytes(large.begin(), large.begin() + 71), {0xFF, 0xD9}})),
            Shape(3, 1200 * kTwips, 1600 * kTwips, 1, PixelFill(1)),
            PlaceObject2(1, 3, Matrix(1, 1)), ShowFrame()}),
       {6, 1200, 1600, true}},
      {"lossless beside a JPEG3, among tags of every other kind",
       Cat({Surroundings(), DefineBitsJpeg3(1, small, Bytes(400 * 400, 0x80)),
            DefineBitsLossless(2, 2, 640, 480, Bytes(640 * 480 * 4, 0xFF)), Surroundings(),
            Shape(3, 400 * kTwips, 400 * kTwips, 1, PixelFill(1)),
            Shape(4, 640 * kTwips, 480 * kTwips, 2, PixelFill(1)), PlaceObject2(1, 3, Matrix(1, 1)),
            PlaceObject2(2, 4, Matrix(1, 1)), Surroundings(), ShowFrame()}),
       {36, 640, 480, true}},
      {"no bitmap at all", Cat({Surroundings(), ShowFrame()}), {0, 0, 0, false}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    for (bool compressed : {false, true}) {
      const Picked p = Pick(Movie(c.tags, 1200, 1600, compressed));
      EXPECT_EQ(p.code, c.expected.code);
      EXPECT_EQ(p.width, c.expected.width);
      EXPECT_EQ(p.height, c.expected.height);
      EXPECT_EQ(p.shown, c.expected.shown);
    }
  }
}

TEST(PictureScan, BitmapsAreReadAsStored) {
  const Bytes jpeg = SizedJpeg(64, 32), png = SizedPng(7, 9);
  const Bytes gif = {'G', 'I', 'F', '8', '9', 'a', 5, 0, 3, 0, 0x80, 0, 0};
  const Bytes tables = {0xFF, 0xD8, 0xFF, 0xDB, 0x00, 0x02, 0xFF, 0xD9};
  const TMovieScan scan = ScanMoviePictures(Movie(
      Cat({JpegTables(tables), DefineBits(1, jpeg), DefineBitsJpeg2(2, png),
           DefineBitsJpeg2(3, gif), DefineBitsJpeg3(4, jpeg, Bytes(64 * 32, 0xFF)),
           DefineBitsLossless(5, 1, 2, 1, Bytes(8, 9)), DefineBitsJpeg2(2, jpeg), ShowFrame()})));
  ASSERT_EQ(scan.bitmaps.size(), 5u) << "the second definition of 2 changes nothing";
  EXPECT_EQ(scan.jpegTables, tables);
  EXPECT_FALSE(scan.cutShort);
  struct Expected {
    uint16_t code, width, height;
    int version;
  } expected[] = {{6, 64, 32, 1}, {21, 7, 9, 2}, {21, 5, 3, 2}, {35, 64, 32, 3}, {20, 2, 1, 1}};
  for (size_t i = 0; i < 5; ++i) {
    SCOPED_TRACE(i);
    EXPECT_EQ(scan.bitmaps[i].code, expected[i].code);
    EXPECT_EQ(scan.bitmaps[i].width, expected[i].width);
    EXPECT_EQ(scan.bitmaps[i].height, expected[i].height);
  }
  const auto& bits = std::get<swf::DefineBitsJpeg>(scan.bitmaps[0].tag);
  EXPECT_EQ(bits.version, 1);
  EXPECT_EQ(bits.image, jpeg);
  EXPECT_EQ(std::get<swf::DefineBitsJpeg>(scan.bitmaps[1].tag).image, png);
  const auto& jpeg3 = std::get<swf::DefineBitsJpeg>(scan.bitmaps[3].tag);
  EXPECT_EQ(jpeg3.image, jpeg);
  EXPECT_EQ(swf::Inflate(jpeg3.alphaZlib, 64 * 32, 1 << 20), Bytes(64 * 32, 0xFF));
  const auto& lossless = std::get<swf::DefineBitsLossless>(scan.bitmaps[4].tag);
  EXPECT_EQ(lossless.format, 5);
  EXPECT_EQ(swf::InflateLossless(lossless), Bytes(8, 9));
  EXPECT_EQ(BitmapTagName(35), "DefineBitsJPEG3");
  EXPECT_EQ(BitmapTagName(36), "DefineBitsLossless2");
}

TEST(PictureScan, DamageIsPassedOverWhereTheTagsStillLeadOn) {
  const Bytes picture = Cat({DefineBitsJpeg2(1, SizedJpeg(800, 600)),
                             Shape(2, 800 * kTwips, 600 * kTwips, 1, PixelFill(1)),
                             PlaceObject2(1, 2, Matrix(1, 1))});
  // A loop of sprites placing each other, shown: the walk ends.
  const Bytes loop =
      Cat({Sprite(7, Cat({PlaceObject2(1, 8, Matrix(1, 1)), PlaceObject2(2, 7, Matrix(1, 1)),
                          PlaceObject2(3, 2, Matrix(1, 1))})),
           Sprite(8, Cat({PlaceObject2(1, 7, Matrix(1, 1)), PlaceObject2(2, 8, Matrix(1, 1))})),
           PlaceObject2(5, 7, Matrix(1, 1))});
  struct Case {
    const char* name;
    Bytes movie;
    bool cutShort;
  } cases[] = {
      {"a shape cut inside its records", Movie(Cat({picture, Tag(2, {9, 0, 0x50}), ShowFrame()})),
       false},
      {"a bitmap tag too short for its header",
       Movie(Cat({Tag(35, {3, 0, 1}), picture, ShowFrame()})), false},
      {"a placement of a character never defined",
       Movie(Cat({PlaceObject2(4, 99, Matrix(1, 1)), picture, ShowFrame()})), false},
      {"a place tag cut in its matrix",
       Movie(Cat({picture, Tag(26, {0x06, 2, 0, 1}), ShowFrame()})), false},
      {"sprites that place each other", Movie(Cat({picture, loop, ShowFrame()})), false},
      {"a tag after the movie's FileLength",
       Cat({Movie(Cat({picture, ShowFrame()})), Tag(21, Bytes(10, 0))}), false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const Picked p = Pick(c.movie);
    EXPECT_EQ(p.code, 21);
    EXPECT_EQ(p.width, 800);
    EXPECT_TRUE(p.shown);
    EXPECT_EQ(ScanMoviePictures(c.movie).cutShort, c.cutShort);
  }
  // The movie ends inside a tag (FileLength says more than there is): what came before counts.
  Bytes cut = Movie(Cat({picture, ShowFrame(), DefineBitsJpeg2(9, SizedJpeg(3000, 3000))}));
  cut.resize(cut.size() - 40);
  TMovieScan scan = ScanMoviePictures(cut);
  EXPECT_TRUE(scan.cutShort);
  ASSERT_TRUE(scan.picture);
  EXPECT_EQ(scan.bitmaps[*scan.picture].width, 800u);
  // A compressed movie whose stream stops early.
  Bytes cws = Movie(Cat({picture, ShowFrame(), Surroundings()}), 800, 600, true);
  cws.resize(cws.size() - 30);
  scan = ScanMoviePictures(cws);
  EXPECT_TRUE(scan.cutShort);
  EXPECT_TRUE(scan.picture);
}

TEST(PictureScan, WhatIsNoMovieIsRefusedWithItsReason) {
  Bytes zws = Movie(Cat({DefineBitsJpeg2(1, SizedJpeg(8, 8))}));
  zws[0] = 'Z';
  Bytes garbageCws = Movie({});
  garbageCws[0] = 'C';
  struct Case {
    Bytes bytes;
    const char* reason;
  } cases[] = {
      {zws, "LZMA-compressed movie (ZWS)"},
      {{'M', 'Z', 0x90, 0}, "file shorter than the SWF header"},
      {{'G', 'I', 'F', '8', '9', 'a', 0, 0, 0, 0}, "not a SWF file"},
      {garbageCws, "compressed data does not inflate"},
      {{'F', 'W', 'S', 8, 9, 0, 0, 0, 0x78}, "movie header cut short"},
  };
  for (const auto& c : cases) {
    try {
      ScanMoviePictures(c.bytes);
      ADD_FAILURE() << c.reason;
    } catch (const swf::SwfError& e) {
      EXPECT_STREQ(e.what(), c.reason);
    }
  }
}

}  // namespace
}  // namespace pageturn
