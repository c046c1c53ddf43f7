#include "tests/flashhost/fake_runtime.h"

#include <sstream>

#include "core/text.h"
#include "runtime/code_provider.h"

namespace pageturn::test {

namespace {

TFakeScript* installedScript = nullptr;
TFakeRuntime* lastObject = nullptr;

std::string Text(BSTR text) {
  return text ? WideToSystem(std::wstring(text, ::SysStringLen(text))) : std::string();
}

std::string Hex(long value) {
  char text[16];
  std::snprintf(text, sizeof text, "%lX", static_cast<unsigned long>(value));
  return text;
}

// The Flash interface in the layout `Layout`, every member logged by name.
template <class Layout>
class TFakeFlash : public Layout {
 public:
  explicit TFakeFlash(TFakeRuntime* owner) : owner_(owner) {}

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** object) override {
    return owner_->QueryInterface(iid, object);
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return owner_->AddRef(); }
  ULONG STDMETHODCALLTYPE Release() override { return owner_->Release(); }
  HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override {
    owner_->Log("GetIDsOfNames");  // the host must never look members up by name
    return E_NOTIMPL;
  }
  HRESULT STDMETHODCALLTYPE Invoke(DISPID, REFIID, LCID, WORD, DISPPARAMS*, VARIANT*, EXCEPINFO*,
                                   UINT*) override {
    owner_->Log("Invoke");
    return E_NOTIMPL;
  }

