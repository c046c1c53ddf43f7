// TDLLLoader: maps an i386 DLL from a stream into private memory, relocates it, resolves its
// imports (offering each one to GetImportReplacement first) and runs its entry point. The image
// walk is portable; what it needs from the platform comes through TModuleSystem.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "core/stream.h"
#include "runtime/pe_image.h"

namespace pageturn {

// The platform operations the loader needs. Addresses stored into the image are 32-bit.
class TModuleSystem {
 public:
  virtual ~TModuleSystem() = default;
  // A zero-filled, readable, writable and executable block; raises when none can be had.
  virtual std::uint8_t* AllocateImage(std::uint32_t size) = 0;
  virtual void ReleaseImage(std::uint8_t* block) = 0;
  // A dependency by the name stored in the image (system search order); null when not loadable.
  virtual void* LoadDependency(const char* dllName) = 0;
  virtual void FreeDependency(void* module) = 0;
  // GetProcAddress: `name` is a string or an ordinal (IsOrdinalName); 0 when unresolved.
  virtual std::uint32_t ResolveImport(void* module, const char* name) = 0;
  virtual void FlushCode(std::uint8_t* block, std::uint32_t size) = 0;
  // Calls the stdcall DllMain at `entry` with (instance, reason, null); the result is ignored.
  virtual void CallEntryPoint(std::uint8_t* entry, std::uint8_t* instance, std::uint32_t reason) = 0;
};

#ifdef _WIN32
TModuleSystem& Win32ModuleSystem();
#endif

// One import resolved by name. Nothing reads these back; they live as long as the loader.
struct TImportedFunction {
  std::string DllName;       // without any leading path
  std::string FunctionName;
  std::uint32_t* Slot;       // the import address table entry that received the address
};

class TImportedFunctions {
 public:
  void Add(std::string dllName, std::string functionName, std::uint32_t* slot) {
    records_.push_back(TImportedFunction{std::move(dllName), std::move(functionName), slot});
  }
  const std::vector<TImportedFunction>& Records() const { return records_; }

 private:
  std::vector<TImportedFunction> records_;
};

// Where a load takes the bytes of the file image from (internal to dll_loader.cpp).
class TImageSource;

class TDLLLoader {
 public:
  static constexpr std::uint32_t DllProcessDetach = 0, DllProcessAttach = 1, DllThreadAttach = 2;

  explicit TDLLLoader(TModuleSystem& system);
#ifdef _WIN32
  TDLLLoader() : TDLLLoader(Win32ModuleSystem()) {}
#endif
  virtual ~TDLLLoader();
  // Detaches the module (its entry point with DLL_PROCESS_DETACH), frees its dependencies and
  // releases its image; nothing when not loaded. Call it before a derived loader goes away
  // when the module's detach may still ask the loader for replacements.
  void Unload();
  TDLLLoader(const TDLLLoader&) = delete;
  TDLLLoader& operator=(const TDLLLoader&) = delete;

  // Maps the image held in the whole stream. Raises when the image is malformed or cannot be
  // mapped; a failed load has released its block and dependencies and called no entry point.
  // A memory stream is mapped from its bytes in place; any other stream is read piece by piece
  // straight into the image (its headers, then each section's data), never whole.
  void LoadFromStream(TStream& stream);
  // The same from bytes already in memory.
  void LoadFromBytes(const std::uint8_t* data, std::size_t size);

  // Address of the export with exactly this name, or null (also before loading, and for an
  // export table that does not lie inside the image).
  void* GetExportAddress(const char* name) const;

  // The mapped image, which is also the module's instance handle; null until loaded.
  std::uint8_t* Handle() const { return handle_; }
  std::uint32_t ImageSize() const { return imageSize_; }
  TCheckedBytes Image() const { return TCheckedBytes(handle_, handle_ ? imageSize_ : 0); }
  const std::vector<void*>& Modules() const { return modules_; }
  const TImportedFunctions* ImportedFunctions() const { return importedFunctions_.get(); }

  // The hook: the address to put in an import slot instead of the real function, or null.
  // `functionName` is a name or an ordinal (IsOrdinalName).
  virtual void* GetImportReplacement(const char* dllName, const char* functionName) {
    return nullptr;
  }

 private:
  // `headerBytes` holds at least the file's headers and section table.
  void Load(TImageSource& file, const TCheckedBytes& headerBytes);
  void MapSections(TImageSource& file, const TCheckedBytes& headerBytes, const TPEHeaders& headers,
                   const TCheckedBytes& block);
  void Relocate(const TPEHeaders& headers, const TCheckedBytes& block);
  void ResolveImports(const TPEHeaders& headers, const TCheckedBytes& block);
  void FreeDependencies();

  TModuleSystem& system_;
  std::uint8_t* handle_ = nullptr;
  std::uint32_t imageSize_ = 0;
  std::uint32_t entryPoint_ = 0;
  std::vector<void*> modules_;
  std::unique_ptr<TImportedFunctions> importedFunctions_;
};

}  // namespace pageturn
