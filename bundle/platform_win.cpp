// Windows glue: the module file name, file attributes, and the user locale's comparison.
#include <windows.h>

#include <string>
#include <vector>

#include "bundle/bundle_names.h"
#include "bundle/bundle_platform.h"
#include "bundle/exe_ext_reader.h"
#include "core/error.h"
#include "core/text.h"

namespace pageturn {

std::string ProgramFileName() {
  char path[MAX_PATH + 1] = {};
  ::GetModuleFileNameA(nullptr, path, MAX_PATH);
  return std::string(path);
}

bool SameBundleName(const std::string& a, const std::string& b) {
  return ::CompareStringA(LOCALE_USER_DEFAULT, NORM_IGNORECASE, a.data(),
                          static_cast<int>(a.size()), b.data(),
                          static_cast<int>(b.size())) == CSTR_EQUAL;
}

// A sort key made with the same locale and flags compares as CompareStringA does, so equal
// keys mean equal names.
std::string BundleNameKey(const std::string& name) {
  if (name.empty()) return std::string();
  const DWORD flags = LCMAP_SORTKEY | NORM_IGNORECASE;
  const int len = static_cast<int>(name.size());
  const int size = ::LCMapStringA(LOCALE_USER_DEFAULT, flags, name.data(), len, nullptr, 0);
  if (size <= 0) return std::string(1, '\0') + name;  // no key: only the very same bytes meet
  std::vector<char> key(static_cast<std::size_t>(size));
  const int made = ::LCMapStringA(LOCALE_USER_DEFAULT, flags, name.data(), len, key.data(), size);
  if (made <= 0) return std::string(1, '\0') + name;
  return std::string(key.data(), static_cast<std::size_t>(made - 1));  // without its final zero
}

namespace bundle_platform {

bool FileExists(const std::string& path) {
  const DWORD attributes = ::GetFileAttributesA(path.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY);
}

bool TryGetFileIdentity(const TFileStream& file, TFileIdentity& identity) {
  const HANDLE handle = file.NativeHandle();
  FILE_BASIC_INFO basic;
  FILE_STANDARD_INFO standard;
  if (!::GetFileInformationByHandleEx(handle, FileBasicInfo, &basic, sizeof basic) ||
      !::GetFileInformationByHandleEx(handle, FileStandardInfo, &standard, sizeof standard)) {
    return false;
  }
  identity.size = standard.EndOfFile.QuadPart;
  identity.lastWrite = basic.LastWriteTime.QuadPart;
  identity.changeTime = basic.ChangeTime.QuadPart;
  return true;
}

bool IsStillTheFileAt(const std::string&, const TFileIdentity&) { return true; }

void SleepMilliseconds(int milliseconds) { ::Sleep(static_cast<DWORD>(milliseconds)); }

char PathDelimiter() { return '\\'; }
bool IsPathDelimiter(char c) { return c == '\\' || c == ':'; }

}  // namespace bundle_platform
}  // namespace pageturn

namespace pageturn::bundle_platform {

void MoveOnto(const std::string& from, const std::string& to) {
  if (!::MoveFileExA(from.c_str(), to.c_str(), MOVEFILE_REPLACE_EXISTING)) {
    throw Error("Cannot rename \"" + from + "\" to \"" + to + "\"");
  }
}

void CopyPermissions(const std::string&, const std::string&) {}

void FlushToDisk(TFileStream& file) {
  if (!::FlushFileBuffers(file.NativeHandle()))
    throw Error("Cannot write \"" + file.FileName() + "\" to the disk");
}

unsigned long ProcessNumber() { return ::GetCurrentProcessId(); }

std::string PathText(const std::filesystem::path& path) { return WideToSystem(path.wstring()); }

}  // namespace pageturn::bundle_platform
