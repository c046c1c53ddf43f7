// A deliberately naive in-memory mapping of a DLL for the stand-in's own tests: sections
// copied, relocations applied, imports resolved by the system, the entry point called; no TLS,
// no loader list entry, no protections. If flash.ocx runs like this, it does not lean on the
// system loader's bookkeeping. (The host has its own loader; this one trusts its input.)
#pragma once

#include <windows.h>

#include <cstring>
#include <functional>
#include <stdexcept>
#include <string>
#include <vector>

namespace standin::testing {

class MappedModule {
 public:
  // replace(dll, name) may give an address for an import by name; null means "resolve it".
  using ImportReplacement = std::function<void*(const char* dll, const char* name)>;

  explicit MappedModule(const std::wstring& path, ImportReplacement replace = {}) {
    HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                              0, nullptr);
    if (file == INVALID_HANDLE_VALUE) throw std::runtime_error("cannot open the module file");
    std::vector<uint8_t> image(GetFileSize(file, nullptr));
    DWORD read = 0;
    ReadFile(file, image.data(), DWORD(image.size()), &read, nullptr);
    CloseHandle(file);

    auto* dos = reinterpret_cast<IMAGE_DOS_HEADER*>(image.data());
    auto* nt = reinterpret_cast<IMAGE_NT_HEADERS32*>(image.data() + dos->e_lfanew);
    const auto& opt = nt->OptionalHeader;
    base_ = static_cast<uint8_t*>(
        VirtualAlloc(nullptr, opt.SizeOfImage, MEM_COMMIT | MEM_RESERVE, PAGE_EXECUTE_READWRITE));
    if (!base_) throw std::runtime_error("VirtualAlloc failed");
    std::memcpy(base_, image.data(), opt.SizeOfHeaders);
    auto* section = IMAGE_FIRST_SECTION(nt);
    for (unsigned i = 0; i < nt->FileHeader.NumberOfSections; ++i, ++section) {
      size_t raw = std::min<size_t>(section->SizeOfRawData, section->Misc.VirtualSize);
      std::memcpy(base_ + section->VirtualAddress, image.data() + section->PointerToRawData, raw);
    }

    uint32_t delta = uint32_t(uintptr_t(base_)) - opt.ImageBase;
    const auto& relocDir = opt.DataDirectory[IMAGE_DIRECTORY_ENTRY_BASERELOC];
    for (uint8_t *p = base_ + relocDir.VirtualAddress, *end = p + relocDir.Size; p < end;) {
      auto* block = reinterpret_cast<IMAGE_BASE_RELOCATION*>(p);
      if (block->SizeOfBlock < 8) break;
      auto* entries = reinterpret_cast<uint16_t*>(block + 1);
      for (size_t i = 0; i < (block->SizeOfBlock - 8) / 2; ++i)
        if (entries[i] >> 12 == IMAGE_REL_BASED_HIGHLOW)
          *reinterpret_cast<uint32_t*>(base_ + block->VirtualAddress + (entries[i] & 0xFFF)) +=
              delta;
      p += block->SizeOfBlock;
    }

    const auto& importDir = opt.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT];
    for (auto* d = reinterpret_cast<IMAGE_IMPORT_DESCRIPTOR*>(base_ + importDir.VirtualAddress);
         d->Name; ++d) {
      const char* dllName = reinterpret_cast<char*>(base_ + d->Name);
      HMODULE dependency = LoadLibraryA(dllName);
      dependencies_.push_back(dependency);
      auto* names = reinterpret_cast<IMAGE_THUNK_DATA32*>(
          base_ + (d->OriginalFirstThunk ? d->OriginalFirstThunk : d->FirstThunk));
      auto* slots = reinterpret_cast<IMAGE_THUNK_DATA32*>(base_ + d->FirstThunk);
      for (; names->u1.AddressOfData; ++names, ++slots) {
        LPCSTR key = IMAGE_SNAP_BY_ORDINAL32(names->u1.Ordinal)
                         ? MAKEINTRESOURCEA(IMAGE_ORDINAL32(names->u1.Ordinal))
                         : reinterpret_cast<LPCSTR>(base_ + names->u1.AddressOfData + 2);
        void* replacement = replace && !IS_INTRESOURCE(key) ? replace(dllName, key) : nullptr;
        slots->u1.Function =
            DWORD(uintptr_t(replacement ? replacement : reinterpret_cast<void*>(GetProcAddress(dependency, key))));
      }
    }

    entry_ = opt.AddressOfEntryPoint ? reinterpret_cast<EntryPoint>(base_ + opt.AddressOfEntryPoint)
                                     : nullptr;
    exports_ = opt.DataDirectory[IMAGE_DIRECTORY_ENTRY_EXPORT];
    if (entry_) entry_(HINSTANCE(base_), DLL_PROCESS_ATTACH, nullptr);
  }

  ~MappedModule() {
    if (entry_) entry_(HINSTANCE(base_), DLL_PROCESS_DETACH, nullptr);
    for (HMODULE m : dependencies_)
      if (m) FreeLibrary(m);
    VirtualFree(base_, 0, MEM_RELEASE);
  }
  MappedModule(const MappedModule&) = delete;
  MappedModule& operator=(const MappedModule&) = delete;

  void* Export(const char* name) const {
    auto* dir = reinterpret_cast<IMAGE_EXPORT_DIRECTORY*>(base_ + exports_.VirtualAddress);
    auto* names = reinterpret_cast<uint32_t*>(base_ + dir->AddressOfNames);
    auto* ordinals = reinterpret_cast<uint16_t*>(base_ + dir->AddressOfNameOrdinals);
    auto* functions = reinterpret_cast<uint32_t*>(base_ + dir->AddressOfFunctions);
    for (DWORD i = 0; i < dir->NumberOfNames; ++i)
      if (std::strcmp(reinterpret_cast<char*>(base_ + names[i]), name) == 0)
        return base_ + functions[ordinals[i]];
    return nullptr;
  }
  HINSTANCE handle() const { return HINSTANCE(base_); }

 private:
  using EntryPoint = BOOL(WINAPI*)(HINSTANCE, DWORD, void*);
  uint8_t* base_ = nullptr;
  EntryPoint entry_ = nullptr;
  IMAGE_DATA_DIRECTORY exports_{};
  std::vector<HMODULE> dependencies_;
};

}  // namespace standin::testing
