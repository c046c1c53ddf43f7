// Platform glue of the bundle room (platform_win.cpp / platform_posix.cpp). Internal.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>

namespace pageturn::bundle_platform {

// An existing regular file (not a folder).
bool FileExists(const std::string& path);

// What the lookup cache compares to decide that the file on disk is still the one it read.
struct TFileIdentity {
  std::int64_t size = 0;
  std::int64_t lastWrite = 0;  // native ticks of the last-write time
  std::uint64_t fileId = 0;    // inode natively; 0 on Windows (no open needed to read the rest)
  bool operator==(const TFileIdentity&) const = default;
};
bool TryGetFileIdentity(const std::string& path, TFileIdentity& identity);

void SleepMilliseconds(int milliseconds);

// The separator ProgramDirPath ends its folder with: '\' on Windows, '/' elsewhere.
char PathDelimiter();
bool IsPathDelimiter(char c);

}  // namespace pageturn::bundle_platform

namespace pageturn::bundle_platform {

// Moves `from` onto `to`, replacing what is there.
void MoveOnto(const std::string& from, const std::string& to);
// Gives `to` the permission bits of `from` (executables stay executable); nothing on Windows.
void CopyPermissions(const std::string& from, const std::string& to);
// A file name in the system's 8-bit text, from a path of std::filesystem.
std::string PathText(const std::filesystem::path& path);

}  // namespace pageturn::bundle_platform