 protected:
  template <class T>
  HRESULT GetNumber(const char* name, T* value) {
    owner_->Log(std::string("get_") + name);
    if (FAILED(owner_->script.runtimeCalls)) return owner_->script.runtimeCalls;
    *value = static_cast<T>(owner_->numbers[name]);
    return S_OK;
  }
  HRESULT PutNumber(const char* name, long value) {
    owner_->Log(std::string("put_") + name + "(" + std::to_string(value) + ")");
    if (FAILED(owner_->script.runtimeCalls)) return owner_->script.runtimeCalls;
    owner_->numbers[name] = value;
    return S_OK;
  }
  HRESULT GetText(const char* name, BSTR* value) {
    owner_->Log(std::string("get_") + name);
    if (FAILED(owner_->script.runtimeCalls)) return owner_->script.runtimeCalls;
    *value = ::SysAllocString(owner_->texts[name].c_str());
    return S_OK;
  }
  HRESULT PutText(const char* name, BSTR value) {
    owner_->Log(std::string("put_") + name + "(" + Text(value) + ")");
    if (FAILED(owner_->script.runtimeCalls)) return owner_->script.runtimeCalls;
    owner_->texts[name] = value ? value : L"";
    return S_OK;
  }
  HRESULT Call(const std::string& call) {
    owner_->Log(call);
    return owner_->script.runtimeCalls;
  }
  template <class T>
  HRESULT Answer(const std::string& call, T* out, T value) {
    owner_->Log(call);
    if (FAILED(owner_->script.runtimeCalls)) return owner_->script.runtimeCalls;
    *out = value;
    return S_OK;
  }
  HRESULT AnswerText(const std::string& call, BSTR* out, const wchar_t* value) {
    owner_->Log(call);
    if (FAILED(owner_->script.runtimeCalls)) return owner_->script.runtimeCalls;
    *out = ::SysAllocString(value);
    return S_OK;
  }
  TFakeRuntime* owner_;
};

#define FAKE_NUMBER(Name, T)                                                               \
  HRESULT STDMETHODCALLTYPE get_##Name(T* v) override { return this->GetNumber(#Name, v); } \
  HRESULT STDMETHODCALLTYPE put_##Name(T v) override { return this->PutNumber(#Name, v); }
#define FAKE_TEXT(Name)                                                                       \
  HRESULT STDMETHODCALLTYPE get_##Name(BSTR* v) override { return this->GetText(#Name, v); } \
  HRESULT STDMETHODCALLTYPE put_##Name(BSTR v) override { return this->PutText(#Name, v); }

template <class Layout>
class TFakeFlashCommon : public TFakeFlash<Layout> {
 public:
  using TFakeFlash<Layout>::TFakeFlash;
  HRESULT STDMETHODCALLTYPE get_ReadyState(long* v) override {
    return this->GetNumber("ReadyState", v);
  }
  HRESULT STDMETHODCALLTYPE get_TotalFrames(long* v) override {
    return this->GetNumber("TotalFrames", v);
  }
  FAKE_NUMBER(Playing, VARIANT_BOOL)
  FAKE_NUMBER(Quality, int)
  FAKE_NUMBER(ScaleMode, int)
  FAKE_NUMBER(AlignMode, int)
  FAKE_NUMBER(BackgroundColor, long)
  FAKE_NUMBER(Loop, VARIANT_BOOL)
  FAKE_TEXT(Movie)
  FAKE_NUMBER(FrameNum, long)
  HRESULT STDMETHODCALLTYPE SetZoomRect(long l, long t, long r, long b) override {
    return this->Call("SetZoomRect(" + std::to_string(l) + "," + std::to_string(t) + "," +
                      std::to_string(r) + "," + std::to_string(b) + ")");
  }
  HRESULT STDMETHODCALLTYPE Zoom(int f) override { return this->Call("Zoom(" + std::to_string(f) + ")"); }
  HRESULT STDMETHODCALLTYPE Pan(long x, long y, int m) override {
    return this->Call("Pan(" + std::to_string(x) + "," + std::to_string(y) + "," + std::to_string(m) + ")");
  }
  HRESULT STDMETHODCALLTYPE Play() override { return this->Call("Play"); }
  HRESULT STDMETHODCALLTYPE Stop() override { return this->Call("Stop"); }
  HRESULT STDMETHODCALLTYPE Back() override { return this->Call("Back"); }
  HRESULT STDMETHODCALLTYPE Forward() override { return this->Call("Forward"); }
  HRESULT STDMETHODCALLTYPE Rewind() override { return this->Call("Rewind"); }
  HRESULT STDMETHODCALLTYPE StopPlay() override { return this->Call("StopPlay"); }
  HRESULT STDMETHODCALLTYPE GotoFrame(long f) override {
    return this->Call("GotoFrame(" + std::to_string(f) + ")");
  }
  HRESULT STDMETHODCALLTYPE CurrentFrame(long* f) override { return this->Answer("CurrentFrame", f, 7L); }
  HRESULT STDMETHODCALLTYPE IsPlaying(VARIANT_BOOL* p) override {
    return this->Answer("IsPlaying", p, static_cast<VARIANT_BOOL>(VARIANT_FALSE));
  }
  HRESULT STDMETHODCALLTYPE PercentLoaded(long* p) override { return this->Answer("PercentLoaded", p, 42L); }
  HRESULT STDMETHODCALLTYPE FrameLoaded(long f, VARIANT_BOOL* l) override {
    return this->Answer("FrameLoaded(" + std::to_string(f) + ")", l,
                        static_cast<VARIANT_BOOL>(VARIANT_FALSE));
  }
  HRESULT STDMETHODCALLTYPE FlashVersion(long* v) override {
    *v = static_cast<long>(this->owner_->script.majorVersion) << 16;  // not logged: asked always
    return S_OK;
  }
  FAKE_TEXT(WMode)
  FAKE_TEXT(SAlign)
  FAKE_NUMBER(Menu, VARIANT_BOOL)
  FAKE_TEXT(Base)
  FAKE_TEXT(Scale)
  FAKE_NUMBER(DeviceFont, VARIANT_BOOL)
  FAKE_NUMBER(EmbedMovie, VARIANT_BOOL)
  FAKE_TEXT(BGColor)
  FAKE_TEXT(Quality2)
  HRESULT STDMETHODCALLTYPE LoadMovie(int layer, BSTR url) override {
    return this->Call("LoadMovie(" + std::to_string(layer) + "," + Text(url) + ")");
  }
  HRESULT STDMETHODCALLTYPE TGotoFrame(BSTR t, long f) override {
    return this->Call("TGotoFrame(" + Text(t) + "," + std::to_string(f) + ")");
  }
  HRESULT STDMETHODCALLTYPE TGotoLabel(BSTR t, BSTR l) override {
    return this->Call("TGotoLabel(" + Text(t) + "," + Text(l) + ")");
  }
  HRESULT STDMETHODCALLTYPE TCurrentFrame(BSTR t, long* f) override {
    return this->Answer("TCurrentFrame(" + Text(t) + ")", f, 3L);
  }
  HRESULT STDMETHODCALLTYPE TCurrentLabel(BSTR t, BSTR* l) override {
    return this->AnswerText("TCurrentLabel(" + Text(t) + ")", l, L"label");
  }
  HRESULT STDMETHODCALLTYPE TPlay(BSTR t) override { return this->Call("TPlay(" + Text(t) + ")"); }
  HRESULT STDMETHODCALLTYPE TStopPlay(BSTR t) override {
    return this->Call("TStopPlay(" + Text(t) + ")");
  }
  HRESULT STDMETHODCALLTYPE SetVariable(BSTR n, BSTR v) override {
    return this->Call("SetVariable(" + Text(n) + "," + Text(v) + ")");
  }
  HRESULT STDMETHODCALLTYPE GetVariable(BSTR n, BSTR* v) override {
    return this->AnswerText("GetVariable(" + Text(n) + ")", v, L"value");
  }
  HRESULT STDMETHODCALLTYPE TSetProperty(BSTR t, int p, BSTR v) override {
    return this->Call("TSetProperty(" + Text(t) + "," + std::to_string(p) + "," + Text(v) + ")");
  }
  HRESULT STDMETHODCALLTYPE TGetProperty(BSTR t, int p, BSTR* v) override {
    return this->AnswerText("TGetProperty(" + Text(t) + "," + std::to_string(p) + ")", v, L"prop");
  }
  HRESULT STDMETHODCALLTYPE TCallFrame(BSTR t, int f) override {
    return this->Call("TCallFrame(" + Text(t) + "," + std::to_string(f) + ")");
  }
  HRESULT STDMETHODCALLTYPE TCallLabel(BSTR t, BSTR l) override {
    return this->Call("TCallLabel(" + Text(t) + "," + Text(l) + ")");
  }
  HRESULT STDMETHODCALLTYPE TSetPropertyNum(BSTR t, int p, double v) override {
    return this->Call("TSetPropertyNum(" + Text(t) + "," + std::to_string(p) + "," +
                      std::to_string(static_cast<int>(v)) + ")");
  }
  HRESULT STDMETHODCALLTYPE TGetPropertyNum(BSTR t, int p, double* v) override {
    return this->Answer("TGetPropertyNum(" + Text(t) + "," + std::to_string(p) + ")", v, 1.5);
  }
};

// Runtimes 7 and later.
class TFakeFlashLate final : public TFakeFlashCommon<published::IShockwaveFlash> {
 public:
  using TFakeFlashCommon<published::IShockwaveFlash>::TFakeFlashCommon;
  HRESULT STDMETHODCALLTYPE TGetPropertyAsNumber(BSTR t, int p, double* v) override {
    return Answer("TGetPropertyAsNumber(" + Text(t) + "," + std::to_string(p) + ")", v, 2.5);
  }
  FAKE_TEXT(SWRemote)
  FAKE_TEXT(FlashVars)
  FAKE_TEXT(AllowScriptAccess)
  FAKE_TEXT(MovieData)
  HRESULT STDMETHODCALLTYPE get_InlineData(IUnknown** v) override {
    *v = nullptr;
    return Call("get_InlineData");
  }
  HRESULT STDMETHODCALLTYPE put_InlineData(IUnknown*) override { return Call("put_InlineData"); }
  FAKE_NUMBER(SeamlessTabbing, VARIANT_BOOL)
  HRESULT STDMETHODCALLTYPE EnforceLocalSecurity() override { return Call("EnforceLocalSecurity"); }
  FAKE_NUMBER(Profile, VARIANT_BOOL)
  FAKE_TEXT(ProfileAddress)
  FAKE_NUMBER(ProfilePort, long)
  HRESULT STDMETHODCALLTYPE CallFunction(BSTR r, BSTR* v) override {
    return AnswerText("CallFunction(" + Text(r) + ")", v, L"<string>answer</string>");
  }
  HRESULT STDMETHODCALLTYPE SetReturnValue(BSTR v) override {
    return Call("SetReturnValue(" + Text(v) + ")");
  }
  HRESULT STDMETHODCALLTYPE DisableLocalSecurity() override { return Call("DisableLocalSecurity"); }
  FAKE_TEXT(AllowNetworking)
  FAKE_TEXT(AllowFullScreen)
};

// Runtimes 4 and 5 (a version 4 runtime simply has no Stacking; the host must never ask).
class TFakeFlashOld final : public TFakeFlashCommon<published::IShockwaveFlash5> {
 public:
  using TFakeFlashCommon<published::IShockwaveFlash5>::TFakeFlashCommon;
  FAKE_TEXT(SWRemote)
  FAKE_TEXT(Stacking)
};

#undef FAKE_NUMBER
#undef FAKE_TEXT

// Serves new fakes for CLSID_ShockwaveFlash.
class TFakeFactory final : public IClassFactory {
 public:
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** object) override {
    if (iid == IID_IUnknown || iid == IID_IClassFactory) {
      *object = this;
      return S_OK;
    }
    *object = nullptr;
    return E_NOINTERFACE;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return 2; }
  ULONG STDMETHODCALLTYPE Release() override { return 1; }
  HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown* outer, REFIID iid, void** object) override {
    *object = nullptr;
    if (outer || !installedScript) return E_FAIL;
    TFakeRuntime* runtime = new TFakeRuntime(*installedScript);
    const HRESULT hr = runtime->QueryInterface(iid, object);
    runtime->Release();
    return hr;
  }
  HRESULT STDMETHODCALLTYPE LockServer(BOOL) override { return S_OK; }
};
TFakeFactory factory;

