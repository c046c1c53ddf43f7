// flash.ocx as a foreign runtime sees it: registered the regsvr32 way, made by CoCreateInstance,
// sited in a plain container with a real window, fetching through real urlmon binds, firing
// its events into a recording sink, and answering its test surface.
#include <windows.h>
#include <ocidl.h>
#include <olectl.h>
#include <urlmon.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "mapped_module.h"
#include "shockwave_flash.h"
#include "standin_test_surface.h"
#include "swf_builder.h"

namespace {

using namespace standin::testing;
using namespace swftest;
using standin::IShockwaveFlash;
using standin::kClsidShockwaveFlash;
using standin::kDiidShockwaveFlashEvents;
using standin::kIidShockwaveFlash;

std::wstring OcxPath() {
  std::string linux = STANDIN_OCX_PATH;
  std::wstring path = L"Z:";
  for (char c : linux) path += c == '/' ? L'\\' : wchar_t(c);
  return path;
}

// Pumps this thread's messages until `done` holds or timeoutMs passes.
bool PumpUntil(const std::function<bool()>& done, DWORD timeoutMs = 10000) {
  DWORD start = GetTickCount();
  while (!done()) {
    if (GetTickCount() - start > timeoutMs) return false;
    MsgWaitForMultipleObjects(0, nullptr, FALSE, 50, QS_ALLINPUT);
    MSG msg;
    while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
      TranslateMessage(&msg);
      DispatchMessageW(&msg);
    }
  }
  return true;
}

std::map<std::wstring, std::wstring> ParseReport(BSTR report) {
  std::map<std::wstring, std::wstring> out;
  std::wstring text = report ? report : L"";
  size_t pos = 0;
  while (pos < text.size()) {
    size_t end = text.find(L'\n', pos);
    if (end == std::wstring::npos) end = text.size();
    std::wstring line = text.substr(pos, end - pos);
    size_t eq = line.find(L'=');
    if (eq != std::wstring::npos) out[line.substr(0, eq)] = line.substr(eq + 1);
    pos = end + 1;
  }
  SysFreeString(report);
  return out;
}

std::string Narrow(const std::wstring& s) { return std::string(s.begin(), s.end()); }

// A plain IUnknown base for the test's own COM objects (they live on the test's stack).
template <class... I>
class StackObject : public I... {
 public:
  STDMETHODIMP_(ULONG) AddRef() override { return 2; }
  STDMETHODIMP_(ULONG) Release() override { return 1; }
};

// The event sink: records every Invoke as "dispid(vt:value,...)" in rgvarg order.
class RecordingSink final : public StackObject<IDispatch> {
 public:
  STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override {
    *ppv = nullptr;
    if (riid == IID_IUnknown || riid == IID_IDispatch || riid == kDiidShockwaveFlashEvents) {
      *ppv = static_cast<IDispatch*>(this);
      return S_OK;
    }
    return E_NOINTERFACE;
  }
  STDMETHODIMP GetTypeInfoCount(UINT* n) override {
    *n = 0;
    return S_OK;
  }
  STDMETHODIMP GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
  STDMETHODIMP GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override { return E_NOTIMPL; }
  STDMETHODIMP Invoke(DISPID id, REFIID, LCID, WORD flags, DISPPARAMS* p, VARIANT*, EXCEPINFO*,
                      UINT*) override {
    std::wstring entry = std::to_wstring(id) + L"(";
    for (UINT i = 0; i < p->cArgs; ++i) {
      const VARIANT& v = p->rgvarg[i];
      if (i) entry += L",";
      if (v.vt == VT_I4) entry += L"I4:" + std::to_wstring(v.lVal);
      else if (v.vt == VT_BSTR) entry += L"BSTR:" + std::wstring(v.bstrVal ? v.bstrVal : L"");
      else entry += L"vt" + std::to_wstring(v.vt);
    }
    entry += L")";
    calls.push_back(entry);
    if (flags != DISPATCH_METHOD) calls.push_back(L"unexpected flags");
    if (id == standin::kDispidReadyStateChange && p->cArgs == 1) lastReadyState = p->rgvarg[0].lVal;
    if (id == standin::kDispidFlashCall && flash && !answer.empty()) {
      BSTR a = SysAllocString(answer.c_str());
      flash->SetReturnValue(a);
      SysFreeString(a);
    }
    return S_OK;
  }
  bool Saw(const std::wstring& entry) const {
    for (const auto& c : calls)
      if (c == entry) return true;
    return false;
  }

  std::vector<std::wstring> calls;
  long lastReadyState = -1;
  IShockwaveFlash* flash = nullptr;
  std::wstring answer;
};

// The container: client site and in-place site of one object in a real window.
class TestSite final : public StackObject<IOleClientSite, IOleInPlaceSite, IDispatch> {
 public:
  explicit TestSite(HWND window) : window_(window) {}

  STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override {
    *ppv = nullptr;
    if (riid == IID_IUnknown || riid == IID_IOleClientSite)
      *ppv = static_cast<IOleClientSite*>(this);
    else if (riid == IID_IOleWindow || riid == IID_IOleInPlaceSite)
      *ppv = static_cast<IOleInPlaceSite*>(this);
    else if (riid == IID_IDispatch)
      *ppv = static_cast<IDispatch*>(this);
    else
      return E_NOINTERFACE;
    return S_OK;
  }
  // IOleClientSite
  STDMETHODIMP SaveObject() override { return S_OK; }
  STDMETHODIMP GetMoniker(DWORD, DWORD, IMoniker** mk) override {
    *mk = nullptr;
    return E_NOTIMPL;
  }
  STDMETHODIMP GetContainer(IOleContainer** c) override {
    *c = nullptr;
    return E_NOINTERFACE;
  }
  STDMETHODIMP ShowObject() override { return Log(L"ShowObject"); }
  STDMETHODIMP OnShowWindow(BOOL) override { return Log(L"OnShowWindow"); }
  STDMETHODIMP RequestNewObjectLayout() override { return E_NOTIMPL; }
  // IOleWindow / IOleInPlaceSite
  STDMETHODIMP GetWindow(HWND* w) override {
    *w = window_;
    return S_OK;
  }
  STDMETHODIMP ContextSensitiveHelp(BOOL) override { return S_OK; }
  STDMETHODIMP CanInPlaceActivate() override { return Log(L"CanInPlaceActivate"); }
  STDMETHODIMP OnInPlaceActivate() override { return Log(L"OnInPlaceActivate"); }
  STDMETHODIMP OnUIActivate() override { return Log(L"OnUIActivate"); }
  STDMETHODIMP GetWindowContext(IOleInPlaceFrame** frame, IOleInPlaceUIWindow** doc, LPRECT pos,
                                LPRECT clip, LPOLEINPLACEFRAMEINFO) override {
    *frame = nullptr;
    *doc = nullptr;
    *pos = rect;
    *clip = {0, 0, 32767, 32767};
    return Log(L"GetWindowContext");
  }
  STDMETHODIMP Scroll(SIZE) override { return E_NOTIMPL; }
  STDMETHODIMP OnUIDeactivate(BOOL) override { return Log(L"OnUIDeactivate"); }
  STDMETHODIMP OnInPlaceDeactivate() override { return Log(L"OnInPlaceDeactivate"); }
  STDMETHODIMP DiscardUndoState() override { return E_NOTIMPL; }
  STDMETHODIMP DeactivateAndUndo() override { return E_NOTIMPL; }
  STDMETHODIMP OnPosRectChange(LPCRECT) override { return S_OK; }
  // IDispatch: ambient properties
  STDMETHODIMP GetTypeInfoCount(UINT* n) override {
    *n = 0;
    return S_OK;
  }
  STDMETHODIMP GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
  STDMETHODIMP GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override { return E_NOTIMPL; }
  STDMETHODIMP Invoke(DISPID id, REFIID, LCID, WORD flags, DISPPARAMS*, VARIANT* result,
                      EXCEPINFO*, UINT*) override {
    if (id == DISPID_AMBIENT_USERMODE && (flags & DISPATCH_PROPERTYGET) && result) {
      Log(L"Ambient(USERMODE)");
      result->vt = VT_BOOL;
      result->boolVal = VARIANT_TRUE;
      return S_OK;
    }
    return DISP_E_MEMBERNOTFOUND;
  }

  std::vector<std::wstring> calls;
  RECT rect{10, 20, 310, 220};

 private:
  HRESULT Log(const wchar_t* call) {
    calls.push_back(call);
    return S_OK;
  }
  HWND window_;
};

