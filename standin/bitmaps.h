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
// bits from the tag's or the picture's own header before a decoder sees it), nor beyond
// kMaxBitmapTotal for one movie or kMaxBitmapProcessTotal for every movie of the process (its
// levels and its objects together).
inline constexpr uint64_t kMaxBitmapBytes = 64ull * 1024 * 1024;
inline constexpr uint64_t kMaxBitmapTotal = 256ull * 1024 * 1024;
inline constexpr uint64_t kMaxBitmapProcessTotal = 384ull * 1024 * 1024;

// What the bitmaps of every movie of the process take now.
uint64_t BitmapProcessTotal();

// Decodes on first use and keeps what it decoded (or that it could not) for the movie's life.
class BitmapCache {
 public:
  BitmapCache() = default;
  ~BitmapCache();
  BitmapCache(const BitmapCache&) = delete;
  BitmapCache& operator=(const BitmapCache&) = delete;

  // The bitmap of character `id`, or null when the tag is no bitmap or cannot be decoded
  // (`error` then says why, once). `jpegTables` are the movie's, for DefineBits.
  const DecodedBitmap* Get(uint16_t id, const ::swf::Tag* tag, std::wstring* error,
                           std::span<const uint8_t> jpegTables = {});

 private:
  // Counts `bytes` in the movie's and the process's totals, or raises when either would pass
  // its cap; Release gives them back.
  void Reserve(uint64_t bytes);
  void Release(uint64_t bytes);

  std::map<uint16_t, std::unique_ptr<DecodedBitmap>> bitmaps_;
  uint64_t total_ = 0;
};

}  // namespace standin
