// The code providers: where the host control gets new Flash objects from. A provider holds the
// runtime mapped by TFlashOCXLoader and asks its own DllGetClassObject; the system's COM
// activation and the system loader never see the runtime.
#pragma once

#ifndef _WIN32
#error "runtime/code_provider.h is for the Windows build only"
#endif

#include <windows.h>
#include <objbase.h>

#include <cstdint>
#include <memory>

#include "core/stream.h"
#include "runtime/interception.h"

namespace pageturn {

// {D27CDB6E-AE6D-11cf-96B8-444553540000}
extern const CLSID CLSID_FlashRuntime;
constexpr const char* FlashRuntimeRegistryKey =
    "CLSID\\{D27CDB6E-AE6D-11cf-96B8-444553540000}\\InprocServer32";

using TDllGetClassObjectProc = HRESULT(WINAPI*)(REFCLSID, REFIID, LPVOID*);

class TFlashOCXCodeProviderBasedOnStream {
 public:
  // Becomes CodeProvider first (the runtime's entry point already reads it), then loads the
  // runtime from `stream` when one is given. Load failures are silent: fields stay unset.
  explicit TFlashOCXCodeProviderBasedOnStream(TStream* stream);
  virtual ~TFlashOCXCodeProviderBasedOnStream();
  TFlashOCXCodeProviderBasedOnStream(const TFlashOCXCodeProviderBasedOnStream&) = delete;
  TFlashOCXCodeProviderBasedOnStream& operator=(const TFlashOCXCodeProviderBasedOnStream&) = delete;

  // S_OK means a class factory was obtained; `object` is whatever its CreateInstance stored
  // (null when that failed). E_FAIL with a null object when there is no runtime.
  HRESULT CreateFlashObject(REFIID iid, void** object);

  TDllGetClassObjectProc GetClassObjectProc = nullptr;
  std::uint32_t RuntimeVersion = 0;
  std::unique_ptr<TFlashOCXLoader> Loader;

 protected:
  TFlashOCXCodeProviderBasedOnStream();  // becomes CodeProvider, loads nothing
  void LoadRuntime(TStream& stream);
};

// Reads the runtime registered on the system (the default value of FlashRuntimeRegistryKey under
// HKEY_CLASSES_ROOT, used as stored) into memory and maps it like the bundle's copy.
class TFlashOCXCodeProviderBasedOnSystemInstalledOCX : public TFlashOCXCodeProviderBasedOnStream {
 public:
  TFlashOCXCodeProviderBasedOnSystemInstalledOCX();
};

// The current provider. It outlives every Flash object it made.
extern TFlashOCXCodeProviderBasedOnStream* CodeProvider;

// Replaces the current provider (unloading its runtime) by one loaded from `stream` (none: a
// provider without runtime). The stream has been read whole when this returns.
void LoadRuntimeFromStream(TStream* stream);
// Frees the current provider (its runtime detaches while it is still current), then clears it.
void FreeCodeProvider();

// The packed product version of a mapped module's version resource, 0 when it has none.
std::uint32_t ReadRuntimeVersion(HMODULE module);

}  // namespace pageturn
