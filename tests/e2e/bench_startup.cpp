// Figures for a book of the size books have (424 entries, about 35 MB, carrying the stand-in
// runtime), made from the real player and started under Wine:
//   start-up: process start to the main movie's first frame (the movie asks for full screen at
//     once, so the first frame is seen as the window's change), next to the start of a minimal
//     Win32 window program (process start to its visible window), in the same run;
//   serving: the pages one after another through the URL road (each page movie loads the next
//     one; the last asks to leave full screen), answered from the bundle, next to the same chain
//     answered from plain files beside the book (nobody in the book has them, so the content
//     manager binds the real files).
// Prints figures and ratios; judges nothing.
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

#include "tests/e2e/book_harness.h"
#include "tests/e2e/test_movies.h"

using namespace pageturn::e2e;

namespace {

constexpr int kPages = 420;
constexpr size_t kPageBytes = 81 * 1024;
constexpr int kRounds = 7;
constexpr DWORD kTimeoutMs = 120000;

double Now() {
  static const LARGE_INTEGER frequency = [] {
    LARGE_INTEGER f;
    ::QueryPerformanceFrequency(&f);
    return f;
  }();
  LARGE_INTEGER t;
  ::QueryPerformanceCounter(&t);
  return double(t.QuadPart) / double(frequency.QuadPart);
}

std::string PageName(int n) { return "files/large/" + std::to_string(n) + ".swf"; }

// Page n loads page n + 1 into its own level; the last one leaves full screen.
std::string Page(int n) {
  return Movie({n < kPages ? LoadLevel(std::to_string(n + 1) + ".swf", 1) : FullScreen("false")},
               0x303060, kPageBytes);
}

std::vector<TBookEntry> BookEntries(bool withPages) {
  std::vector<TBookEntry> entries = {
      {"ExeConfig.xml", ExeConfigXml("Bench", "1", "640", "480")},
      {"book.swf", Movie({FullScreen("true"), LoadLevel(PageName(1), 1)})},
      {"files/book.bin", std::string(64 * 1024, '\x5A')},
      {"flash.ocx", ReadFileBytes(LinuxToWine(STANDIN_FLASH_PATH))},
  };
  if (withPages)
    for (int n = 1; n <= kPages; ++n) entries.push_back({PageName(n), Page(n)});
  return entries;
}

struct FindContext {
  DWORD pid;
  HWND found;
};

BOOL CALLBACK FindVisibleWindow(HWND window, LPARAM param) {
  auto* c = reinterpret_cast<FindContext*>(param);
  DWORD owner = 0;
  ::GetWindowThreadProcessId(window, &owner);
  if (owner != c->pid || !::IsWindowVisible(window)) return TRUE;
  c->found = window;
  return FALSE;
}

HWND VisibleTopWindowOf(DWORD pid) {
  FindContext context = {pid, nullptr};
  ::EnumWindows(FindVisibleWindow, reinterpret_cast<LPARAM>(&context));
  return context.found;
}

bool Poll(const std::function<bool()>& done) {
  const double start = Now();
  while (!done()) {
    if (Now() - start > kTimeoutMs / 1000.0) return false;
    ::Sleep(1);
  }
  return true;
}

bool IsFullScreen(HWND window) {
  RECT r;
  ::GetWindowRect(window, &r);
  return r.left == 0 && r.top == 0 && r.right == ::GetSystemMetrics(SM_CXSCREEN) &&
         (::GetWindowLongA(window, GWL_STYLE) & WS_CAPTION) == 0;
}

double MinimalWindowStart(const std::string& program) {
  const double start = Now();
  TBookProcess process(program, "");
  HWND window = nullptr;
  if (!Poll([&] { return (window = VisibleTopWindowOf(process.Pid())) != nullptr; })) return -1;
  const double took = Now() - start;
  ::PostMessageA(window, WM_CLOSE, 0, 0);
  process.WaitForExit(10000);
  return took;
}

struct BookRun {
  double window = -1;   // to its visible main window
  double startup = -1;  // to the main movie's first frame
  double serving = -1;  // every page, one after another
};

BookRun PlayBook(const std::string& book) {
  BookRun run;
  const double start = Now();
  TBookProcess process(book, "");
  HWND window = nullptr;
  if (!Poll([&] {
        window = VisibleTopWindowOf(process.Pid());
        if (window && run.window < 0) run.window = Now() - start;
        return window && IsFullScreen(window);
      }))
    return run;
  const double firstFrame = Now();
  run.startup = firstFrame - start;
  if (!Poll([&] { return !IsFullScreen(window); })) return run;
  run.serving = Now() - firstFrame;
  ::PostMessageA(window, WM_CLOSE, 0, 0);
  process.WaitForExit(10000);
  return run;
}

double Median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v.empty() ? -1 : v[v.size() / 2];
}

