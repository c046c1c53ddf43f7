#include "runtime/code_provider.h"

#include <vector>

#include "core/com.h"
#include "core/win32.h"

namespace pageturn {

const CLSID CLSID_FlashRuntime = {0xD27CDB6E, 0xAE6D, 0x11CF, {0x96, 0xB8, 0x44, 0x45, 0x53, 0x54, 0x00, 0x00}};

TFlashOCXCodeProviderBasedOnStream* CodeProvider = nullptr;

namespace {

// Reads an open file handle as a stream; the handle stays the caller's.
class THandleReadStream : public TStream {
 public:
  explicit THandleReadStream(HANDLE file) : file_(file) {}
  std::size_t Read(void* buffer, std::size_t count) override {
    DWORD read = 0;
    if (!::ReadFile(file_, buffer, static_cast<DWORD>(count), &read, nullptr)) throw StreamReadError();
    return read;
  }
  std::size_t Write(const void*, std::size_t) override { throw StreamWriteError(); }
  std::int64_t Seek(std::int64_t offset, TSeekOrigin origin) override {
    LARGE_INTEGER distance, position;
    distance.QuadPart = offset;
    const DWORD method = origin == TSeekOrigin::Beginning ? FILE_BEGIN
                         : origin == TSeekOrigin::Current ? FILE_CURRENT : FILE_END;
    if (!::SetFilePointerEx(file_, distance, &position, method)) throw StreamReadError();
    return position.QuadPart;
  }

 private:
  HANDLE file_;
};

class TRegistryKey {
 public:
  ~TRegistryKey() {
    if (key_ != nullptr) ::RegCloseKey(key_);
  }
  HKEY* Receive() { return &key_; }
  HKEY Get() const { return key_; }

 private:
  HKEY key_ = nullptr;
};

}  // namespace

TFlashOCXCodeProviderBasedOnStream::TFlashOCXCodeProviderBasedOnStream() { CodeProvider = this; }

TFlashOCXCodeProviderBasedOnStream::TFlashOCXCodeProviderBasedOnStream(TStream* stream)
    : TFlashOCXCodeProviderBasedOnStream() {
  if (stream != nullptr) LoadRuntime(*stream);
}

TFlashOCXCodeProviderBasedOnStream::~TFlashOCXCodeProviderBasedOnStream() {
  // The runtime is detached and released here; CodeProvider is left as it is. The loader stays
  // whole (and reachable through CodeProvider) until the runtime has detached: a runtime that
  // looks functions up in its DLL_PROCESS_DETACH still gets the replacements.
  Boundary<int>(0, [&] {
    if (Loader) Loader->Unload();
    Loader.reset();
    return 0;
  });
}

void TFlashOCXCodeProviderBasedOnStream::LoadRuntime(TStream& stream) {
  // Whatever fails ends the load silently; what was done stays.
  Boundary<int>(0, [&] {
    Loader = std::make_unique<TFlashOCXLoader>();
    Loader->LoadFromStream(stream);
    GetClassObjectProc =
        reinterpret_cast<TDllGetClassObjectProc>(Loader->GetExportAddress("DllGetClassObject"));
    RuntimeVersion = ReadRuntimeVersion(reinterpret_cast<HMODULE>(Loader->Handle()));
    return 0;
  });
}

HRESULT TFlashOCXCodeProviderBasedOnStream::CreateFlashObject(REFIID iid, void** object) {
  if (object != nullptr) *object = nullptr;
  return ComBoundary([&] {
    if (GetClassObjectProc == nullptr) return E_FAIL;
    ComPtr<IClassFactory> factory;
    if (GetClassObjectProc(CLSID_FlashRuntime, IID_IClassFactory,
                           reinterpret_cast<void**>(factory.GetAddressOf())) != S_OK)
      return E_FAIL;
    // Its result is not examined: the caller tests the object.
    if (factory) factory->CreateInstance(nullptr, iid, object);
    return S_OK;
  });
}

TFlashOCXCodeProviderBasedOnSystemInstalledOCX::TFlashOCXCodeProviderBasedOnSystemInstalledOCX() {
  Boundary<int>(0, [&] {
    TRegistryKey key;
    if (::RegOpenKeyExA(HKEY_CLASSES_ROOT, FlashRuntimeRegistryKey, 0, KEY_QUERY_VALUE,
                        key.Receive()) != ERROR_SUCCESS)
      return 0;
    // 261 bytes are read; one more zero guarantees the path ends even when the value fills them.
    std::vector<char> path(262, 0);
    DWORD size = 261;
    if (::RegQueryValueExA(key.Get(), "", nullptr, nullptr, reinterpret_cast<BYTE*>(path.data()),
                           &size) != ERROR_SUCCESS)
      return 0;
    ScopedHandle file(::CreateFileA(path.data(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                    OPEN_EXISTING, 0, nullptr));
    if (!file.IsValid()) return 0;
    THandleReadStream stream(file.Get());
    LoadRuntime(stream);
    return 0;
  });
}

void LoadRuntimeFromStream(TStream* stream) {
  FreeCodeProvider();
  CodeProvider = new TFlashOCXCodeProviderBasedOnStream(stream);  // set by the provider already
}

void FreeCodeProvider() {
  // Freed first, cleared only after: the old runtime detaches while it is still the current one.
  delete CodeProvider;
  CodeProvider = nullptr;
}

std::uint32_t ReadRuntimeVersion(HMODULE module) {
  TResourceData version;
  if (!FindModuleResource(module, RtVersion, MAKEINTRESOURCEA(1), version)) return 0;
  return RuntimeVersionFromVersionInfo(reinterpret_cast<std::uint8_t*>(module) + version.Rva,
                                       version.Size);
}

}  // namespace pageturn