HRESULT WINAPI FakeGetClassObject(REFCLSID clsid, REFIID iid, void** object) {
  if (clsid != published::CLSID_ShockwaveFlash) return CLASS_E_CLASSNOTAVAILABLE;
  return factory.QueryInterface(iid, object);
}

constexpr wchar_t kWindowClass[] = L"PageturnFakeFlashWindow";

}  // namespace

// ---- connection points

class TFakeRuntime::TPoint final : public IConnectionPoint {
 public:
  TPoint(TFakeRuntime* owner, bool events) : owner_(owner), events_(events) {}
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** object) override {
    if (iid == IID_IUnknown || iid == IID_IConnectionPoint) {
      *object = this;
      AddRef();
      return S_OK;
    }
    *object = nullptr;
    return E_NOINTERFACE;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return owner_->AddRef(); }
  ULONG STDMETHODCALLTYPE Release() override { return owner_->Release(); }
  HRESULT STDMETHODCALLTYPE GetConnectionInterface(IID*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE GetConnectionPointContainer(IConnectionPointContainer**) override {
    return E_NOTIMPL;
  }
  HRESULT STDMETHODCALLTYPE Advise(IUnknown* sink, DWORD* cookie) override {
    owner_->Log(events_ ? "Advise(events)" : "Advise(notify)");
    owner_->Advised(events_, sink);
    *cookie = events_ ? 11 : 22;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE Unadvise(DWORD cookie) override {
    owner_->Log(std::string(events_ ? "Unadvise(events," : "Unadvise(notify,") +
                std::to_string(cookie) + ")");
    owner_->Unadvised(events_);
    return owner_->script.unadvise;
  }
  HRESULT STDMETHODCALLTYPE EnumConnections(IEnumConnections**) override { return E_NOTIMPL; }

 private:
  TFakeRuntime* owner_;
  bool events_;
};

// ---- the object

void TFakeRuntime::Install(TFakeScript& script) {
  installedScript = &script;
  if (CodeProvider) CodeProvider->GetClassObjectProc = &FakeGetClassObject;
}

TFakeRuntime* TFakeRuntime::Last() { return lastObject; }

TFakeRuntime::TFakeRuntime(const TFakeScript& script)
    : script(script),
      eventsPoint_(std::make_unique<TPoint>(this, true)),
      notifyPoint_(std::make_unique<TPoint>(this, false)) {
  lastObject = this;
  extent_ = script.extent;
  if (script.majorVersion == 4 || script.majorVersion == 5) {
    auto* part = new TFakeFlashOld(this);
    flashPart_ = std::shared_ptr<TFakeFlashOld>(part);
    flash_ = part;
  } else {
    auto* part = new TFakeFlashLate(this);
    flashPart_ = std::shared_ptr<TFakeFlashLate>(part);
    flash_ = part;
  }
  if (script.accelerator) {
    ACCEL entry = {FVIRTKEY, script.accelerator, 1};
    accelerators_ = ::CreateAcceleratorTableW(&entry, 1);
  }
}

TFakeRuntime::~TFakeRuntime() {
  if (lastObject == this) lastObject = nullptr;
  if (window_) ::DestroyWindow(window_);
  if (accelerators_) ::DestroyAcceleratorTable(accelerators_);
}

ULONG STDMETHODCALLTYPE TFakeRuntime::Release() {
  const LONG n = InterlockedDecrement(&refs_);
  if (n == 0) delete this;
  return n;
}

std::string TFakeRuntime::Calls(const std::string& prefix) const {
  std::string joined;
  for (const std::string& call : calls) {
    if (call.compare(0, prefix.size(), prefix) != 0) continue;
    if (!joined.empty()) joined += ",";
    joined += call;
  }
  return joined;
}

bool TFakeRuntime::Called(const std::string& call) const {
  for (const std::string& c : calls)
    if (c == call) return true;
  return false;
}

HRESULT STDMETHODCALLTYPE TFakeRuntime::QueryInterface(REFIID iid, void** object) {
  *object = nullptr;
  if (iid == IID_IUnknown || iid == IID_IOleObject)
    *object = static_cast<IOleObject*>(this);
  else if (iid == IID_IOleWindow || iid == IID_IOleInPlaceObject)
    *object = static_cast<IOleInPlaceObject*>(this);
  else if (iid == IID_IOleInPlaceActiveObject)
    *object = static_cast<IOleInPlaceActiveObject*>(this);
  else if (iid == IID_IOleControl && script.answersOleControl)
    *object = static_cast<IOleControl*>(this);
  else if (iid == IID_IConnectionPointContainer)
    *object = static_cast<IConnectionPointContainer*>(this);
  else if (iid == published::IID_IShockwaveFlash || (iid == IID_IDispatch && script.answersDispatch))
    *object = flash_;
  if (!*object) return E_NOINTERFACE;
  AddRef();
  return S_OK;
}

HRESULT STDMETHODCALLTYPE TFakeRuntime::SetClientSite(IOleClientSite* site) {
  Log(site ? "SetClientSite" : "SetClientSite(null)");
  if (site && FAILED(script.setClientSite)) return script.setClientSite;
  site_ = site;
  return S_OK;
}

HRESULT STDMETHODCALLTYPE TFakeRuntime::GetClientSite(IOleClientSite** site) {
  Log("GetClientSite");
  *site = script.forgetsClientSite ? nullptr : site_.Get();
  if (*site) (*site)->AddRef();
  return S_OK;
}

HRESULT STDMETHODCALLTYPE TFakeRuntime::Close(DWORD option) {
  Log("Close(" + std::to_string(option) + ")");
  InPlaceDeactivate();
  return S_OK;
}

HRESULT STDMETHODCALLTYPE TFakeRuntime::DoVerb(LONG verb, LPMSG, IOleClientSite* site, LONG,
                                               HWND parent, LPCRECT position) {
  Log("DoVerb(" + std::to_string(verb) + ")");
  if (!site || !position) return E_INVALIDARG;
  if (verb == OLEIVERB_UIACTIVATE) {
    ComPtr<IOleInPlaceSite> inPlace;
    if (SUCCEEDED(site->QueryInterface(IID_IOleInPlaceSite,
                                       reinterpret_cast<void**>(inPlace.GetAddressOf()))))
      inPlace->OnUIActivate();
    return S_OK;
  }
  if (verb != OLEIVERB_INPLACEACTIVATE) return E_NOTIMPL;
  if (inPlace_) return S_OK;
  if (!script.activates) return S_OK;
  ComPtr<IOleInPlaceSite> inPlace;
  if (FAILED(site->QueryInterface(IID_IOleInPlaceSite,
                                  reinterpret_cast<void**>(inPlace.GetAddressOf()))))
    return E_NOINTERFACE;
  inPlace->OnInPlaceActivate();
  inPlace_ = true;
  if (script.makesWindow) {
    WNDCLASSW windowClass = {};
    windowClass.lpfnWndProc = &TFakeRuntime::WindowProc;
    windowClass.hInstance = ::GetModuleHandleW(nullptr);
    windowClass.lpszClassName = kWindowClass;
    windowClass.style = CS_DBLCLKS;
    ::RegisterClassW(&windowClass);
    window_ = ::CreateWindowExW(0, kWindowClass, L"", WS_CHILD | WS_VISIBLE, position->left,
                                position->top, position->right - position->left,
                                position->bottom - position->top, parent, nullptr,
                                ::GetModuleHandleW(nullptr), this);
  }
  return S_OK;
}

LRESULT CALLBACK TFakeRuntime::WindowProc(HWND window, UINT msg, WPARAM wParam, LPARAM lParam) {
  if (msg == WM_NCCREATE) {
    auto* create = reinterpret_cast<CREATESTRUCTW*>(lParam);
    ::SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(create->lpCreateParams));
  }
  auto* self = reinterpret_cast<TFakeRuntime*>(::GetWindowLongPtrW(window, GWLP_USERDATA));
  if (self && msg == WM_CHAR) {
    char text[32];
    std::snprintf(text, sizeof text, "char:U+%04X", static_cast<unsigned>(wParam));
    self->Log(text);
  }
  const bool interesting = (msg >= WM_MOUSEFIRST && msg <= WM_MOUSELAST) || msg == WM_KEYDOWN ||
                           msg == WM_CONTEXTMENU || msg == WM_SIZE ||
                           (msg >= 0x2000 && msg < 0x2400) || msg == WM_QUERYNEWPALETTE;
  if (self && interesting) {
    char text[48];
    if (msg == WM_CONTEXTMENU)
      std::snprintf(text, sizeof text, "wnd:0x%04X(%d,%d)", msg,
                    static_cast<short>(LOWORD(lParam)), static_cast<short>(HIWORD(lParam)));
    else
      std::snprintf(text, sizeof text, "wnd:0x%04X", msg);
    self->Log(text);
  }
  if (msg == WM_NCDESTROY && self) {
    ::SetWindowLongPtrW(window, GWLP_USERDATA, 0);
    if (self->window_ == window) self->window_ = nullptr;
  }
  if (msg == WM_QUERYNEWPALETTE) return 1;
  if (msg == WM_RBUTTONUP) return 0;  // no context-menu request of its own
  if (msg == WM_PAINT) {
    PAINTSTRUCT paint;
    const HDC dc = ::BeginPaint(window, &paint);
    RECT client;
    ::GetClientRect(window, &client);
    const HBRUSH brush = ::CreateSolidBrush(RGB(0x12, 0x34, 0x56));
    ::FillRect(dc, &client, brush);
    ::DeleteObject(brush);
    ::EndPaint(window, &paint);
    return 0;
  }
  return ::DefWindowProcW(window, msg, wParam, lParam);
}

