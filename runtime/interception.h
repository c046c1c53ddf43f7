// TFlashOCXLoader and the table of the runtime's imports that this layer replaces, with the
// module-wide state the replacements share. Only the mapped runtime image is intercepted.
#pragma once

#ifndef _WIN32
#error "runtime/interception.h is for the Windows build only"
#endif

#include <windows.h>

#include <memory>
#include <string>
#include <vector>

#include "content/maps.h"
#include "core/win32.h"
#include "runtime/dll_loader.h"
#include "runtime/interception_logic.h"
#include "runtime/module_resources.h"

namespace pageturn {

class TFlashOCXLoader : public TDLLLoader {
 public:
  using TDLLLoader::TDLLLoader;
  TFlashOCXLoader() = default;
  // The table, by function name only: the importing DLL is not considered and ordinals are
  // never replaced.
  void* GetImportReplacement(const char* dllName, const char* functionName) override;
};

// Module-wide state of the replacements, created and freed by the control unit in its fixed
// orders. A replacement called while a piece is absent does without it.
// ClassNameMap: the class name the runtime asked for -> the name really registered.
// SampleWidths: wave-output handle -> bytes per sample.
extern std::unique_ptr<TMapString2String> ClassNameMap;
extern std::unique_ptr<TSavedCursors> SavedCursors;
extern std::unique_ptr<TMapCardinal2Cardinal> SampleWidths;
extern std::unique_ptr<TCriticalSection> SoundLock;
extern bool SoundEnabled;
extern int SoundVolume;

// The working-set timer: a thread timer of the calling (GUI) thread, every 10000 ms.
void StartWorkingSetTimer();
void StopWorkingSetTimer();

// The instance handle of the module that holds this layer: runtime classes and windows live
// under it. And the number that keeps this copy's class names apart from any other's.
HINSTANCE HostInstance();
std::int32_t UniqueClassNumber();

// GetProcAddress typed as the function it finds (null when absent).
template <class Proc>
Proc ProcAddress(HMODULE module, const char* name) {
  return reinterpret_cast<Proc>(reinterpret_cast<void*>(::GetProcAddress(module, name)));
}

// A checked view of a module in memory (ours or the system's), empty when `module` is not one.
TCheckedBytes ModuleImage(HMODULE module);
// With the five-language order of the current thread and system.
bool FindModuleResource(HMODULE module, std::uint16_t type, const char* name, TResourceData& found);

}  // namespace pageturn
