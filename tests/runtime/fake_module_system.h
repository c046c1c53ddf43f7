// A TModuleSystem that records every call, for the portable loader tests and the fuzzer.
#pragma once

#include <cstdint>
#include <cstdlib>
#include <new>
#include <set>
#include <string>
#include <vector>

#include "runtime/dll_loader.h"

namespace pageturn::test {

class TFakeModuleSystem : public TModuleSystem {
 public:
  std::uint32_t MaxAllocation = 64u << 20;
  std::set<std::string> MissingDlls;
  std::vector<std::string> Calls;  // "load x", "resolve x!name", "resolve x!#7", "entry 1", ...
  int OutstandingBlocks = 0, OutstandingModules = 0;
  std::vector<std::uint8_t*> Blocks;

  ~TFakeModuleSystem() override {
    for (std::uint8_t* b : live_) std::free(b);
  }

  std::uint8_t* AllocateImage(std::uint32_t size) override {
    if (size > MaxAllocation) throw std::bad_alloc();
    auto* block = static_cast<std::uint8_t*>(std::calloc(size, 1));
    if (block == nullptr) throw std::bad_alloc();
    live_.insert(block);
    Blocks.push_back(block);
    ++OutstandingBlocks;
    Calls.push_back("allocate " + std::to_string(size));
    return block;
  }
  void ReleaseImage(std::uint8_t* block) override {
    live_.erase(block);
    std::free(block);
    --OutstandingBlocks;
    Calls.push_back("release");
  }
  void* LoadDependency(const char* dllName) override {
    Calls.push_back(std::string("load ") + dllName);
    if (MissingDlls.count(dllName)) return nullptr;
    names_.push_back(dllName);
    ++OutstandingModules;
    return reinterpret_cast<void*>(names_.size());  // 1-based index into names_
  }
  void FreeDependency(void* module) override {
    --OutstandingModules;
    Calls.push_back("free " + NameOf(module));
  }
  std::uint32_t ResolveImport(void* module, const char* name) override {
    const std::string what = IsOrdinalName(name)
                                 ? "#" + std::to_string(reinterpret_cast<std::uintptr_t>(name))
                                 : std::string(name);
    Calls.push_back("resolve " + NameOf(module) + "!" + what);
    return AddressOf(NameOf(module) + "!" + what);
  }
  void FlushCode(std::uint8_t* block, std::uint32_t size) override {
    Calls.push_back("flush " + std::to_string(size));
  }
  void CallEntryPoint(std::uint8_t* entry, std::uint8_t* instance, std::uint32_t reason) override {
    Calls.push_back("entry " + std::to_string(reason));
    EntryAddress = entry;
    EntryInstance = instance;
  }

  // The address the fake resolves "dll!name" to: distinct per name, never 0.
  static std::uint32_t AddressOf(const std::string& qualified) {
    std::uint32_t h = 2166136261u;
    for (unsigned char c : qualified) h = (h ^ c) * 16777619u;
    return h | 1;
  }
  std::string NameOf(void* module) const {
    const auto i = reinterpret_cast<std::uintptr_t>(module);
    return i == 0 ? "(null)" : names_.at(i - 1);
  }

  std::uint8_t* EntryAddress = nullptr;
  std::uint8_t* EntryInstance = nullptr;

 private:
  std::set<std::uint8_t*> live_;
  std::vector<std::string> names_;
};

}  // namespace pageturn::test