// Registers flash.ocx for the whole binary and unregisters it at the end.
class RegisteredRuntime : public ::testing::Environment {
 public:
  void SetUp() override {
    CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    module = LoadLibraryW(OcxPath().c_str());
    ASSERT_NE(module, nullptr) << Narrow(OcxPath());
    auto reg = reinterpret_cast<HRESULT(STDAPICALLTYPE*)()>(
        reinterpret_cast<void*>(GetProcAddress(module, "DllRegisterServer")));
    ASSERT_NE(reg, nullptr);
    ASSERT_EQ(reg(), S_OK);
  }
  void TearDown() override {
    auto unreg = reinterpret_cast<HRESULT(STDAPICALLTYPE*)()>(
        reinterpret_cast<void*>(GetProcAddress(module, "DllUnregisterServer")));
    EXPECT_EQ(unreg(), S_OK);
    HKEY key;
    EXPECT_NE(RegOpenKeyExW(HKEY_CLASSES_ROOT,
                            L"CLSID\\{D27CDB6E-AE6D-11cf-96B8-444553540000}", 0, KEY_READ, &key),
              ERROR_SUCCESS)
        << "the class key is gone after unregistration";
    // One visible container window for the whole binary: Wine waits for an unmapped
    // top-level window to be withdrawn, which costs seconds without a window manager.
    if (container) DestroyWindow(container);
    auto canUnload = reinterpret_cast<HRESULT(STDAPICALLTYPE*)()>(
        reinterpret_cast<void*>(GetProcAddress(module, "DllCanUnloadNow")));
    EXPECT_TRUE(PumpUntil([&] { return canUnload() == S_OK; }))
        << "an object, factory, surface or worker of the runtime outlived the tests";
    CoFreeUnusedLibraries();
    FreeLibrary(module);
    CoUninitialize();
  }
  HMODULE module = nullptr;
  HWND container = nullptr;
};
RegisteredRuntime* g_runtime =
    static_cast<RegisteredRuntime*>(::testing::AddGlobalTestEnvironment(new RegisteredRuntime));

// A fresh temporary folder with movie files, addressed by file:// URLs.
class MovieFolder {
 public:
  MovieFolder() {
    wchar_t temp[MAX_PATH];
    GetTempPathW(MAX_PATH, temp);
    dir_ = std::wstring(temp) + L"standin-" + std::to_wstring(GetCurrentProcessId()) + L"-" +
           std::to_wstring(counter_++);
    CreateDirectoryW(dir_.c_str(), nullptr);
  }
  ~MovieFolder() {
    for (const auto& f : files_) DeleteFileW(f.c_str());
    RemoveDirectoryW(dir_.c_str());
  }
  std::wstring Write(const std::wstring& name, const Bytes& bytes) {
    std::wstring path = dir_ + L"\\" + name;
    HANDLE h = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    DWORD written = 0;
    WriteFile(h, bytes.data(), DWORD(bytes.size()), &written, nullptr);
    CloseHandle(h);
    files_.push_back(path);
    return path;
  }
  static std::wstring Url(const std::wstring& path) {
    std::wstring url = L"file:///";
    for (wchar_t c : path) url += c == L'\\' ? L'/' : c;
    return url;
  }

 private:
  static inline int counter_ = 0;
  std::wstring dir_;
  std::vector<std::wstring> files_;
};

template <class T>
class Ref {
 public:
  ~Ref() {
    if (p) p->Release();
  }
  T* operator->() const { return p; }
  T** operator&() { return &p; }
  void** Out() { return reinterpret_cast<void**>(&p); }
  T* p = nullptr;
};

class StandInTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!g_runtime->container)
      g_runtime->container = CreateWindowExW(0, L"STATIC", L"standin test container",
                                             WS_OVERLAPPEDWINDOW | WS_CLIPCHILDREN | WS_VISIBLE, 0,
                                             0, 640, 480, nullptr, nullptr, nullptr, nullptr);
    window_ = g_runtime->container;
    ASSERT_NE(window_, nullptr);
    site_ = std::make_unique<TestSite>(window_);
    ASSERT_EQ(CoCreateInstance(kClsidShockwaveFlash, nullptr, CLSCTX_INPROC_SERVER,
                               IID_IOleObject, object_.Out()),
              S_OK);
    ASSERT_EQ(object_->SetClientSite(site_.get()), S_OK);
    ASSERT_EQ(object_->QueryInterface(kIidShockwaveFlash, flash_.Out()), S_OK);
    sink_.flash = flash_.p;
    Ref<IConnectionPointContainer> container;
    ASSERT_EQ(object_->QueryInterface(IID_IConnectionPointContainer, container.Out()), S_OK);
    ASSERT_EQ(container->FindConnectionPoint(kDiidShockwaveFlashEvents, &events_.p), S_OK);
    ASSERT_EQ(events_->Advise(&sink_, &cookie_), S_OK);
    ASSERT_EQ(object_->QueryInterface(IID_IStandInTestSurface, surface_.Out()), S_OK);
  }
  void TearDown() override {
    // Forget our references before the object's teardown calls back into the site.
    if (events_.p) events_->Unadvise(cookie_);
    if (object_.p) {
      object_->Close(OLECLOSE_NOSAVE);
      object_->SetClientSite(nullptr);
    }
  }

  std::map<std::wstring, std::wstring> Report() {
    BSTR r = nullptr;
    EXPECT_EQ(surface_->GetReport(&r), S_OK);
    return ParseReport(r);
  }
  void LoadAndWait(const std::wstring& url) {
    BSTR b = SysAllocString(url.c_str());
    ASSERT_EQ(flash_->put_Movie(b), S_OK);
    SysFreeString(b);
    ASSERT_TRUE(PumpUntil([&] { return sink_.lastReadyState == 4; })) << Narrow(url);
  }

  HWND window_ = nullptr;
  std::unique_ptr<TestSite> site_;
  RecordingSink sink_;
  Ref<IOleObject> object_;
  Ref<IShockwaveFlash> flash_;
  Ref<IConnectionPoint> events_;
  Ref<IStandInTestSurface> surface_;
  DWORD cookie_ = 0;
};

TEST_F(StandInTest, RegistrationNamesThisModule) {
  wchar_t value[MAX_PATH] = L"";
  LONG size = sizeof value;
  ASSERT_EQ(RegQueryValueW(HKEY_CLASSES_ROOT,
                           L"CLSID\\{D27CDB6E-AE6D-11CF-96B8-444553540000}\\InprocServer32", value,
                           &size),
            ERROR_SUCCESS);
  wchar_t loaded[MAX_PATH];
  GetModuleFileNameW(g_runtime->module, loaded, MAX_PATH);
  EXPECT_EQ(lstrcmpiW(value, loaded), 0) << Narrow(value);
}

TEST_F(StandInTest, VersionResourceSaysTenPointThree) {
  DWORD ignored = 0;
  DWORD size = GetFileVersionInfoSizeW(OcxPath().c_str(), &ignored);
  ASSERT_GT(size, 0u);
  std::vector<uint8_t> data(size);
  ASSERT_TRUE(GetFileVersionInfoW(OcxPath().c_str(), 0, size, data.data()));
  VS_FIXEDFILEINFO* info = nullptr;
  UINT length = 0;
  ASSERT_TRUE(VerQueryValueW(data.data(), L"\\", reinterpret_cast<void**>(&info), &length));
  EXPECT_EQ(info->dwProductVersionMS, 0x000A0003u);
  EXPECT_EQ(info->dwProductVersionLS, 0x00B7000Bu);  // 10.3.183.11
}

// A mapped copy and a system-loaded one must behave alike: the host's loader runs no TLS
// callbacks, so the module carries none.
TEST_F(StandInTest, ModuleCarriesNoTlsDirectory) {
  HMODULE module = LoadLibraryExW(OcxPath().c_str(), nullptr, DONT_RESOLVE_DLL_REFERENCES);
  ASSERT_NE(module, nullptr);
  const auto* base = reinterpret_cast<const BYTE*>(module);
  const auto* dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(base);
  const auto* nt = reinterpret_cast<const IMAGE_NT_HEADERS32*>(base + dos->e_lfanew);
  const IMAGE_DATA_DIRECTORY& tls = nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_TLS];
  EXPECT_EQ(tls.VirtualAddress, 0u);
  EXPECT_EQ(tls.Size, 0u);
  FreeLibrary(module);
}

