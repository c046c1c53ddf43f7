#include "tools/old_book.h"

#include <algorithm>
#include <filesystem>
#include <fstream>

#ifdef _WIN32
#include <windows.h>
#else
#include <unistd.h>
#endif

#include "bundle/bundle_names.h"
#include "core/error.h"
#include "core/stream.h"
#include "core/text.h"
#include "swf/jpeg.h"
#include "swf/swf_reader.h"
#include "tools/imaging.h"

namespace pageturn {

namespace {

const char kLargePrefix[] = "files/large/";

// The page number of an entry named files/large/N.swf (any letter case, either slash); 0 for
// any other name.
int PageNumberOf(std::string name) {
  std::replace(name.begin(), name.end(), '\\', '/');
  name = LowerAscii(name);
  const std::string prefix = kLargePrefix;
  if (name.size() <= prefix.size() + 4 || name.compare(0, prefix.size(), prefix) != 0 ||
      name.compare(name.size() - 4, 4, ".swf") != 0)
    return 0;
  const std::string digits = name.substr(prefix.size(), name.size() - prefix.size() - 4);
  if (digits.size() > 6 ||
      !std::all_of(digits.begin(), digits.end(), [](char c) { return c >= '0' && c <= '9'; }))
    return 0;
  return std::stoi(digits);
}

TExeExtReader OpenReader(const std::string& path) {
  try {
    TExeExtReader reader(path);
    if (reader.EntryCount() == 0) throw Error("no bundle at its end");
    return reader;
  } catch (const Error& e) {
    const std::string reason = e.what();
    if (reason == "Can not find extent section" || reason == "no bundle at its end")
      throw Error("\"" + path + "\" is not a book: no bundle at its end");
    throw Error("The book \"" + path + "\" is damaged: " + reason);
  }
}

std::string Size(std::uint32_t width, std::uint32_t height) {
  return std::to_string(width) + "\xC3\x97" + std::to_string(height);  // U+00D7
}

const char* Extension(swf::ImageKind kind) {
  switch (kind) {
    case swf::ImageKind::kJpeg:
      return ".jpg";
    case swf::ImageKind::kPng:
      return ".png";
    case swf::ImageKind::kGif:
      return ".gif";
    case swf::ImageKind::kUnknown:
      break;
  }
  throw Error("image data neither JPEG, PNG nor GIF");
}

// A JPEG the tools can take: its markers lead to a frame header.
std::vector<std::uint8_t> CheckedJpeg(std::vector<std::uint8_t> jpeg) {
  if (!swf::ReadJpegFrame(jpeg)) throw Error("JPEG data without a frame header");
  return jpeg;
}

std::uint8_t Unpremultiply(std::uint32_t c, std::uint32_t a) {
  return std::uint8_t(a == 0 ? 0 : std::min<std::uint32_t>(255, (c * 255 + a / 2) / a));
}

// A lossless bitmap's pixels as straight RGBA: a palette (RGB, or premultiplied RGBA in
// Lossless2), RGB555, or 32-bit XRGB (premultiplied ARGB in Lossless2); rows padded to 4 bytes.
TImage LosslessPixels(const swf::DefineBitsLossless& tag) {
  using Format = swf::DefineBitsLossless;
  if (tag.width == 0 || tag.height == 0) throw Error("an empty bitmap");
  if (tag.format != Format::kPalette && tag.format != Format::kRgb555 &&
      tag.format != Format::kRgb32)
    throw Error("lossless format " + std::to_string(tag.format));
  std::vector<std::uint8_t> data;
  try {
    data = swf::InflateLossless(tag);
  } catch (const swf::SwfError& e) {
    throw Error(std::string("bitmap data: ") + e.what());
  }
  const bool alpha = tag.version == 2;
  const std::size_t w = tag.width, h = tag.height;
  TImage image;
  image.width = tag.width;
  image.height = tag.height;
  image.rgba.resize(w * h * 4);
  auto put = [&](std::size_t i, std::uint32_t r, std::uint32_t g, std::uint32_t b,
                 std::uint32_t a) {
    std::uint8_t* p = &image.rgba[i * 4];
    if (alpha) {
      r = Unpremultiply(std::min(r, a), a);
      g = Unpremultiply(std::min(g, a), a);
      b = Unpremultiply(std::min(b, a), a);
    }
    p[0] = std::uint8_t(r), p[1] = std::uint8_t(g), p[2] = std::uint8_t(b), p[3] = std::uint8_t(a);
  };
  if (tag.format == Format::kPalette) {
    const std::size_t entry = alpha ? 4 : 3, table = std::size_t(tag.colorTableSize) * entry;
    const std::size_t stride = (w + 3) / 4 * 4;
    for (std::size_t y = 0; y < h; ++y) {
      for (std::size_t x = 0; x < w; ++x) {
        const std::size_t index = data[table + y * stride + x];
        if (index >= tag.colorTableSize) {
          put(y * w + x, 0, 0, 0, alpha ? 0 : 255);  // past the table: nothing to show
          continue;
        }
        const std::uint8_t* e = &data[index * entry];
        put(y * w + x, e[0], e[1], e[2], alpha ? e[3] : 255);
      }
    }
  } else if (tag.format == Format::kRgb555) {
    const std::size_t stride = (w * 2 + 3) / 4 * 4;
    for (std::size_t y = 0; y < h; ++y) {
      for (std::size_t x = 0; x < w; ++x) {
        const std::uint32_t v = std::uint32_t(data[y * stride + x * 2]) << 8 |
                                data[y * stride + x * 2 + 1];  // pad, 5 red, 5 green, 5 blue
        put(y * w + x, (v >> 10 & 31) * 255 / 31, (v >> 5 & 31) * 255 / 31, (v & 31) * 255 / 31,
            255);
      }
    }
  } else {
    for (std::size_t i = 0; i < w * h; ++i) {
      const std::uint8_t* p = &data[i * 4];
      put(i, p[1], p[2], p[3], alpha ? p[0] : 255);
    }
  }
  return image;
}

// JPEG3 (and 4): the JPEG as it is where its alpha is fully opaque, else a PNG with that alpha.
// PNG and GIF data carry their own transparency and are taken as stored.
TTakenPicture Jpeg3Picture(const swf::DefineBitsJpeg& tag, const TMovieBitmap& bitmap,
                           TTakenPicture picture) {
  if (tag.kind != swf::ImageKind::kJpeg) {
    picture.fileName += Extension(tag.kind);
    picture.bytes = tag.image;
    return picture;
  }
  std::vector<std::uint8_t> jpeg = CheckedJpeg(swf::StandaloneJpeg(tag.image));
  std::vector<std::uint8_t> alpha;
  if (!tag.alphaZlib.empty()) {
    try {
      alpha = swf::Inflate(tag.alphaZlib, std::uint64_t(bitmap.width) * bitmap.height,
                           swf::kMaxBitmapBytes);
    } catch (const swf::SwfError& e) {
      throw Error(std::string("alpha data: ") + e.what());
    }
  }
  if (std::all_of(alpha.begin(), alpha.end(), [](std::uint8_t a) { return a == 0xFF; })) {
    picture.fileName += ".jpg";
    picture.bytes = std::move(jpeg);
    return picture;
  }
  TImage image = DecodePicture(jpeg);
  if (image.width != bitmap.width || image.height != bitmap.height)
    throw Error("JPEG decodes to another size than its frame header gives");
  // The colours are not premultiplied in the file.
  for (std::size_t i = 0; i < alpha.size(); ++i) image.rgba[i * 4 + 3] = alpha[i];
  picture.fileName += ".png";
  picture.bytes = EncodePng(image);
  return picture;
}

}  // namespace

TScratchFolder::TScratchFolder(const std::string& target, const std::string& suffix) {
  namespace fs = std::filesystem;
#ifdef _WIN32
  const unsigned long pid = GetCurrentProcessId();
#else
  const unsigned long pid = static_cast<unsigned long>(getpid());
#endif
  for (int k = 0; k < 1000; ++k) {
    const std::string candidate =
        target + "." + suffix + "-" + std::to_string(pid) + "-" + std::to_string(k);
    std::error_code error;
    if (fs::create_directory(candidate, error)) {
      path_ = candidate;
      return;
    }
    if (error) throw Error("Cannot make the folder \"" + candidate + "\": " + error.message());
  }
  throw Error("Cannot make a folder beside \"" + target + "\"");
}

TScratchFolder::~TScratchFolder() {
  if (kept_) return;
  std::error_code ignored;
  std::filesystem::remove_all(path_, ignored);
}

void TScratchFolder::Write(const std::string& name, const std::vector<std::uint8_t>& bytes) const {
  const std::string path = (std::filesystem::path(path_) / name).string();
  std::ofstream file(path, std::ios::binary | std::ios::trunc);
  file.write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
  file.close();
  if (!file) throw Error("Cannot write file \"" + path + "\"");
}

void TScratchFolder::MoveTo(const std::string& target) {
  namespace fs = std::filesystem;
  std::error_code error;
  if (fs::exists(target, error)) {
    if (!fs::is_directory(target, error) || !fs::is_empty(target, error))
      throw Error("\"" + target + "\" exists and is not an empty folder");
    fs::remove(target, error);
  }
  fs::rename(path_, target, error);
  if (error)
    throw Error("Cannot rename \"" + path_ + "\" to \"" + target + "\": " + error.message());
  kept_ = true;
}

std::string OldPageMovieName(int page) { return kLargePrefix + std::to_string(page) + ".swf"; }
std::string OldThumbnailName(int page) { return "files/thumb/" + std::to_string(page) + ".jpg"; }

TOldBook::TOldBook(const std::string& path) : reader_(OpenReader(path)) {
  std::vector<TBundleIndexLine> lines;
  try {
    lines = ParseBundleIndex(reader_.ReadEntryText(0));
  } catch (const Error& e) {
    throw Error("The book \"" + path + "\" is damaged: " + e.what());
  }
  for (const TBundleIndexLine& line : lines) {
    const std::int32_t number = BundleIndexNumber(line.value);
    if (!entries_.emplace(BundleNameKey(line.name), number).second) continue;
    if (const int page = PageNumberOf(line.name); page > 0) pages_.emplace(page, number);
  }
}

std::vector<int> TOldBook::Pages() const {
  std::vector<int> pages;
  for (const auto& [page, entry] : pages_) pages.push_back(page);
  return pages;
}

std::optional<std::vector<std::uint8_t>> TOldBook::Entry(const std::string& name) const {
  auto found = entries_.find(BundleNameKey(name));
  if (found == entries_.end()) return std::nullopt;
  if (found->second <= 0 || found->second >= reader_.EntryCount())
    throw Error("its index line names no entry");
  TMemoryStream bytes;
  reader_.ReadEntry(found->second, bytes);
  return bytes.Bytes();
}

std::optional<TTakenPicture> TakePagePicture(const TOldBook& book, int page) {
  TTakenPicture picture;
  picture.page = page;
  picture.source = OldPageMovieName(page);
  picture.fileName = std::to_string(page);
  std::optional<std::vector<std::uint8_t>> movie;
  TMovieScan scan;
  try {
    movie = book.Entry(picture.source);
    if (!movie) throw Error("no such entry");
    scan = ScanMoviePictures(*movie);
  } catch (const std::exception& e) {
    throw Error(e.what());
  }
  if (!scan.picture) {
    if (scan.cutShort) throw Error("the movie is cut short before any bitmap");
    return std::nullopt;
  }
  const TMovieBitmap& bitmap = scan.bitmaps[*scan.picture];
  const std::string what = BitmapTagName(bitmap.code) + " " + Size(bitmap.width, bitmap.height);
  picture.what = what;
  try {
    if (const auto* lossless = std::get_if<swf::DefineBitsLossless>(&bitmap.tag)) {
      picture.fileName += ".png";
      picture.bytes = EncodePng(LosslessPixels(*lossless));
      return picture;
    }
    const auto& jpeg = std::get<swf::DefineBitsJpeg>(bitmap.tag);
    if (jpeg.version != 1) Extension(jpeg.kind);  // raises for data of no kind we know
    if (bitmap.width == 0 || bitmap.height == 0) throw Error("its header gives no size");
    if (jpeg.version == 1) {
      const auto tables = scan.jpegTables ? std::span<const std::uint8_t>(*scan.jpegTables)
                                          : std::span<const std::uint8_t>();
      picture.fileName += ".jpg";
      picture.bytes = CheckedJpeg(swf::JoinJpegTables(tables, jpeg.image));
      return picture;
    }
    if (jpeg.version == 3) return Jpeg3Picture(jpeg, bitmap, std::move(picture));
    picture.fileName += Extension(jpeg.kind);
    picture.bytes = jpeg.kind == swf::ImageKind::kJpeg
                        ? CheckedJpeg(swf::StandaloneJpeg(jpeg.image))
                        : jpeg.image;
    return picture;
  } catch (const std::exception& e) {
    throw Error(what + ": " + e.what());
  }
}

std::optional<TTakenPicture> TakeThumbnail(const TOldBook& book, int page) {
  TTakenPicture picture;
  picture.page = page;
  picture.source = OldThumbnailName(page);
  std::optional<std::vector<std::uint8_t>> bytes = book.Entry(picture.source);
  if (!bytes) return std::nullopt;
  const swf::ImageKind kind = swf::ImageKindOf(*bytes);
  if (kind == swf::ImageKind::kJpeg) {
    const auto frame = swf::ReadJpegFrame(*bytes);
    if (!frame) return std::nullopt;
    picture.what = "thumbnail " + Size(frame->width, frame->height);
  } else if (kind == swf::ImageKind::kPng) {
    picture.what = "thumbnail";
  } else {
    return std::nullopt;
  }
  picture.fileName = std::to_string(page) + Extension(kind);
  picture.bytes = std::move(*bytes);
  return picture;
}

void TakePagePictures(const TOldBook& book, const TTakeOptions& options, std::ostream& out,
                      const std::function<void(const TTakenPicture&)>& take) {
  const std::vector<int> pages = book.Pages();
  if (pages.empty()) throw Error("The book has no page movies (files/large/N.swf)");
  std::vector<int> missing;
  std::vector<std::string> damaged;
  for (const int page : pages) {
    std::optional<TTakenPicture> picture;
    try {
      picture = TakePagePicture(book, page);
    } catch (const std::exception& e) {
      damaged.push_back("page " + std::to_string(page) + " (" + OldPageMovieName(page) +
                        "): " + e.what());
      out << damaged.back() << (options.skipDamaged ? ", left out" : "") << "\n";
      continue;
    }
    if (!picture && options.thumbsForMissing) {
      try {
        picture = TakeThumbnail(book, page);
      } catch (const std::exception&) {
        // An unreadable thumbnail stands in for nothing.
      }
    }
    if (!picture) {
      missing.push_back(page);
      out << "page " << page << ": no bitmap in " << OldPageMovieName(page) << "\n";
      continue;
    }
    out << "page " << page << ": " << picture->what << " from " << picture->source << "\n";
    take(*picture);
  }
  std::string problems;
  if (!missing.empty()) {
    problems += missing.size() == 1 ? "Page " : "Pages ";
    for (std::size_t i = 0; i < missing.size(); ++i)
      problems += (i ? ", " : "") + std::to_string(missing[i]);
    const bool one = missing.size() == 1;
    problems += one ? " shows no bitmap" : " show no bitmap";
    if (options.thumbsForMissing)
      problems += one ? " and has no thumbnail" : " and have no thumbnail";
    else
      problems += " (--thumbs-for-missing takes the thumbnails)";
  }
  if (!damaged.empty() && !options.skipDamaged) {
    if (!problems.empty()) problems += "; ";
    problems += std::to_string(damaged.size()) + (damaged.size() == 1 ? " page is" : " pages are") +
                " damaged (--skip-damaged leaves them out): ";
    for (std::size_t i = 0; i < damaged.size(); ++i) problems += (i ? "; " : "") + damaged[i];
  }
  if (!problems.empty()) throw Error(problems);
  if (damaged.size() == pages.size()) throw Error("Every page movie is damaged");
}

}  // namespace pageturn