HRESULT STDMETHODCALLTYPE TFakeRuntime::SetExtent(DWORD aspect, SIZEL* size) {
  Log("SetExtent(" + std::to_string(size->cx) + "," + std::to_string(size->cy) + ")");
  if (script.setExtent != S_OK) return script.setExtent;
  extent_ = *size;
  return S_OK;
}

HRESULT STDMETHODCALLTYPE TFakeRuntime::GetExtent(DWORD aspect, SIZEL* size) {
  Log("GetExtent");
  if (FAILED(script.getExtent)) return script.getExtent;
  *size = extent_;
  return S_OK;
}

HRESULT STDMETHODCALLTYPE TFakeRuntime::GetWindow(HWND* window) {
  *window = window_;
  return window_ ? S_OK : E_FAIL;
}

HRESULT STDMETHODCALLTYPE TFakeRuntime::InPlaceDeactivate() {
  if (!inPlace_) return S_OK;
  Log("InPlaceDeactivate");
  inPlace_ = false;
  if (window_) ::DestroyWindow(window_);
  ComPtr<IOleInPlaceSite> inPlace;
  if (site_ && SUCCEEDED(site_->QueryInterface(IID_IOleInPlaceSite,
                                               reinterpret_cast<void**>(inPlace.GetAddressOf()))))
    inPlace->OnInPlaceDeactivate();
  return S_OK;
}

