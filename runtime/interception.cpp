// The 23 replacements of the runtime's imports. Each has exactly the signature and calling
// convention of the system function it stands for, and each is a boundary: nothing escapes into
// the runtime, every failure becomes the return value of the function it replaces. Forwarding
// calls the system's own function (this module's own imports are never intercepted).
#include "runtime/interception.h"

#include <mmsystem.h>
#include <objbase.h>
#include <urlmon.h>

#include <cstring>

#include "core/com.h"
#include "core/text.h"
#include "runtime/code_provider.h"
#include "runtime/content_seam.h"

namespace pageturn {

std::unique_ptr<TMapString2String> ClassNameMap;
std::unique_ptr<TSavedCursors> SavedCursors;
std::unique_ptr<TMapCardinal2Cardinal> SampleWidths;
std::unique_ptr<TCriticalSection> SoundLock;
bool SoundEnabled = true;
int SoundVolume = 100;

HINSTANCE HostInstance() {
  HMODULE module = nullptr;
  ::GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                       reinterpret_cast<LPCSTR>(&HostInstance), &module);
  return module;
}

std::int32_t UniqueClassNumber() { return reinterpret_cast<std::int32_t>(&CodeProvider); }

TCheckedBytes ModuleImage(HMODULE module) {
  // Is there readable memory at all where the module should start?
  MEMORY_BASIC_INFORMATION info{};
  if (module == nullptr || ::VirtualQuery(module, &info, sizeof info) != sizeof info ||
      info.State != MEM_COMMIT || (info.Protect & (PAGE_NOACCESS | PAGE_GUARD)) != 0)
    return {};
  auto* base = reinterpret_cast<std::uint8_t*>(module);
  const std::size_t readable =
      static_cast<std::size_t>(static_cast<std::uint8_t*>(info.BaseAddress) + info.RegionSize - base);
  try {
    const TPEHeaders headers = TPEHeaders::Parse(TCheckedBytes(base, readable));
    return TCheckedBytes(base, headers.SizeOfImage);
  } catch (const TImageFormatError&) {
    return {};
  }
}

bool FindModuleResource(HMODULE module, std::uint16_t type, const char* name, TResourceData& found) {
  const TCheckedBytes image = ModuleImage(module);
  if (image.Size() == 0) return false;
  const TResourceLanguages languages{static_cast<std::uint16_t>(::GetThreadLocale()),
                                     static_cast<std::uint16_t>(::GetSystemDefaultLCID()),
                                     static_cast<std::uint16_t>(::GetUserDefaultLCID())};
  return pageturn::FindModuleResource(image, type, name, languages, found);
}

namespace {

// TRUE as the fake-handle paths report it: every bit set.
constexpr BOOL FakeTrue = static_cast<BOOL>(0xFFFFFFFF);

template <class Proc>
Proc Kernel32Function(const char* name) {
  return ProcAddress<Proc>(::GetModuleHandleA("kernel32.dll"), name);
}

// Held for the whole of each call: a close of the handle on another thread cannot free it under it.
std::shared_ptr<TStream> FakeStream(HANDLE handle) {
  return ContentOperations.FindFakeHandleStream ? ContentOperations.FindFakeHandleStream(handle)
                                                : nullptr;
}

// Holds SoundLock, when there is one, for a whole sound call.
class TSoundHold {
 public:
  TSoundHold() : lock_(SoundLock.get()) {
    if (lock_) lock_->Enter();
  }
  ~TSoundHold() {
    if (lock_) lock_->Leave();
  }

