// DllMain, the exports and the class factories.
#include "module.h"

#include <olectl.h>

#include <string>

#include "com_support.h"
#include "flash_object.h"

namespace standin {

HINSTANCE g_module = nullptr;
LONG g_liveCount = 0;

namespace {

CriticalSection* g_classLock = nullptr;
bool g_classRegistered = false;

const wchar_t kClsidText[] = L"{D27CDB6E-AE6D-11CF-96B8-444553540000}";

class ClassFactory final : public SingleInterfaceObject<IClassFactory, IID_IClassFactory> {
 public:
  explicit ClassFactory(bool testSurface) : testSurface_(testSurface) { ModuleAddRef(); }

  STDMETHODIMP CreateInstance(IUnknown* outer, REFIID riid, void** ppv) override {
    return Guard([&]() -> HRESULT {
      if (!ppv) return E_POINTER;
      *ppv = nullptr;
      if (outer) return CLASS_E_NOAGGREGATION;
#ifdef STANDIN_TEST_SURFACE
      if (testSurface_) return CreateTestSurface(nullptr, riid, ppv);
#endif
      ComPtr<FlashObject> object = Adopt(new FlashObject());
      return object->QueryInterface(riid, ppv);
    });
  }
  STDMETHODIMP LockServer(BOOL lock) override {
    if (lock) ModuleAddRef();
    else ModuleRelease();
    return S_OK;
  }

 private:
  ~ClassFactory() override { ModuleRelease(); }
  bool testSurface_;
};

LONG SetKeyValue(HKEY root, const std::wstring& path, const wchar_t* name,
                 const std::wstring& value) {
  HKEY key;
  LONG rc = RegCreateKeyExW(root, path.c_str(), 0, nullptr, 0, KEY_WRITE, nullptr, &key, nullptr);
  if (rc != ERROR_SUCCESS) return rc;
  rc = RegSetValueExW(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                      DWORD((value.size() + 1) * sizeof(wchar_t)));
  RegCloseKey(key);
  return rc;
}

}  // namespace

bool RegisterPlayerWindowClass() {
  Lock lock(*g_classLock);
  if (g_classRegistered) return true;
  WNDCLASSEXW wc{};
  wc.cbSize = sizeof wc;
  wc.style = CS_DBLCLKS | CS_HREDRAW | CS_VREDRAW;
  wc.lpfnWndProc = FlashObject::WindowProc;
  wc.cbWndExtra = sizeof(FlashObject*);
  wc.hInstance = g_module;
  // Our own resource: a host that mapped us from memory serves it from the image.
  wc.hCursor = LoadCursorA(g_module, MAKEINTRESOURCEA(STANDIN_CURSOR_HAND));
  if (!wc.hCursor) wc.hCursor = LoadCursorW(nullptr, reinterpret_cast<LPCWSTR>(IDC_ARROW));
  wc.lpszClassName = kPlayerWindowClass;
  if (!RegisterClassExW(&wc) && GetLastError() != ERROR_CLASS_ALREADY_EXISTS) return false;
  g_classRegistered = true;
  return true;
}

}  // namespace standin

using namespace standin;

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, void*) {
  if (reason == DLL_PROCESS_ATTACH) {
    g_module = instance;
    g_classLock = new (std::nothrow) CriticalSection();
#ifdef STANDIN_TEST_SURFACE
    TestVariantAttach();
#endif
    return g_classLock != nullptr;
  }
  if (reason == DLL_PROCESS_DETACH) {
#ifdef STANDIN_TEST_SURFACE
    TestVariantDetach();
#endif
    if (g_classRegistered) UnregisterClassW(kPlayerWindowClass, g_module);
    delete g_classLock;
    g_classLock = nullptr;
  }
  return TRUE;
}

extern "C" HRESULT STDAPICALLTYPE DllGetClassObject(REFCLSID clsid, REFIID riid, void** ppv) {
  return Guard([&]() -> HRESULT {
    if (!ppv) return E_POINTER;
    *ppv = nullptr;
#ifdef STANDIN_TEST_SURFACE
    bool surface = clsid == CLSID_StandInTestSurface;
#else
    bool surface = false;
#endif
    if (clsid != kClsidShockwaveFlash && !surface) return CLASS_E_CLASSNOTAVAILABLE;
    ComPtr<ClassFactory> factory = Adopt(new ClassFactory(surface));
    return factory->QueryInterface(riid, ppv);
  });
}

extern "C" HRESULT STDAPICALLTYPE DllCanUnloadNow() {
  return g_liveCount == 0 ? S_OK : S_FALSE;
}

extern "C" HRESULT STDAPICALLTYPE DllRegisterServer() {
  return Guard([&]() -> HRESULT {
    wchar_t path[MAX_PATH];
    DWORD n = GetModuleFileNameW(g_module, path, MAX_PATH);
    if (n == 0 || n >= MAX_PATH) return SELFREG_E_CLASS;
    const std::wstring clsidKey = std::wstring(L"CLSID\\") + kClsidText;
    LONG rc = SetKeyValue(HKEY_CLASSES_ROOT, clsidKey, nullptr, L"Shockwave Flash Object");
    if (rc == ERROR_SUCCESS)
      rc = SetKeyValue(HKEY_CLASSES_ROOT, clsidKey + L"\\InprocServer32", nullptr, path);
    if (rc == ERROR_SUCCESS)
      rc = SetKeyValue(HKEY_CLASSES_ROOT, clsidKey + L"\\InprocServer32", L"ThreadingModel",
                       L"Apartment");
    if (rc == ERROR_SUCCESS)
      rc = SetKeyValue(HKEY_CLASSES_ROOT, clsidKey + L"\\ProgID", nullptr,
                       L"ShockwaveFlash.ShockwaveFlash.10");
    if (rc == ERROR_SUCCESS)
      rc = SetKeyValue(HKEY_CLASSES_ROOT, L"ShockwaveFlash.ShockwaveFlash.10\\CLSID", nullptr,
                       kClsidText);
    return rc == ERROR_SUCCESS ? S_OK : SELFREG_E_CLASS;
  });
}

extern "C" HRESULT STDAPICALLTYPE DllUnregisterServer() {
  return Guard([&]() -> HRESULT {
    RegDeleteTreeW(HKEY_CLASSES_ROOT, (std::wstring(L"CLSID\\") + kClsidText).c_str());
    RegDeleteTreeW(HKEY_CLASSES_ROOT, L"ShockwaveFlash.ShockwaveFlash.10");
    return S_OK;
  });
}

#ifdef STANDIN_TEST_SURFACE
extern "C" HRESULT STDAPICALLTYPE StandInGetTestSurface(REFIID riid, void** ppv) {
  return Guard([&] { return CreateTestSurface(nullptr, riid, ppv); });
}
#endif
