#include "runtime/flash_control_unit.h"

#include <memory>
#include <utility>

#include "content/content_manager.h"
#include "runtime/code_provider.h"
#include "runtime/content_seam.h"
#include "runtime/interception.h"

namespace pageturn {

namespace {

HMODULE Urlmon = nullptr;
HMODULE User32 = nullptr;
bool ContentLayerStarted = false;

// All six exceptions masked, 64-bit precision, round to nearest: the runtime expects the x87 unit
// in this state.
void SetFloatingPointControlWord() {
  const unsigned short controlWord = 0x133F;
  __asm__ __volatile__("fldcw %0" : : "m"(controlWord));
}

[[noreturn]] void Fail(const char* message) {
  FlashControlUnitShutdown();
  throw TFatalStartupError(message);
}

}  // namespace

namespace detail {

void FlashControlUnitStartupWith(const char* urlmonName, const char* user32Name) {
  SetFloatingPointControlWord();
  // The class map comes before the registered runtime: a runtime that registers its window
  // classes while it attaches must find them again when it creates its windows.
  ClassNameMap = std::make_unique<TMapString2String>();
  CodeProvider = new TFlashOCXCodeProviderBasedOnSystemInstalledOCX();  // already set by it
  StartContentLayer();  // the content manager, its global handler slot empty
  ContentLayerStarted = true;
  SoundEnabled = true;
  SoundLock = std::make_unique<TCriticalSection>();

  Urlmon = ::LoadLibraryA(urlmonName);
  if (Urlmon == nullptr) Fail("LoadLibrary(urlmon.dll) failed");
  SystemCreateURLMoniker = ProcAddress<TCreateURLMonikerProc>(Urlmon, "CreateURLMoniker");
  if (SystemCreateURLMoniker == nullptr) Fail("GetProcAddress(CreateURLMoniker) failed");
  SystemRegisterBindStatusCallback =
      ProcAddress<TRegisterBindStatusCallbackProc>(Urlmon, "RegisterBindStatusCallback");
  if (SystemRegisterBindStatusCallback == nullptr)
    Fail("GetProcAddress(RegisterBindStatusCallback) failed");
  User32 = ::LoadLibraryA(user32Name);
  if (User32 == nullptr) Fail("LoadLibrary(user32.dll) failed");

  SoundVolume = 100;
  SampleWidths = std::make_unique<TMapCardinal2Cardinal>();
  SavedCursors = std::make_unique<TSavedCursors>();
  StartWorkingSetTimer();
}

}  // namespace detail

void FlashControlUnitStartup() { detail::FlashControlUnitStartupWith("urlmon.dll", "user32.dll"); }

void FlashControlUnitShutdown() {
  // Steps that binding threads left for the GUI thread run while the runtime they reach is still
  // there; none is taken after (the program's entry has normally done this when its loop ended).
  if (ContentManager) ContentManager->StopServingGUISteps();
  FreeCodeProvider();  // the runtime is detached and unloaded
  ClassNameMap.reset();
  if (std::exchange(ContentLayerStarted, false)) StopContentLayer();
  SoundLock.reset();
  if (Urlmon != nullptr) ::FreeLibrary(std::exchange(Urlmon, nullptr));
  if (User32 != nullptr) ::FreeLibrary(std::exchange(User32, nullptr));
  SystemCreateURLMoniker = nullptr;
  SystemRegisterBindStatusCallback = nullptr;
  SampleWidths.reset();
  SavedCursors.reset();
  StopWorkingSetTimer();
}

}  // namespace pageturn
