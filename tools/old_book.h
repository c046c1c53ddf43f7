// An older book, made by another tool in our bundle format, as `pages` and `rescue` read it:
// its page movies files/large/N.swf (any engine's book.swf around them), thumbnails
// files/thumb/N.jpg and ExeConfig.xml. Each page's picture is taken out of its movie as the file
// it was: JPEG data byte for byte, PNG and GIF as stored; a picture with an alpha channel of its
// own (DefineBitsJPEG3 with partial alpha, lossless bitmaps) becomes a PNG.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "bundle/exe_ext_reader.h"
#include "tools/picture_scan.h"

namespace pageturn {

class TOldBook {
 public:
  // Raises Error naming the file for a file that is no book (no bundle at its end) or a damaged
  // one (its trailer, sizes, digest or index do not hold).
  explicit TOldBook(const std::string& path);

  // The page numbers N of the book's files/large/N.swf, in number order (2 before 10).
  std::vector<int> Pages() const;
  // The bytes of an entry (names compare as the player compares them); none when absent.
  // Raises Error when the entry cannot be read.
  std::optional<std::vector<std::uint8_t>> Entry(const std::string& name) const;

 private:
  TExeExtReader reader_;
  std::map<std::string, std::int32_t> entries_;  // by BundleNameKey, first index line wins
  std::map<int, std::int32_t> pages_;            // page number to entry
};

struct TTakenPicture {
  int page = 0;
  std::string fileName;  // "N.jpg", "N.png" or "N.gif"
  std::vector<std::uint8_t> bytes;
  std::string source;  // the entry it came from
  std::string what;    // "DefineBitsJPEG2 1200×1600", "thumbnail 120×160"
};

struct TTakeOptions {
  bool thumbsForMissing = false;  // files/thumb/N.jpg stands in for a page showing no bitmap
  bool skipDamaged = false;       // a damaged page movie is reported and left out
};

// Every page's picture, handed to `take` one at a time, in page order, with a line per page to
// `out` ("page N: DefineBitsJPEG2 1200×1600 from files/large/N.swf"). Raises Error naming every
// page that shows no bitmap (and has no thumbnail to stand in, when asked) and every damaged
// page with its reason, once all pages were looked at; a book without page movies is an Error
// too.
void TakePagePictures(const TOldBook& book, const TTakeOptions& options, std::ostream& out,
                      const std::function<void(const TTakenPicture&)>& take);

// One page: its picture, or none when the movie shows no bitmap. Raises Error with the reason
// when the movie or its picture is damaged (or an LZMA-compressed movie).
std::optional<TTakenPicture> TakePagePicture(const TOldBook& book, int page);
// The page's thumbnail as it is stored; none when absent or no picture.
std::optional<TTakenPicture> TakeThumbnail(const TOldBook& book, int page);

// A folder of its own beside `target` for one run ("target.SUFFIX-PID-K"), removed with what it
// holds unless kept; what a command writes goes there first, so that nothing half-written is
// ever left at the target.
class TScratchFolder {
 public:
  TScratchFolder(const std::string& target, const std::string& suffix);
  ~TScratchFolder();
  TScratchFolder(const TScratchFolder&) = delete;
  TScratchFolder& operator=(const TScratchFolder&) = delete;

  const std::string& path() const { return path_; }
  // Writes a whole file into the folder; raises Error naming it when that fails.
  void Write(const std::string& name, const std::vector<std::uint8_t>& bytes) const;
  // The folder becomes `target`, which must be absent or an empty folder.
  void MoveTo(const std::string& target);

 private:
  std::string path_;
  bool kept_ = false;
};

// The entry names of a page's movie and thumbnail.
std::string OldPageMovieName(int page);
std::string OldThumbnailName(int page);

}  // namespace pageturn
