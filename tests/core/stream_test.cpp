#include "core/stream.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <string>

#include "core/error.h"

namespace pageturn {
namespace {

TEST(MemoryStream, WriteSeekReadAndGrowPastTheEnd) {
  TMemoryStream s;
  s.WriteBuffer("hello", 5);
  EXPECT_EQ(s.Position(), 5);
  EXPECT_EQ(s.Seek(-2, TSeekOrigin::End), 3);
  char two[2];
  s.ReadBuffer(two, 2);
  EXPECT_EQ(std::string(two, 2), "lo");
  EXPECT_EQ(s.Read(two, 2), 0u);  // at the end

  s.SetPosition(8);  // past the end: a write fills the gap with zeros
  s.WriteBuffer("!", 1);
  ASSERT_EQ(s.Size(), 9);
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(s.Memory()), 9), std::string("hello\0\0\0!", 9));
  EXPECT_EQ(s.Seek(-100, TSeekOrigin::Current), 0);
}

TEST(MemoryStream, ReadBufferRaisesOnShortRead) {
  TMemoryStream s;
  s.WriteBuffer("abc", 3);
  s.SetPosition(1);
  char buf[3];
  EXPECT_THROW(s.ReadBuffer(buf, 3), StreamReadError);
}

TEST(StringStream, CollectsBytesIncludingZeros) {
  TStringStream s;
  s.WriteBuffer("a\0b", 3);
  EXPECT_EQ(s.DataString(), std::string("a\0b", 3));
  TStringStream r("xyz");
  char c;
  r.Seek(1, TSeekOrigin::Beginning);
  r.ReadBuffer(&c, 1);
  EXPECT_EQ(c, 'y');
}

TEST(Stream, CopyFromCountZeroCopiesTheWholeSourceFromItsStart) {
  TMemoryStream source;
  source.WriteBuffer("0123456789", 10);  // position at the end
  TMemoryStream dest;
  dest.WriteBuffer(">", 1);
  EXPECT_EQ(dest.CopyFrom(source, 0), 10);
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(dest.Memory()), 11), ">0123456789");
  source.SetPosition(8);
  EXPECT_THROW(dest.CopyFrom(source, 5), StreamReadError);
}

class FileStreamTest : public ::testing::Test {
 protected:
  void SetUp() override {
    path_ = (std::filesystem::temp_directory_path() /
             ("pt-stream-" + std::to_string(::testing::UnitTest::GetInstance()->random_seed()) + "-" +
              ::testing::UnitTest::GetInstance()->current_test_info()->name()))
                .string();
  }
  void TearDown() override { std::remove(path_.c_str()); }
  std::string path_;
};

TEST_F(FileStreamTest, CreateWriteThenReadSharedWhileAnotherReaderHoldsIt) {
  {
    TFileStream out(path_, TFileStream::Mode::Create);
    out.WriteBuffer("file bytes", 10);
  }
  TFileStream a(path_, TFileStream::Mode::OpenReadShareAll);
  TFileStream b(path_, TFileStream::Mode::OpenReadShareAll);
  EXPECT_EQ(a.Size(), 10);
  b.Seek(-5, TSeekOrigin::End);
  char buf[5];
  b.ReadBuffer(buf, 5);
  EXPECT_EQ(std::string(buf, 5), "bytes");
  EXPECT_EQ(a.Position(), 0);
}

TEST_F(FileStreamTest, MissingFileRaisesOrGivesEmpty) {
  EXPECT_THROW(TFileStream(path_, TFileStream::Mode::OpenReadShareAll), FileOpenError);
  EXPECT_EQ(TFileStream::TryOpen(path_, TFileStream::Mode::OpenReadShareAll), nullptr);
}

}  // namespace
}  // namespace pageturn
