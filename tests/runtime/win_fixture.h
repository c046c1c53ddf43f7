// Helpers for the Windows runtime tests: the fixture DLLs beside the test program, the reasons
// their entry point reported, and a view of a file image for patching.
#pragma once

#include <windows.h>

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "core/stream.h"
#include "runtime/pe_image.h"

namespace pageturn::test {

inline std::string BesideTheTest(const std::string& name) {
  char path[MAX_PATH];
  const DWORD n = ::GetModuleFileNameA(nullptr, path, MAX_PATH);
  std::string dir(path, n);
  return dir.substr(0, dir.find_last_of("\\/") + 1) + name;
}

inline std::unique_ptr<TMemoryStream> ReadFixture(const std::string& name) {
  auto stream = std::make_unique<TMemoryStream>();
  TFileStream file(BesideTheTest(name), TFileStream::Mode::OpenReadShareAll);
  stream->CopyFrom(file, 0);
  return stream;
}

// fixture_dep.dll, held loaded by the test so that what it recorded outlives the mapped fixture.
class TDep {
 public:
  TDep() : module_(::LoadLibraryA("fixture_dep.dll")) {
    Reset();
    SetEntryResult(TRUE);
  }
  ~TDep() { ::FreeLibrary(module_); }
  HMODULE Module() const { return module_; }
  std::vector<int> Reasons() const {
    std::vector<int> r;
    const int n = Call<int (*)()>("DepReasonCount")();
    for (int i = 0; i < n; ++i) r.push_back(Call<int (*)(int)>("DepReason")(i));
    return r;
  }
  void Reset() const { Call<void (*)()>("DepReset")(); }
  // What the fixture's GetProcAddress gave for VirtualAlloc while it detached (null: not yet).
  void* DetachLookup() const { return Call<void* (*)()>("DepDetachLookup")(); }
  void SetEntryResult(BOOL result) const {
    *reinterpret_cast<int*>(::GetProcAddress(module_, "DepEntryResult")) = result;
  }

 private:
  template <class F>
  F Call(const char* name) const {
    auto p = reinterpret_cast<void*>(::GetProcAddress(module_, name));
    if (p == nullptr) throw std::runtime_error(name);
    return reinterpret_cast<F>(p);
  }
  HMODULE module_;
};

// The file offset of an RVA in a file image, through its section table.
inline std::uint32_t FileOffsetOf(TMemoryStream& file, std::uint32_t rva) {
  const TCheckedBytes bytes(file.Memory(), static_cast<std::size_t>(file.Size()));
  const TPEHeaders h = TPEHeaders::Parse(bytes);
  for (unsigned i = 0; i < h.NumberOfSections; ++i) {
    const TSectionHeader s = h.Section(bytes, i);
    if (rva >= s.VirtualAddress && rva < s.VirtualAddress + s.VirtualSize)
      return s.PointerToRawData + (rva - s.VirtualAddress);
  }
  throw std::runtime_error("RVA outside every section");
}

template <class F>
F ExportOf(void* address) {
  return reinterpret_cast<F>(address);
}

}  // namespace pageturn::test
