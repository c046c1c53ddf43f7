// MD5 message digest (RFC 1321), fed in pieces so large inputs never need one block.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>

namespace pageturn {

using TMd5Digest = std::array<std::uint8_t, 16>;

class TMd5 {
 public:
  TMd5();
  void Update(const void* data, std::size_t size);
  // The 16 raw digest bytes in their standard order; the object is spent afterwards.
  TMd5Digest Final();

  static TMd5Digest Of(const void* data, std::size_t size);

 private:
  void Transform(const std::uint8_t block[64]);

  std::uint32_t state_[4];
  std::uint64_t length_ = 0;  // bytes so far
  std::uint8_t buffer_[64];
};

// Lower-case hexadecimal text of a digest, for people and tests.
std::string Md5Hex(const TMd5Digest& digest);

}  // namespace pageturn
