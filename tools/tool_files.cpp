#include "tools/tool_files.h"

#include <algorithm>
#include <filesystem>

#ifdef _WIN32
#include <windows.h>
#endif

namespace pageturn {

namespace {

namespace fs = std::filesystem;

bool SameName(const fs::path& a, const fs::path& b) {
#ifdef _WIN32
  return ::CompareStringOrdinal(a.c_str(), -1, b.c_str(), -1, TRUE) == CSTR_EQUAL;
#else
  return a == b;
#endif
}

}  // namespace

bool PathLiesInside(const std::string& folderPath, const std::string& filePath) {
  fs::path folder = fs::weakly_canonical(folderPath);
  if (folder.filename().empty()) folder = folder.parent_path();  // "dir/" ends in an empty part
  const fs::path file = fs::weakly_canonical(filePath);
  const auto [stop, unused] =
      std::mismatch(folder.begin(), folder.end(), file.begin(), file.end(), SameName);
  return stop == folder.end();
}

}  // namespace pageturn
