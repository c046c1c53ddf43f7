// Platform glue of the bundle room (platform_win.cpp / platform_posix.cpp). Internal.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>

#include "core/stream.h"

namespace pageturn::bundle_platform {

// An existing regular file (not a folder).
bool FileExists(const std::string& path);

// What the lookup cache compares to decide that the file at a path is still the version it read
// and holds open. Natively, where an open file keeps nobody from writing it, it is taken from the
// open file and compared with the path's on every call: the change time moves with every write
// and every setting of the last-write time (which no program can set back), the volume and file
// id tell apart a file renamed into the place of another. On Windows the cache holds its files
// open against writers, replacers and lockers, so nothing needs comparing: there only size and
// times are kept (the volume serial costs a millisecond a call under Wine).
struct TFileIdentity {
  std::uint64_t volume = 0;
  std::uint64_t fileId = 0;
  std::int64_t size = 0;
  std::int64_t lastWrite = 0;   // native ticks
  std::int64_t changeTime = 0;  // native ticks
  bool operator==(const TFileIdentity&) const = default;
};
bool TryGetFileIdentity(const TFileStream& file, TFileIdentity& identity);
// Whether the file now at `path` is the one whose identity was taken (see above).
bool IsStillTheFileAt(const std::string& path, const TFileIdentity& identity);

void SleepMilliseconds(int milliseconds);

// The separator ProgramDirPath ends its folder with: '\' on Windows, '/' elsewhere.
char PathDelimiter();
bool IsPathDelimiter(char c);

}  // namespace pageturn::bundle_platform

namespace pageturn::bundle_platform {

// Moves `from` onto `to`, replacing what is there; natively the folder's entry of `to` is then
// written to the disk too.
void MoveOnto(const std::string& from, const std::string& to);
// What has been written to the open file is on the disk when this returns (raises Error else).
void FlushToDisk(TFileStream& file);
// A number of this process, for names of files that no other run uses at the same time.
unsigned long ProcessNumber();
// Gives `to` the permission bits of `from` (executables stay executable); nothing on Windows.
void CopyPermissions(const std::string& from, const std::string& to);
// A file name in the system's 8-bit text, from a path of std::filesystem.
std::string PathText(const std::filesystem::path& path);

}  // namespace pageturn::bundle_platform
