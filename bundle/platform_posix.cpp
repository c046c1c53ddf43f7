// Linux glue: /proc/self/exe, stat(), and Unicode case folding through the C.UTF-8 locale.
#include <fcntl.h>
#include <locale.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>
#include <wctype.h>

#include <algorithm>
#include <cctype>
#include <climits>
#include <cstdio>
#include <string>

#include "bundle/bundle_names.h"
#include "bundle/bundle_platform.h"
#include "bundle/exe_ext_reader.h"
#include "core/error.h"
#include "core/text.h"

namespace pageturn {

std::string ProgramFileName() {
  char path[PATH_MAX + 1] = {};
  const ssize_t n = ::readlink("/proc/self/exe", path, PATH_MAX);
  return n > 0 ? std::string(path, static_cast<std::size_t>(n)) : std::string();
}

namespace {

locale_t FoldingLocale() {
  static const locale_t locale = [] {
    locale_t l = ::newlocale(LC_CTYPE_MASK, "C.UTF-8", static_cast<locale_t>(0));
    return l ? l : ::newlocale(LC_CTYPE_MASK, "C", static_cast<locale_t>(0));
  }();
  return locale;
}

}  // namespace

std::string BundleNameKey(const std::string& name) {
  // ASCII folds to ASCII alone, the same as the locale's mapping below, only quicker.
  if (std::all_of(name.begin(), name.end(),
                  [](char c) { return static_cast<unsigned char>(c) < 128; })) {
    return LowerAscii(name);
  }
  std::wstring wide = Utf8ToWide(name);
  const locale_t locale = FoldingLocale();
  for (wchar_t& c : wide) {
    c = locale ? static_cast<wchar_t>(::towlower_l(static_cast<wint_t>(c), locale))
               : static_cast<wchar_t>(c < 128 ? std::tolower(c) : c);
  }
  // Bytes that are not UTF-8 all become U+FFFD above; keep the raw name beside the folded
  // text only for those, so two different invalid names never meet.
  std::string key = WideToUtf8(wide);
  if (Utf8ToWide(name).find(L'\uFFFD') != std::wstring::npos) key += '\0' + name;
  return key;
}

bool SameBundleName(const std::string& a, const std::string& b) {
  return BundleNameKey(a) == BundleNameKey(b);
}

namespace bundle_platform {

bool FileExists(const std::string& path) {
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

namespace {

TFileIdentity IdentityOf(const struct stat& st) {
  TFileIdentity identity;
  identity.volume = static_cast<std::uint64_t>(st.st_dev);
  identity.fileId = static_cast<std::uint64_t>(st.st_ino);
  identity.size = static_cast<std::int64_t>(st.st_size);
  identity.lastWrite =
      static_cast<std::int64_t>(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec;
  identity.changeTime =
      static_cast<std::int64_t>(st.st_ctim.tv_sec) * 1000000000 + st.st_ctim.tv_nsec;
  return identity;
}

}  // namespace

bool TryGetFileIdentity(const TFileStream& file, TFileIdentity& identity) {
  struct stat st {};
  if (::fstat(file.NativeHandle(), &st) != 0 || !S_ISREG(st.st_mode)) return false;
  identity = IdentityOf(st);
  return true;
}

bool IsStillTheFileAt(const std::string& path, const TFileIdentity& identity) {
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0 && IdentityOf(st) == identity;
}

void SleepMilliseconds(int milliseconds) {
  struct timespec t {
    milliseconds / 1000, (milliseconds % 1000) * 1000000L
  };
  ::nanosleep(&t, nullptr);
}

char PathDelimiter() { return '/'; }
bool IsPathDelimiter(char c) { return c == '/'; }

}  // namespace bundle_platform
}  // namespace pageturn

namespace pageturn::bundle_platform {

void MoveOnto(const std::string& from, const std::string& to) {
  if (std::rename(from.c_str(), to.c_str()) != 0) {
    throw Error("Cannot rename \"" + from + "\" to \"" + to + "\"");
  }
  // The rename itself lives in the folder: written out, a crash cannot take the book back.
  std::string folder = to.substr(0, to.find_last_of('/') + 1);
  if (folder.empty()) folder = ".";
  const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY);
  if (fd >= 0) {
    ::fsync(fd);
    ::close(fd);
  }
}

void FlushToDisk(TFileStream& file) {
  if (::fsync(file.NativeHandle()) != 0)
    throw Error("Cannot write \"" + file.FileName() + "\" to the disk");
}

unsigned long ProcessNumber() { return static_cast<unsigned long>(::getpid()); }

void CopyPermissions(const std::string& from, const std::string& to) {
  struct stat st {};
  if (::stat(from.c_str(), &st) == 0) ::chmod(to.c_str(), st.st_mode & 07777);
}

std::string PathText(const std::filesystem::path& path) { return path.string(); }

}  // namespace pageturn::bundle_platform
