// Any byte string goes through the picture scan: the only acceptable outcomes are a scan or an
// SwfError, and a picture chosen is one of the bitmaps found.
#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "swf/movie.h"
#include "tools/picture_scan.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  pageturn::TMovieScan scan;
  try {
    scan = pageturn::ScanMoviePictures({data, size});
  } catch (const swf::SwfError&) {
    return 0;
  }
  if (scan.picture && *scan.picture >= scan.bitmaps.size()) std::abort();
  if (!scan.picture && !scan.bitmaps.empty()) std::abort();
  return 0;
}