HRESULT STDMETHODCALLTYPE TFakeRuntime::UIDeactivate() {
  Log("UIDeactivate");
  return S_OK;
}

HRESULT STDMETHODCALLTYPE TFakeRuntime::SetObjectRects(LPCRECT position, LPCRECT clip) {
  Log("SetObjectRects");
  return S_OK;
}

HRESULT STDMETHODCALLTYPE TFakeRuntime::TranslateAccelerator(LPMSG msg) {
  std::ostringstream text;
  text << "TranslateAccelerator(" << std::hex << msg->message << "," << msg->wParam << ","
       << msg->pt.x << "," << msg->pt.y << ")";
  Log(text.str());
  return script.translatesAccelerators ? S_OK : S_FALSE;
}

HRESULT STDMETHODCALLTYPE TFakeRuntime::OnDocWindowActivate(BOOL activate) {
  Log(activate ? "OnDocWindowActivate(1)" : "OnDocWindowActivate(0)");
  return S_OK;
}

HRESULT STDMETHODCALLTYPE TFakeRuntime::GetControlInfo(CONTROLINFO* info) {
  Log("GetControlInfo(" + std::to_string(info->cb) + ")");
  info->hAccel = accelerators_;
  info->cAccel = accelerators_ ? 1 : 0;
  info->dwFlags = 0;
  return S_OK;
}

