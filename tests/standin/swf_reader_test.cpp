#include "swf/swf_reader.h"

#include <gtest/gtest.h>

#include "swf_builder.h"

namespace standin::swf {
namespace {

using testing::Bytes;
using testing::SwfBuilder;

Bytes TwoFrameMovie(bool compressed) {
  return SwfBuilder()
      .FrameCount(2)
      .FileAttributes()
      .Background(0x12, 0x34, 0x56)
      .DoAction(testing::Cat({testing::GetUrl("FSCommand:fullscreen", "true"), testing::kStop}))
      .ShowFrame()
      .Tag(21, Bytes(100, 0xAB), true)  // a bitmap tag outside the played subset
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
      {"CWS before version 6", [&] { Bytes b = cwsBody; b[3] = 5; return b; }()},
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

}  // namespace
}  // namespace standin::swf