TEST_F(StandInTest, InPlaceActivationMakesAChildWindowInTheSitesWindow) {
  ASSERT_EQ(object_->DoVerb(OLEIVERB_INPLACEACTIVATE, nullptr, site_.get(), 0, window_,
                            &site_->rect),
            S_OK);
  EXPECT_EQ(site_->calls, (std::vector<std::wstring>{L"Ambient(USERMODE)", L"CanInPlaceActivate",
                                                     L"OnInPlaceActivate", L"GetWindowContext",
                                                     L"ShowObject", L"OnShowWindow"}));
  Ref<IOleInPlaceObject> inPlace;
  ASSERT_EQ(object_->QueryInterface(IID_IOleInPlaceObject, inPlace.Out()), S_OK);
  HWND child = nullptr;
  ASSERT_EQ(inPlace->GetWindow(&child), S_OK);
  EXPECT_EQ(GetParent(child), window_);
  RECT r;
  GetWindowRect(child, &r);
  MapWindowPoints(nullptr, window_, reinterpret_cast<POINT*>(&r), 2);
  EXPECT_EQ(r.left, 10);
  EXPECT_EQ(r.top, 20);
  EXPECT_EQ(r.right, 310);
  EXPECT_EQ(r.bottom, 220);
  wchar_t name[64];
  GetClassNameW(child, name, 64);
  EXPECT_STREQ(name, L"MacromediaFlashPlayerActiveX");

  RECT moved{0, 0, 200, 100};
  EXPECT_EQ(inPlace->SetObjectRects(&moved, &moved), S_OK);
  GetClientRect(child, &r);
  EXPECT_EQ(r.right, 200);
  EXPECT_EQ(r.bottom, 100);

  EXPECT_EQ(object_->Close(OLECLOSE_NOSAVE), S_OK);
  EXPECT_FALSE(IsWindow(child));
  EXPECT_EQ(site_->calls.back(), L"OnInPlaceDeactivate");
  EXPECT_EQ(inPlace->GetWindow(&child), E_FAIL);

  // A container that recreates its window activates the same object again.
  site_->calls.clear();
  ASSERT_EQ(object_->DoVerb(OLEIVERB_UIACTIVATE, nullptr, site_.get(), 0, window_, &site_->rect),
            S_OK);
  EXPECT_EQ(inPlace->GetWindow(&child), S_OK);
  EXPECT_TRUE(IsWindow(child));
  EXPECT_EQ(site_->calls.back(), L"OnUIActivate");
  EXPECT_EQ(inPlace->UIDeactivate(), S_OK);
  EXPECT_EQ(site_->calls.back(), L"OnUIDeactivate");

  // A window destroyed from outside (its parent went first) is made again on the next verb.
  DestroyWindow(child);
  ASSERT_EQ(object_->DoVerb(OLEIVERB_INPLACEACTIVATE, nullptr, site_.get(), 0, window_,
                            &site_->rect),
            S_OK);
  EXPECT_EQ(inPlace->GetWindow(&child), S_OK);
  EXPECT_TRUE(IsWindow(child));
}

TEST_F(StandInTest, ExtentIsHimetricAndVersionIsTen) {
  SIZEL size{21167, 15875};
  EXPECT_EQ(object_->SetExtent(DVASPECT_CONTENT, &size), S_OK);
  SIZEL back{};
  EXPECT_EQ(object_->GetExtent(DVASPECT_CONTENT, &back), S_OK);
  EXPECT_EQ(back.cx, 21167);
  EXPECT_EQ(back.cy, 15875);
  long version = 0;
  EXPECT_EQ(flash_->FlashVersion(&version), S_OK);
  EXPECT_EQ((version >> 16) & 0xFF, 10);
  EXPECT_EQ(object_->GetExtent(DVASPECT_THUMBNAIL, &back), DV_E_DVASPECT);
  Ref<IProvideClassInfo2> classInfo;
  ASSERT_EQ(object_->QueryInterface(IID_IProvideClassInfo2, classInfo.Out()), S_OK);
  GUID source{};
  EXPECT_EQ(classInfo->GetGUID(GUIDKIND_DEFAULT_SOURCE_DISP_IID, &source), S_OK);
  EXPECT_TRUE(IsEqualGUID(source, kDiidShockwaveFlashEvents));
}

TEST_F(StandInTest, LateBindingReachesTheSameMembers) {
  Ref<IDispatch> dispatch;
  ASSERT_EQ(object_->QueryInterface(IID_IDispatch, dispatch.Out()), S_OK);
  struct Case {
    const wchar_t* name;
    DISPID id;
  } cases[] = {{L"Movie", 102}, {L"FlashVersion", 132}, {L"ReadyState", -525}, {L"LoadMovie", 142}};
  for (const auto& c : cases) {
    LPOLESTR name = const_cast<LPOLESTR>(c.name);
    DISPID id = 0;
    EXPECT_EQ(dispatch->GetIDsOfNames(IID_NULL, &name, 1, 0, &id), S_OK);
    EXPECT_EQ(id, c.id) << Narrow(c.name);
  }
  VARIANT result;
  VariantInit(&result);
  DISPPARAMS none{};
  ASSERT_EQ(dispatch->Invoke(132, IID_NULL, 0, DISPATCH_METHOD, &none, &result, nullptr, nullptr),
            S_OK);
  EXPECT_EQ(result.vt, VT_I4);
  EXPECT_EQ((result.lVal >> 16) & 0xFF, 10);
  VARIANT movie;
  movie.vt = VT_BSTR;
  movie.bstrVal = SysAllocString(L"");
  DISPID named = DISPID_PROPERTYPUT;
  DISPPARAMS put{&movie, &named, 1, 1};
  EXPECT_EQ(dispatch->Invoke(136, IID_NULL, 0, DISPATCH_PROPERTYPUT, &put, nullptr, nullptr, nullptr),
            S_OK);
  VariantClear(&movie);
  EXPECT_EQ(dispatch->Invoke(4242, IID_NULL, 0, DISPATCH_METHOD, &none, &result, nullptr, nullptr),
            DISP_E_MEMBERNOTFOUND);
}

// Calls slot `slot` of `itf` with the argument types the published table gives it: the
// layout is checked against the table, not against our own declaration of it.
template <class... A>
HRESULT Slot(void* itf, int slot, A... args) {
  using Fn = HRESULT(STDMETHODCALLTYPE*)(void*, A...);
  return reinterpret_cast<Fn>((*static_cast<void***>(itf))[slot])(itf, args...);
}

std::wstring TakeBstr(BSTR b) {
  std::wstring s = b ? std::wstring(b, SysStringLen(b)) : std::wstring();
  SysFreeString(b);
  return s;
}

Bytes ThreeStoppedFrames() {
  return SwfBuilder().FrameCount(3).DoAction(kStop).ShowFrame().ShowFrame().ShowFrame().End()
      .Build(false);
}

