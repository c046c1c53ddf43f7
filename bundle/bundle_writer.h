// Writes bundles: entry data back to back, an optional MD5 digest of that data, the size table
// and the trailer, appended to a copy of a player executable. Used by pageturn-pack and by
// tests that need real books.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <unordered_map>
#include <vector>

#include "core/stream.h"

namespace pageturn {

// Bytes handled so far out of the total, for progress displays.
using TPackProgress = std::function<void(std::int64_t done, std::int64_t total)>;

// Writes exactly these entries (entry 0 first, whatever it holds) as a bundle section at the
// stream's position. digestFlag 0 writes no digest; any other value is stored as the flag byte
// and a digest follows the data. Returns the section size S.
std::int64_t WriteBundleSection(TStream& out, const std::vector<std::string>& entries,
                                std::uint8_t digestFlag);

class TBundleWriter {
 public:
  // Names are paths relative to the book root; '\' is turned into '/'. A name that is empty,
  // holds '=', a line break or a zero byte, or equals an earlier one without regard to case
  // raises Error.
  void AddEntry(const std::string& name, std::string bytes);
  // The file is read when the bundle is written.
  void AddFile(const std::string& name, const std::string& path);
  // Every regular file under the folder, named by its path relative to the folder.
  void AddFolder(const std::string& folder);
  void SetDigest(bool digest) { digest_ = digest; }

  // Entry names in index order (entry k+1 is Names()[k]): sorted without regard to case.
  std::vector<std::string> Names() const;
  // Entry 0: one "name=number" line per entry, each ended by CR LF.
  std::string IndexText() const;

  // The bundle section at the stream's position; returns S.
  std::int64_t WriteBundle(TStream& out, const TPackProgress& progress = {}) const;
  // A copy of the player with the bundle appended, written to a temporary file beside the book
  // (a name of its own per run: BOOK.PROCESS-N-T.partial), flushed to the disk and renamed onto
  // the book, so a failure never leaves a half-written book behind and two runs writing one
  // book never write into each other's file.
  void WriteBook(const std::string& player, const std::string& book,
                 const TPackProgress& progress = {}) const;

 private:
  struct TEntry {
    std::string name;
    std::string bytes;  // when path is empty
    std::string path;
  };
  std::vector<const TEntry*> Sorted() const;
  std::int64_t TotalSize() const;

  std::vector<TEntry> entries_;
  // Every name's lower-case form and its name key, to the entry that has it: one look-up per
  // added entry finds a clash.
  std::unordered_map<std::string, std::size_t> byLower_, byKey_;
  bool digest_ = false;
};

}  // namespace pageturn
