// The page pictures of a folder for `pageturn-pack make`: JPEG, PNG and GIF files recognised by
// their own bytes, sized from their own headers (nothing is decoded), in natural order.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace pageturn {

enum class TPictureKind { kJpeg, kPng, kGif };

// The page record: what the headers of one picture say.
struct TPictureSize {
  TPictureKind kind;
  std::uint32_t width, height;  // pixels as stored
  // The EXIF orientation of a JPEG (1 for every other picture), as the tag defines its values:
  // 1 upright, 2 mirrored left to right, 3 turned half round, 4 mirrored top to bottom,
  // 5 mirrored along the falling diagonal (transposed), 6 to be turned a quarter clockwise,
  // 7 mirrored along the rising diagonal, 8 to be turned a quarter anticlockwise.
  std::uint8_t orientation = 1;
  // The size as the page shows once upright: width and height swapped for orientations 5-8.
  std::uint32_t uprightWidth = 0, uprightHeight = 0;
  // A JPEG's frame header: its SOFn marker (C0 baseline, C2 progressive, C9 and up arithmetic,
  // C3/C7/CB/CF lossless), sample precision and number of components (4: CMYK or YCCK).
  std::uint8_t jpegFrame = 0, jpegPrecision = 0, jpegComponents = 0;
};

// Kind and size from the start of a picture file: the PNG IHDR chunk, the GIF logical screen,
// or the JPEG frame header (SOFn) and EXIF orientation found by walking the segments. Raises
// Error for anything else, or for a picture whose header gives no size.
TPictureSize ReadPictureSize(std::span<const std::uint8_t> bytes);

// Natural order of names: runs of digits compare by their value (page2 before page10), the
// rest without regard to letter case; names equal that way fall back to plain byte order.
bool NaturalLess(const std::string& a, const std::string& b);

struct TPagePicture {
  std::string name;  // file name inside the folder
  std::string path;
};

// The regular files of the folder (not its subfolders, not hidden dot-files, not the files
// that Windows keeps there: Thumbs.db, ehthumbs.db, desktop.ini), in natural order of their
// names. Raises Error when the folder cannot be read.
std::vector<TPagePicture> ListPageFiles(const std::string& folder);

// The largest picture a page movie holds: what Flash runtimes draw as one bitmap.
inline constexpr std::uint32_t kMaxPictureSide = 8191;
inline constexpr std::uint64_t kMaxPicturePixels = 16777215;

}  // namespace pageturn
