#include "tests/e2e/book_harness.h"

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>

#include "bundle/bundle_writer.h"

namespace pageturn::e2e {

std::string LinuxToWine(std::string path) {
  if (path.size() > 1 && path[1] == ':') return path;
  for (char& c : path)
    if (c == '/') c = '\\';
  return "Z:" + path;
}

namespace {

// Without a window manager Wine would wait for one on every map and unmap of a managed window
// (about two seconds each); unmanaged windows look the same and skip the wait. Set once in the
// prefix, before the first book starts.
void UnmanagedWindowsUnderWine() {
  static bool done = false;
  if (done) return;
  done = true;
  if (!::GetProcAddress(::GetModuleHandleA("ntdll.dll"), "wine_get_version")) return;
  HKEY key;
  if (::RegCreateKeyExA(HKEY_CURRENT_USER, "Software\\Wine\\X11 Driver", 0, nullptr, 0,
                        KEY_SET_VALUE, nullptr, &key, nullptr) == ERROR_SUCCESS) {
    ::RegSetValueExA(key, "Managed", 0, REG_SZ, reinterpret_cast<const BYTE*>("N"), 2);
    ::RegCloseKey(key);
  }
}

struct FindContext {
  DWORD pid;
  HWND found;
};

BOOL CALLBACK FindMainWindow(HWND window, LPARAM param) {
  auto* context = reinterpret_cast<FindContext*>(param);
  DWORD pid = 0;
  ::GetWindowThreadProcessId(window, &pid);
  char className[64] = {};
  ::GetClassNameA(window, className, sizeof className);
  if (pid == context->pid && std::string(className) == "TfrmMain" && ::IsWindowVisible(window)) {
    context->found = window;
    return FALSE;
  }
  return TRUE;
}

}  // namespace

std::string PlayerPath() { return LinuxToWine(PAGETURN_PLAYER_EXE); }

std::string BooksFolder() {
  static const std::string folder = [] {
    const std::string path = LinuxToWine(PAGETURN_E2E_BOOKS_DIR);
    std::error_code ignored;
    std::filesystem::remove_all(path, ignored);
    std::filesystem::create_directories(path, ignored);
    return path;
  }();
  return folder;
}

std::string MakeBook(const std::string& fileName, const std::vector<TBookEntry>& entries,
                     bool digest) {
  const std::string book = BooksFolder() + "\\" + fileName;
  TBundleWriter writer;
  for (const auto& entry : entries) writer.AddEntry(entry.name, entry.bytes);
  writer.SetDigest(digest);
  writer.WriteBook(PlayerPath(), book);
  return book;
}

std::string ExeConfigXml(const std::string& caption, const std::string& mode,
                         const std::string& width, const std::string& height) {
  return "<?xml version=\"1.0\" encoding=\"utf-8\"?>\r\n<ExeConfig><ExeCaption>" + caption +
         "</ExeCaption><WindowOpenMode>" + mode + "</WindowOpenMode><WindowOpenWidth>" + width +
         "</WindowOpenWidth><WindowOpenHeight>" + height + "</WindowOpenHeight></ExeConfig>\r\n";
}

TBookProcess::TBookProcess(const std::string& book, const std::string& arguments,
                           const std::string& currentDirectory) {
  UnmanagedWindowsUnderWine();
  std::string commandLine = "\"" + book + "\"" + (arguments.empty() ? "" : " " + arguments);
  std::string directory = currentDirectory;
  if (directory.empty()) directory = book.substr(0, book.find_last_of('\\'));
  STARTUPINFOA startup = {};
  startup.cb = sizeof startup;
  if (!::CreateProcessA(book.c_str(), commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr,
                        directory.c_str(), &startup, &info_))
    throw std::runtime_error("cannot start " + book);
  pid_ = info_.dwProcessId;
}

TBookProcess::~TBookProcess() {
  Kill();
  if (info_.hThread) ::CloseHandle(info_.hThread);
  if (info_.hProcess) ::CloseHandle(info_.hProcess);
}

HWND TBookProcess::WaitForWindow(DWORD timeoutMs) {
  const DWORD start = ::GetTickCount();
  ::WaitForInputIdle(info_.hProcess, timeoutMs);
  for (;;) {
    FindContext context = {pid_, nullptr};
    ::EnumWindows(FindMainWindow, reinterpret_cast<LPARAM>(&context));
    if (context.found) return window_ = context.found;
    if (::GetTickCount() - start > timeoutMs) return nullptr;
    // Not there yet; the process signals nothing finer than input-idle, so look again shortly,
    // unless it already ended.
    if (::WaitForSingleObject(info_.hProcess, 20) == WAIT_OBJECT_0) return nullptr;
  }
}

TWindowReport TBookProcess::Report() const {
  TWindowReport report;
  char text[512] = {};
  ::GetWindowTextA(window_, text, sizeof text);
  report.caption = text;
  char className[64] = {};
  ::GetClassNameA(window_, className, sizeof className);
  report.className = className;
  ::GetWindowRect(window_, &report.rect);
  report.style = ::GetWindowLongA(window_, GWL_STYLE);
  report.visible = ::IsWindowVisible(window_);
  report.zoomed = ::IsZoomed(window_);
  report.iconic = ::IsIconic(window_);
  return report;
}

void TBookProcess::Post(UINT message, WPARAM wParam, LPARAM lParam) const {
  ::PostMessageA(window_, message, wParam, lParam);
}

void TBookProcess::PostKeyDown(WORD virtualKey) const {
  const UINT scan = ::MapVirtualKeyA(virtualKey, MAPVK_VK_TO_VSC);
  Post(WM_KEYDOWN, virtualKey, 1 | (scan << 16));
}

void TBookProcess::PostKeyUp(WORD virtualKey) const {
  const UINT scan = ::MapVirtualKeyA(virtualKey, MAPVK_VK_TO_VSC);
  Post(WM_KEYUP, virtualKey, 1 | (scan << 16) | 0xC0000000u);
}

void TBookProcess::PostChar(char character) const {
  Post(WM_CHAR, static_cast<unsigned char>(character), 1);
}

bool TBookProcess::WaitForExit(DWORD timeoutMs, DWORD* exitCode) {
  if (::WaitForSingleObject(info_.hProcess, timeoutMs) != WAIT_OBJECT_0) return false;
  if (exitCode) ::GetExitCodeProcess(info_.hProcess, exitCode);
  return true;
}

bool TBookProcess::Running() const {
  return ::WaitForSingleObject(info_.hProcess, 0) == WAIT_TIMEOUT;
}

void TBookProcess::Kill() {
  if (!info_.hProcess || !Running()) return;
  ::TerminateProcess(info_.hProcess, 1);
  ::WaitForSingleObject(info_.hProcess, 5000);
}

std::string ReadFileBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

bool FileExists(const std::string& path) {
  return ::GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

bool WaitForFileText(const std::string& path, const std::string& text, DWORD timeoutMs) {
  const DWORD start = ::GetTickCount();
  while (ReadFileBytes(path).find(text) == std::string::npos) {
    if (::GetTickCount() - start > timeoutMs) return false;
    ::Sleep(20);  // the book tells nobody when it has written a line
  }
  return true;
}

std::vector<std::string> FolderEntries(const std::string& folder) {
  std::vector<std::string> names;
  WIN32_FIND_DATAA data;
  const HANDLE find = ::FindFirstFileA((folder + "\\*").c_str(), &data);
  if (find == INVALID_HANDLE_VALUE) return names;
  do {
    const std::string name = data.cFileName;
    if (name != "." && name != "..") names.push_back(name);
  } while (::FindNextFileA(find, &data));
  ::FindClose(find);
  return names;
}

}  // namespace pageturn::e2e
