// The pictures inside a page movie of any origin, for `pageturn-pack pages` and `rescue`: a
// tolerant scan over the tags that reads the bitmap definitions, and enough of the shapes,
// sprites and the first frame's display list to tell which bitmap the page shows. Everything
// else (text, fonts, sounds, video, actions of any version) is skipped by its length. Every read
// is checked against its tag; a damaged tag is passed over, and a tag that runs past the movie
// ends the scan with what was found before it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <variant>
#include <vector>

#include "swf/movie.h"

namespace pageturn {

// Tag codes of the bitmap definitions beyond the strict reader's subset.
inline constexpr std::uint16_t kTagDefineBitsJpeg4 = 90;

struct TMovieBitmap {
  std::uint16_t code = 0;  // the defining tag: 6, 21, 35, 90, 20 or 36
  // DefineBits is version 1 (its frame without the movie's tables); DefineBitsJPEG3 and 4 are
  // version 3.
  std::variant<swf::DefineBitsJpeg, swf::DefineBitsLossless> tag;
  std::uint32_t width = 0, height = 0;  // from the picture's own header; 0 when it gives none
};

// "DefineBits", "DefineBitsJPEG2", ... "DefineBitsLossless2".
std::string BitmapTagName(std::uint16_t code);

struct TMovieScan {
  std::vector<TMovieBitmap> bitmaps;  // in file order; the first definition of each id
  std::optional<std::vector<std::uint8_t>> jpegTables;
  // The page's picture, an index into bitmaps: the largest bitmap the first frame shows by its
  // area on the stage, else the largest one defined (by pixels); none when there is no bitmap.
  std::optional<std::size_t> picture;
  bool shown = false;     // the picture is shown by the first frame, not only defined
  bool cutShort = false;  // the tags stop before End: a tag or the data is cut short
};

// Raises swf::SwfError for what is no movie at all: no FWS or CWS signature (an LZMA-compressed
// ZWS movie is named as such), compressed data that does not inflate, a header cut short.
TMovieScan ScanMoviePictures(std::span<const std::uint8_t> movie);

}  // namespace pageturn
