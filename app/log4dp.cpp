#include "app/log4dp.h"

#include <cstdint>
#include <cstdio>
#include <ctime>
#include <memory>
#include <mutex>

#ifdef _WIN32
#include <windows.h>
#else
#include <sys/stat.h>
#include <sys/types.h>
#endif

#include "bundle/exe_ext_reader.h"

namespace pageturn {

bool DebugEnabled = false;
std::string LogFileName;

namespace {

#ifdef _WIN32
// A name without any of these is bare and goes into the program's folder.
constexpr const char* kDirectoryEnds = "\\:";
// Separators inside a directory path, when creating its missing parents.
constexpr const char* kPathSeparators = "\\/";
#else
constexpr const char* kDirectoryEnds = "/";
constexpr const char* kPathSeparators = "/";
#endif

// Identity of the file as this process last left it: while it still has this size and write
// time, it is known to hold CR LF lines only, and the next line can simply be appended.
struct FileStamp {
  std::uint64_t size = 0;
  std::uint64_t writeTime = 0;
  bool operator==(const FileStamp&) const = default;
};

#ifdef _WIN32
bool ReadFileStamp(const std::string& path, FileStamp& stamp) {
  WIN32_FILE_ATTRIBUTE_DATA data;
  if (!::GetFileAttributesExA(path.c_str(), GetFileExInfoStandard, &data)) return false;
  if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) return false;
  stamp.size = (std::uint64_t{data.nFileSizeHigh} << 32) | data.nFileSizeLow;
  stamp.writeTime = (std::uint64_t{data.ftLastWriteTime.dwHighDateTime} << 32) |
                    data.ftLastWriteTime.dwLowDateTime;
  return true;
}

bool DirectoryExists(const std::string& path) {
  const DWORD attributes = ::GetFileAttributesA(path.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

void CreateOneDirectory(const std::string& path) { ::CreateDirectoryA(path.c_str(), nullptr); }
#else
bool ReadFileStamp(const std::string& path, FileStamp& stamp) {
  struct stat st;
  if (::stat(path.c_str(), &st) != 0 || S_ISDIR(st.st_mode)) return false;
  stamp.size = static_cast<std::uint64_t>(st.st_size);
  stamp.writeTime = static_cast<std::uint64_t>(st.st_mtim.tv_sec) * 1000000000u +
                    static_cast<std::uint64_t>(st.st_mtim.tv_nsec);
  return true;
}

bool DirectoryExists(const std::string& path) {
  struct stat st;
  return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

void CreateOneDirectory(const std::string& path) { ::mkdir(path.c_str(), 0777); }
#endif

// Creates the directory and every missing parent; failures show up only as a failed write later.
void ForceDirectories(std::string dir) {
  while (!dir.empty() && std::string(kPathSeparators).find(dir.back()) != std::string::npos)
    dir.pop_back();
  if (dir.empty() || dir.back() == ':' || DirectoryExists(dir)) return;
  const std::size_t cut = dir.find_last_of(kPathSeparators);
  if (cut != std::string::npos) ForceDirectories(dir.substr(0, cut + 1));
  CreateOneDirectory(dir);
}

struct FileCloser {
  void operator()(std::FILE* f) const { std::fclose(f); }
};
using FilePtr = std::unique_ptr<std::FILE, FileCloser>;

bool ReadWholeFile(const std::string& path, std::string& content) {
  FilePtr f(std::fopen(path.c_str(), "rb"));
  if (!f) return false;
  char buffer[65536];
  std::size_t got;
  while ((got = std::fread(buffer, 1, sizeof buffer, f.get())) > 0) content.append(buffer, got);
  return !std::ferror(f.get());
}

bool WriteFileContent(const std::string& path, const std::string& content, const char* mode) {
  FilePtr f(std::fopen(path.c_str(), mode));
  if (!f) return false;
  if (std::fwrite(content.data(), 1, content.size(), f.get()) != content.size()) return false;
  return std::fclose(f.release()) == 0;
}

// The file's lines, each ended by CR LF; a CR, an LF or a CR LF ends a line in the input.
std::string WithCrLfLines(const std::string& content) {
  std::string out;
  out.reserve(content.size() + content.size() / 32 + 2);
  std::size_t i = 0;
  while (i < content.size()) {
    const std::size_t end = content.find_first_of("\r\n", i);
    if (end == std::string::npos) {
      out.append(content, i, std::string::npos);
      out += "\r\n";
      break;
    }
    out.append(content, i, end - i);
    out += "\r\n";
    i = end +
        ((content[end] == '\r' && end + 1 < content.size() && content[end + 1] == '\n') ? 2 : 1);
  }
  return out;
}

// Concurrent calls would otherwise lose lines between the read and the rewrite.
std::mutex& LogLock() {
  static std::mutex lock;
  return lock;
}

struct LastWrite {
  std::string fileName;
  FileStamp stamp;
  bool normalised = false;
};

LastWrite& LastWritten() {
  static LastWrite last;
  return last;
}

void WriteLine(const std::string& message) {
  if (!LogFileName.empty()) {
    if (LogFileName.find_first_of(kDirectoryEnds) == std::string::npos)
      LogFileName = ProgramDirPath(LogFileName);
    const std::size_t cut = LogFileName.find_last_of(kDirectoryEnds);
    ForceDirectories(LogFileName.substr(0, cut + 1));
  } else {
    ForceDirectories(ProgramDirPath(""));
  }

  std::string stamp;
  try {
    stamp = FormatLogTimeStamp();
  } catch (...) {
  }
  if (LogFileName.empty()) return;  // nothing to write to

  const std::string line = stamp + ": " + message;
  LastWrite& last = LastWritten();
  FileStamp before;
  const bool exists = ReadFileStamp(LogFileName, before);
  bool written;
  if (exists && last.normalised && last.fileName == LogFileName && last.stamp == before) {
    written = WriteFileContent(LogFileName, line + "\r\n", "ab");
  } else {
    std::string content;
    if (exists && !ReadWholeFile(LogFileName, content)) return;
    written = WriteFileContent(LogFileName, WithCrLfLines(content) + line + "\r\n", "wb");
  }
  last.normalised = false;
  if (!written) return;
  // A message with a line break of its own leaves lines that the next call must re-end.
  last.normalised =
      line.find_first_of("\r\n") == std::string::npos && ReadFileStamp(LogFileName, last.stamp);
  last.fileName = LogFileName;
}

}  // namespace

std::string FormatLogTimeStamp() {
  char separator[8] = ":";
  int year, month, day, hour, minute, second;
#ifdef _WIN32
  SYSTEMTIME now;
  ::GetLocalTime(&now);
  year = now.wYear, month = now.wMonth, day = now.wDay;
  hour = now.wHour, minute = now.wMinute, second = now.wSecond;
  if (::GetLocaleInfoA(LOCALE_USER_DEFAULT, LOCALE_STIME, separator, sizeof separator) == 0)
    std::snprintf(separator, sizeof separator, ":");
#else
  const std::time_t t = std::time(nullptr);
  std::tm local;
  if (!::localtime_r(&t, &local)) return "";
  year = local.tm_year + 1900, month = local.tm_mon + 1, day = local.tm_mday;
  hour = local.tm_hour, minute = local.tm_min, second = local.tm_sec;
#endif
  char text[64];
  std::snprintf(text, sizeof text, "%04d-%02d-%02d %02d%s%02d%s%02d", year, month, day, hour,
                separator, minute, separator, second);
  return text;
}

void TLog4DP::WriteLog(const std::string& message) noexcept {
  try {
    std::lock_guard<std::mutex> guard(LogLock());
    if (!DebugEnabled) return;
    WriteLine(message);
  } catch (...) {
    // The log never disturbs its caller.
  }
}

}  // namespace pageturn
