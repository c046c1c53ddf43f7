#include "bundle/md5.h"

#include <gtest/gtest.h>

#include <string>

namespace pageturn {
namespace {

// The test suite of RFC 1321, appendix A.5.
TEST(Md5, RfcTestSuite) {
  const struct {
    std::string input;
    const char* hex;
  } cases[] = {
      {"", "d41d8cd98f00b204e9800998ecf8427e"},
      {"a", "0cc175b9c0f1b6a831c399e269772661"},
      {"abc", "900150983cd24fb0d6963f7d28e17f72"},
      {"message digest", "f96b697d7cb7938d525a2f31aaf161d0"},
      {"abcdefghijklmnopqrstuvwxyz", "c3fcd3d76192e4007dfb496cca67e13b"},
      {"ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789",
       "d174ab98d277d9f5a5611c2c9f419d9f"},
      {"12345678901234567890123456789012345678901234567890123456789012345678901234567890",
       "57edf4a22be3c955ac49da2e2107b67a"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(Md5Hex(TMd5::Of(c.input.data(), c.input.size())), c.hex) << '"' << c.input << '"';
  }
}

// Pieces of every length across the 64-byte blocks give the digest of the whole.
TEST(Md5, PiecesGiveTheDigestOfTheWhole) {
  std::string data;
  for (int i = 0; i < 1000; ++i) data += static_cast<char>(i * 7 + 3);
  const TMd5Digest whole = TMd5::Of(data.data(), data.size());
  for (std::size_t piece : {1u, 3u, 55u, 56u, 63u, 64u, 65u, 127u, 999u}) {
    TMd5 md5;
    for (std::size_t at = 0; at < data.size(); at += piece) {
      md5.Update(data.data() + at, std::min(piece, data.size() - at));
    }
    EXPECT_EQ(md5.Final(), whole) << "piece " << piece;
  }
}

}  // namespace
}  // namespace pageturn
