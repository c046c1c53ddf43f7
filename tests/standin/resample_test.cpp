// The stand-in's pixels as a paint draws a bitmap at another size or turned: what a reader
// sees of fine detail, of transparent edges and of every quarter turn and mirror.
#include "stage/resample.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

namespace standin::swf {
namespace {

constexpr uint32_t kWhite = 0xFFFFFFFF, kBlack = 0xFF000000;

std::vector<uint32_t> Checkerboard(int width, int height) {
  std::vector<uint32_t> pixels(size_t(width) * height);
  for (int y = 0; y < height; ++y)
    for (int x = 0; x < width; ++x) pixels[size_t(y) * width + x] = (x + y) % 2 ? kBlack : kWhite;
  return pixels;
}

int Channel(uint32_t c, int shift) { return int(c >> shift & 0xFF); }

TEST(Resample, AFineCheckerboardReducedReadsAsEvenGreyAndAtItsSizeAsItself) {
  const int side = 300;
  const std::vector<uint32_t> board = Checkerboard(side, side);
  // 0.43 of its size: no whole number of source pixels per window pixel.
  const int reduced = 129;
  std::vector<uint32_t> out(size_t(reduced) * reduced);
  ResamplePixels(board.data(), side, side, out.data(), reduced, reduced, {}, true, false);
  int lowest = 255, highest = 0;
  for (uint32_t c : out) {
    EXPECT_EQ(c >> 24, 0xFFu);
    for (int shift : {0, 8, 16}) {
      lowest = std::min(lowest, Channel(c, shift));
      highest = std::max(highest, Channel(c, shift));
    }
  }
  EXPECT_GE(lowest, 120);
  EXPECT_LE(highest, 135);

  // Unsmoothed fills take the nearest pixel: black and white, no grey.
  ResamplePixels(board.data(), side, side, out.data(), reduced, reduced, {}, false, false);
  for (uint32_t c : out) EXPECT_TRUE(c == kWhite || c == kBlack) << std::hex << c;

  // At its own size the board is itself, smoothed or not.
  std::vector<uint32_t> same(board.size());
  for (bool smooth : {true, false}) {
    ResamplePixels(board.data(), side, side, same.data(), side, side, {}, smooth, false);
    EXPECT_EQ(same, board) << smooth;
  }
}

TEST(Resample, TransparentPixelsLendNoColourToTheirNeighbours) {
  // Opaque red beside transparent pixels, premultiplied (so the transparent ones are 0): halved,
  // each window pixel is red at half cover, never darkened or tinted.
  std::vector<uint32_t> pixels(16 * 16);
  for (int y = 0; y < 16; ++y)
    for (int x = 0; x < 16; ++x) pixels[size_t(y) * 16 + x] = x % 2 ? 0xFFFF0000 : 0;
  std::vector<uint32_t> out(8 * 8);
  ResamplePixels(pixels.data(), 16, 16, out.data(), 8, 8, {}, true, false);
  for (uint32_t c : out) {
    EXPECT_NEAR(Channel(c, 24), 128, 2);
    EXPECT_NEAR(Channel(c, 16), 128, 2) << "red as its alpha: premultiplied";
    EXPECT_EQ(Channel(c, 8), 0);
    EXPECT_EQ(Channel(c, 0), 0);
  }
  // Grown, too.
  std::vector<uint32_t> grown(32 * 32);
  ResamplePixels(pixels.data(), 16, 16, grown.data(), 32, 32, {}, true, false);
  for (uint32_t c : grown) {
    EXPECT_LE(Channel(c, 16), Channel(c, 24) + 1) << std::hex << c;
    EXPECT_EQ(Channel(c, 8), 0);
  }
}

TEST(Resample, QuarterTurnsAndMirrorsPutEachCornerWhereTheMatrixSays) {
  // A 3 x 2 bitmap of distinct pixels, placed 1:1 at (10, 20) by each axis-aligned matrix.
  const std::vector<uint32_t> source = {1, 2, 3, 4, 5, 6};
  const struct {
    const char* what;
    Affine m;
    int width, height;
    std::vector<uint32_t> window;  // rows top down
  } cases[] = {
      {"as it is", {1, 0, 0, 1, 10, 20}, 3, 2, {1, 2, 3, 4, 5, 6}},
      {"mirrored left to right", {-1, 0, 0, 1, 13, 20}, 3, 2, {3, 2, 1, 6, 5, 4}},
      {"upside down", {-1, 0, 0, -1, 13, 22}, 3, 2, {6, 5, 4, 3, 2, 1}},
      {"mirrored top to bottom", {1, 0, 0, -1, 10, 22}, 3, 2, {4, 5, 6, 1, 2, 3}},
      {"along the diagonal", {0, 1, 1, 0, 10, 20}, 2, 3, {1, 4, 2, 5, 3, 6}},
      {"a quarter clockwise", {0, 1, -1, 0, 12, 20}, 2, 3, {4, 1, 5, 2, 6, 3}},
      {"along the other diagonal", {0, -1, -1, 0, 12, 23}, 2, 3, {6, 3, 5, 2, 4, 1}},
      {"a quarter anticlockwise", {0, -1, 1, 0, 10, 23}, 2, 3, {3, 6, 2, 5, 1, 4}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    const auto place = AlignedPlacement(c.m, 3, 2);
    ASSERT_TRUE(place);
    EXPECT_EQ(place->left, 10);
    EXPECT_EQ(place->top, 20);
    ASSERT_EQ(place->width, c.width);
    ASSERT_EQ(place->height, c.height);
    std::vector<uint32_t> out(size_t(c.width) * c.height);
    ResamplePixels(source.data(), 3, 2, out.data(), c.width, c.height, place->turn, true, false);
    EXPECT_EQ(out, c.window);
    // Sampling through the inverse matrix, as rotated and skewed fills are drawn, agrees.
    Affine inverse;
    ASSERT_TRUE(c.m.Invert(inverse));
    std::vector<uint32_t> sampled(out.size());
    SamplePixels(source.data(), 3, 2, sampled.data(), 10, 20, c.width, c.height, inverse, false,
                 false);
    EXPECT_EQ(sampled, c.window);
  }
  EXPECT_FALSE(AlignedPlacement({0.7, 0.7, -0.7, 0.7, 0, 0}, 3, 2)) << "rotated by 45 degrees";
  EXPECT_FALSE(AlignedPlacement({1, 0, 0.5, 1, 0, 0}, 3, 2)) << "skewed";
}

TEST(Resample, OutsideTheBitmapClippedFillsExtendTheirEdgesAndRepeatingOnesWrap) {
  const std::vector<uint32_t> source = {1, 2, 3, 4};  // 2 x 2
  std::vector<uint32_t> out(6 * 1);
  // The row through the top pixels, from two pixels left of the bitmap to two right of it.
  SamplePixels(source.data(), 2, 2, out.data(), -2, 0, 6, 1, {1, 0, 0, 1, 0, 0}, false, false);
  EXPECT_EQ(out, (std::vector<uint32_t>{1, 1, 1, 2, 2, 2}));
  SamplePixels(source.data(), 2, 2, out.data(), -2, 0, 6, 1, {1, 0, 0, 1, 0, 0}, false, true);
  EXPECT_EQ(out, (std::vector<uint32_t>{1, 2, 1, 2, 1, 2}));
  // Smoothed and clamped: far from the bitmap, the edge pixel itself.
  const std::vector<uint32_t> grey = {0xFF202020, 0xFFE0E0E0};  // 2 x 1
  std::vector<uint32_t> row(8);
  SamplePixels(grey.data(), 2, 1, row.data(), -3, 0, 8, 1, {1, 0, 0, 1, 0, 0}, true, false);
  EXPECT_EQ(row.front(), 0xFF202020u);
  EXPECT_EQ(row.back(), 0xFFE0E0E0u);
}

}  // namespace
}  // namespace standin::swf
