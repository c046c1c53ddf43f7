#include "tools/page_pictures.h"

#include <algorithm>
#include <filesystem>

#include "core/error.h"

namespace pageturn {

namespace {

std::uint32_t BigEndian32(std::span<const std::uint8_t> b, std::size_t at) {
  return std::uint32_t(b[at]) << 24 | std::uint32_t(b[at + 1]) << 16 |
         std::uint32_t(b[at + 2]) << 8 | b[at + 3];
}

std::uint32_t BigEndian16(std::span<const std::uint8_t> b, std::size_t at) {
  return std::uint32_t(b[at]) << 8 | b[at + 1];
}

TPictureSize Upright(TPictureSize size) {
  const bool turned = size.orientation >= 5;
  size.uprightWidth = turned ? size.height : size.width;
  size.uprightHeight = turned ? size.width : size.height;
  return size;
}

TPictureSize PngSize(std::span<const std::uint8_t> b) {
  // Signature, then the first chunk: length 13, "IHDR", width, height.
  static const std::uint8_t kIhdr[] = {0, 0, 0, 13, 'I', 'H', 'D', 'R'};
  if (b.size() < 24 || !std::equal(std::begin(kIhdr), std::end(kIhdr), b.begin() + 8))
    throw Error("PNG without its IHDR header");
  const TPictureSize size{TPictureKind::kPng, BigEndian32(b, 16), BigEndian32(b, 20)};
  if (size.width == 0 || size.height == 0) throw Error("PNG of no pixels");
  return Upright(size);
}

TPictureSize GifSize(std::span<const std::uint8_t> b) {
  // Signature, then the logical screen: little-endian width and height.
  if (b.size() < 10) throw Error("GIF without its screen size");
  const TPictureSize size{TPictureKind::kGif, std::uint32_t(b[6]) | std::uint32_t(b[7]) << 8,
                          std::uint32_t(b[8]) | std::uint32_t(b[9]) << 8};
  if (size.width == 0 || size.height == 0) throw Error("GIF of no pixels");
  return Upright(size);
}

// The orientation tag (0112) of IFD0 in an APP1 "Exif" segment; 1 when it is absent, damaged
// or out of range, since a picture shown as stored is the safe reading of a broken tag.
std::uint8_t ExifOrientation(std::span<const std::uint8_t> segment) {
  static const std::uint8_t kExif[] = {'E', 'x', 'i', 'f', 0, 0};
  if (segment.size() < 6 + 8 || !std::equal(std::begin(kExif), std::end(kExif), segment.begin()))
    return 1;
  const std::span<const std::uint8_t> tiff = segment.subspan(6);
  const bool little = tiff[0] == 'I' && tiff[1] == 'I';
  if (!little && !(tiff[0] == 'M' && tiff[1] == 'M')) return 1;
  auto u16 = [&](std::size_t at) {
    return little ? std::uint32_t(tiff[at]) | std::uint32_t(tiff[at + 1]) << 8
                  : BigEndian16(tiff, at);
  };
  auto u32 = [&](std::size_t at) {
    return little ? u16(at) | u16(at + 2) << 16 : BigEndian32(tiff, at);
  };
  if (u16(2) != 42) return 1;
  const std::uint32_t ifd = u32(4);
  if (ifd > tiff.size() || tiff.size() - ifd < 2) return 1;
  const std::uint32_t count = u16(ifd);
  for (std::uint32_t i = 0; i < count; ++i) {
    const std::size_t entry = ifd + 2 + std::size_t(i) * 12;
    if (entry > tiff.size() || tiff.size() - entry < 12) return 1;
    if (u16(entry) != 0x0112) continue;
    // Type SHORT, one value, held in the entry itself.
    const std::uint32_t value = u16(entry + 8);
    return u16(entry + 2) == 3 && u32(entry + 4) == 1 && value >= 1 && value <= 8
               ? std::uint8_t(value)
               : 1;
  }
  return 1;
}

bool IsFrameHeader(std::uint8_t marker) {
  // SOF0-SOF15 except DHT (C4), JPG (C8) and DAC (CC).
  return marker >= 0xC0 && marker <= 0xCF && marker != 0xC4 && marker != 0xC8 && marker != 0xCC;
}

TPictureSize JpegSize(std::span<const std::uint8_t> b) {
  std::size_t at = 2;  // after SOI
  std::uint8_t orientation = 1;
  bool sawExif = false;
  for (;;) {
    // Each segment: FF (any fill FFs), marker, then a big-endian length counting itself.
    if (at >= b.size() || b[at] != 0xFF) throw Error("JPEG without a frame header");
    while (at < b.size() && b[at] == 0xFF) ++at;
    if (at >= b.size()) throw Error("JPEG without a frame header");
    const std::uint8_t marker = b[at++];
    if (marker == 0x01 || (marker >= 0xD0 && marker <= 0xD8)) continue;  // no length
    if (marker == 0xD9 || marker == 0xDA) throw Error("JPEG without a frame header");
    if (b.size() - at < 2) throw Error("JPEG without a frame header");
    const std::uint32_t length = BigEndian16(b, at);
    if (length < 2 || length > b.size() - at) throw Error("JPEG segment past the end of the file");
    if (IsFrameHeader(marker)) {
      // Precision, then height and width.
      if (length < 8) throw Error("JPEG frame header too short");
      TPictureSize size{TPictureKind::kJpeg, BigEndian16(b, at + 5), BigEndian16(b, at + 3)};
      if (size.width == 0 || size.height == 0) throw Error("JPEG without its size in the header");
      size.orientation = orientation;
      size.jpegFrame = marker;
      size.jpegPrecision = b[at + 2];
      size.jpegComponents = b[at + 7];
      return Upright(size);
    }
    // The first EXIF segment holds the picture's own tags (a later one may be anything).
    if (marker == 0xE1 && !sawExif && length >= 8 && b[at + 2] == 'E' && b[at + 3] == 'x') {
      sawExif = true;
      orientation = ExifOrientation(b.subspan(at + 2, length - 2));
    }
    at += length;
  }
}

// What Windows writes into picture folders by itself (thumbnail caches, folder settings).
// Names starting with a dot (.DS_Store) and folders (__MACOSX) are left out anyway.
bool IsPlatformFile(const std::string& name) {
  std::string lower = name;
  for (char& c : lower)
    if (c >= 'A' && c <= 'Z') c = char(c - 'A' + 'a');
  return lower == "thumbs.db" || lower == "desktop.ini" || lower == "ehthumbs.db";
}

}  // namespace

TPictureSize ReadPictureSize(std::span<const std::uint8_t> bytes) {
  static const std::uint8_t kPng[] = {0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A};
  if (bytes.size() >= 8 && std::equal(std::begin(kPng), std::end(kPng), bytes.begin()))
    return PngSize(bytes);
  if (bytes.size() >= 3 && bytes[0] == 0xFF && bytes[1] == 0xD8 && bytes[2] == 0xFF)
    return JpegSize(bytes);
  static const std::uint8_t kGif87[] = {'G', 'I', 'F', '8', '7', 'a'};
  static const std::uint8_t kGif89[] = {'G', 'I', 'F', '8', '9', 'a'};
  if (bytes.size() >= 6 && (std::equal(std::begin(kGif87), std::end(kGif87), bytes.begin()) ||
                            std::equal(std::begin(kGif89), std::end(kGif89), bytes.begin())))
    return GifSize(bytes);
  throw Error("not a JPEG, PNG or GIF picture");
}

bool NaturalLess(const std::string& a, const std::string& b) {
  auto isDigit = [](char c) { return c >= '0' && c <= '9'; };
  auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? char(c - 'A' + 'a') : c; };
  std::size_t i = 0, j = 0;
  while (i < a.size() && j < b.size()) {
    if (isDigit(a[i]) && isDigit(b[j])) {
      std::size_t ie = i, je = j;
      while (ie < a.size() && isDigit(a[ie])) ++ie;
      while (je < b.size() && isDigit(b[je])) ++je;
      // The value without its leading zeros: more digits is larger, then digit by digit.
      std::size_t is = i, js = j;
      while (is + 1 < ie && a[is] == '0') ++is;
      while (js + 1 < je && b[js] == '0') ++js;
      if (ie - is != je - js) return ie - is < je - js;
      const int c = a.compare(is, ie - is, b, js, je - js);
      if (c != 0) return c < 0;
      i = ie;
      j = je;
    } else {
      const char x = lower(a[i]), y = lower(b[j]);
      if (x != y) return static_cast<unsigned char>(x) < static_cast<unsigned char>(y);
      ++i;
      ++j;
    }
  }
  if (a.size() - i != b.size() - j) return a.size() - i < b.size() - j;
  return a < b;
}

std::vector<TPagePicture> ListPageFiles(const std::string& folder) {
  namespace fs = std::filesystem;
  std::error_code error;
  if (!fs::is_directory(folder, error)) throw Error("Cannot open folder \"" + folder + "\"");
  std::vector<TPagePicture> pages;
  for (fs::directory_iterator it(folder, error), end; !error && it != end; it.increment(error)) {
    if (!it->is_regular_file(error)) continue;
    const std::string name = it->path().filename().string();
    if (name.empty() || name[0] == '.' || IsPlatformFile(name)) continue;
    pages.push_back({name, it->path().string()});
  }
  if (error) throw Error("Cannot read folder \"" + folder + "\": " + error.message());
  std::sort(pages.begin(), pages.end(), [](const TPagePicture& x, const TPagePicture& y) {
    return NaturalLess(x.name, y.name);
  });
  return pages;
}

}  // namespace pageturn