TEST_F(StandInTest, EverySlotIsWhereThePublishedLayoutPutsIt) {
  MovieFolder folder;
  std::wstring url = MovieFolder::Url(folder.Write(L"slots.swf", ThreeStoppedFrames()));
  LoadAndWait(url);
  void* f = flash_.p;
  BSTR out = nullptr;

  struct Text {
    int get;  // the put is the next slot
    const wchar_t* value;
  } texts[] = {{40, L"Opaque"},  {42, L"TL"},      {46, L"Z:\\base"}, {48, L"NoBorder"},
               {54, L"#102030"}, {56, L"Medium"},  {74, L"remote"},   {76, L"a=1"},
               {78, L"always"},  {80, L"data"},    {89, L"profiler"}, {96, L"internal"},
               {98, L"true"}};
  for (const auto& t : texts) {
    BSTR v = SysAllocString(t.value);
    EXPECT_EQ(Slot(f, t.get + 1, v), S_OK) << "slot " << t.get + 1;
    SysFreeString(v);
  }
  for (const auto& t : texts) {
    EXPECT_EQ(Slot(f, t.get, &out), S_OK) << "slot " << t.get;
    EXPECT_EQ(TakeBstr(out), t.value) << "slot " << t.get;
  }
  EXPECT_EQ(Slot(f, 21, &out), S_OK);  // Movie
  EXPECT_EQ(TakeBstr(out), url);

  EXPECT_EQ(Slot(f, 12, int(2)), S_OK);  // Quality
  EXPECT_EQ(Slot(f, 14, int(3)), S_OK);  // ScaleMode
  EXPECT_EQ(Slot(f, 16, int(5)), S_OK);  // AlignMode
  EXPECT_EQ(Slot(f, 18, long(0x102030)), S_OK);  // BackgroundColor, the colour BGColor says
  EXPECT_EQ(Slot(f, 92, long(4242)), S_OK);      // ProfilePort
  const std::pair<int, long> numbers[] = {{11, 2}, {13, 3}, {15, 5}, {17, 0x102030}, {91, 4242}};
  for (const auto& [slot, expected] : numbers) {
    long v = -1;  // an int is as wide as a long here
    EXPECT_EQ(Slot(f, slot, &v), S_OK);
    EXPECT_EQ(v, expected) << "slot " << slot;
  }

  // Each boolean put moves its own getter and no other.
  const int bools[] = {19, 44, 50, 52, 84, 87};
  auto readBools = [&] {
    std::vector<VARIANT_BOOL> v;
    for (int slot : bools) {
      VARIANT_BOOL b = 7;
      EXPECT_EQ(Slot(f, slot, &b), S_OK);
      v.push_back(b);
    }
    return v;
  };
  for (size_t i = 0; i < std::size(bools); ++i) {
    auto before = readBools();
    EXPECT_EQ(Slot(f, bools[i] + 1, VARIANT_BOOL(before[i] ? VARIANT_FALSE : VARIANT_TRUE)), S_OK);
    auto after = readBools();
    for (size_t j = 0; j < std::size(bools); ++j)
      EXPECT_EQ(after[j] != before[j], i == j) << "put " << bools[i] + 1 << ", get " << bools[j];
    Slot(f, bools[i] + 1, before[i]);
  }

  long n = -1;
  VARIANT_BOOL b = 7;
  EXPECT_EQ(Slot(f, 7, &n), S_OK);  // ReadyState
  EXPECT_EQ(n, 4);
  EXPECT_EQ(Slot(f, 8, &n), S_OK);  // TotalFrames
  EXPECT_EQ(n, 3);
  EXPECT_EQ(Slot(f, 37, &n), S_OK);  // PercentLoaded
  EXPECT_EQ(n, 100);
  EXPECT_EQ(Slot(f, 39, &n), S_OK);  // FlashVersion
  EXPECT_EQ((n >> 16) & 0xFF, 10);
  EXPECT_EQ(Slot(f, 34, long(2)), S_OK);  // GotoFrame
  EXPECT_EQ(Slot(f, 23, &n), S_OK);       // FrameNum
  EXPECT_EQ(n, 2);
  EXPECT_EQ(Slot(f, 24, long(1)), S_OK);  // FrameNum put
  EXPECT_EQ(Slot(f, 35, &n), S_OK);       // CurrentFrame
  EXPECT_EQ(n, 1);
  EXPECT_EQ(Slot(f, 32), S_OK);  // Rewind
  EXPECT_EQ(Slot(f, 35, &n), S_OK);
  EXPECT_EQ(n, 0);
  EXPECT_EQ(Slot(f, 31), S_OK);  // Forward
  EXPECT_EQ(Slot(f, 31), S_OK);
  EXPECT_EQ(Slot(f, 30), S_OK);  // Back
  EXPECT_EQ(Slot(f, 35, &n), S_OK);
  EXPECT_EQ(n, 1);
  EXPECT_EQ(Slot(f, 38, long(2), &b), S_OK);  // FrameLoaded
  EXPECT_EQ(b, VARIANT_TRUE);
  EXPECT_EQ(Slot(f, 38, long(3), &b), S_OK);
  EXPECT_EQ(b, VARIANT_FALSE);

  const std::pair<int, VARIANT_BOOL> playing[] = {
      {28, VARIANT_TRUE}, {29, VARIANT_FALSE}, {28, VARIANT_TRUE}, {33, VARIANT_FALSE}};
  for (const auto& [slot, expected] : playing) {  // Play, Stop, StopPlay; IsPlaying and Playing
    EXPECT_EQ(Slot(f, slot), S_OK);
    EXPECT_EQ(Slot(f, 36, &b), S_OK);
    EXPECT_EQ(b, expected) << "after slot " << slot;
    EXPECT_EQ(Slot(f, 9, &b), S_OK);
    EXPECT_EQ(b, expected) << "after slot " << slot;
  }
  EXPECT_EQ(Slot(f, 10, VARIANT_BOOL(VARIANT_TRUE)), S_OK);  // Playing put
  EXPECT_EQ(Slot(f, 36, &b), S_OK);
  EXPECT_EQ(b, VARIANT_TRUE);

  BSTR level0 = SysAllocString(L"_level0");
  EXPECT_EQ(Slot(f, 64, level0), S_OK);  // TStopPlay
  EXPECT_EQ(Slot(f, 36, &b), S_OK);
  EXPECT_EQ(b, VARIANT_FALSE);
  EXPECT_EQ(Slot(f, 63, level0), S_OK);  // TPlay
  EXPECT_EQ(Slot(f, 36, &b), S_OK);
  EXPECT_EQ(b, VARIANT_TRUE);
  EXPECT_EQ(Slot(f, 29), S_OK);
  EXPECT_EQ(Slot(f, 59, level0, long(2)), S_OK);  // TGotoFrame
  EXPECT_EQ(Slot(f, 61, level0, &n), S_OK);       // TCurrentFrame
  EXPECT_EQ(n, 2);
  EXPECT_EQ(Slot(f, 68, level0, int(5), &out), S_OK);  // TGetProperty(_totalframes)
  EXPECT_EQ(TakeBstr(out), L"3");
  double d = 0;
  EXPECT_EQ(Slot(f, 72, level0, int(4), &d), S_OK);  // TGetPropertyNum(_currentframe)
  EXPECT_EQ(d, 3.0);
  d = 0;
  EXPECT_EQ(Slot(f, 73, level0, int(5), &d), S_OK);  // TGetPropertyAsNumber(_totalframes)
  EXPECT_EQ(d, 3.0);
  SysFreeString(level0);

  BSTR name = SysAllocString(L"answer"), value = SysAllocString(L"42");
  EXPECT_EQ(Slot(f, 65, name, value), S_OK);  // SetVariable
  EXPECT_EQ(Slot(f, 66, name, &out), S_OK);   // GetVariable
  EXPECT_EQ(TakeBstr(out), L"42");
  SysFreeString(name);
  SysFreeString(value);

  BSTR child = SysAllocString(L"child.swf");
  EXPECT_EQ(Slot(f, 58, int(1), child), S_OK);  // LoadMovie: resolved against Base, set above
  SysFreeString(child);
  EXPECT_EQ(Report()[L"fetches"], url + L"|Z:\\base/child.swf");
}

VARIANT Text(const wchar_t* s) {
  VARIANT v;
  v.vt = VT_BSTR;
  v.bstrVal = SysAllocString(s);
  return v;
}
VARIANT Number(long n) {
  VARIANT v;
  v.vt = VT_I4;
  v.lVal = n;
  return v;
}
VARIANT Flag(bool b) {
  VARIANT v;
  v.vt = VT_BOOL;
  v.boolVal = b ? VARIANT_TRUE : VARIANT_FALSE;
  return v;
}
std::wstring Show(const VARIANT& v) {
  switch (v.vt) {
    case VT_EMPTY: return L"";
    case VT_I4: return L"I4:" + std::to_wstring(v.lVal);
    case VT_BOOL: return L"BOOL:" + std::to_wstring(v.boolVal);
    case VT_BSTR: return L"BSTR:" + std::wstring(v.bstrVal ? v.bstrVal : L"");
    case VT_R8: return L"R8:" + std::to_wstring(int(v.dblVal));
    default: return L"vt" + std::to_wstring(v.vt);
  }
}