double Best(const std::vector<double>& v) {
  double best = -1;
  for (double x : v)
    if (x >= 0 && (best < 0 || x < best)) best = x;
  return best;
}

}  // namespace

int main() {
  // The bundled book, and the same book with its pages as plain files in its folder instead.
  const std::string bundled = MakeBook("bench-bundled.exe", BookEntries(true));
  const std::string plainFolder = BooksFolder() + "\\plain";
  std::filesystem::create_directories(plainFolder + "\\files\\large");
  for (int n = 1; n <= kPages; ++n) {
    std::ofstream out(plainFolder + "\\files\\large\\" + std::to_string(n) + ".swf",
                      std::ios::binary);
    const std::string page = Page(n);
    out.write(page.data(), std::streamsize(page.size()));
  }
  const std::string plainBook = MakeBook("plain\\bench-plain.exe", BookEntries(false));
  const auto bundleBytes =
      std::filesystem::file_size(bundled) - std::filesystem::file_size(PlayerPath());
  std::printf("book: %d entries, %.1f MB bundle (%d pages of %zu KB, the stand-in runtime)\n",
              kPages + 4, double(bundleBytes) / 1e6, kPages, kPageBytes / 1024);

  const std::string minimal = LinuxToWine(MINIMAL_WINDOW_PATH);
  std::vector<double> minimalStarts, bookWindows, bookStarts, bundledServing, plainServing,
      plainStarts;
  // Warm-up: the first program of a run pays for Wine's own caches.
  MinimalWindowStart(minimal);
  PlayBook(plainBook);
  for (int round = 0; round < kRounds; ++round) {
    minimalStarts.push_back(MinimalWindowStart(minimal));
    const BookRun b = PlayBook(bundled);
    bookWindows.push_back(b.window);
    bookStarts.push_back(b.startup);
    bundledServing.push_back(b.serving);
    const BookRun p = PlayBook(plainBook);
    plainStarts.push_back(p.startup);
    plainServing.push_back(p.serving);
  }
  // Medians, and the best run: on a shared machine the best is the steadier figure.
  const auto line = [&](const char* what, const std::vector<double>& runs,
                        const std::vector<double>& base, const char* goal) {
    std::printf("%-44s median %7.1f ms, best %7.1f ms", what, Median(runs) * 1e3, Best(runs) * 1e3);
    if (!base.empty())
      std::printf("  ratio %.2f / best %.2f%s", Median(runs) / Median(base),
                  Best(runs) / Best(base), goal);
    std::printf("\n");
  };
  std::printf("%d rounds\n", kRounds);
  line("start-up, minimal window program:", minimalStarts, {}, "");
  line("start-up, book to its window:", bookWindows, minimalStarts, "");
  line("start-up, book to its movie's first frame:", bookStarts, minimalStarts, " (goal <= 1.3)");
  line("start-up, book with its pages beside it:", plainStarts, minimalStarts, "");
  line("serving every page from the bundle:", bundledServing, {}, "");
  line("serving every page from plain files:", plainServing, {}, "");
  line("serving, bundle next to plain files:", bundledServing, plainServing, " (goal <= 1.5)");
  std::printf("per page from the bundle: %.2f ms, %.1f MB/s\n",
              Median(bundledServing) * 1e3 / kPages,
              kPages * double(kPageBytes) / 1e6 / Median(bundledServing));
  return 0;
}
