// The movies and the configuration file of a book made from page pictures: the navigator
// `book.swf`, one `files/large/N.swf` per page, and `ExeConfig.xml`.
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "swf/movie.h"
#include "tools/page_pictures.h"

namespace pageturn {

// What a made book's navigator asks its host at start through ExternalInterface.call.
inline constexpr char kHostProbeId[] = "{3F6C2D1E-9A4B-4c7d-B2E5-6D8A1F0C3B79}";

// The entry name of page `number` (from 1).
std::string PageMovieName(int number);

// Where a page sits in its book.
struct TPageLayout {
  std::uint32_t stageWidth = 0, stageHeight = 0;  // pixels, the navigator's stage
  int number = 1, count = 1;                      // page `number` of `count`
  bool pageNumbers = true;                        // draw "N / M" in the bottom right corner
  // How the stored picture turns upright (EXIF orientation 1 to 8; 1 is as stored). The size
  // given with the picture is its upright size.
  int orientation = 1;
};

// The stage of a book: the size most pages have (upright), the first such page's on a tie.
// `sizes` must not be empty.
std::pair<std::uint32_t, std::uint32_t> MostCommonSize(const std::vector<TPictureSize>& sizes);

// One page on the book's stage: the picture as it is (JPEG or PNG in DefineBitsJPEG2, never
// re-encoded), turned upright and scaled to fit inside the stage, aspect kept, centred, by a
// rectangle with a clipped bitmap fill; above it the page indicator "N / M" drawn with shapes.
swf::Movie PageMovie(std::vector<std::uint8_t> picture, const TPictureSize& size,
                     const TPageLayout& layout);

// The fill matrix (bitmap pixels to twips) that turns a stored picture of `storedWidth` x
// `storedHeight` pixels upright by EXIF `orientation` and scales it by `scale` with its top
// left corner at (`left`, `top`) twips.
swf::Matrix UprightMatrix(int orientation, std::uint32_t storedWidth, std::uint32_t storedHeight,
                          double scale, std::int32_t left, std::int32_t top);

// The level page `number` of `count` plays in: later pages in lower levels, so the page after
// the one shown waits, loaded, under it.
int PageLevel(int number, int count);

// The navigator: frame N (from 0) shows page N+1 and stops. The page shown plays in its level
// (PageLevel) and the next one is loaded behind it, so a forward turn unloads the page on top
// and shows a page already there; a backward turn loads its page over the one shown; a jump
// loads both afresh. A press on the right half of the window (the stage's right half and the
// band beside it), Right, Page Down, Down or Space turn forward; the left half, Left, Page Up,
// Up or Backspace back; Home and End go to the first and last page; F toggles full screen
// through FSCommand "fullscreen". At start it probes its host through ExternalInterface (the
// answer lands in variable "host"; nothing depends on it, so a host that cannot answer, a web
// page, sees the same navigator). It opens at the page named by the variable `page` when there
// is one (FlashVars on the web), and reports each page it shows with FSCommand "page" N (the
// Windows player ignores it).
swf::Movie NavigatorMovie(int pageCount, std::uint32_t stageWidth, std::uint32_t stageHeight);

// ExeConfig.xml as book files carry it: declaration, CR LF, the element on one line, CR LF.
// The caption goes in a CDATA section unless it holds "]]>"; then it is escaped text.
std::string ExeConfigText(const std::string& caption, int mode, int width, int height);

}  // namespace pageturn