 private:
  TCriticalSection* lock_;
};

// Window classes --------------------------------------------------------------------------------

// Registers `wc` (a copy) under its private name; Name is std::string or std::wstring.
template <class WndClass, class Name, class Unregister, class Register>
ATOM RegisterRenamed(const WndClass* requested, Unregister unregister, Register reg) {
  if (requested == nullptr || IS_INTRESOURCE(requested->lpszClassName)) return reg(requested);
  WndClass copy = *requested;
  copy.hInstance = HostInstance();
  Name asked(requested->lpszClassName);
  std::string narrow;
  if constexpr (std::is_same_v<Name, std::wstring>) narrow = WideToSystem(asked);
  else narrow = asked;
  const std::string newName = FlashClassName(narrow, UniqueClassNumber());
  if (ClassNameMap) {
    if constexpr (std::is_same_v<Name, std::wstring>) ClassNameMap->Set(asked, SystemToWide(newName));
    else ClassNameMap->Set(SystemToWide(asked), SystemToWide(newName));
  }
  Name registered;
  if constexpr (std::is_same_v<Name, std::wstring>) registered = SystemToWide(newName);
  else registered = newName;
  copy.lpszClassName = registered.c_str();
  unregister(registered.c_str(), copy.hInstance);  // a class registered again replaces the earlier
  return reg(&copy);
}

ATOM WINAPI ReplacedRegisterClassExA(const WNDCLASSEXA* wc) {
  return Boundary<ATOM>(0, [&] {
    return RegisterRenamed<WNDCLASSEXA, std::string>(wc, ::UnregisterClassA, ::RegisterClassExA);
  });
}
ATOM WINAPI ReplacedRegisterClassA(const WNDCLASSA* wc) {
  return Boundary<ATOM>(0, [&] {
    return RegisterRenamed<WNDCLASSA, std::string>(wc, ::UnregisterClassA, ::RegisterClassA);
  });
}
ATOM WINAPI ReplacedRegisterClassExW(const WNDCLASSEXW* wc) {
  return Boundary<ATOM>(0, [&] {
    return RegisterRenamed<WNDCLASSEXW, std::wstring>(wc, ::UnregisterClassW, ::RegisterClassExW);
  });
}
ATOM WINAPI ReplacedRegisterClassW(const WNDCLASSW* wc) {
  return Boundary<ATOM>(0, [&] {
    return RegisterRenamed<WNDCLASSW, std::wstring>(wc, ::UnregisterClassW, ::RegisterClassW);
  });
}

HWND WINAPI ReplacedCreateWindowExA(DWORD exStyle, LPCSTR className, LPCSTR windowName, DWORD style,
                                    int x, int y, int width, int height, HWND parent, HMENU menu,
                                    HINSTANCE instance, LPVOID param) {
  return Boundary<HWND>(nullptr, [&] {
    if (instance != nullptr) instance = HostInstance();
    std::wstring mapped;
    std::string narrow;
    if (!IS_INTRESOURCE(className) && ClassNameMap && ClassNameMap->Get(SystemToWide(className), mapped)) {
      narrow = WideToSystem(mapped);
      className = narrow.c_str();
    }
    return ::CreateWindowExA(exStyle, className, windowName, style, x, y, width, height, parent,
                             menu, instance, param);
  });
}

HWND WINAPI ReplacedCreateWindowExW(DWORD exStyle, LPCWSTR className, LPCWSTR windowName,
                                    DWORD style, int x, int y, int width, int height, HWND parent,
                                    HMENU menu, HINSTANCE instance, LPVOID param) {
  return Boundary<HWND>(nullptr, [&] {
    if (instance != nullptr) instance = HostInstance();
    std::wstring mapped;
    if (!IS_INTRESOURCE(className) && ClassNameMap && ClassNameMap->Get(className, mapped))
      className = mapped.c_str();
    return ::CreateWindowExW(exStyle, className, windowName, style, x, y, width, height, parent,
                             menu, instance, param);
  });
}

// Resources -------------------------------------------------------------------------------------

HCURSOR WINAPI ReplacedLoadCursorA(HINSTANCE instance, LPCSTR cursorName) {
  return Boundary<HCURSOR>(nullptr, [&]() -> HCURSOR {
    if (instance == nullptr) return ::LoadCursorA(nullptr, cursorName);  // system cursors
    if (SavedCursors)
      if (void* cached = SavedCursors->FindCursor(instance, cursorName)) return static_cast<HCURSOR>(cached);
    TResourceData group, cursor;
    if (!FindModuleResource(instance, RtGroupCursor, cursorName, group)) return nullptr;
    auto* base = reinterpret_cast<std::uint8_t*>(instance);
    const int id = ::LookupIconIdFromDirectory(base + group.Rva, FALSE);
    if (id == 0) return nullptr;
    if (!FindModuleResource(instance, RtCursor, MAKEINTRESOURCEA(id), cursor)) return nullptr;
    HCURSOR made = reinterpret_cast<HCURSOR>(
        ::CreateIconFromResource(base + cursor.Rva, cursor.Size, FALSE, 0x00030000));
    // A cursor that could not be made is cached as null, and looked up again next time.
    if (SavedCursors) SavedCursors->AddCursor(made, instance, cursorName);
    return made;
  });
}

HMENU WINAPI ReplacedLoadMenuA(HINSTANCE instance, LPCSTR menuName) {
  return Boundary<HMENU>(nullptr, [&]() -> HMENU {
    TResourceData menu;
    if (instance == nullptr || !FindModuleResource(instance, RtMenu, menuName, menu)) return nullptr;
    return ::LoadMenuIndirectA(reinterpret_cast<std::uint8_t*>(instance) + menu.Rva);
  });
}

// Code memory -----------------------------------------------------------------------------------

BOOL WINAPI ReplacedFlushInstructionCache(HANDLE process, LPCVOID base, SIZE_T size) {
  return Boundary<BOOL>(FALSE, [&] {
    // Code the runtime generates is made executable; the old protection is not restored.
    DWORD old;
    ::VirtualProtect(const_cast<LPVOID>(base), size, PAGE_EXECUTE_READWRITE, &old);
    return ::FlushInstructionCache(process, base, size);
  });
}

LPVOID WINAPI ReplacedVirtualAlloc(LPVOID address, SIZE_T size, DWORD allocationType, DWORD protect) {
  return Boundary<LPVOID>(nullptr, [&] {
    if (address != nullptr && (protect & PAGE_GUARD) != 0) {
      protect &= ~static_cast<DWORD>(PAGE_GUARD);
      MEMORY_BASIC_INFORMATION info{};
      if (::VirtualQuery(address, &info, sizeof info) == sizeof info) size = info.RegionSize;
    }
    return ::VirtualAlloc(address, size, allocationType, protect);
  });
}

// Run-time lookups ------------------------------------------------------------------------------

FARPROC WINAPI ReplacedGetProcAddress(HMODULE module, LPCSTR procName) {
  return Boundary<FARPROC>(nullptr, [&] {
    if (CodeProvider != nullptr && CodeProvider->Loader != nullptr)
      if (void* r = CodeProvider->Loader->GetImportReplacement("kernel32.dll", procName))
        return reinterpret_cast<FARPROC>(r);
    return ::GetProcAddress(module, procName);
  });
}

// URL monikers ----------------------------------------------------------------------------------

HRESULT WINAPI ReplacedCreateURLMoniker(IMoniker* context, LPCWSTR url, IMoniker** result) {
  return ComBoundary([&] {
    if (result != nullptr) *result = nullptr;
    return ContentOperations.CreateContentMoniker(context, url, result);
  });
}

// Files -----------------------------------------------------------------------------------------

HANDLE WINAPI ReplacedCreateFileA(LPCSTR fileName, DWORD access, DWORD shareMode,
                                  LPSECURITY_ATTRIBUTES security, DWORD creation, DWORD flags,
                                  HANDLE tmpl) {
  return Boundary<HANDLE>(INVALID_HANDLE_VALUE, [&] {
    return ContentOperations.OpenFileA(fileName, access, shareMode, security, creation, flags, tmpl);
  });
}

HANDLE WINAPI ReplacedCreateFileW(LPCWSTR fileName, DWORD access, DWORD shareMode,
                                  LPSECURITY_ATTRIBUTES security, DWORD creation, DWORD flags,
                                  HANDLE tmpl) {
  return Boundary<HANDLE>(INVALID_HANDLE_VALUE, [&] {
    return ContentOperations.OpenFileW(fileName, access, shareMode, security, creation, flags, tmpl);
  });
}

BOOL WINAPI ReplacedReadFile(HANDLE file, LPVOID buffer, DWORD toRead, LPDWORD read,
                             LPOVERLAPPED overlapped) {
  return Boundary<BOOL>(FALSE, [&] {
    const std::shared_ptr<TStream> stream = FakeStream(file);
    if (stream == nullptr) return ::ReadFile(file, buffer, toRead, read, overlapped);
    // Always synchronous; lpOverlapped is ignored.
    const auto n = static_cast<DWORD>(stream->Read(buffer, toRead));
    if (read != nullptr) *read = n;
    return FakeTrue;
  });
}

DWORD WINAPI ReplacedGetFileSize(HANDLE file, LPDWORD sizeHigh) {
  return Boundary<DWORD>(0, [&] {
    const std::shared_ptr<TStream> stream = FakeStream(file);
    if (stream == nullptr) return ::GetFileSize(file, sizeHigh);
    const auto size = static_cast<std::uint64_t>(stream->Size());
    if (sizeHigh != nullptr) *sizeHigh = static_cast<DWORD>(size >> 32);
    return static_cast<DWORD>(size);
  });
}

BOOL WINAPI ReplacedGetFileSizeEx(HANDLE file, PLARGE_INTEGER size) {
  return Boundary<BOOL>(FALSE, [&] {
    using Proc = BOOL(WINAPI*)(HANDLE, PLARGE_INTEGER);
    const auto system = Kernel32Function<Proc>("GetFileSizeEx");
    if (const std::shared_ptr<TStream> stream = FakeStream(file)) {
      if (size != nullptr) size->QuadPart = stream->Size();
      return FakeTrue;
    }
    if (system != nullptr) return system(file, size);
    if (size != nullptr) size->LowPart = ReplacedGetFileSize(file, reinterpret_cast<LPDWORD>(&size->HighPart));
    return TRUE;
  });
}

bool SeekOrigin(DWORD moveMethod, TSeekOrigin& origin) {
  switch (moveMethod) {
    case FILE_BEGIN: origin = TSeekOrigin::Beginning; return true;
    case FILE_CURRENT: origin = TSeekOrigin::Current; return true;
    case FILE_END: origin = TSeekOrigin::End; return true;
  }
  return false;
}

DWORD WINAPI ReplacedSetFilePointer(HANDLE file, LONG distance, PLONG distanceHigh, DWORD moveMethod) {
  return Boundary<DWORD>(INVALID_SET_FILE_POINTER, [&] {
    const std::shared_ptr<TStream> stream = FakeStream(file);
    if (stream == nullptr) return ::SetFilePointer(file, distance, distanceHigh, moveMethod);
    // Only the low 32 bits move a fake file; the high part is an output only.
    TSeekOrigin origin;
    if (!SeekOrigin(moveMethod, origin)) return static_cast<DWORD>(INVALID_SET_FILE_POINTER);
    stream->Seek(distance, origin);
    const auto position = static_cast<std::uint64_t>(stream->Position());
    if (distanceHigh != nullptr) *distanceHigh = static_cast<LONG>(position >> 32);
    return static_cast<DWORD>(position);
  });
}

BOOL WINAPI ReplacedSetFilePointerEx(HANDLE file, LARGE_INTEGER distance, PLARGE_INTEGER newPointer,
                                     DWORD moveMethod) {
  return Boundary<BOOL>(FALSE, [&] {
    if (const std::shared_ptr<TStream> stream = FakeStream(file)) {
      TSeekOrigin origin;
      if (!SeekOrigin(moveMethod, origin)) return FALSE;
      stream->Seek(static_cast<LONG>(distance.LowPart), origin);
      if (newPointer != nullptr) newPointer->QuadPart = stream->Position();
      return FakeTrue;
    }
    using Proc = BOOL(WINAPI*)(HANDLE, LARGE_INTEGER, PLARGE_INTEGER, DWORD);
    if (const auto system = Kernel32Function<Proc>("SetFilePointerEx"))
      return system(file, distance, newPointer, moveMethod);
    ReplacedSetFilePointer(file, static_cast<LONG>(distance.LowPart), nullptr, moveMethod);
    return TRUE;
  });
}

BOOL WINAPI ReplacedCloseHandle(HANDLE object) {
  return Boundary<BOOL>(FALSE, [&] {
    if (ContentOperations.ReleaseFakeHandle && ContentOperations.ReleaseFakeHandle(object))
      return FakeTrue;
    return ::CloseHandle(object);
  });
}

// Sound -----------------------------------------------------------------------------------------

MMRESULT WINAPI ReplacedWaveOutOpen(LPHWAVEOUT waveOut, UINT deviceId, LPCWAVEFORMATEX format,
                                    DWORD_PTR callback, DWORD_PTR instance, DWORD flags) {
  return Boundary<MMRESULT>(MMSYSERR_ERROR, [&] {
    TSoundHold hold;
    const MMRESULT result = ::waveOutOpen(waveOut, deviceId, format, callback, instance, flags);
    if (result == MMSYSERR_NOERROR && waveOut != nullptr && format != nullptr && SampleWidths)
      SampleWidths->Add(reinterpret_cast<DWORD>(*waveOut), format->wBitsPerSample / 8);
    return result;
  });
}

MMRESULT WINAPI ReplacedWaveOutWrite(HWAVEOUT waveOut, LPWAVEHDR header, UINT headerSize) {
  return Boundary<MMRESULT>(MMSYSERR_ERROR, [&] {
    TSoundHold hold;
    if (header != nullptr && header->lpData != nullptr) {
      DWORD width = 0;
      const bool known = SampleWidths && SampleWidths->Find(reinterpret_cast<DWORD>(waveOut), width);
      ApplyVolumeStage(reinterpret_cast<std::uint8_t*>(header->lpData), header->dwBufferLength,
                       SoundEnabled, known, width, SoundVolume);
    }
    return ::waveOutWrite(waveOut, header, headerSize);
  });
}

MMRESULT WINAPI ReplacedWaveOutClose(HWAVEOUT waveOut) {
  return Boundary<MMRESULT>(MMSYSERR_ERROR, [&] {
    TSoundHold hold;
    return ::waveOutClose(waveOut);  // the handle's width record stays
  });
}

// The table -------------------------------------------------------------------------------------

struct TReplacement {
  const char* name;
  void* address;
};

const TReplacement Replacements[] = {
    {"RegisterClassExA", reinterpret_cast<void*>(&ReplacedRegisterClassExA)},
    {"RegisterClassA", reinterpret_cast<void*>(&ReplacedRegisterClassA)},
    {"RegisterClassExW", reinterpret_cast<void*>(&ReplacedRegisterClassExW)},
    {"RegisterClassW", reinterpret_cast<void*>(&ReplacedRegisterClassW)},
    {"CreateWindowExA", reinterpret_cast<void*>(&ReplacedCreateWindowExA)},
    {"CreateWindowExW", reinterpret_cast<void*>(&ReplacedCreateWindowExW)},
    {"LoadCursorA", reinterpret_cast<void*>(&ReplacedLoadCursorA)},
    {"LoadMenuA", reinterpret_cast<void*>(&ReplacedLoadMenuA)},
    {"FlushInstructionCache", reinterpret_cast<void*>(&ReplacedFlushInstructionCache)},
    {"VirtualAlloc", reinterpret_cast<void*>(&ReplacedVirtualAlloc)},
    {"GetProcAddress", reinterpret_cast<void*>(&ReplacedGetProcAddress)},
    {"CreateURLMoniker", reinterpret_cast<void*>(&ReplacedCreateURLMoniker)},
    {"CreateFileA", reinterpret_cast<void*>(&ReplacedCreateFileA)},
    {"CreateFileW", reinterpret_cast<void*>(&ReplacedCreateFileW)},
    {"ReadFile", reinterpret_cast<void*>(&ReplacedReadFile)},
    {"GetFileSize", reinterpret_cast<void*>(&ReplacedGetFileSize)},
    {"GetFileSizeEx", reinterpret_cast<void*>(&ReplacedGetFileSizeEx)},
    {"SetFilePointer", reinterpret_cast<void*>(&ReplacedSetFilePointer)},
    {"SetFilePointerEx", reinterpret_cast<void*>(&ReplacedSetFilePointerEx)},
    {"CloseHandle", reinterpret_cast<void*>(&ReplacedCloseHandle)},
    {"waveOutOpen", reinterpret_cast<void*>(&ReplacedWaveOutOpen)},
    {"waveOutWrite", reinterpret_cast<void*>(&ReplacedWaveOutWrite)},
    {"waveOutClose", reinterpret_cast<void*>(&ReplacedWaveOutClose)},
};

// Working-set timer -----------------------------------------------------------------------------

UINT_PTR WorkingSetTimer = 0;

void CALLBACK WorkingSetTimerTick(HWND, UINT, UINT_PTR, DWORD) {
  Boundary<int>(0, [] {
    using Proc = BOOL(WINAPI*)(HANDLE, SIZE_T, SIZE_T);
    if (const auto trim = Kernel32Function<Proc>("SetProcessWorkingSetSize"))
      trim(::GetCurrentProcess(), static_cast<SIZE_T>(-1), static_cast<SIZE_T>(-1));
    return 0;
  });
}

}  // namespace

void* TFlashOCXLoader::GetImportReplacement(const char* dllName, const char* functionName) {
  if (functionName == nullptr || IsOrdinalName(functionName)) return nullptr;
  for (const TReplacement& r : Replacements)
    if (std::strcmp(r.name, functionName) == 0) return r.address;
  return nullptr;
}

void StartWorkingSetTimer() {
  if (WorkingSetTimer == 0) WorkingSetTimer = ::SetTimer(nullptr, 0, 10000, &WorkingSetTimerTick);
}

void StopWorkingSetTimer() {
  if (WorkingSetTimer != 0) ::KillTimer(nullptr, std::exchange(WorkingSetTimer, 0));
}

}  // namespace pageturn
