// The page pictures of a folder for `pageturn-pack make`: JPEG and PNG files recognised by
// their own bytes, sized from their own headers (nothing is decoded), in natural order.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace pageturn {

enum class TPictureKind { kJpeg, kPng };

struct TPictureSize {
  TPictureKind kind;
  std::uint32_t width, height;  // pixels
};

// Kind and size from the start of a picture file: the PNG IHDR chunk, or the JPEG frame header
// (SOFn) found by walking the segments. Raises Error for anything else, or for a picture whose
// header gives no size.
TPictureSize ReadPictureSize(std::span<const std::uint8_t> bytes);

// Natural order of names: runs of digits compare by their value (page2 before page10), the
// rest without regard to letter case; names equal that way fall back to plain byte order.
bool NaturalLess(const std::string& a, const std::string& b);

struct TPagePicture {
  std::string name;  // file name inside the folder
  std::string path;
};

// The regular files of the folder (not its subfolders, not hidden dot-files), in natural order
// of their names. Raises Error when the folder cannot be read.
std::vector<TPagePicture> ListPageFiles(const std::string& folder);

// The largest picture a page movie holds: what Flash runtimes draw as one bitmap.
inline constexpr std::uint32_t kMaxPictureSide = 8191;
inline constexpr std::uint64_t kMaxPicturePixels = 16777215;

}  // namespace pageturn