// A script host reaches every member of the layout by its DISPID.
TEST_F(StandInTest, LateBindingReachesEveryMemberByItsDispid) {
  MovieFolder folder;
  std::wstring url = MovieFolder::Url(folder.Write(L"late.swf", ThreeStoppedFrames()));
  LoadAndWait(url);
  Ref<IDispatch> dispatch;
  ASSERT_EQ(object_->QueryInterface(IID_IDispatch, dispatch.Out()), S_OK);
  // Arguments in declaration order; DISPPARAMS holds them reversed.
  auto invoke = [&](DISPID id, WORD flags, std::vector<VARIANT> args, std::wstring* shown) {
    std::reverse(args.begin(), args.end());
    DISPID named = DISPID_PROPERTYPUT;
    bool put = flags == DISPATCH_PROPERTYPUT;
    DISPPARAMS params{args.data(), put ? &named : nullptr, UINT(args.size()), put ? 1u : 0u};
    VARIANT result;
    VariantInit(&result);
    HRESULT hr = dispatch->Invoke(id, IID_NULL, 0, flags, &params, put ? nullptr : &result,
                                  nullptr, nullptr);
    for (auto& a : args) VariantClear(&a);
    if (shown) *shown = Show(result);
    VariantClear(&result);
    return hr;
  };

  struct Property {
    DISPID id;
    VARIANT value;
    std::wstring expected;
  } properties[] = {
      {107, Number(2), L"I4:2"},          {105, Number(2), L"I4:2"},
      {120, Number(3), L"I4:3"},          {121, Number(5), L"I4:5"},
      {123, Number(0x102030), L"I4:1056816"},
      {106, Flag(false), L"BOOL:0"},      {125, Flag(true), L"BOOL:-1"},
      {133, Text(L"Opaque"), L"BSTR:Opaque"}, {134, Text(L"TL"), L"BSTR:TL"},
      {135, Flag(false), L"BOOL:0"},      {136, Text(L"Z:\\base"), L"BSTR:Z:\\base"},
      {137, Text(L"NoBorder"), L"BSTR:NoBorder"}, {138, Flag(true), L"BOOL:-1"},
      {139, Flag(true), L"BOOL:-1"},      {140, Text(L"#102030"), L"BSTR:#102030"},
      {141, Text(L"Medium"), L"BSTR:Medium"}, {159, Text(L"remote"), L"BSTR:remote"},
      {170, Text(L"a=1"), L"BSTR:a=1"},   {171, Text(L"always"), L"BSTR:always"},
      {190, Text(L"data"), L"BSTR:data"}, {192, Flag(false), L"BOOL:0"},
      {194, Flag(true), L"BOOL:-1"},      {195, Text(L"profiler"), L"BSTR:profiler"},
      {196, Number(4242), L"I4:4242"},    {201, Text(L"internal"), L"BSTR:internal"},
      {202, Text(L"true"), L"BSTR:true"},
  };
  for (auto& p : properties)
    EXPECT_EQ(invoke(p.id, DISPATCH_PROPERTYPUT, {p.value}, nullptr), S_OK) << "put " << p.id;
  std::wstring shown;
  for (const auto& p : properties) {
    EXPECT_EQ(invoke(p.id, DISPATCH_PROPERTYGET, {}, &shown), S_OK) << "get " << p.id;
    EXPECT_EQ(shown, p.expected) << "get " << p.id;
  }
  const std::pair<DISPID, std::wstring> readOnly[] = {
      {-525, L"I4:4"}, {124, L"I4:3"}, {102, L"BSTR:" + url}};
  for (const auto& [id, expected] : readOnly) {
    EXPECT_EQ(invoke(id, DISPATCH_PROPERTYGET, {}, &shown), S_OK) << id;
    EXPECT_EQ(shown, expected) << id;
  }

  // Methods, in an order whose results tell them apart.
  struct Method {
    DISPID id;
    std::vector<VARIANT> args;
    std::wstring expected;
  } methods[] = {
      {127, {Number(1)}, L""},              {128, {}, L"I4:1"},
      {131, {Number(2)}, L"BOOL:-1"},       {130, {}, L"I4:100"},
      {132, {}, L"I4:656311"},              {143, {Text(L"_level0"), Number(2)}, L""},
      {145, {Text(L"_level0")}, L"I4:2"},   {154, {Text(L"_level0"), Number(5)}, L"BSTR:3"},
      {158, {Text(L"_level0"), Number(5)}, L"R8:3"},
      {172, {Text(L"_level0"), Number(4)}, L"R8:3"},
      {146, {Text(L"_level0")}, L"BSTR:"},  {147, {Text(L"_level0")}, L""},
      {129, {}, L"BOOL:-1"},                {148, {Text(L"_level0")}, L""},
      {129, {}, L"BOOL:0"},                 {116, {}, L""},
      {128, {}, L"I4:0"},                   {115, {}, L""},
      {128, {}, L"I4:1"},                   {114, {}, L""},
      {128, {}, L"I4:0"},                   {112, {}, L""},
      {129, {}, L"BOOL:-1"},                {113, {}, L""},
      {129, {}, L"BOOL:0"},                 {112, {}, L""},
      {126, {}, L""},                       {129, {}, L"BOOL:0"},
      {151, {Text(L"answer"), Text(L"42")}, L""},
      {152, {Text(L"answer")}, L"BSTR:42"},
      {109, {Number(0), Number(0), Number(10), Number(10)}, L""},
      {118, {Number(50)}, L""},             {119, {Number(1), Number(2), Number(0)}, L""},
      {153, {Text(L"_level0"), Number(2), Text(L"1")}, L""},
      {157, {Text(L"_level0"), Number(2), Number(1)}, L""},
      {193, {}, L""},                       {200, {}, L""},
      {142, {Number(1), Text(L"child.swf")}, L""},
  };
  for (auto& m : methods) {
    EXPECT_EQ(invoke(m.id, DISPATCH_METHOD, m.args, &shown), S_OK) << m.id;
    EXPECT_EQ(shown, m.expected) << m.id;
  }
  EXPECT_EQ(Report()[L"fetches"], url + L"|Z:\\base/child.swf");
  EXPECT_EQ(invoke(4242, DISPATCH_METHOD, {}, &shown), DISP_E_MEMBERNOTFOUND);
  EXPECT_EQ(invoke(149, DISPATCH_METHOD, {}, &shown), DISP_E_MEMBERNOTFOUND);
}

TEST_F(StandInTest, PlaysFwsAndCwsMoviesAndFiresTheirFsCommands) {
  MovieFolder folder;
  for (bool compressed : {false, true}) {
    sink_.calls.clear();
    sink_.lastReadyState = -1;
    std::wstring name = compressed ? L"cws.swf" : L"fws.swf";
    std::wstring path =
        folder.Write(name, SwfBuilder()
                               .FrameCount(3)
                               .Background(0x20, 0x40, 0x60)
                               .DoAction(Cat({GetUrl("FSCommand:fullscreen", "true"), kStop}))
                               .ShowFrame()
                               .ShowFrame()
                               .ShowFrame()
                               .End()
                               .Build(compressed));
    LoadAndWait(MovieFolder::Url(path));
    long frames = 0;
    EXPECT_EQ(flash_->get_TotalFrames(&frames), S_OK);
    EXPECT_EQ(frames, 3);
    // Argument order: rgvarg[0] is the last declared argument.
    EXPECT_TRUE(sink_.Saw(L"150(BSTR:true,BSTR:fullscreen)")) << Narrow(name);
    EXPECT_TRUE(sink_.Saw(L"-609(I4:0)"));
    EXPECT_TRUE(sink_.Saw(L"1958(I4:100)"));
    auto report = Report();
    EXPECT_EQ(report[L"background"], L"204060");
    EXPECT_EQ(report[L"playing"], L"0");
  }
}

TEST_F(StandInTest, ProgressClimbsWhileTheMovieArrivesAndEndsAtHundred) {
  MovieFolder folder;
  Bytes movie = SwfBuilder().Tag(21, Bytes(300000, 0x5A), true).ShowFrame().End().Build(false);
  LoadAndWait(MovieFolder::Url(folder.Write(L"big.swf", movie)));
  std::vector<long> progress;
  for (const auto& call : sink_.calls)
    if (call.rfind(L"1958(I4:", 0) == 0) progress.push_back(std::stol(call.substr(8)));
  ASSERT_GE(progress.size(), 2u) << "some progress before the end";
  EXPECT_EQ(progress.back(), 100);
  EXPECT_LT(progress[progress.size() - 2], 100);
  EXPECT_TRUE(std::is_sorted(progress.begin(), progress.end()));
  long percent = 0;
  EXPECT_EQ(flash_->PercentLoaded(&percent), S_OK);
  EXPECT_EQ(percent, 100);
}

TEST_F(StandInTest, LevelLoadsResolveAgainstTheMoviesOwnUrl) {
  MovieFolder folder;
  folder.Write(L"child.swf", SwfBuilder()
                                 .DoAction(Cat({GetUrl("FSCommand:child", "loaded"), kStop}))
                                 .ShowFrame()
                                 .End()
                                 .Build(true));
  std::wstring main = folder.Write(
      L"main.swf",
      SwfBuilder().DoAction(Cat({GetUrl("child.swf", "_level1"), kStop})).ShowFrame().End().Build(
          false));
  ASSERT_EQ(object_->DoVerb(OLEIVERB_INPLACEACTIVATE, nullptr, site_.get(), 0, window_,
                            &site_->rect),
            S_OK);
  LoadAndWait(MovieFolder::Url(main));
  ASSERT_TRUE(PumpUntil([&] { return sink_.Saw(L"150(BSTR:loaded,BSTR:child)"); }));
  auto report = Report();
  EXPECT_EQ(report[L"levels"], L"0,1");
  std::wstring childUrl = MovieFolder::Url(main);
  childUrl.replace(childUrl.size() - 8, 8, L"child.swf");
  EXPECT_EQ(report[L"level1_url"], childUrl);
  UpdateWindow(window_);  // paints background and status line without failing

  // The container's own LoadMovie: relative to the main movie as well; "" unloads.
  sink_.calls.clear();
  BSTR child = SysAllocString(L"child.swf");
  ASSERT_EQ(flash_->LoadMovie(4, child), S_OK);
  SysFreeString(child);
  ASSERT_TRUE(PumpUntil([&] { return Report()[L"levels"] == L"0,1,4"; }));
  BSTR none = SysAllocString(L"");
  ASSERT_EQ(flash_->LoadMovie(1, none), S_OK);
  SysFreeString(none);
  EXPECT_TRUE(PumpUntil([&] { return Report()[L"levels"] == L"0,4"; }));
}

