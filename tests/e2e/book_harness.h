// End-to-end harness: makes books from the real player and a set of entries, starts them under
// Wine with arguments, looks at their main window from outside, talks to it through posted
// messages and waits for the process to end. Runs in a process of its own, never in the book's.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>
#include <vector>

namespace pageturn::e2e {

struct TBookEntry {
  std::string name;  // bundle entry name, forward slashes
  std::string bytes;
};

// A path of the build machine as Wine sees it (drive Z: maps the Linux root).
std::string LinuxToWine(std::string path);
// The player as built (the pageturn target), as a Windows path.
std::string PlayerPath();
// A folder for the books of one test program, created empty on first use.
std::string BooksFolder();
// Writes the player followed by a bundle of the entries (with the bundle writer, optionally
// with its digest) into BooksFolder; returns the book's path.
std::string MakeBook(const std::string& fileName, const std::vector<TBookEntry>& entries,
                     bool digest = false);
// An ExeConfig.xml as book files carry it.
std::string ExeConfigXml(const std::string& caption, const std::string& mode,
                         const std::string& width = "800", const std::string& height = "600");

struct TWindowReport {
  std::string caption;
  std::string className;
  RECT rect = {};
  LONG style = 0;
  bool visible = false;
  bool zoomed = false;
  bool iconic = false;
};

class TBookProcess {
 public:
  // Starts the book with the arguments (a command-line tail, quoted as the caller wants it),
  // in the given current directory (the book's folder when empty).
  TBookProcess(const std::string& book, const std::string& arguments,
               const std::string& currentDirectory = "");
  ~TBookProcess();  // kills the process if it is still running
  TBookProcess(const TBookProcess&) = delete;
  TBookProcess& operator=(const TBookProcess&) = delete;

  DWORD Pid() const { return pid_; }
  // The process's main window (class TfrmMain), visible; none when it does not appear in time.
  HWND WaitForWindow(DWORD timeoutMs = 15000);
  HWND Window() const { return window_; }
  TWindowReport Report() const;

  void Post(UINT message, WPARAM wParam = 0, LPARAM lParam = 0) const;
  void PostKeyDown(WORD virtualKey) const;
  void PostKeyUp(WORD virtualKey) const;
  void PostChar(char character) const;

  // True when the process ended within the time; its exit code then in `exitCode`.
  bool WaitForExit(DWORD timeoutMs, DWORD* exitCode = nullptr);
  bool Running() const;
  void Kill();

 private:
  PROCESS_INFORMATION info_ = {};
  DWORD pid_ = 0;
  HWND window_ = nullptr;
};

std::string ReadFileBytes(const std::string& path);
bool FileExists(const std::string& path);
// Waits until the file holds the text; for log lines written by the book's message loop.
bool WaitForFileText(const std::string& path, const std::string& text, DWORD timeoutMs = 10000);
std::vector<std::string> FolderEntries(const std::string& folder);
// The lines of a text file, without their line ends.
std::vector<std::string> ReadLines(const std::string& path);

// What the screen shows in a rectangle (screen coordinates), as 0xRRGGBB pixels by rows.
struct TScreenShot {
  int width = 0;
  int height = 0;
  std::vector<std::uint32_t> pixels;
  std::uint32_t At(int x, int y) const { return pixels[static_cast<size_t>(y) * width + x]; }
};
TScreenShot CaptureScreen(const RECT& rect);
// Writes the shot as a PNG file (with the platform's imaging); false when that fails.
bool SavePng(const TScreenShot& shot, const std::string& path);

// The names of the modules loaded in the process, lower case.
std::vector<std::string> ModuleNames(DWORD pid);
// Private, committed, executable-and-writable regions of the process that begin with a PE image
// of the given size of image: what an in-memory loader leaves and the system loader never does.
int MappedImagesOfSize(DWORD pid, DWORD sizeOfImage);
DWORD SizeOfImage(const std::string& image);

// Sets (or, with an empty path, removes) the Flash runtime registered in the prefix for the
// life of the object, and puts back what was there.
class TRegisteredRuntime {
 public:
  explicit TRegisteredRuntime(const std::string& path);
  ~TRegisteredRuntime();
  TRegisteredRuntime(const TRegisteredRuntime&) = delete;
  TRegisteredRuntime& operator=(const TRegisteredRuntime&) = delete;

 private:
  bool existed_ = false;
  std::string old_;
};

}  // namespace pageturn::e2e
