// The movies and the configuration file of a book made from page pictures: the navigator
// `book.swf`, one `files/large/N.swf` per page, and `ExeConfig.xml`.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "swf/movie.h"
#include "tools/page_pictures.h"

namespace pageturn {

// What a made book's navigator asks its host at start through ExternalInterface.call.
inline constexpr char kHostProbeId[] = "{3F6C2D1E-9A4B-4c7d-B2E5-6D8A1F0C3B79}";

// The entry name of page `number` (from 1).
std::string PageMovieName(int number);

// One page: the picture as it is (JPEG or PNG in DefineBitsJPEG2), drawn 1:1 by a rectangle
// with a clipped bitmap fill on a stage of the picture's size.
swf::Movie PageMovie(std::vector<std::uint8_t> picture, const TPictureSize& size);

// The navigator: frame N (from 0) loads page N+1 into level 1 and stops. A click on the right
// half of the stage, Right or Page Down turn forward; the left half, Left or Page Up back; Home
// and End go to the first and last page; F toggles full screen through FSCommand "fullscreen".
// At start it probes its host through ExternalInterface (the answer lands in variable "host";
// nothing depends on it, so a host that cannot answer, a web page, sees the same navigator).
// It opens at the page named by the variable `page` when there is one (FlashVars on the web),
// and reports each page it shows with FSCommand "page" N (the Windows player ignores it).
swf::Movie NavigatorMovie(int pageCount, std::uint32_t stageWidth, std::uint32_t stageHeight);

// ExeConfig.xml as book files carry it: declaration, CR LF, the element on one line, CR LF.
// The caption goes in a CDATA section unless it holds "]]>"; then it is escaped text.
std::string ExeConfigText(const std::string& caption, int mode, int width, int height);

}  // namespace pageturn
