// Maps a 20 MiB module image (8 MiB of relocated pointers, 12 MiB of other data) from a memory
// stream with our loader, next to a plain copy of the same bytes into fresh memory. Each case
// runs in a child process of its own, so that nothing of one case is left in the next.
#include <windows.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>
#include <string>
#include <vector>

#include "core/stream.h"
#include "runtime/dll_loader.h"

using namespace pageturn;

namespace {

std::string Beside(const char* name) {
  char path[MAX_PATH];
  std::string self(path, ::GetModuleFileNameA(nullptr, path, MAX_PATH));
  return self.substr(0, self.find_last_of("\\/") + 1) + name;
}

// Memory is counted where it is taken: every heap allocation of this program (the loader's file
// copy included) and every image block, with the high-water mark of their sum. The process
// counters are no help here: Wine does not keep their peaks.
std::size_t currentBytes = 0, peakBytes = 0;
void Took(std::size_t n) {
  currentBytes += n;
  peakBytes = std::max(peakBytes, currentBytes);
}
void Gave(std::size_t n) { currentBytes -= n; }

class TCountingModuleSystem : public TModuleSystem {
 public:
  std::uint8_t* AllocateImage(std::uint32_t size) override {
    std::uint8_t* block = Win32ModuleSystem().AllocateImage(size);
    Took(size);
    size_ = size;
    return block;
  }
  void ReleaseImage(std::uint8_t* block) override {
    Gave(size_);
    Win32ModuleSystem().ReleaseImage(block);
  }
  void* LoadDependency(const char* name) override { return Win32ModuleSystem().LoadDependency(name); }
  void FreeDependency(void* module) override { Win32ModuleSystem().FreeDependency(module); }
  std::uint32_t ResolveImport(void* module, const char* name) override {
    return Win32ModuleSystem().ResolveImport(module, name);
  }
  void FlushCode(std::uint8_t* block, std::uint32_t size) override { Win32ModuleSystem().FlushCode(block, size); }
  void CallEntryPoint(std::uint8_t* entry, std::uint8_t* instance, std::uint32_t reason) override {
    Win32ModuleSystem().CallEntryPoint(entry, instance, reason);
  }

 private:
  std::uint32_t size_ = 0;
};

// One case in this process: prints "<ms> <peak extra MiB> <image MiB>".
int RunCase(const std::string& mode) {
  const std::string path = Beside("loader_bench_image.dll");
  TFileStream file(path, TFileStream::Mode::OpenReadShareAll);
  TMemoryStream memory;
  if (mode != "load-file") memory.CopyFrom(file, 0);
  peakBytes = currentBytes;
  const double base = static_cast<double>(currentBytes);
  std::uint32_t imageSize = 0;
  const auto start = std::chrono::steady_clock::now();
  if (mode == "copy") {
    const auto size = static_cast<SIZE_T>(memory.Size());
    void* block = ::VirtualAlloc(nullptr, size, MEM_COMMIT, PAGE_EXECUTE_READWRITE);
    Took(size);
    std::memcpy(block, memory.Memory(), size);
    imageSize = static_cast<std::uint32_t>(size);
    const auto ms = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
    std::printf("%.2f %.1f %.1f\n", ms, (peakBytes - base) / 1048576.0, imageSize / 1048576.0);
    ::VirtualFree(block, 0, MEM_RELEASE);
    return 0;
  }
  TCountingModuleSystem system;
  TDLLLoader loader(system);
  loader.LoadFromStream(mode == "load-file" ? static_cast<TStream&>(file) : memory);
  const auto ms = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
  std::printf("%.2f %.1f %.1f\n", ms, (peakBytes - base) / 1048576.0, loader.ImageSize() / 1048576.0);
  return 0;
}

// Runs this program with `mode`, its output read through a pipe.
std::string RunChild(const std::string& mode) {
  SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
  HANDLE readEnd, writeEnd;
  if (!::CreatePipe(&readEnd, &writeEnd, &inherit, 0)) return "pipe failed";
  ::SetHandleInformation(readEnd, HANDLE_FLAG_INHERIT, 0);
  char self[MAX_PATH];
  ::GetModuleFileNameA(nullptr, self, MAX_PATH);
  std::string command = "\"" + std::string(self) + "\" " + mode;
  STARTUPINFOA si{};
  si.cb = sizeof si;
  si.dwFlags = STARTF_USESTDHANDLES;
  si.hStdOutput = writeEnd;
  si.hStdError = ::GetStdHandle(STD_ERROR_HANDLE);
  PROCESS_INFORMATION pi{};
  if (!::CreateProcessA(nullptr, command.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr, &si, &pi)) {
    ::CloseHandle(readEnd);
    ::CloseHandle(writeEnd);
    return "start failed";
  }
  ::CloseHandle(writeEnd);
  std::string out;
  char buffer[256];
  DWORD n;
  while (::ReadFile(readEnd, buffer, sizeof buffer, &n, nullptr) && n > 0) out.append(buffer, n);
  if (::WaitForSingleObject(pi.hProcess, 60000) != WAIT_OBJECT_0) ::TerminateProcess(pi.hProcess, 1);
  ::CloseHandle(pi.hProcess);
  ::CloseHandle(pi.hThread);
  ::CloseHandle(readEnd);
  return out;
}

}  // namespace

void* operator new(std::size_t n) {
  auto* p = static_cast<std::size_t*>(std::malloc(n + 16));
  if (p == nullptr) throw std::bad_alloc();
  *p = n;
  Took(n);
  return reinterpret_cast<char*>(p) + 16;
}
void operator delete(void* p) noexcept {
  if (p == nullptr) return;
  auto* header = reinterpret_cast<std::size_t*>(static_cast<char*>(p) - 16);
  Gave(*header);
  std::free(header);
}
void* operator new[](std::size_t n) { return operator new(n); }
void operator delete[](void* p) noexcept { operator delete(p); }
void operator delete(void* p, std::size_t) noexcept { operator delete(p); }
void operator delete[](void* p, std::size_t) noexcept { operator delete(p); }

int main(int argc, char** argv) {
  if (argc == 2) return RunCase(argv[1]);
  std::printf("case                       time ms   peak extra MiB   image MiB\n");
  const struct { const char* mode; const char* label; } cases[] = {
      {"copy", "plain copy of the bytes"},
      {"load", "loader, memory stream"},
      {"load-file", "loader, file stream"},
  };
  for (const auto& c : cases) {
    // Three runs; each line is the fastest with its peak.
    double best = 1e9, peak = 0, image = 0;
    for (int i = 0; i < 3; ++i) {
      double ms, mib, img;
      if (std::sscanf(RunChild(c.mode).c_str(), "%lf %lf %lf", &ms, &mib, &img) != 3) {
        std::printf("%-26s failed\n", c.label);
        return 1;
      }
      if (ms < best) best = ms, peak = mib, image = img;
    }
    std::printf("%-26s %8.2f %16.1f %11.1f\n", c.label, best, peak, image);
  }
  return 0;
}
