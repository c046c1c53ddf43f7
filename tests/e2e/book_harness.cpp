#include "tests/e2e/book_harness.h"

#include <tlhelp32.h>
#include <wincodec.h>

#include <algorithm>
#include <cctype>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>

#include "bundle/bundle_writer.h"
#include "core/com.h"

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

std::vector<std::string> ReadLines(const std::string& path) {
  std::vector<std::string> lines;
  std::istringstream in(ReadFileBytes(path));
  for (std::string line; std::getline(in, line);) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    lines.push_back(line);
  }
  return lines;
}

TScreenShot CaptureScreen(const RECT& rect) {
  TScreenShot shot;
  shot.width = rect.right - rect.left;
  shot.height = rect.bottom - rect.top;
  if (shot.width <= 0 || shot.height <= 0) return shot;
  BITMAPINFO info = {};
  info.bmiHeader.biSize = sizeof info.bmiHeader;
  info.bmiHeader.biWidth = shot.width;
  info.bmiHeader.biHeight = -shot.height;  // top-down rows
  info.bmiHeader.biPlanes = 1;
  info.bmiHeader.biBitCount = 32;
  info.bmiHeader.biCompression = BI_RGB;
  const HDC screen = ::GetDC(nullptr);
  const HDC memory = ::CreateCompatibleDC(screen);
  void* bits = nullptr;
  const HBITMAP bitmap = ::CreateDIBSection(screen, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
  if (bitmap && bits) {
    const HGDIOBJ old = ::SelectObject(memory, bitmap);
    ::BitBlt(memory, 0, 0, shot.width, shot.height, screen, rect.left, rect.top, SRCCOPY);
    ::GdiFlush();
    const auto* p = static_cast<const std::uint32_t*>(bits);
    shot.pixels.assign(p, p + static_cast<size_t>(shot.width) * shot.height);
    for (auto& pixel : shot.pixels) pixel &= 0xFFFFFF;
    ::SelectObject(memory, old);
  }
  if (bitmap) ::DeleteObject(bitmap);
  ::DeleteDC(memory);
  ::ReleaseDC(nullptr, screen);
  return shot;
}

bool SavePng(const TScreenShot& shot, const std::string& path) {
  if (shot.pixels.empty()) return false;
  const HRESULT init = ::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
  bool saved = false;
  {
    ComPtr<IWICImagingFactory> factory;
    ComPtr<IWICStream> stream;
    ComPtr<IWICBitmapEncoder> encoder;
    ComPtr<IWICBitmapFrameEncode> frame;
    const std::wstring widePath(path.begin(), path.end());
    WICPixelFormatGUID format = GUID_WICPixelFormat32bppBGR;
    std::vector<std::uint32_t> rows = shot.pixels;
    saved = SUCCEEDED(::CoCreateInstance(CLSID_WICImagingFactory, nullptr, CLSCTX_INPROC_SERVER,
                                         IID_PPV_ARGS(factory.GetAddressOf()))) &&
            SUCCEEDED(factory->CreateStream(stream.GetAddressOf())) &&
            SUCCEEDED(stream->InitializeFromFilename(widePath.c_str(), GENERIC_WRITE)) &&
            SUCCEEDED(
                factory->CreateEncoder(GUID_ContainerFormatPng, nullptr, encoder.GetAddressOf())) &&
            SUCCEEDED(encoder->Initialize(stream.Get(), WICBitmapEncoderNoCache)) &&
            SUCCEEDED(encoder->CreateNewFrame(frame.GetAddressOf(), nullptr)) &&
            SUCCEEDED(frame->Initialize(nullptr)) &&
            SUCCEEDED(frame->SetSize(shot.width, shot.height)) &&
            SUCCEEDED(frame->SetPixelFormat(&format)) &&
            SUCCEEDED(frame->WritePixels(shot.height, shot.width * 4,
                                         static_cast<UINT>(rows.size() * 4),
                                         reinterpret_cast<BYTE*>(rows.data()))) &&
            SUCCEEDED(frame->Commit()) && SUCCEEDED(encoder->Commit());
  }
  if (SUCCEEDED(init)) ::CoUninitialize();
  return saved;
}

std::vector<std::string> ModuleNames(DWORD pid) {
  std::vector<std::string> names;
  HANDLE snapshot = ::CreateToolhelp32Snapshot(TH32CS_SNAPMODULE, pid);
  if (snapshot == INVALID_HANDLE_VALUE) return names;
  MODULEENTRY32 entry = {};
  entry.dwSize = sizeof entry;
  for (BOOL ok = ::Module32First(snapshot, &entry); ok; ok = ::Module32Next(snapshot, &entry)) {
    std::string name = entry.szModule;
    std::transform(name.begin(), name.end(), name.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    names.push_back(name);
  }
  ::CloseHandle(snapshot);
  return names;
}

int MappedImagesOfSize(DWORD pid, DWORD sizeOfImage) {
  const HANDLE process = ::OpenProcess(PROCESS_QUERY_INFORMATION | PROCESS_VM_READ, FALSE, pid);
  if (!process) return -1;
  int found = 0;
  MEMORY_BASIC_INFORMATION info;
  for (auto* at = static_cast<BYTE*>(nullptr);
       ::VirtualQueryEx(process, at, &info, sizeof info) == sizeof info;
       at = static_cast<BYTE*>(info.BaseAddress) + info.RegionSize) {
    if (info.State != MEM_COMMIT || info.Type != MEM_PRIVATE ||
        info.AllocationBase != info.BaseAddress || info.Protect != PAGE_EXECUTE_READWRITE)
      continue;
    IMAGE_DOS_HEADER dos;
    IMAGE_NT_HEADERS32 nt;
    SIZE_T got = 0;
    if (!::ReadProcessMemory(process, info.BaseAddress, &dos, sizeof dos, &got) ||
        dos.e_magic != IMAGE_DOS_SIGNATURE)
      continue;
    if (!::ReadProcessMemory(process, static_cast<BYTE*>(info.BaseAddress) + dos.e_lfanew, &nt,
                             sizeof nt, &got) ||
        nt.Signature != IMAGE_NT_SIGNATURE)
      continue;
    if (nt.OptionalHeader.SizeOfImage == sizeOfImage) ++found;
  }
  ::CloseHandle(process);
  return found;
}

DWORD SizeOfImage(const std::string& image) {
  if (image.size() < sizeof(IMAGE_DOS_HEADER)) return 0;
  const auto* dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(image.data());
  if (dos->e_lfanew < 0 || image.size() < dos->e_lfanew + sizeof(IMAGE_NT_HEADERS32)) return 0;
  const auto* nt = reinterpret_cast<const IMAGE_NT_HEADERS32*>(image.data() + dos->e_lfanew);
  return nt->OptionalHeader.SizeOfImage;
}

namespace {
constexpr const char* kRuntimeKey = "CLSID\\{D27CDB6E-AE6D-11cf-96B8-444553540000}\\InprocServer32";

void SetRegisteredRuntime(const std::string& path) {
  if (path.empty()) {
    ::RegDeleteKeyA(HKEY_CLASSES_ROOT, kRuntimeKey);
    return;
  }
  HKEY key;
  if (::RegCreateKeyExA(HKEY_CLASSES_ROOT, kRuntimeKey, 0, nullptr, 0, KEY_SET_VALUE, nullptr, &key,
                        nullptr) != ERROR_SUCCESS)
    throw std::runtime_error("cannot register the runtime");
  ::RegSetValueExA(key, "", 0, REG_SZ, reinterpret_cast<const BYTE*>(path.c_str()),
                   static_cast<DWORD>(path.size() + 1));
  ::RegCloseKey(key);
}
}  // namespace

TRegisteredRuntime::TRegisteredRuntime(const std::string& path) {
  HKEY key;
  if (::RegOpenKeyExA(HKEY_CLASSES_ROOT, kRuntimeKey, 0, KEY_QUERY_VALUE, &key) == ERROR_SUCCESS) {
    char value[MAX_PATH + 1] = {};
    DWORD size = MAX_PATH;
    existed_ = ::RegQueryValueExA(key, "", nullptr, nullptr, reinterpret_cast<BYTE*>(value),
                                  &size) == ERROR_SUCCESS;
    old_ = value;
    ::RegCloseKey(key);
  }
  SetRegisteredRuntime(path);
}

TRegisteredRuntime::~TRegisteredRuntime() {
  try {
    SetRegisteredRuntime(existed_ ? old_ : std::string());
  } catch (...) {
  }
}

}  // namespace pageturn::e2e
