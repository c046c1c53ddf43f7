// Any byte string goes through the reader; the only acceptable outcomes are a movie or an
// SwfError. What reads is also inflated where it holds zlib data, as a player would.
#include <cstddef>
#include <cstdint>

#include "swf/swf_reader.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  try {
    swf::Movie movie = swf::ReadMovie({data, size});
    for (const auto& frame : movie.frames)
      for (const auto& tag : frame.tags)
        if (const auto* bitmap = std::get_if<swf::DefineBitsLossless>(&tag)) {
          try {
            swf::InflateLossless(*bitmap, 4u << 20);
          } catch (const swf::SwfError&) {
          }
        } else if (const auto* jpeg = std::get_if<swf::DefineBitsJpeg>(&tag)) {
          swf::StandaloneImage(*jpeg);
        }
  } catch (const swf::SwfError&) {
  }
  return 0;
}
