// Any byte string goes through the reader; the only acceptable outcomes are a movie or an
// SwfError. What reads is inflated where it holds zlib data, as a player would, and written
// back: when the writer takes it, reading and writing that again must give the same bytes.
#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "swf/image_header.h"
#include "swf/jpeg.h"
#include "swf/swf_reader.h"
#include "swf/swf_writer.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  // The same bytes as a picture: its header is read within them, or not at all.
  swf::ReadImageSize({data, size});
  swf::Movie movie;
  try {
    movie = swf::ReadMovie({data, size});
  } catch (const swf::SwfError&) {
    return 0;
  }
  for (const auto& frame : movie.frames)
    for (const auto& tag : frame.tags)
      if (const auto* bitmap = std::get_if<swf::DefineBitsLossless>(&tag)) {
        try {
          swf::InflateLossless(*bitmap, 4u << 20);
        } catch (const swf::SwfError&) {
        }
      } else if (const auto* jpeg = std::get_if<swf::DefineBitsJpeg>(&tag)) {
        const auto tables = movie.jpegTables ? std::span<const uint8_t>(*movie.jpegTables)
                                             : std::span<const uint8_t>();
        swf::ReadJpegFrame(swf::StandaloneImage(*jpeg, tables));
        swf::ReadJpegFrame(jpeg->image);
      }
  std::vector<uint8_t> written;
  try {
    written = swf::WriteMovie(movie);
  } catch (const swf::SwfError&) {
    return 0;  // read, but beyond what the writer makes (a field wider than it would write)
  }
  try {
    if (swf::WriteMovie(swf::ReadMovie(written)) != written) std::abort();
  } catch (const swf::SwfError&) {
    std::abort();  // the writer made a movie its own reader refuses
  }
  return 0;
}