TEST_F(StandInTest, ExternalInterfaceCallsReachTheSinkAndTakeItsAnswer) {
  MovieFolder folder;
  // answer = ExternalInterface.call("probe", "{id}"); fscommand("answer", answer)
  Bytes actions = Cat({PushString("answer"), PushString("{id}"), PushString("probe"), PushInt(2),
                       PushString("flash"), {0x1C}, PushString("external"), {0x4E},
                       PushString("ExternalInterface"), {0x4E}, PushString("call"), {0x52},
                       {0x1D}, PushString("FSCommand:answer"), PushString("answer"), {0x1C},
                       Record(0x9A, {0x00}), kStop});
  sink_.answer = L"<string>host</string>";
  LoadAndWait(MovieFolder::Url(
      folder.Write(L"ei.swf", SwfBuilder().DoAction(actions).ShowFrame().End().Build(false))));
  EXPECT_TRUE(sink_.Saw(L"197(BSTR:<invoke name=\"probe\" returntype=\"xml\"><arguments>"
                        L"<string>{id}</string></arguments></invoke>)"));
  EXPECT_TRUE(sink_.Saw(L"150(BSTR:host,BSTR:answer)"));
  BSTR name = SysAllocString(L"answer"), value = nullptr;
  EXPECT_EQ(flash_->GetVariable(name, &value), S_OK);
  EXPECT_STREQ(value, L"host");
  SysFreeString(name);
  SysFreeString(value);
  BSTR late = SysAllocString(L"<null/>");
  EXPECT_EQ(flash_->SetReturnValue(late), E_FAIL) << "no FlashCall is waiting for an answer";
  SysFreeString(late);
}

TEST_F(StandInTest, MalformedMovieEndsLoadingWithAnErrorNotACrash) {
  MovieFolder folder;
  Bytes file = SwfBuilder().ShowFrame().End().Build(true);
  file.resize(file.size() - 3);
  LoadAndWait(MovieFolder::Url(folder.Write(L"bad.swf", file)));
  auto report = Report();
  EXPECT_EQ(report[L"total_frames"], L"0");
  EXPECT_NE(report[L"error"], L"");
}

TEST_F(StandInTest, SurfaceBindsFileUrlsThroughRealUrlmonOnBothThreads) {
  MovieFolder folder;
  Bytes content(10000);
  for (size_t i = 0; i < content.size(); ++i) content[i] = uint8_t(i * 7);
  std::wstring url = MovieFolder::Url(folder.Write(L"data.bin", content));
  for (LONG thread : {STANDIN_ON_WORKER, STANDIN_ON_CALLER}) {
    BSTR bytes = nullptr, report = nullptr;
    ASSERT_EQ(surface_->BindUrl(thread, url.c_str(), 10000, &bytes, &report), S_OK);
    Bytes got(reinterpret_cast<uint8_t*>(bytes),
              reinterpret_cast<uint8_t*>(bytes) + SysStringByteLen(bytes));
    SysFreeString(bytes);
    auto r = ParseReport(report);
    EXPECT_EQ(got, content) << thread;
    EXPECT_EQ(r[L"stopped"], L"1");
    EXPECT_EQ(r[L"stop_hr"], L"0x00000000");
    EXPECT_NE(r[L"sequence"].find(L"OnDataAvailable("), std::wstring::npos) << Narrow(r[L"sequence"]);
    EXPECT_NE(r[L"sequence"].find(L"OnStopBinding(0x00000000)"), std::wstring::npos);
  }
  BSTR bytes = nullptr, report = nullptr;
  std::wstring missing = url + L".missing";
  ASSERT_EQ(surface_->BindUrl(STANDIN_ON_WORKER, missing.c_str(), 10000, &bytes, &report), S_OK);
  SysFreeString(bytes);
  auto r = ParseReport(report);
  EXPECT_NE(r[L"stop_hr"], L"0x00000000");
}

TEST_F(StandInTest, SurfaceFiresEachEventWithItsDispidAndArgumentOrder) {
  sink_.answer = L"<string>pong</string>";
  struct Case {
    LONG dispid;
    const wchar_t *a, *b;
    LONG n;
    std::wstring expected;
  } cases[] = {
      {-609, nullptr, nullptr, 3, L"-609(I4:3)"},
      {1958, nullptr, nullptr, 42, L"1958(I4:42)"},
      {150, L"fullscreen", L"false", 0, L"150(BSTR:false,BSTR:fullscreen)"},
      {197, L"<invoke name=\"ping\"/>", nullptr, 0, L"197(BSTR:<invoke name=\"ping\"/>)"},
  };
  for (LONG thread : {STANDIN_ON_CALLER, STANDIN_ON_WORKER}) {
    for (const auto& c : cases) {
      sink_.calls.clear();
      BSTR report = nullptr;
      ASSERT_EQ(surface_->FireEvent(thread, c.dispid, c.a, c.b, c.n, &report), S_OK);
      auto r = ParseReport(report);
      EXPECT_EQ(sink_.calls, std::vector<std::wstring>{c.expected});
      EXPECT_EQ(r[L"sinks"], L"1");
      if (c.dispid == 197) {
        EXPECT_EQ(r[L"return_value"], L"<string>pong</string>");
      }
    }
  }
  BSTR report = nullptr;
  EXPECT_EQ(surface_->FireEvent(STANDIN_ON_CALLER, 151, nullptr, nullptr, 0, &report),
            E_INVALIDARG);
}

TEST_F(StandInTest, SurfaceReadsFilesThroughTheFileFunctions) {
  MovieFolder folder;
  Bytes content = {'0', '1', '2', '3', '4', '5', '6', '7', '8', '9'};
  std::wstring path = folder.Write(L"file.bin", content);
  for (const std::wstring& name : {path, MovieFolder::Url(path)}) {
    BSTR bytes = nullptr, report = nullptr;
    ASSERT_EQ(surface_->ReadFile(STANDIN_ON_WORKER, name.c_str(), 3, &bytes, &report), S_OK);
    std::string got(reinterpret_cast<char*>(bytes), SysStringByteLen(bytes));
    SysFreeString(bytes);
    auto r = ParseReport(report);
    EXPECT_EQ(got, "3456789");
    EXPECT_EQ(r[L"size"], L"10");
    EXPECT_EQ(r[L"size_ex"], L"10");
    EXPECT_EQ(r[L"position"], L"10");
    EXPECT_EQ(r[L"closed"], L"1");
  }
  BSTR bytes = nullptr, report = nullptr;
  ASSERT_EQ(surface_->ReadFile(STANDIN_ON_CALLER, (path + L".none").c_str(), 0, &bytes, &report),
            S_OK);
  auto r = ParseReport(report);
  EXPECT_EQ(r[L"handle_valid"], L"0");
  EXPECT_EQ(r[L"error"], std::to_wstring(ERROR_FILE_NOT_FOUND));
}

TEST_F(StandInTest, SurfaceUsesTheModulesOwnResourcesAndClasses) {
  BSTR report = nullptr;
  ASSERT_EQ(surface_->LoadCursorResource(STANDIN_ON_CALLER, STANDIN_CURSOR_HAND, nullptr, &report),
            S_OK);
  auto r = ParseReport(report);
  EXPECT_EQ(r[L"cursor"], L"1");
  EXPECT_EQ(r[L"width"], L"32");
  ASSERT_EQ(surface_->LoadCursorResource(STANDIN_ON_WORKER, 0, "FLASHHAND", &report), S_OK);
  EXPECT_EQ(ParseReport(report)[L"cursor"], L"1");
  ASSERT_EQ(surface_->LoadCursorResource(STANDIN_ON_CALLER, 999, nullptr, &report), S_OK);
  EXPECT_EQ(ParseReport(report)[L"cursor"], L"0");

  ASSERT_EQ(surface_->LoadMenuResource(STANDIN_ON_CALLER, STANDIN_MENU_CONTEXT, nullptr, &report),
            S_OK);
  r = ParseReport(report);
  EXPECT_EQ(r[L"items"], L"1");
  EXPECT_EQ(r[L"item0_items"], L"6");
  EXPECT_EQ(r[L"item0_0"], L"&Play");

  std::wstring cls = L"StandInProbe" + std::to_wstring(GetTickCount());
  ASSERT_EQ(surface_->RegisterWindowClass(STANDIN_ON_WORKER, cls.c_str(), &report), S_OK);
  r = ParseReport(report);
  EXPECT_NE(r[L"atom"], L"0");
  EXPECT_EQ(r[L"window_class"], cls);
  EXPECT_EQ(r[L"wndproc_called"], L"1");

  ASSERT_EQ(surface_->LookupProc(STANDIN_ON_CALLER, "kernel32.dll", "ReadFile", &report), S_OK);
  EXPECT_EQ(ParseReport(report)[L"proc"], L"1");

  ASSERT_EQ(surface_->PrepareCode(STANDIN_ON_WORKER, 0, &report), S_OK);
  r = ParseReport(report);
  EXPECT_EQ(r[L"ran"], L"1");
  EXPECT_EQ(r[L"result"], L"0x57a4d1e5");

  // No sound device here: opening may fail, but whatever opens is closed again.
  ASSERT_EQ(surface_->PlaySound(STANDIN_ON_CALLER, &report), S_OK);
  r = ParseReport(report);
  if (r[L"open"] == L"0") {
    EXPECT_EQ(r[L"close"], L"0");
  }
}

