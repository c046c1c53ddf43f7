// The loader's platform operations on Windows: the system's own memory, module and cache calls.
#include <windows.h>

#include "runtime/dll_loader.h"

namespace pageturn {

namespace {

class TWin32ModuleSystem : public TModuleSystem {
 public:
  std::uint8_t* AllocateImage(std::uint32_t size) override {
    // The image stays readable, writable and executable for its life; the address is the
    // system's choice, the image's ImageBase is not requested.
    void* block = ::VirtualAlloc(nullptr, size, MEM_COMMIT, PAGE_EXECUTE_READWRITE);
    if (block == nullptr) throw Error("VirtualAlloc failed for the module image");
    return static_cast<std::uint8_t*>(block);
  }
  void ReleaseImage(std::uint8_t* block) override { ::VirtualFree(block, 0, MEM_RELEASE); }
  void* LoadDependency(const char* dllName) override { return ::LoadLibraryA(dllName); }
  void FreeDependency(void* module) override { ::FreeLibrary(static_cast<HMODULE>(module)); }
  std::uint32_t ResolveImport(void* module, const char* name) override {
    return reinterpret_cast<std::uint32_t>(::GetProcAddress(static_cast<HMODULE>(module), name));
  }
  void FlushCode(std::uint8_t* block, std::uint32_t size) override {
    ::FlushInstructionCache(::GetCurrentProcess(), block, size);
  }
  void CallEntryPoint(std::uint8_t* entry, std::uint8_t* instance, std::uint32_t reason) override {
    using DllMainProc = BOOL(WINAPI*)(HINSTANCE, DWORD, LPVOID);
    reinterpret_cast<DllMainProc>(entry)(reinterpret_cast<HINSTANCE>(instance), reason, nullptr);
  }
};

}  // namespace

TModuleSystem& Win32ModuleSystem() {
  static TWin32ModuleSystem system;
  return system;
}

}  // namespace pageturn