HRESULT STDMETHODCALLTYPE TFakeRuntime::OnMnemonic(MSG* msg) {
  Log("OnMnemonic(" + Hex(static_cast<long>(msg->wParam)) + ")");
  return S_OK;
}

HRESULT STDMETHODCALLTYPE TFakeRuntime::OnAmbientPropertyChange(DISPID id) {
  Log("OnAmbientPropertyChange(" + std::to_string(id) + ")");
  return S_OK;
}

HRESULT STDMETHODCALLTYPE TFakeRuntime::FindConnectionPoint(REFIID iid, IConnectionPoint** point) {
  *point = nullptr;
  if (iid == published::DIID_IShockwaveFlashEvents)
    *point = eventsPoint_.get();
  else if (iid == IID_IPropertyNotifySink)
    *point = notifyPoint_.get();
  if (!*point) return CONNECT_E_NOCONNECTION;
  (*point)->AddRef();
  return S_OK;
}

void TFakeRuntime::Advised(bool events, IUnknown* sink) {
  if (events)
    sink->QueryInterface(IID_IDispatch, reinterpret_cast<void**>(sink_.ReleaseAndGetAddressOf()));
  else
    sink->QueryInterface(IID_IPropertyNotifySink,
                         reinterpret_cast<void**>(notify_.ReleaseAndGetAddressOf()));
}

void TFakeRuntime::Unadvised(bool events) {
  if (events)
    sink_.Reset();
  else
    notify_.Reset();
}

HRESULT TFakeRuntime::Fire(DISPID id, std::vector<VARIANT> arguments, EXCEPINFO* exception) {
  if (!sink_) return E_UNEXPECTED;
  DISPPARAMS params = {arguments.data(), nullptr, static_cast<UINT>(arguments.size()), 0};
  return sink_->Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_METHOD, &params, nullptr,
                       exception, nullptr);
}

}  // namespace pageturn::test
