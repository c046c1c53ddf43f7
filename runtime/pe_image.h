// Reading PE32 images that nobody vouches for: one checked reader over a byte range, and the
// headers of an i386 DLL parsed through it. Portable; the loader and the resource walk build on it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>

#include "core/error.h"

namespace pageturn {

// A module image that is malformed or does not fit where it claims to lie.
class TImageFormatError : public Error {
 public:
  explicit TImageFormatError(const std::string& what) : Error("Invalid module image: " + what) {}
};

// Every access to image bytes goes through here. The checks are written so that they cannot
// overflow: offset > size || length > size - offset.
class TCheckedBytes {
 public:
  TCheckedBytes() = default;
  TCheckedBytes(std::uint8_t* data, std::size_t size) : data_(data), size_(size) {}

  std::uint8_t* Data() const { return data_; }
  std::size_t Size() const { return size_; }
  bool Contains(std::uint64_t offset, std::uint64_t length) const {
    return !(offset > size_ || length > size_ - offset);
  }
  // The `length` bytes at `offset`, or an error naming `what`.
  std::uint8_t* At(std::uint64_t offset, std::uint64_t length, const char* what) const {
    if (!Contains(offset, length)) throw TImageFormatError(std::string(what) + " lies outside the image");
    return data_ + offset;
  }
  std::uint16_t U16(std::uint64_t offset, const char* what) const {
    std::uint16_t v;
    std::memcpy(&v, At(offset, 2, what), 2);
    return v;
  }
  std::uint32_t U32(std::uint64_t offset, const char* what) const {
    std::uint32_t v;
    std::memcpy(&v, At(offset, 4, what), 4);
    return v;
  }
  void PutU32(std::uint64_t offset, std::uint32_t value, const char* what) const {
    std::memcpy(At(offset, 4, what), &value, 4);
  }
  // A zero-terminated string that must end inside the image.
  const char* CString(std::uint64_t offset, const char* what) const {
    const std::uint8_t* start = At(offset, 0, what);
    if (std::memchr(start, 0, size_ - offset) == nullptr)
      throw TImageFormatError(std::string(what) + " runs past the end of the image");
    return reinterpret_cast<const char*>(start);
  }

 private:
  std::uint8_t* data_ = nullptr;
  std::size_t size_ = 0;
};

// Data directory indexes this system reads.
enum TImageDirectory : unsigned { ExportDirectory = 0, ImportDirectory = 1, ResourceDirectory = 2,
                                  BaseRelocationDirectory = 5 };

struct TDataDirectory {
  std::uint32_t VirtualAddress = 0;
  std::uint32_t Size = 0;
};

struct TSectionHeader {
  std::uint32_t VirtualSize;
  std::uint32_t VirtualAddress;
  std::uint32_t SizeOfRawData;
  std::uint32_t PointerToRawData;
};

// The fields of IMAGE_NT_HEADERS32 that mapping uses, validated on the way in.
struct TPEHeaders {
  // Images claiming more than this are refused before anything is allocated; the real runtime
  // needs a few tens of MiB.
  static constexpr std::uint32_t MaxSizeOfImage = 256u << 20;

  std::uint32_t NtHeadersOffset = 0;
  std::uint16_t NumberOfSections = 0;
  std::uint32_t SectionTableOffset = 0;
  std::uint32_t AddressOfEntryPoint = 0;
  std::uint32_t ImageBase = 0;
  std::uint32_t SizeOfImage = 0;
  std::uint32_t SizeOfHeaders = 0;
  TDataDirectory Directories[16] = {};

  // Parses the headers at the start of `image` (a file image, or a mapped one: the headers are
  // laid out the same in both). Raises TImageFormatError unless they describe an i386 PE32 image
  // whose headers and section table lie inside `image`.
  static TPEHeaders Parse(const TCheckedBytes& image);
  TSectionHeader Section(const TCheckedBytes& image, unsigned index) const;
};

// Ordinal imports and lookups travel as a "name" whose value is below 0x10000 (MAKEINTRESOURCE).
inline bool IsOrdinalName(const char* name) {
  return (reinterpret_cast<std::uintptr_t>(name) >> 16) == 0;
}
inline const char* OrdinalName(std::uint16_t ordinal) {
  return reinterpret_cast<const char*>(static_cast<std::uintptr_t>(ordinal));
}

}  // namespace pageturn