TEST_F(StandInTest, SurfaceMakesObjectsOnAWorkerThreadThatStillAnswer) {
  Ref<IShockwaveFlash> other;
  ASSERT_EQ(surface_->CreateObject(STANDIN_ON_WORKER, kIidShockwaveFlash, other.Out()), S_OK);
  long version = 0;
  EXPECT_EQ(other->FlashVersion(&version), S_OK);
  Ref<IStandInTestSurface> otherSurface;
  ASSERT_EQ(other->QueryInterface(IID_IStandInTestSurface, otherSurface.Out()), S_OK);
  BSTR report = nullptr;
  ASSERT_EQ(otherSurface->FireEvent(STANDIN_ON_OBJECT, 1958, nullptr, nullptr, 5, &report), S_OK);
  auto r = ParseReport(report);
  EXPECT_EQ(r[L"thread"], L"object");
  EXPECT_NE(r[L"thread_id"], std::to_wstring(GetCurrentThreadId()));
}

// The module that books carry is the same runtime without the test surface: no export, no
// class, no interface of it.
TEST(ShippingModule, AnswersNoTestSurface) {
  std::wstring path = L"Z:";
  for (char c : std::string(STANDIN_SHIPPING_OCX_PATH)) path += c == '/' ? L'\\' : wchar_t(c);
  MappedModule module(path);
  EXPECT_EQ(module.Export("StandInGetTestSurface"), nullptr);
  using GetClassObject = HRESULT(STDAPICALLTYPE*)(REFCLSID, REFIID, void**);
  auto get = reinterpret_cast<GetClassObject>(module.Export("DllGetClassObject"));
  ASSERT_NE(get, nullptr);
  Ref<IClassFactory> factory;
  EXPECT_EQ(get(CLSID_StandInTestSurface, IID_IClassFactory, factory.Out()),
            CLASS_E_CLASSNOTAVAILABLE);
  ASSERT_EQ(get(kClsidShockwaveFlash, IID_IClassFactory, factory.Out()), S_OK);
  Ref<IShockwaveFlash> flash;
  ASSERT_EQ(factory->CreateInstance(nullptr, kIidShockwaveFlash, flash.Out()), S_OK);
  Ref<IStandInTestSurface> surface;
  surface.p = reinterpret_cast<IStandInTestSurface*>(0xdeadbeef);
  EXPECT_EQ(flash->QueryInterface(IID_IStandInTestSurface, surface.Out()), E_NOINTERFACE);
  EXPECT_EQ(surface.p, nullptr);
  long version = 0;
  EXPECT_EQ(flash->FlashVersion(&version), S_OK);
  EXPECT_EQ((version >> 16) & 0xFF, 10);
}

// Mapped by a loader that keeps no books (no loader entry, no TLS, the entry point called by
// hand), the runtime still makes its object, its window and its fetches.
TEST(MappedFromMemory, MakesObjectsWindowsAndFetches) {
  MovieFolder folder;
  std::wstring movie = folder.Write(
      L"m.swf", SwfBuilder().DoAction(Cat({GetUrl("FSCommand:mapped", "yes"), kStop})).ShowFrame()
                    .End().Build(true));
  MappedModule module(OcxPath());
  using GetClassObject = HRESULT(STDAPICALLTYPE*)(REFCLSID, REFIID, void**);
  auto get = reinterpret_cast<GetClassObject>(module.Export("DllGetClassObject"));
  ASSERT_NE(get, nullptr);
  {
    if (!g_runtime->container)
      g_runtime->container = CreateWindowExW(0, L"STATIC", L"standin test container",
                                             WS_OVERLAPPEDWINDOW | WS_CLIPCHILDREN | WS_VISIBLE, 0,
                                             0, 640, 480, nullptr, nullptr, nullptr, nullptr);
    TestSite site(g_runtime->container);
    RecordingSink sink;
    Ref<IClassFactory> factory;
    ASSERT_EQ(get(kClsidShockwaveFlash, IID_IClassFactory, factory.Out()), S_OK);
    Ref<IOleObject> object;
    ASSERT_EQ(factory->CreateInstance(nullptr, IID_IOleObject, object.Out()), S_OK);
    ASSERT_EQ(object->SetClientSite(&site), S_OK);
    Ref<IConnectionPointContainer> container;
    ASSERT_EQ(object->QueryInterface(IID_IConnectionPointContainer, container.Out()), S_OK);
    Ref<IConnectionPoint> events;
    ASSERT_EQ(container->FindConnectionPoint(kDiidShockwaveFlashEvents, &events.p), S_OK);
    DWORD cookie = 0;
    ASSERT_EQ(events->Advise(&sink, &cookie), S_OK);
    ASSERT_EQ(object->DoVerb(OLEIVERB_INPLACEACTIVATE, nullptr, &site, 0, g_runtime->container,
                             &site.rect),
              S_OK);
    Ref<IShockwaveFlash> flash;
    ASSERT_EQ(object->QueryInterface(kIidShockwaveFlash, flash.Out()), S_OK);
    BSTR url = SysAllocString(MovieFolder::Url(movie).c_str());
    EXPECT_EQ(flash->put_Movie(url), S_OK);
    SysFreeString(url);
    EXPECT_TRUE(PumpUntil([&] { return sink.Saw(L"150(BSTR:yes,BSTR:mapped)"); }));
    Ref<IStandInTestSurface> surface;
    ASSERT_EQ(object->QueryInterface(IID_IStandInTestSurface, surface.Out()), S_OK);
    BSTR report = nullptr;
    ASSERT_EQ(surface->GetReport(&report), S_OK);
    auto r = ParseReport(report);
    EXPECT_EQ(r[L"window"], L"1");
    EXPECT_EQ(r[L"total_frames"], L"1");
    events->Unadvise(cookie);
    object->Close(OLECLOSE_NOSAVE);
    object->SetClientSite(nullptr);
  }
  using CanUnload = HRESULT(STDAPICALLTYPE*)();
  auto canUnload = reinterpret_cast<CanUnload>(module.Export("DllCanUnloadNow"));
  ASSERT_NE(canUnload, nullptr);
  bool unloadable = PumpUntil([&] { return canUnload() == S_OK; });
  if (!unloadable) {
    Ref<IStandInTestSurface> probe;
    auto getSurface = reinterpret_cast<HRESULT(STDAPICALLTYPE*)(REFIID, void**)>(
        module.Export("StandInGetTestSurface"));
    getSurface(IID_IStandInTestSurface, probe.Out());
    BSTR report = nullptr;
    probe->GetReport(&report);
    ADD_FAILURE() << "still alive: " << Narrow(ParseReport(report)[L"live"]) << " (1 is this probe)";
  }
}

// A moniker that serves binds the way the host's content layer does: BindToStorage answers
// MK_S_ASYNCHRONOUS with no object, and the data arrives later on the GUI thread, while the
// runtime's fetching thread waits: IHttpNegotiate::OnResponse with the header,
// OnStartBinding without a binding object, one OnDataAvailable per write, each with a fresh
// stream and flagged first and last (5), then OnStopBinding.
class HostLikeMoniker final : public StackObject<IMoniker> {
 public:
  static constexpr UINT kDeliver = WM_APP + 7;
  static inline HostLikeMoniker* current = nullptr;
  static inline HWND gui = nullptr;  // a window of the GUI thread that runs deliveries
  std::vector<std::wstring> urls;
  DWORD bindThread = 0;
  std::vector<size_t> pieces = {4096, 100};  // the writes, by size

  static HRESULT STDAPICALLTYPE Create(IMoniker*, LPCWSTR url, IMoniker** out) {
    current->urls.push_back(url);
    *out = current;
    return S_OK;
  }
  static LRESULT CALLBACK GuiProc(HWND h, UINT m, WPARAM w, LPARAM l) {
    if (m == kDeliver) {
      current->Deliver(reinterpret_cast<IBindStatusCallback*>(l));
      return 0;
    }
    return DefWindowProcW(h, m, w, l);
  }

  STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override {
    *ppv = nullptr;
    if (riid != IID_IUnknown && riid != IID_IMoniker) return E_NOINTERFACE;
    *ppv = static_cast<IMoniker*>(this);
    return S_OK;
  }
  STDMETHODIMP BindToStorage(IBindCtx* context, IMoniker*, REFIID, void** out) override {
    *out = nullptr;
    bindThread = GetCurrentThreadId();
    IBindStatusCallback* runtime = nullptr;
    // Registering our own callback hands back the runtime's, as the host's moniker does.
    RegisterBindStatusCallback(context, &placeholder_, &runtime, 0);
    PostMessageW(gui, kDeliver, 0, LPARAM(runtime));
    return MK_S_ASYNCHRONOUS;
  }

