// Reader of the bundle appended to an executable: trailer, size table, optional MD5 digest,
// and entries by number. Entry 0 is the index that maps names to numbers (see bundle_lookup.h).
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "core/stream.h"

namespace pageturn {

class TExeExtReader {
 public:
  // A name that is blank after trimming means the running program's own file. A missing file,
  // or one that cannot be opened within 5 seconds, leaves the reader empty (EntryCount 0).
  // Raises Error("Can not find extent section") or Error("Content Valid failed!"), and
  // Error("Extent section does not fit the file") for a trailer whose numbers the file cannot
  // hold (checked before anything that large is read or allocated).
  explicit TExeExtReader(const std::string& fileName);
  // The same from a file already opened (by OpenBundleFile) under that name.
  TExeExtReader(const std::string& fileName, TStream& file);

  // The share-everything, read-only open of the constructor: null when no file of that name
  // exists or it cannot be opened within 5 seconds.
  static std::unique_ptr<TFileStream> OpenBundleFile(const std::string& fileName);

  // Appends entry n to the destination at its current position. A destination that is a plain
  // TMemoryStream keeps every byte it held when the read fails.
  // Raises AssertionFailed("Error index", "ExeExt", 308) for n outside [0, EntryCount).
  void ReadEntry(std::int32_t n, TStream& destination) const;
  // The same through a file already open on FileName().
  void ReadEntry(std::int32_t n, TStream& destination, TStream& file) const;
  // The entry's bytes as an 8-bit string, byte for byte.
  std::string ReadEntryText(std::int32_t n) const;

  const std::string& FileName() const { return FileName_; }
  std::int32_t EntryCount() const { return EntryCount_; }
  const std::vector<std::int32_t>& EntrySizes() const { return EntrySizes_; }
  std::int32_t DataStart() const { return DataStart_; }
  // The trailer's digest flag byte and section size S (0 until a trailer was read).
  std::uint8_t DigestFlag() const { return DigestFlag_; }
  std::int32_t SectionSize() const { return SectionSize_; }

 private:
  void ReadTrailer(TStream& file);

  std::string FileName_;
  std::int32_t EntryCount_ = 0;
  std::vector<std::int32_t> EntrySizes_;
  std::int32_t DataStart_ = 0;
  std::uint8_t DigestFlag_ = 0;
  std::int32_t SectionSize_ = 0;
};

// Entries are copied through one buffer of at most this size (60 MiB).
constexpr std::int32_t kExeExtCopyBufferSize = 0x3C00000;

// The file a reader opens for this name: blank after trimming means ProgramFileName().
std::string BundleFileName(const std::string& fileName);

// The full path of the running program's own file.
std::string ProgramFileName();
// "" stays ""; a path ending in '\' stays; anything else gets one '\' appended.
std::string WithTrailingBackslash(const std::string& path);
// The program's directory (up to and including the last '\' or ':'), with a trailing
// backslash, then the name as it stands. Natively the folder separator is '/'.
std::string ProgramDirPath(const std::string& name);

}  // namespace pageturn
