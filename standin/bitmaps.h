// The movie's bitmaps as GDI can blend them: 32-bit premultiplied BGRA DIB sections, decoded
// from DefineBits (with the movie's JPEGTables) and DefineBitsJPEG2/3 with the platform's
// imaging (WIC: JPEG, PNG, GIF) and from DefineBitsLossless/2 with zlib.
#pragma once

#include <windows.h>

#include <cstdint>
#include <map>
#include <memory>
#include <span>
#include <string>

#include "swf/movie.h"

namespace standin {

class DecodedBitmap {
 public:
  DecodedBitmap(int width, int height);  // throws when GDI cannot make it
  ~DecodedBitmap();
  DecodedBitmap(const DecodedBitmap&) = delete;
  DecodedBitmap& operator=(const DecodedBitmap&) = delete;

  int width() const { return width_; }
  int height() const { return height_; }
  HBITMAP handle() const { return bitmap_; }
  uint32_t* pixels() { return pixels_; }  // top-down rows of width() pixels
  bool opaque() const { return opaque_; }
  void set_opaque(bool opaque) { opaque_ = opaque; }

 private:
  int width_, height_;
  HBITMAP bitmap_ = nullptr;
  uint32_t* pixels_ = nullptr;
  bool opaque_ = true;
};

// No bitmap is decoded that would take more than this (width x height x 4, computed in 64
// bits before anything is allocated), nor more than kMaxBitmapTotal for one movie.
inline constexpr uint64_t kMaxBitmapBytes = 64ull * 1024 * 1024;
inline constexpr uint64_t kMaxBitmapTotal = 256ull * 1024 * 1024;

// Decodes on first use and keeps what it decoded (or that it could not) for the movie's life.
class BitmapCache {
 public:
  // The bitmap of character `id`, or null when the tag is no bitmap or cannot be decoded
  // (`error` then says why, once). `jpegTables` are the movie's, for DefineBits.
  const DecodedBitmap* Get(uint16_t id, const ::swf::Tag* tag, std::wstring* error,
                           std::span<const uint8_t> jpegTables = {});

 private:
  std::map<uint16_t, std::unique_ptr<DecodedBitmap>> bitmaps_;
  uint64_t total_ = 0;
};

}  // namespace standin