  STDMETHODIMP GetClassID(CLSID*) override { return E_NOTIMPL; }
  STDMETHODIMP IsDirty() override { return E_NOTIMPL; }
  STDMETHODIMP Load(IStream*) override { return E_NOTIMPL; }
  STDMETHODIMP Save(IStream*, BOOL) override { return E_NOTIMPL; }
  STDMETHODIMP GetSizeMax(ULARGE_INTEGER*) override { return E_NOTIMPL; }
  STDMETHODIMP BindToObject(IBindCtx*, IMoniker*, REFIID, void**) override { return E_NOTIMPL; }
  STDMETHODIMP Reduce(IBindCtx*, DWORD, IMoniker**, IMoniker**) override { return E_NOTIMPL; }
  STDMETHODIMP ComposeWith(IMoniker*, BOOL, IMoniker**) override { return E_NOTIMPL; }
  STDMETHODIMP Enum(BOOL, IEnumMoniker**) override { return E_NOTIMPL; }
  STDMETHODIMP IsEqual(IMoniker*) override { return E_NOTIMPL; }
  STDMETHODIMP Hash(DWORD*) override { return E_NOTIMPL; }
  STDMETHODIMP IsRunning(IBindCtx*, IMoniker*, IMoniker*) override { return E_NOTIMPL; }
  STDMETHODIMP GetTimeOfLastChange(IBindCtx*, IMoniker*, FILETIME*) override { return E_NOTIMPL; }
  STDMETHODIMP Inverse(IMoniker**) override { return E_NOTIMPL; }
  STDMETHODIMP CommonPrefixWith(IMoniker*, IMoniker**) override { return E_NOTIMPL; }
  STDMETHODIMP RelativePathTo(IMoniker*, IMoniker**) override { return E_NOTIMPL; }
  STDMETHODIMP GetDisplayName(IBindCtx*, IMoniker*, LPOLESTR*) override { return E_NOTIMPL; }
  STDMETHODIMP ParseDisplayName(IBindCtx*, IMoniker*, LPOLESTR, ULONG*, IMoniker**) override {
    return E_NOTIMPL;
  }
  STDMETHODIMP IsSystemMoniker(DWORD*) override { return E_NOTIMPL; }

 private:
  void Deliver(IBindStatusCallback* runtime) {
    IHttpNegotiate* negotiate = nullptr;
    if (SUCCEEDED(runtime->QueryInterface(IID_IHttpNegotiate,
                                          reinterpret_cast<void**>(&negotiate)))) {
      LPWSTR extra = nullptr;
      negotiate->OnResponse(200, L"HTTP/1.1 200 OK\r\nContent-Length: -1\r\n", nullptr, &extra);
      negotiate->Release();
    }
    runtime->OnStartBinding(0, nullptr);
    for (size_t size : pieces) {
      Bytes chunk(size, uint8_t(size));
      IStream* stream = nullptr;
      CreateStreamOnHGlobal(nullptr, TRUE, &stream);
      stream->Write(chunk.data(), ULONG(size), nullptr);
      LARGE_INTEGER zero{};
      stream->Seek(zero, STREAM_SEEK_SET, nullptr);
      FORMATETC format{0, nullptr, DVASPECT_CONTENT, -1, TYMED_ISTREAM};
      STGMEDIUM medium{};
      medium.tymed = TYMED_ISTREAM;
      medium.pstm = stream;
      runtime->OnDataAvailable(BSCF_FIRSTDATANOTIFICATION | BSCF_LASTDATANOTIFICATION,
                               DWORD(size), &format, &medium);
      stream->Release();
    }
    runtime->OnStopBinding(S_OK, nullptr);
    runtime->Release();
  }

  class Placeholder final : public StackObject<IBindStatusCallback> {
   public:
    STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override {
      *ppv = nullptr;
      if (riid != IID_IUnknown && riid != IID_IBindStatusCallback) return E_NOINTERFACE;
      *ppv = static_cast<IBindStatusCallback*>(this);
      return S_OK;
    }
    STDMETHODIMP OnStartBinding(DWORD, IBinding*) override { return S_OK; }
    STDMETHODIMP GetPriority(LONG*) override { return E_NOTIMPL; }
    STDMETHODIMP OnLowResource(DWORD) override { return S_OK; }
    STDMETHODIMP OnProgress(ULONG, ULONG, ULONG, LPCWSTR) override { return S_OK; }
    STDMETHODIMP OnStopBinding(HRESULT, LPCWSTR) override { return S_OK; }
    STDMETHODIMP GetBindInfo(DWORD*, BINDINFO*) override { return E_NOTIMPL; }
    STDMETHODIMP OnDataAvailable(DWORD, DWORD, FORMATETC*, STGMEDIUM*) override { return S_OK; }
    STDMETHODIMP OnObjectAvailable(REFIID, IUnknown*) override { return S_OK; }
  } placeholder_;
};

// `url` fetched by the runtime's worker from a host-like moniker; the bytes it got and the
// fetch's report.
std::map<std::wstring, std::wstring> FetchFromHostLike(HostLikeMoniker& moniker,
                                                       const wchar_t* url, Bytes& got) {
  std::map<std::wstring, std::wstring> r;
  HostLikeMoniker::current = &moniker;
  WNDCLASSW wc{};
  wc.lpfnWndProc = HostLikeMoniker::GuiProc;
  wc.hInstance = GetModuleHandleW(nullptr);
  wc.lpszClassName = L"StandInHostLikeGui";
  RegisterClassW(&wc);
  HostLikeMoniker::gui = CreateWindowExW(0, wc.lpszClassName, L"", 0, 0, 0, 0, 0, HWND_MESSAGE,
                                         nullptr, wc.hInstance, nullptr);
  EXPECT_NE(HostLikeMoniker::gui, nullptr);
  {
    // The runtime's CreateURLMoniker goes to the host-like moniker, as the host's loader does.
    MappedModule module(OcxPath(), [](const char*, const char* name) -> void* {
      return std::strcmp(name, "CreateURLMoniker") == 0
                 ? reinterpret_cast<void*>(&HostLikeMoniker::Create)
                 : nullptr;
    });
    auto getSurface = reinterpret_cast<HRESULT(STDAPICALLTYPE*)(REFIID, void**)>(
        module.Export("StandInGetTestSurface"));
    EXPECT_NE(getSurface, nullptr);
    Ref<IStandInTestSurface> surface;
    if (getSurface && getSurface(IID_IStandInTestSurface, surface.Out()) == S_OK) {
      BSTR bytes = nullptr, report = nullptr;
      EXPECT_EQ(surface->BindUrl(STANDIN_ON_WORKER, url, 10000, &bytes, &report), S_OK);
      got.assign(reinterpret_cast<uint8_t*>(bytes),
                 reinterpret_cast<uint8_t*>(bytes) + SysStringByteLen(bytes));
      SysFreeString(bytes);
      r = ParseReport(report);
    }
  }
  DestroyWindow(HostLikeMoniker::gui);
  UnregisterClassW(wc.lpszClassName, wc.hInstance);
  return r;
}

TEST(HostLikeContent, WorkerFetchTakesDataDeliveredOnTheGuiThread) {
  HostLikeMoniker moniker;
  const wchar_t* url =
      L"Z:\\FromMemory\\46A10F369771449587DE913EFC0A258C\\1\\files/large/1.swf";
  Bytes got;
  auto r = FetchFromHostLike(moniker, url, got);
  Bytes expected(4096, uint8_t(4096));
  expected.insert(expected.end(), 100, uint8_t(100));
  EXPECT_EQ(got, expected) << "both deliveries, in order";
  EXPECT_EQ(r[L"hr"], L"0x000401e8");
  EXPECT_EQ(r[L"sequence"],
            L"QueryInterface(IHttpNegotiate),OnResponse(200),OnStartBinding,"
            L"OnDataAvailable(5:4096),OnDataAvailable(5:100),OnStopBinding(0x00000000)")
      << "flags 5 on every notification do not end the fetch early";
  EXPECT_EQ(r[L"header"], L"HTTP/1.1 200 OK\\r\\nContent-Length: -1\\r\\n");
  EXPECT_EQ(r[L"thread"], L"worker");
  EXPECT_EQ(moniker.urls, std::vector<std::wstring>{url}) << "the URL reaches CreateURLMoniker whole";
  EXPECT_NE(moniker.bindThread, GetCurrentThreadId());
}

// A source that hands its data over in thousands of small pieces: all of it arrives, and the
// fetch's record of notifications keeps its newest entries only, like the runtime's other lists.
TEST(HostLikeContent, AFetchOfManyPiecesKeepsABoundedRecord) {
  HostLikeMoniker moniker;
  moniker.pieces.assign(5000, 7);
  Bytes got;
  auto r = FetchFromHostLike(moniker, L"Z:\\pieces.swf", got);
  EXPECT_EQ(got, Bytes(5000 * 7, 7));
  const std::wstring& sequence = r[L"sequence"];
  size_t entries = 1 + std::count(sequence.begin(), sequence.end(), L',');
  EXPECT_LE(entries, 256u);
  EXPECT_EQ(sequence.substr(sequence.rfind(L',') + 1), L"OnStopBinding(0x00000000)");
}

}  // namespace
