#include "flash_object.h"

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <tuple>
#include <type_traits>
#include <utility>

#include "module.h"
#include "url_resolve.h"

namespace standin {

namespace {

constexpr UINT kMsgFetchDone = WM_APP + 1;
constexpr UINT kMsgFetchProgress = WM_APP + 2;
constexpr UINT kMsgRun = WM_APP + 3;
constexpr UINT_PTR kFrameTimer = 1;
// The natural size before any extent is set: the default stage of 550 x 400 pixels.
constexpr int kDefaultWidthPx = 550, kDefaultHeightPx = 400;
// Major 10 in bits 16 to 23, as runtime 10.3 reports it.
constexpr long kFlashVersion = 0x000A03B7;

int ScreenPpi(bool horizontal) {
  HDC dc = GetDC(nullptr);
  int ppi = dc ? GetDeviceCaps(dc, horizontal ? LOGPIXELSX : LOGPIXELSY) : 96;
  if (dc) ReleaseDC(nullptr, dc);
  return ppi > 0 ? ppi : 96;
}

}  // namespace

// ---------------------------------------------------------------------------------------------
// Levels and fetches

struct FlashObject::Level {
  int number = 0;
  std::wstring url;
  size_t bytes = 0;
  std::unique_ptr<LevelHost> host;
  std::unique_ptr<swf::Timeline> timeline;
};

struct FlashObject::FetchJob {
  int level = 0;
  unsigned generation = 0;
  std::wstring url;
  HWND notify = nullptr;
  std::atomic<size_t> expected{0};
  ScopedHandle cancel{CreateEventW(nullptr, TRUE, FALSE, nullptr)};
  ScopedHandle thread;
  FetchResult result;
};

class FlashObject::LevelHost final : public swf::TimelineHost {
 public:
  LevelHost(FlashObject& owner, int level) : owner_(owner), level_(level) {}
  void FsCommand(const std::string& command, const std::string& args) override {
    owner_.FireFsCommand(command, args);
  }
  void LoadMovie(int level, const std::string& url) override {
    std::wstring wide = Utf8ToWide(url);
    if (wide.empty()) {
      owner_.Unload(level);
      return;
    }
    owner_.StartLoad(level, owner_.ResolveRequest(level_, wide));
  }
  void GetUrl(const std::string& url, const std::string& target) override {
    // Navigation leaves the player to a browser; a stand-alone player has none.
    owner_.eventLog_.push_back(L"GetURL(" + Utf8ToWide(url) + L"|" + Utf8ToWide(target) + L")");
  }
  std::string ExternalCall(const std::string& request) override {
    return owner_.ExternalCall(request);
  }

 private:
  FlashObject& owner_;
  int level_;
};

class FlashObject::ActionScope {
 public:
  explicit ActionScope(FlashObject& owner) : owner_(owner) { ++owner_.actionDepth_; }
  ~ActionScope() {
    if (--owner_.actionDepth_ > 0) return;
    while (!owner_.deferred_.empty() && owner_.actionDepth_ == 0) {
      auto change = std::move(owner_.deferred_.front());
      owner_.deferred_.erase(owner_.deferred_.begin());
      try {
        change();
      } catch (...) {
        // A failed level change leaves the levels as they were.
      }
    }
  }
  ActionScope(const ActionScope&) = delete;
  ActionScope& operator=(const ActionScope&) = delete;

 private:
  FlashObject& owner_;
};

void FlashObject::WhenNoActionsRun(std::function<void()> change) {
  if (actionDepth_ > 0) deferred_.push_back(std::move(change));
  else change();
}

// ---------------------------------------------------------------------------------------------
// Connection points

STDMETHODIMP ConnectionPoint::QueryInterface(REFIID riid, void** ppv) {
  if (!ppv) return E_POINTER;
  *ppv = nullptr;
  if (riid == IID_IUnknown || riid == IID_IConnectionPoint) {
    *ppv = static_cast<IConnectionPoint*>(this);
    AddRef();
    return S_OK;
  }
  return E_NOINTERFACE;
}
STDMETHODIMP_(ULONG) ConnectionPoint::AddRef() { return owner_.AddRef(); }
STDMETHODIMP_(ULONG) ConnectionPoint::Release() { return owner_.Release(); }

STDMETHODIMP ConnectionPoint::GetConnectionInterface(IID* iid) {
  if (!iid) return E_POINTER;
  *iid = iid_;
  return S_OK;
}

STDMETHODIMP ConnectionPoint::GetConnectionPointContainer(IConnectionPointContainer** c) {
  if (!c) return E_POINTER;
  return owner_.QueryInterface(IID_IConnectionPointContainer, reinterpret_cast<void**>(c));
}

STDMETHODIMP ConnectionPoint::Advise(IUnknown* sink, DWORD* cookie) {
  return Guard([&] {
    if (!cookie) return E_POINTER;
    *cookie = 0;
    if (!sink) return E_POINTER;
    ComPtr<IUnknown> typed;
    if (FAILED(sink->QueryInterface(iid_, reinterpret_cast<void**>(typed.GetAddressOf())))) {
      // An event sink may answer only IDispatch; that is what the events are called through.
      if (iid_ == IID_IPropertyNotifySink ||
          FAILED(sink->QueryInterface(IID_IDispatch, reinterpret_cast<void**>(typed.GetAddressOf()))))
        return CONNECT_E_CANNOTCONNECT;
    }
    DWORD c = nextCookie_++;
    sinks_[c] = typed;
    *cookie = c;
    return S_OK;
  });
}

STDMETHODIMP ConnectionPoint::Unadvise(DWORD cookie) {
  return Guard([&] {
    auto it = sinks_.find(cookie);
    if (it == sinks_.end()) return CONNECT_E_NOCONNECTION;
    ComPtr<IUnknown> keep = it->second;  // released after the map no longer names it
    sinks_.erase(it);
    return S_OK;
  });
}

STDMETHODIMP ConnectionPoint::EnumConnections(IEnumConnections** e) {
  if (e) *e = nullptr;
  return E_NOTIMPL;
}

std::vector<ComPtr<IUnknown>> ConnectionPoint::Sinks() const {
  std::vector<ComPtr<IUnknown>> out;
  for (const auto& [cookie, sink] : sinks_) out.push_back(sink);
  return out;
}

// ---------------------------------------------------------------------------------------------
// Life

FlashObject::FlashObject()
    : ownerThread_(GetCurrentThreadId()),
      events_(*this, kDiidShockwaveFlashEvents),
      propertyNotify_(*this, IID_IPropertyNotifySink) {
  ModuleAddRef();
  extent_.cx = MulDiv(kDefaultWidthPx, 2540, ScreenPpi(true));
  extent_.cy = MulDiv(kDefaultHeightPx, 2540, ScreenPpi(false));
  if (!RegisterPlayerWindowClass()) throw HResultError(HRESULT_FROM_WIN32(GetLastError()));
  messageWindow_ = CreateWindowExW(0, kPlayerWindowClass, L"", 0, 0, 0, 0, 0, HWND_MESSAGE,
                                   nullptr, g_module, this);
  if (!messageWindow_) {
    ModuleRelease();
    throw HResultError(HRESULT_FROM_WIN32(GetLastError()));
  }
}

FlashObject::~FlashObject() {
  CancelFetches();
  // Windows can only be destroyed by their own thread.
  std::function<HRESULT()> destroy = [this] {
    if (window_) DestroyWindow(window_);
    window_ = nullptr;
    HWND messageWindow = messageWindow_;
    messageWindow_ = nullptr;
    DestroyWindow(messageWindow);
    return S_OK;
  };
  if (GetCurrentThreadId() == ownerThread_) destroy();
  else SendMessageW(messageWindow_, kMsgRun, 1, LPARAM(&destroy));
  if (ownsThread_) PostThreadMessageW(ownerThread_, WM_QUIT, 0, 0);
  ModuleRelease();
}

STDMETHODIMP FlashObject::QueryInterface(REFIID riid, void** ppv) {
  if (!ppv) return E_POINTER;
  *ppv = nullptr;
  if (riid == IID_IUnknown || riid == IID_IOleObject) *ppv = static_cast<IOleObject*>(this);
  else if (riid == IID_IOleControl) *ppv = static_cast<IOleControl*>(this);
  else if (riid == IID_IOleWindow || riid == IID_IOleInPlaceObject)
    *ppv = static_cast<IOleInPlaceObject*>(this);
  else if (riid == IID_IOleInPlaceActiveObject) *ppv = static_cast<IOleInPlaceActiveObject*>(this);
  else if (riid == IID_IConnectionPointContainer)
    *ppv = static_cast<IConnectionPointContainer*>(this);
  else if (riid == IID_IPerPropertyBrowsing) *ppv = static_cast<IPerPropertyBrowsing*>(this);
  else if (riid == IID_IProvideClassInfo || riid == IID_IProvideClassInfo2)
    *ppv = static_cast<IProvideClassInfo2*>(this);
  else if (riid == IID_IDispatch || riid == kIidShockwaveFlash)
    *ppv = static_cast<IShockwaveFlash*>(this);
  else if (riid == IID_IStandInTestSurface) return CreateTestSurface(this, riid, ppv);
  else return E_NOINTERFACE;
  AddRef();
  return S_OK;
}

STDMETHODIMP_(ULONG) FlashObject::AddRef() { return InterlockedIncrement(&refs_); }

STDMETHODIMP_(ULONG) FlashObject::Release() {
  LONG n = InterlockedDecrement(&refs_);
  if (n == 0) delete this;
  return n;
}

void FlashObject::LogSite(const wchar_t* call) { siteCalls_.push_back(call); }

// ---------------------------------------------------------------------------------------------
// IOleObject

STDMETHODIMP FlashObject::SetClientSite(IOleClientSite* site) {
  return Guard([&] {
    if (!site) InPlaceDeactivate();  // a site that leaves takes its window context along
    clientSite_ = site;
    if (site) QueryAmbient();
    return S_OK;
  });
}

STDMETHODIMP FlashObject::GetClientSite(IOleClientSite** site) {
  if (!site) return E_POINTER;
  *site = clientSite_.Get();
  if (*site) (*site)->AddRef();
  return S_OK;
}

STDMETHODIMP FlashObject::Close(DWORD) {
  return Guard([&] { return InPlaceDeactivate(); });
}

STDMETHODIMP FlashObject::GetMoniker(DWORD, DWORD, IMoniker** mk) {
  if (mk) *mk = nullptr;
  return E_NOTIMPL;
}

STDMETHODIMP FlashObject::GetClipboardData(DWORD, IDataObject** data) {
  if (data) *data = nullptr;
  return E_NOTIMPL;
}

STDMETHODIMP FlashObject::DoVerb(LONG verb, LPMSG, IOleClientSite* site, LONG, HWND,
                                 LPCRECT pos) {
  return Guard([&]() -> HRESULT {
    if (!clientSite_ && site) clientSite_ = site;
    switch (verb) {
      case OLEIVERB_PRIMARY:
      case OLEIVERB_SHOW:
      case OLEIVERB_UIACTIVATE:
        return InPlaceActivate(true, pos);
      case OLEIVERB_INPLACEACTIVATE:
        return InPlaceActivate(false, pos);
      case OLEIVERB_HIDE:
        UIDeactivate();
        if (window_) ShowWindow(window_, SW_HIDE);
        return S_OK;
      default:
        return verb < 0 ? E_NOTIMPL : OLEOBJ_S_INVALIDVERB;
    }
  });
}

STDMETHODIMP FlashObject::EnumVerbs(IEnumOLEVERB** verbs) {
  if (verbs) *verbs = nullptr;
  return E_NOTIMPL;
}

STDMETHODIMP FlashObject::GetUserClassID(CLSID* clsid) {
  if (!clsid) return E_POINTER;
  *clsid = kClsidShockwaveFlash;
  return S_OK;
}

STDMETHODIMP FlashObject::GetUserType(DWORD, LPOLESTR* type) {
  if (!type) return E_POINTER;
  static const wchar_t kName[] = L"Shockwave Flash Object";
  *type = static_cast<LPOLESTR>(CoTaskMemAlloc(sizeof kName));
  if (!*type) return E_OUTOFMEMORY;
  memcpy(*type, kName, sizeof kName);
  return S_OK;
}

STDMETHODIMP FlashObject::SetExtent(DWORD aspect, SIZEL* size) {
  if (aspect != DVASPECT_CONTENT) return DV_E_DVASPECT;
  if (!size) return E_POINTER;
  if (size->cx < 0 || size->cy < 0) return E_INVALIDARG;
  extent_ = *size;
  return S_OK;
}

STDMETHODIMP FlashObject::GetExtent(DWORD aspect, SIZEL* size) {
  if (aspect != DVASPECT_CONTENT) return DV_E_DVASPECT;
  if (!size) return E_POINTER;
  *size = extent_;
  return S_OK;
}

STDMETHODIMP FlashObject::Advise(IAdviseSink* sink, DWORD* cookie) {
  return Guard([&] {
    if (!adviseHolder_) ThrowIfFailed(CreateOleAdviseHolder(&adviseHolder_));
    return adviseHolder_->Advise(sink, cookie);
  });
}

STDMETHODIMP FlashObject::Unadvise(DWORD cookie) {
  return adviseHolder_ ? adviseHolder_->Unadvise(cookie) : OLE_E_NOCONNECTION;
}

STDMETHODIMP FlashObject::EnumAdvise(IEnumSTATDATA** e) {
  if (!e) return E_POINTER;
  *e = nullptr;
  return adviseHolder_ ? adviseHolder_->EnumAdvise(e) : E_FAIL;
}

STDMETHODIMP FlashObject::GetMiscStatus(DWORD, DWORD* status) {
  if (!status) return E_POINTER;
  *status = OLEMISC_RECOMPOSEONRESIZE | OLEMISC_CANTLINKINSIDE | OLEMISC_INSIDEOUT |
            OLEMISC_ACTIVATEWHENVISIBLE | OLEMISC_SETCLIENTSITEFIRST;
  return S_OK;
}

// ---------------------------------------------------------------------------------------------
// In-place activation

HRESULT FlashObject::InPlaceActivate(bool uiActivate, const RECT* pos) {
  if (!clientSite_) return E_UNEXPECTED;
  // The window went with its parent while we were active: start over with a new one.
  if (inPlaceActive_ && !window_) InPlaceDeactivate();
  if (!inPlaceActive_) {
    ComPtr<IOleInPlaceSite> site;
    if (FAILED(clientSite_.As(&site))) return E_NOINTERFACE;
    LogSite(L"CanInPlaceActivate");
    if (site->CanInPlaceActivate() != S_OK) return E_FAIL;
    inPlaceActive_ = true;
    inPlaceSite_ = site;
    LogSite(L"OnInPlaceActivate");
    site->OnInPlaceActivate();

    HWND parent = nullptr;
    LogSite(L"GetWindow");
    if (FAILED(site->GetWindow(&parent)) || !parent) {
      InPlaceDeactivate();
      return E_FAIL;
    }
    ComPtr<IOleInPlaceUIWindow> document;
    RECT posRect{}, clipRect{};
    OLEINPLACEFRAMEINFO info{};
    info.cb = sizeof info;
    LogSite(L"GetWindowContext");
    frame_.Reset();
    site->GetWindowContext(&frame_, &document, &posRect, &clipRect, &info);
    RECT r = pos ? *pos : posRect;
    window_ = CreateWindowExW(0, kPlayerWindowClass, L"", WS_CHILD | WS_VISIBLE | WS_CLIPSIBLINGS,
                              r.left, r.top, r.right - r.left, r.bottom - r.top, parent, nullptr,
                              g_module, this);
    if (!window_) {
      lastError_ = L"CreateWindowExW failed";
      InPlaceDeactivate();
      return E_FAIL;
    }
    LogSite(L"ShowObject");
    clientSite_->ShowObject();
    LogSite(L"OnShowWindow");
    clientSite_->OnShowWindow(TRUE);
  } else if (pos) {
    SetObjectRects(pos, nullptr);
  }
  if (uiActivate && !uiActive_ && inPlaceSite_) {
    uiActive_ = true;
    LogSite(L"OnUIActivate");
    inPlaceSite_->OnUIActivate();
    if (frame_) frame_->SetActiveObject(this, L"Shockwave Flash");
  }
  return S_OK;
}

STDMETHODIMP FlashObject::InPlaceDeactivate() {
  return Guard([&] {
    if (!inPlaceActive_) return S_OK;
    UIDeactivate();
    inPlaceActive_ = false;
    HWND window = window_;
    window_ = nullptr;
    if (window) DestroyWindow(window);
    ComPtr<IOleInPlaceSite> site = std::move(inPlaceSite_);
    frame_.Reset();
    if (site) {
      LogSite(L"OnInPlaceDeactivate");
      site->OnInPlaceDeactivate();
    }
    return S_OK;
  });
}

STDMETHODIMP FlashObject::UIDeactivate() {
  return Guard([&] {
    if (!uiActive_) return S_OK;
    uiActive_ = false;
    if (frame_) frame_->SetActiveObject(nullptr, nullptr);
    if (inPlaceSite_) {
      LogSite(L"OnUIDeactivate");
      inPlaceSite_->OnUIDeactivate(FALSE);
    }
    return S_OK;
  });
}

STDMETHODIMP FlashObject::GetWindow(HWND* hwnd) {
  if (!hwnd) return E_POINTER;
  *hwnd = window_;
  return window_ ? S_OK : E_FAIL;
}

STDMETHODIMP FlashObject::SetObjectRects(LPCRECT pos, LPCRECT) {
  if (!pos) return E_POINTER;
  if (!window_) return S_OK;
  RECT current;
  GetWindowRect(window_, &current);
  MapWindowPoints(nullptr, GetParent(window_), reinterpret_cast<POINT*>(&current), 2);
  // Only a real change moves the window: a container that re-activates on every WM_SIZE
  // would otherwise see its own request come back.
  if (!EqualRect(&current, pos))
    MoveWindow(window_, pos->left, pos->top, pos->right - pos->left, pos->bottom - pos->top, TRUE);
  return S_OK;
}

// ---------------------------------------------------------------------------------------------
// IOleControl and ambient properties

STDMETHODIMP FlashObject::GetControlInfo(CONTROLINFO* info) {
  if (!info) return E_POINTER;
  if (info->cb < sizeof(CONTROLINFO)) return E_INVALIDARG;
  info->hAccel = nullptr;
  info->cAccel = 0;
  info->dwFlags = 0;
  return S_OK;
}

STDMETHODIMP FlashObject::OnAmbientPropertyChange(DISPID dispid) {
  return Guard([&] {
    if (dispid == DISPID_UNKNOWN || dispid == DISPID_AMBIENT_USERMODE) QueryAmbient();
    return S_OK;
  });
}

void FlashObject::QueryAmbient() {
  ComPtr<IDispatch> ambient;
  if (!clientSite_ || FAILED(clientSite_.As(&ambient))) return;
  VARIANT v;
  VariantInit(&v);
  DISPPARAMS none{};
  LogSite(L"Ambient(USERMODE)");
  if (SUCCEEDED(ambient->Invoke(DISPID_AMBIENT_USERMODE, IID_NULL, LOCALE_USER_DEFAULT,
                                DISPATCH_PROPERTYGET, &none, &v, nullptr, nullptr)) &&
      v.vt == VT_BOOL)
    ambientUserMode_ = v.boolVal != VARIANT_FALSE;
  VariantClear(&v);
}

STDMETHODIMP FlashObject::FreezeEvents(BOOL freeze) {
  freezeCount_ += freeze ? 1 : -1;
  if (freezeCount_ < 0) freezeCount_ = 0;
  return S_OK;
}

// ---------------------------------------------------------------------------------------------
// IConnectionPointContainer, IPerPropertyBrowsing

STDMETHODIMP FlashObject::EnumConnectionPoints(IEnumConnectionPoints** e) {
  if (e) *e = nullptr;
  return E_NOTIMPL;
}

STDMETHODIMP FlashObject::FindConnectionPoint(REFIID riid, IConnectionPoint** cp) {
  if (!cp) return E_POINTER;
  *cp = nullptr;
  if (riid == kDiidShockwaveFlashEvents) *cp = &events_;
  else if (riid == IID_IPropertyNotifySink) *cp = &propertyNotify_;
  else return CONNECT_E_NOCONNECTION;
  (*cp)->AddRef();
  return S_OK;
}

STDMETHODIMP FlashObject::GetDisplayString(DISPID, BSTR* s) {
  if (s) *s = nullptr;
  return E_NOTIMPL;
}
STDMETHODIMP FlashObject::MapPropertyToPage(DISPID, CLSID* clsid) {
  if (clsid) *clsid = CLSID_NULL;
  return PERPROP_E_NOPAGEAVAILABLE;
}
STDMETHODIMP FlashObject::GetPredefinedStrings(DISPID, CALPOLESTR* s, CADWORD* c) {
  if (s) *s = CALPOLESTR{};
  if (c) *c = CADWORD{};
  return E_NOTIMPL;
}
STDMETHODIMP FlashObject::GetPredefinedValue(DISPID, DWORD, VARIANT* v) {
  if (v) VariantInit(v);
  return E_NOTIMPL;
}

STDMETHODIMP FlashObject::GetClassInfo(ITypeInfo** info) {
  if (info) *info = nullptr;
  return E_NOTIMPL;  // no type library ships with the stand-in
}

STDMETHODIMP FlashObject::GetGUID(DWORD kind, GUID* guid) {
  if (!guid) return E_POINTER;
  *guid = GUID_NULL;
  if (kind != GUIDKIND_DEFAULT_SOURCE_DISP_IID) return E_INVALIDARG;
  *guid = kDiidShockwaveFlashEvents;
  return S_OK;
}

// ---------------------------------------------------------------------------------------------
// Events

int FlashObject::FireEvent(DISPID id, const std::wstring& text1, const std::wstring& text2,
                           long number, HRESULT* lastResult, std::wstring* returnValue) {
  VARIANTARG args[2];
  for (auto& a : args) VariantInit(&a);
  UINT count = 0;
  std::wstring logged;
  // Arguments go in reverse declaration order: the last declared is rgvarg[0].
  if (id == kDispidReadyStateChange || id == kDispidProgress) {
    args[0].vt = VT_I4;
    args[0].lVal = number;
    count = 1;
    logged = std::to_wstring(number);
  } else if (id == kDispidFSCommand) {
    args[1].vt = VT_BSTR;
    args[1].bstrVal = SysAllocStringLen(text1.data(), UINT(text1.size()));
    args[0].vt = VT_BSTR;
    args[0].bstrVal = SysAllocStringLen(text2.data(), UINT(text2.size()));
    count = 2;
    logged = text1 + L"|" + text2;
  } else if (id == kDispidFlashCall) {
    args[0].vt = VT_BSTR;
    args[0].bstrVal = SysAllocStringLen(text1.data(), UINT(text1.size()));
    count = 1;
    logged = text1;
  } else {
    return 0;
  }
  eventLog_.push_back(std::to_wstring(id) + L"(" + logged + L")");

  bool flashCall = id == kDispidFlashCall;
  bool outerCall = inFlashCall_;
  if (flashCall) {
    inFlashCall_ = true;
    returnValue_.clear();
  }
  int called = 0;
  if (freezeCount_ == 0) {
    DISPPARAMS params{args, nullptr, count, 0};
    // A copy: a handler may unadvise while it runs.
    for (const auto& sink : events_.Sinks()) {
      ComPtr<IDispatch> dispatch;
      if (FAILED(sink.As(&dispatch))) continue;
      HRESULT hr = dispatch->Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_METHOD, &params,
                                    nullptr, nullptr, nullptr);
      if (lastResult) *lastResult = hr;
      ++called;
    }
  }
  if (flashCall) {
    if (returnValue) *returnValue = returnValue_;
    inFlashCall_ = outerCall;
  }
  for (auto& a : args) VariantClear(&a);
  return called;
}

void FlashObject::SetReadyState(long state) {
  if (readyState_ == state) return;
  readyState_ = state;
  // Containers that watch properties learn of it the standard way as well.
  for (const auto& sink : propertyNotify_.Sinks()) {
    ComPtr<IPropertyNotifySink> notify;
    if (SUCCEEDED(sink.As(&notify))) notify->OnChanged(DISPID_READYSTATE);
  }
  FireEvent(kDispidReadyStateChange, L"", L"", state, nullptr, nullptr);
}

void FlashObject::FireProgress(long percent) {
  FireEvent(kDispidProgress, L"", L"", percent, nullptr, nullptr);
}

void FlashObject::FireFsCommand(const std::string& command, const std::string& args) {
  FireEvent(kDispidFSCommand, Utf8ToWide(command), Utf8ToWide(args), 0, nullptr, nullptr);
}

std::string FlashObject::ExternalCall(const std::string& request) {
  std::wstring answer;
  FireEvent(kDispidFlashCall, Utf8ToWide(request), L"", 0, nullptr, &answer);
  return WideToUtf8(answer);
}

// ---------------------------------------------------------------------------------------------
// Loading

std::wstring FlashObject::ResolveRequest(int level, const std::wstring& relative) const {
  Level* requester = FindLevel(level);
  std::wstring movieUrl = requester ? requester->url : movie_;
  if (movieUrl.empty()) movieUrl = movie_;
  return ResolveUrl(base_, movieUrl, relative);
}

FlashObject::Level* FlashObject::FindLevel(int number) const {
  auto it = levels_.find(number);
  return it == levels_.end() ? nullptr : it->second.get();
}

void FlashObject::StartLoad(int level, const std::wstring& url) {
  unsigned generation = ++generation_[level];
  if (level == 0) loadingPercent_ = 0;
  // A newer load of the same level makes the older one pointless.
  for (auto& job : jobs_)
    if (job->level == level) SetEvent(job->cancel.get());
  if (level == 0) SetReadyState(0);

  auto job = std::make_shared<FetchJob>();
  job->level = level;
  job->generation = generation;
  job->url = url;
  job->notify = messageWindow_;
  fetchLog_.push_back(url);
  auto* threadRef = new std::shared_ptr<FetchJob>(job);
  ModuleAddRef();
  job->thread.Reset(CreateThread(nullptr, 0, FetchThread, threadRef, 0, nullptr));
  if (!job->thread) {
    delete threadRef;
    ModuleRelease();
    lastError_ = L"CreateThread failed";
    return;
  }
  jobs_.push_back(job);
}

DWORD WINAPI FlashObject::FetchThread(void* param) {
  std::unique_ptr<std::shared_ptr<FetchJob>> ref(static_cast<std::shared_ptr<FetchJob>*>(param));
  FetchJob* job = ref->get();
  HRESULT init = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
  Guard([&] {
    HWND notify = job->notify;
    job->result =
        FetchUrl(job->url, job->cancel.get(), INFINITE, [notify, job](size_t bytes, size_t total) {
          job->expected = total;  // read on the object's thread only after the post below
          PostMessageW(notify, kMsgFetchProgress, WPARAM(bytes), LPARAM(job));
        });
    return S_OK;
  });
  PostMessageW(job->notify, kMsgFetchDone, 0, LPARAM(job));
  if (SUCCEEDED(init)) CoUninitialize();
  ref.reset();
  ModuleRelease();
  return 0;
}

void FlashObject::CancelFetches() {
  for (auto& job : jobs_) SetEvent(job->cancel.get());
  for (auto* list : {&jobs_, &retired_}) {
    for (auto& job : *list) {
      // The fetch may be waiting for this thread (a host that marshals its stream work here),
      // so keep dispatching while it winds down.
      if (job->thread) WaitPumping(job->thread.get(), 5000);
    }
    list->clear();
  }
}

void FlashObject::OnFetchProgress(FetchJob* job, size_t bytes) {
  // Only the status line follows the bytes as they come; the movie is read once complete.
  bool current = std::any_of(jobs_.begin(), jobs_.end(), [job](const auto& j) { return j.get() == job; });
  if (!current || job->generation != generation_[job->level]) return;
  receivedBytes_ = bytes;
  size_t total = job->expected;
  if (job->level == 0 && total > 0) {
    // 100 belongs to the complete, readable movie.
    long percent = long(std::min<uint64_t>(99, uint64_t(bytes) * 100 / total));
    if (percent > loadingPercent_) {
      loadingPercent_ = percent;
      FireProgress(percent);
    }
  }
  if (window_) InvalidateRect(window_, nullptr, TRUE);
}

void FlashObject::OnFetchDone(FetchJob* found) {
  auto it = std::find_if(jobs_.begin(), jobs_.end(),
                         [found](const auto& j) { return j.get() == found; });
  if (it == jobs_.end()) return;
  std::shared_ptr<FetchJob> job = *it;
  jobs_.erase(it);
  retired_.erase(std::remove_if(retired_.begin(), retired_.end(),
                                [](const auto& j) {
                                  return WaitForSingleObject(j->thread.get(), 0) == WAIT_OBJECT_0;
                                }),
                 retired_.end());
  retired_.push_back(job);
  WhenNoActionsRun([this, job] { FinishFetch(job); });
}

void FlashObject::FinishFetch(const std::shared_ptr<FetchJob>& job) {
  if (job->generation != generation_[job->level]) return;  // superseded
  // The events below reach the container, which may dispatch messages: other level changes
  // wait until this one is complete.
  ActionScope scope(*this);
  const FetchResult& r = job->result;
  if (!r.Succeeded()) {
    lastError_ = L"fetch of " + job->url + L" failed: " + Hex(FAILED(r.bindResult) ? r.bindResult
                                                                                    : r.stopResult);
    if (job->level == 0) SetReadyState(4);
    return;
  }
  std::unique_ptr<Level> level(new Level);
  level->number = job->level;
  level->url = job->url;
  level->bytes = r.bytes.size();
  level->host = std::make_unique<LevelHost>(*this, job->level);
  try {
    swf::Movie movie = swf::ReadMovie(r.bytes);
    level->timeline = std::make_unique<swf::Timeline>(std::move(movie), *level->host);
  } catch (const std::exception& e) {
    lastError_ = job->url + L": " + Utf8ToWide(e.what());
  }
  if (!level->timeline) {
    if (job->level == 0) SetReadyState(4);
    return;
  }
  int number = job->level;
  if (number == 0) {
    // A new main movie replaces every level.
    levels_.clear();
    for (auto& [name, value] : pendingVariables_)
      level->timeline->SetVariable(WideToUtf8(name), WideToUtf8(value));
    pendingVariables_.clear();
  }
  level->timeline->SetLoop(loop_);
  swf::Timeline* timeline = level->timeline.get();
  levels_[number] = std::move(level);
  if (number == 0) {
    FireProgress(100);
    SetReadyState(3);
  }
  UpdateTimer();
  try {
    timeline->Start();
  } catch (const std::exception& e) {
    timeline->SetPlaying(false);
    lastError_ = Utf8ToWide(e.what());
  }
  if (number == 0) SetReadyState(4);
  if (window_) InvalidateRect(window_, nullptr, TRUE);
}

void FlashObject::Unload(int level) {
  ++generation_[level];
  for (auto& job : jobs_)
    if (job->level == level) SetEvent(job->cancel.get());
  // The level may be the one whose actions are running right now.
  WhenNoActionsRun([this, level] {
    levels_.erase(level);
    UpdateTimer();
    if (window_) InvalidateRect(window_, nullptr, TRUE);
  });
}

void FlashObject::UpdateTimer() {
  Level* main = FindLevel(0);
  UINT interval = 1000 / 12;
  if (main && main->timeline && main->timeline->movie().frameRate > 0)
    interval = std::clamp<UINT>(256000u / main->timeline->movie().frameRate, 10u, 1000u);
  if (levels_.empty()) {
    KillTimer(messageWindow_, kFrameTimer);
    timerInterval_ = 0;
  } else if (interval != timerInterval_) {
    SetTimer(messageWindow_, kFrameTimer, interval, nullptr);
    timerInterval_ = interval;
  }
}

void FlashObject::OnFrameTimer() {
  if (actionDepth_ > 0) return;  // a container dispatching messages from inside an action
  ActionScope scope(*this);
  bool changed = false;
  std::vector<int> numbers;
  for (auto& [number, level] : levels_) numbers.push_back(number);
  for (int number : numbers) {
    Level* level = FindLevel(number);  // a handler may have changed the levels meanwhile
    if (!level || !level->timeline) continue;
    int before = level->timeline->CurrentFrame();
    try {
      level->timeline->Tick();
    } catch (const std::exception& e) {
      level->timeline->SetPlaying(false);
      lastError_ = Utf8ToWide(e.what());
    }
    if (FindLevel(number) == level && level->timeline->CurrentFrame() != before) changed = true;
  }
  if (changed && window_) InvalidateRect(window_, nullptr, TRUE);
}

// ---------------------------------------------------------------------------------------------
// Window

LRESULT CALLBACK FlashObject::WindowProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
  if (msg == WM_NCCREATE) {
    auto* cs = reinterpret_cast<CREATESTRUCTW*>(lp);
    SetWindowLongPtrW(hwnd, 0, LONG_PTR(cs->lpCreateParams));
    return DefWindowProcW(hwnd, msg, wp, lp);
  }
  // The object lives in the window's own extra bytes: a container that subclasses the window
  // may use GWLP_USERDATA and window properties for itself.
  auto* self = reinterpret_cast<FlashObject*>(GetWindowLongPtrW(hwnd, 0));
  if (!self) return DefWindowProcW(hwnd, msg, wp, lp);
  LRESULT result = 0;
  bool handled = true;
  HRESULT hr = Guard([&] {
    if (hwnd == self->messageWindow_) {
      switch (msg) {
        case kMsgFetchDone: self->OnFetchDone(reinterpret_cast<FetchJob*>(lp)); break;
        case kMsgFetchProgress:
          self->OnFetchProgress(reinterpret_cast<FetchJob*>(lp), size_t(wp));
          break;
        case kMsgRun:  // sent by RunOnOwnerThread; the sender owns the function
          result = (*reinterpret_cast<std::function<HRESULT()>*>(lp))();
          break;
        case WM_TIMER:
          if (wp == kFrameTimer) self->OnFrameTimer();
          break;
        default: handled = false;
      }
      return S_OK;
    }
    switch (msg) {
      case WM_PAINT: {
        PAINTSTRUCT ps;
        HDC dc = BeginPaint(hwnd, &ps);
        RECT client;
        GetClientRect(hwnd, &client);
        self->Paint(dc, client);
        EndPaint(hwnd, &ps);
        break;
      }
      case WM_ERASEBKGND: result = 1; break;
      case WM_RBUTTONDOWN:
        if (self->menu_) {
          POINT pt{short(LOWORD(lp)), short(HIWORD(lp))};
          ClientToScreen(hwnd, &pt);
          self->ShowContextMenu(pt.x, pt.y);
        }
        break;
      case WM_DESTROY:
        if (self->window_ == hwnd) self->window_ = nullptr;
        handled = false;
        break;
      default: handled = false;
    }
    return S_OK;
  });
  if (FAILED(hr)) return 0;
  return handled ? result : DefWindowProcW(hwnd, msg, wp, lp);
}

COLORREF FlashObject::BackgroundRgb() const {
  long rgb = 0xFFFFFF;
  if (backgroundOverride_ >= 0) {
    rgb = backgroundOverride_;
  } else if (Level* main = FindLevel(0); main && main->timeline &&
                                         main->timeline->movie().backgroundColor) {
    rgb = long(*main->timeline->movie().backgroundColor);
  }
  return RGB((rgb >> 16) & 0xFF, (rgb >> 8) & 0xFF, rgb & 0xFF);
}

void FlashObject::Paint(HDC dc, const RECT& client) {
  COLORREF bg = BackgroundRgb();
  HBRUSH brush = CreateSolidBrush(bg);
  FillRect(dc, &client, brush);
  DeleteObject(brush);
  int luminance = (GetRValue(bg) * 3 + GetGValue(bg) * 6 + GetBValue(bg)) / 10;
  SetTextColor(dc, luminance > 128 ? RGB(0, 0, 0) : RGB(255, 255, 255));
  SetBkMode(dc, TRANSPARENT);
  HGDIOBJ oldFont = SelectObject(dc, GetStockObject(DEFAULT_GUI_FONT));
  std::vector<std::wstring> lines;
  lines.push_back(L"Stand-in Flash Player 10.3");
  lines.push_back(L"movie: " + (movie_.empty() ? std::wstring(L"(none)") : movie_));
  for (const auto& [number, level] : levels_) {
    if (!level->timeline) continue;
    lines.push_back(L"level " + std::to_wstring(number) + L": frame " +
                    std::to_wstring(level->timeline->CurrentFrame() + 1) + L" of " +
                    std::to_wstring(level->timeline->FrameCount()) + L", " +
                    std::to_wstring(level->bytes) + L" bytes received" +
                    (number ? L" (" + level->url + L")" : L""));
  }
  if (levels_.empty() && !jobs_.empty())
    lines.push_back(L"loading: " + std::to_wstring(receivedBytes_) + L" bytes received");
  if (!lastError_.empty()) lines.push_back(L"error: " + lastError_);
  int y = client.top + 4;
  for (const auto& line : lines) {
    TextOutW(dc, client.left + 4, y, line.c_str(), int(line.size()));
    y += 16;
  }
  SelectObject(dc, oldFont);
}

void FlashObject::ShowContextMenu(int x, int y) {
  HMENU bar = LoadMenuA(g_module, MAKEINTRESOURCEA(201));
  if (!bar) return;
  HMENU popup = GetSubMenu(bar, 0);
  if (popup) {
    int command = TrackPopupMenu(popup, TPM_RETURNCMD | TPM_RIGHTBUTTON, x, y, 0, window_, nullptr);
    switch (command) {
      case 1: Play(); break;
      case 2: put_Loop(loop_ ? VARIANT_FALSE : VARIANT_TRUE); break;
      case 3: Rewind(); break;
      case 4: Forward(); break;
      case 5: Back(); break;
      default: break;
    }
  }
  DestroyMenu(bar);
}

HRESULT FlashObject::RunOnOwnerThread(const std::function<HRESULT()>& work) {
  if (GetCurrentThreadId() == ownerThread_) return work();
  std::function<HRESULT()> copy = work;
  return HRESULT(SendMessageW(messageWindow_, kMsgRun, 1, LPARAM(&copy)));
}

// ---------------------------------------------------------------------------------------------
// IDispatch: late binding of every member of the layout, by the published DISPIDs

namespace {

// How one argument type of IShockwaveFlash travels in a VARIANT.
template <class T>
struct VariantOf;
template <>
struct VariantOf<long> {
  static constexpr VARTYPE vt = VT_I4;
  static long From(const VARIANT& v) { return v.lVal; }
  static void To(VARIANT* v, long x) { v->lVal = x; }
};
template <>
struct VariantOf<int> {
  static constexpr VARTYPE vt = VT_I4;
  static int From(const VARIANT& v) { return int(v.lVal); }
  static void To(VARIANT* v, int x) { v->lVal = x; }
};
template <>
struct VariantOf<VARIANT_BOOL> {
  static constexpr VARTYPE vt = VT_BOOL;
  static VARIANT_BOOL From(const VARIANT& v) { return v.boolVal; }
  static void To(VARIANT* v, VARIANT_BOOL x) { v->boolVal = x; }
};
template <>
struct VariantOf<double> {
  static constexpr VARTYPE vt = VT_R8;
  static double From(const VARIANT& v) { return v.dblVal; }
  static void To(VARIANT* v, double x) { v->dblVal = x; }
};
template <>
struct VariantOf<BSTR> {
  static constexpr VARTYPE vt = VT_BSTR;
  static BSTR From(const VARIANT& v) { return v.bstrVal; }
  static void To(VARIANT* v, BSTR x) { v->bstrVal = x; }
};
template <>
struct VariantOf<IUnknown*> {
  static constexpr VARTYPE vt = VT_UNKNOWN;
  static IUnknown* From(const VARIANT& v) { return v.punkVal; }
  static void To(VARIANT* v, IUnknown* x) { v->punkVal = x; }
};

// The [out,retval] parameter types; every other parameter is an input.
template <class T>
constexpr bool kIsRetval = false;
template <>
constexpr bool kIsRetval<long*> = true;
template <>
constexpr bool kIsRetval<int*> = true;
template <>
constexpr bool kIsRetval<VARIANT_BOOL*> = true;
template <>
constexpr bool kIsRetval<double*> = true;
template <>
constexpr bool kIsRetval<BSTR*> = true;
template <>
constexpr bool kIsRetval<IUnknown**> = true;

// One parameter of a call made from DISPPARAMS: an input converted from its argument, or the
// [out,retval] value that becomes the result.
template <class T, bool retval = kIsRetval<T>>
class DispatchParameter {
 public:
  DispatchParameter() { VariantInit(&v_); }
  ~DispatchParameter() { VariantClear(&v_); }
  // Argument i counted in declaration order (rgvarg holds them reversed).
  HRESULT Load(DISPPARAMS* params, UINT i) {
    if (!params || i >= params->cArgs) return DISP_E_BADPARAMCOUNT;
    return VariantChangeType(&v_, &params->rgvarg[params->cArgs - 1 - i], 0, VariantOf<T>::vt);
  }
  T Get() const { return VariantOf<T>::From(v_); }
  void Store(VARIANT*) {}

 private:
  VARIANT v_;
};

template <class T>
class DispatchParameter<T, true> {
  using Value = std::remove_pointer_t<T>;

 public:
  ~DispatchParameter() {
    if constexpr (std::is_same_v<Value, BSTR>) SysFreeString(value_);
    if constexpr (std::is_same_v<Value, IUnknown*>)
      if (value_) value_->Release();
  }
  HRESULT Load(DISPPARAMS*, UINT) { return S_OK; }
  T Get() { return &value_; }
  void Store(VARIANT* result) {
    if (!result) return;
    VariantInit(result);
    result->vt = VariantOf<Value>::vt;
    VariantOf<Value>::To(result, value_);
    value_ = Value{};  // the result owns it now
  }

 private:
  Value value_{};
};

template <class... A, size_t... I>
HRESULT CallWith(FlashObject& o, HRESULT (STDMETHODCALLTYPE FlashObject::*member)(A...),
                 [[maybe_unused]] DISPPARAMS* params, [[maybe_unused]] VARIANT* result,
                 std::index_sequence<I...>) {
  std::tuple<DispatchParameter<A>...> args;
  HRESULT hr = S_OK;
  ((hr = SUCCEEDED(hr) ? std::get<I>(args).Load(params, UINT(I)) : hr), ...);
  if (FAILED(hr)) return hr;
  hr = (o.*member)(std::get<I>(args).Get()...);
  if (SUCCEEDED(hr)) (std::get<I>(args).Store(result), ...);
  return hr;
}

// Calls a member of IShockwaveFlash with the arguments of a dispatch call.
template <class... A>
HRESULT CallWith(FlashObject& o, HRESULT (STDMETHODCALLTYPE FlashObject::*member)(A...),
                 DISPPARAMS* params, VARIANT* result) {
  return CallWith(o, member, params, result, std::index_sequence_for<A...>{});
}

using DispatchCall = HRESULT (*)(FlashObject&, DISPPARAMS*, VARIANT*);

struct DispatchMember {
  const wchar_t* name;
  DISPID id;
  DispatchCall get;  // a method's call, or a property's getter
  DispatchCall put;  // a property's setter; null for methods and read-only properties
};

#define STANDIN_CALL(member)                                         \
  [](FlashObject& o, DISPPARAMS* p, VARIANT* r) -> HRESULT {         \
    return CallWith(o, &FlashObject::member, p, r);                  \
  }
#define STANDIN_METHOD(name, id) {L## #name, id, STANDIN_CALL(name), nullptr}
#define STANDIN_READONLY(name, id) {L## #name, id, STANDIN_CALL(get_##name), nullptr}
#define STANDIN_PROPERTY(name, id) {L## #name, id, STANDIN_CALL(get_##name), STANDIN_CALL(put_##name)}

// In the order of the layout (slots 7 to 99).
const DispatchMember kDispatchMembers[] = {
    STANDIN_READONLY(ReadyState, -525),
    STANDIN_READONLY(TotalFrames, 124),
    STANDIN_PROPERTY(Playing, 125),
    STANDIN_PROPERTY(Quality, 105),
    STANDIN_PROPERTY(ScaleMode, 120),
    STANDIN_PROPERTY(AlignMode, 121),
    STANDIN_PROPERTY(BackgroundColor, 123),
    STANDIN_PROPERTY(Loop, 106),
    STANDIN_PROPERTY(Movie, 102),
    STANDIN_PROPERTY(FrameNum, 107),
    STANDIN_METHOD(SetZoomRect, 109),
    STANDIN_METHOD(Zoom, 118),
    STANDIN_METHOD(Pan, 119),
    STANDIN_METHOD(Play, 112),
    STANDIN_METHOD(Stop, 113),
    STANDIN_METHOD(Back, 114),
    STANDIN_METHOD(Forward, 115),
    STANDIN_METHOD(Rewind, 116),
    STANDIN_METHOD(StopPlay, 126),
    STANDIN_METHOD(GotoFrame, 127),
    STANDIN_METHOD(CurrentFrame, 128),
    STANDIN_METHOD(IsPlaying, 129),
    STANDIN_METHOD(PercentLoaded, 130),
    STANDIN_METHOD(FrameLoaded, 131),
    STANDIN_METHOD(FlashVersion, 132),
    STANDIN_PROPERTY(WMode, 133),
    STANDIN_PROPERTY(SAlign, 134),
    STANDIN_PROPERTY(Menu, 135),
    STANDIN_PROPERTY(Base, 136),
    STANDIN_PROPERTY(Scale, 137),
    STANDIN_PROPERTY(DeviceFont, 138),
    STANDIN_PROPERTY(EmbedMovie, 139),
    STANDIN_PROPERTY(BGColor, 140),
    STANDIN_PROPERTY(Quality2, 141),
    STANDIN_METHOD(LoadMovie, 142),
    STANDIN_METHOD(TGotoFrame, 143),
    STANDIN_METHOD(TGotoLabel, 144),
    STANDIN_METHOD(TCurrentFrame, 145),
    STANDIN_METHOD(TCurrentLabel, 146),
    STANDIN_METHOD(TPlay, 147),
    STANDIN_METHOD(TStopPlay, 148),
    STANDIN_METHOD(SetVariable, 151),
    STANDIN_METHOD(GetVariable, 152),
    STANDIN_METHOD(TSetProperty, 153),
    STANDIN_METHOD(TGetProperty, 154),
    STANDIN_METHOD(TCallFrame, 155),
    STANDIN_METHOD(TCallLabel, 156),
    STANDIN_METHOD(TSetPropertyNum, 157),
    STANDIN_METHOD(TGetPropertyNum, 158),
    STANDIN_METHOD(TGetPropertyAsNumber, 172),
    STANDIN_PROPERTY(SWRemote, 159),
    STANDIN_PROPERTY(FlashVars, 170),
    STANDIN_PROPERTY(AllowScriptAccess, 171),
    STANDIN_PROPERTY(MovieData, 190),
    STANDIN_PROPERTY(InlineData, 191),
    STANDIN_PROPERTY(SeamlessTabbing, 192),
    STANDIN_METHOD(EnforceLocalSecurity, 193),
    STANDIN_PROPERTY(Profile, 194),
    STANDIN_PROPERTY(ProfileAddress, 195),
    STANDIN_PROPERTY(ProfilePort, 196),
    STANDIN_METHOD(CallFunction, 198),
    STANDIN_METHOD(SetReturnValue, 199),
    STANDIN_METHOD(DisableLocalSecurity, 200),
    STANDIN_PROPERTY(AllowNetworking, 201),
    STANDIN_PROPERTY(AllowFullScreen, 202),
};

#undef STANDIN_PROPERTY
#undef STANDIN_READONLY
#undef STANDIN_METHOD
#undef STANDIN_CALL

}  // namespace

STDMETHODIMP FlashObject::GetTypeInfoCount(UINT* count) {
  if (!count) return E_POINTER;
  *count = 0;
  return S_OK;
}

STDMETHODIMP FlashObject::GetTypeInfo(UINT, LCID, ITypeInfo** info) {
  if (info) *info = nullptr;
  return E_NOTIMPL;
}

STDMETHODIMP FlashObject::GetIDsOfNames(REFIID, LPOLESTR* names, UINT count, LCID, DISPID* ids) {
  if (!names || !ids) return E_POINTER;
  HRESULT hr = S_OK;
  for (UINT i = 0; i < count; ++i) {
    ids[i] = DISPID_UNKNOWN;
    if (i > 0) {
      hr = DISP_E_UNKNOWNNAME;  // named arguments are not supported
      continue;
    }
    bool found = false;
    for (const auto& member : kDispatchMembers) {
      if (lstrcmpiW(member.name, names[i]) == 0) {
        ids[i] = member.id;
        found = true;
      }
    }
    if (!found) hr = DISP_E_UNKNOWNNAME;
  }
  return hr;
}

STDMETHODIMP FlashObject::Invoke(DISPID id, REFIID, LCID, WORD flags, DISPPARAMS* params,
                                 VARIANT* result, EXCEPINFO*, UINT*) {
  return Guard([&]() -> HRESULT {
    for (const auto& member : kDispatchMembers) {
      if (member.id != id) continue;
      if (flags & (DISPATCH_PROPERTYPUT | DISPATCH_PROPERTYPUTREF))
        return member.put ? member.put(*this, params, nullptr) : DISP_E_MEMBERNOTFOUND;
      return member.get(*this, params, result);
    }
    return DISP_E_MEMBERNOTFOUND;
  });
}

// ---------------------------------------------------------------------------------------------
// IShockwaveFlash

HRESULT FlashObject::GetInt(int v, int* out) const {
  if (!out) return E_POINTER;
  *out = v;
  return S_OK;
}
HRESULT FlashObject::PutInt(int& field, int v) {
  field = v;
  return S_OK;
}
HRESULT FlashObject::GetBool(bool v, VARIANT_BOOL* out) const {
  if (!out) return E_POINTER;
  *out = v ? VARIANT_TRUE : VARIANT_FALSE;
  return S_OK;
}
HRESULT FlashObject::PutBool(bool& field, VARIANT_BOOL v) {
  field = v != VARIANT_FALSE;
  return S_OK;
}
HRESULT FlashObject::GetString(const std::wstring& v, BSTR* out) const {
  if (!out) return E_POINTER;
  *out = nullptr;
  return ReturnBstr(v, out);
}
HRESULT FlashObject::PutString(std::wstring& field, BSTR v) {
  return Guard([&] {
    field = FromBstr(v);
    return S_OK;
  });
}

STDMETHODIMP FlashObject::get_ReadyState(long* v) {
  if (!v) return E_POINTER;
  *v = readyState_;
  return S_OK;
}

STDMETHODIMP FlashObject::get_TotalFrames(long* v) {
  if (!v) return E_POINTER;
  Level* main = FindLevel(0);
  *v = main && main->timeline ? main->timeline->FrameCount() : 0;
  return S_OK;
}

STDMETHODIMP FlashObject::get_Playing(VARIANT_BOOL* v) {
  if (!v) return E_POINTER;
  Level* main = FindLevel(0);
  *v = main && main->timeline && main->timeline->Playing() ? VARIANT_TRUE : VARIANT_FALSE;
  return S_OK;
}

STDMETHODIMP FlashObject::put_Playing(VARIANT_BOOL v) { return v ? Play() : Stop(); }

STDMETHODIMP FlashObject::get_BackgroundColor(long* v) {
  if (!v) return E_POINTER;
  COLORREF c = BackgroundRgb();
  *v = backgroundOverride_ >= 0 ? backgroundOverride_
                                : long(GetRValue(c)) << 16 | long(GetGValue(c)) << 8 | GetBValue(c);
  return S_OK;
}

STDMETHODIMP FlashObject::put_BackgroundColor(long v) {
  backgroundOverride_ = v < 0 ? -1 : (v & 0xFFFFFF);
  if (window_) InvalidateRect(window_, nullptr, TRUE);
  return S_OK;
}

STDMETHODIMP FlashObject::get_BGColor(BSTR* v) {
  if (!v) return E_POINTER;
  *v = nullptr;
  if (backgroundOverride_ < 0) return ReturnBstr(L"", v);
  wchar_t buf[16];
  wsprintfW(buf, L"#%06lX", backgroundOverride_);
  return ReturnBstr(buf, v);
}

STDMETHODIMP FlashObject::put_BGColor(BSTR v) {
  std::wstring s = FromBstr(v);
  if (!s.empty() && s[0] == L'#') s.erase(0, 1);
  if (s.empty()) return put_BackgroundColor(-1);
  wchar_t* end = nullptr;
  long rgb = long(wcstoul(s.c_str(), &end, 16));
  if (!end || *end) return E_INVALIDARG;
  return put_BackgroundColor(rgb);
}

STDMETHODIMP FlashObject::put_Loop(VARIANT_BOOL v) {
  loop_ = v != VARIANT_FALSE;
  for (auto& [number, level] : levels_)
    if (level->timeline) level->timeline->SetLoop(loop_);
  return S_OK;
}

STDMETHODIMP FlashObject::put_Movie(BSTR v) {
  return Guard([&] {
    movie_ = FromBstr(v);
    if (movie_.empty()) {
      Unload(0);
      return S_OK;
    }
    StartLoad(0, IsAbsoluteUrl(movie_) ? movie_ : ResolveUrl(base_, L"", movie_));
    return S_OK;
  });
}

STDMETHODIMP FlashObject::get_FrameNum(long* v) {
  if (!v) return E_POINTER;
  Level* main = FindLevel(0);
  *v = main && main->timeline ? main->timeline->CurrentFrame() : 0;
  return S_OK;
}

STDMETHODIMP FlashObject::Play() {
  if (Level* main = FindLevel(0); main && main->timeline) main->timeline->SetPlaying(true);
  return S_OK;
}

STDMETHODIMP FlashObject::Stop() {
  if (Level* main = FindLevel(0); main && main->timeline) main->timeline->SetPlaying(false);
  return S_OK;
}

STDMETHODIMP FlashObject::Back() {
  return Guard([&] {
    ActionScope scope(*this);
    if (Level* main = FindLevel(0); main && main->timeline)
      main->timeline->GotoFrame(main->timeline->CurrentFrame() - 1, false);
    if (window_) InvalidateRect(window_, nullptr, TRUE);
    return S_OK;
  });
}

STDMETHODIMP FlashObject::Forward() {
  return Guard([&] {
    ActionScope scope(*this);
    if (Level* main = FindLevel(0); main && main->timeline)
      main->timeline->GotoFrame(main->timeline->CurrentFrame() + 1, false);
    if (window_) InvalidateRect(window_, nullptr, TRUE);
    return S_OK;
  });
}

STDMETHODIMP FlashObject::Rewind() { return GotoFrame(0); }

STDMETHODIMP FlashObject::GotoFrame(long frame) {
  return Guard([&] {
    Level* main = FindLevel(0);
    if (!main || !main->timeline) return E_FAIL;
    ActionScope scope(*this);
    main->timeline->GotoFrame(frame, false);
    if (window_) InvalidateRect(window_, nullptr, TRUE);
    return S_OK;
  });
}

STDMETHODIMP FlashObject::PercentLoaded(long* percent) {
  if (!percent) return E_POINTER;
  Level* main = FindLevel(0);
  *percent = main && main->timeline ? 100 : loadingPercent_;
  return S_OK;
}

STDMETHODIMP FlashObject::FrameLoaded(long frame, VARIANT_BOOL* loaded) {
  if (!loaded) return E_POINTER;
  Level* main = FindLevel(0);
  *loaded = main && main->timeline && frame >= 0 && frame < main->timeline->FrameCount()
                ? VARIANT_TRUE
                : VARIANT_FALSE;
  return S_OK;
}

STDMETHODIMP FlashObject::FlashVersion(long* version) {
  if (!version) return E_POINTER;
  *version = kFlashVersion;
  return S_OK;
}

STDMETHODIMP FlashObject::LoadMovie(int layer, BSTR url) {
  return Guard([&] {
    if (layer < 0) return E_INVALIDARG;
    std::wstring u = FromBstr(url);
    if (layer == 0) movie_ = u;
    if (u.empty()) {
      Unload(layer);
      return S_OK;
    }
    StartLoad(layer, ResolveRequest(0, u));
    return S_OK;
  });
}

FlashObject::Level* FlashObject::TargetLevel(BSTR target) const {
  std::wstring t = FromBstr(target);
  if (t.empty() || t == L"/" || t == L"_root") return FindLevel(0);
  if (t.rfind(L"_level", 0) == 0) {
    wchar_t* end = nullptr;
    long n = wcstol(t.c_str() + 6, &end, 10);
    if (end && !*end && end != t.c_str() + 6) return FindLevel(int(n));
  }
  return nullptr;
}

STDMETHODIMP FlashObject::TGotoFrame(BSTR target, long frame) {
  return Guard([&] {
    Level* level = TargetLevel(target);
    if (!level || !level->timeline) return E_FAIL;
    ActionScope scope(*this);
    level->timeline->GotoFrame(frame, false);
    if (window_) InvalidateRect(window_, nullptr, TRUE);
    return S_OK;
  });
}

STDMETHODIMP FlashObject::TCurrentFrame(BSTR target, long* frame) {
  if (!frame) return E_POINTER;
  *frame = 0;
  Level* level = TargetLevel(target);
  if (!level || !level->timeline) return E_FAIL;
  *frame = level->timeline->CurrentFrame();
  return S_OK;
}

STDMETHODIMP FlashObject::TCurrentLabel(BSTR target, BSTR* label) {
  if (!label) return E_POINTER;
  *label = nullptr;
  if (!TargetLevel(target)) return E_FAIL;
  return ReturnBstr(L"", label);  // frame labels are outside the played subset
}

STDMETHODIMP FlashObject::TPlay(BSTR target) {
  Level* level = TargetLevel(target);
  if (!level || !level->timeline) return E_FAIL;
  level->timeline->SetPlaying(true);
  return S_OK;
}

STDMETHODIMP FlashObject::TStopPlay(BSTR target) {
  Level* level = TargetLevel(target);
  if (!level || !level->timeline) return E_FAIL;
  level->timeline->SetPlaying(false);
  return S_OK;
}

STDMETHODIMP FlashObject::SetVariable(BSTR name, BSTR value) {
  return Guard([&] {
    Level* main = FindLevel(0);
    if (main && main->timeline)
      main->timeline->SetVariable(WideToUtf8(FromBstr(name)), WideToUtf8(FromBstr(value)));
    else
      pendingVariables_[FromBstr(name)] = FromBstr(value);
    return S_OK;
  });
}

STDMETHODIMP FlashObject::GetVariable(BSTR name, BSTR* value) {
  return Guard([&] {
    if (!value) return E_POINTER;
    *value = nullptr;
    Level* main = FindLevel(0);
    std::wstring v;
    if (main && main->timeline) {
      v = Utf8ToWide(main->timeline->GetVariable(WideToUtf8(FromBstr(name))));
    } else if (auto it = pendingVariables_.find(FromBstr(name)); it != pendingVariables_.end()) {
      v = it->second;
    }
    return ReturnBstr(v, value);
  });
}

STDMETHODIMP FlashObject::TGetProperty(BSTR target, int property, BSTR* value) {
  return Guard([&] {
    if (!value) return E_POINTER;
    *value = nullptr;
    Level* level = TargetLevel(target);
    if (!level || !level->timeline) return E_FAIL;
    std::wstring v = L"0";
    switch (property) {
      case 4: v = std::to_wstring(level->timeline->CurrentFrame() + 1); break;   // _currentframe
      case 5: case 12: v = std::to_wstring(level->timeline->FrameCount()); break;  // _totalframes
      case 11: v = L"/"; break;                                                  // _target
      case 13: v = L""; break;                                                   // _name
      case 15: v = level->url; break;                                            // _url
      default: break;
    }
    return ReturnBstr(v, value);
  });
}

STDMETHODIMP FlashObject::TGetPropertyNum(BSTR target, int property, double* value) {
  if (!value) return E_POINTER;
  *value = 0;
  Bstr text;
  HRESULT hr = TGetProperty(target, property, text.Out());
  if (FAILED(hr)) return hr;
  *value = wcstod(FromBstr(text.get()).c_str(), nullptr);
  return S_OK;
}

STDMETHODIMP FlashObject::get_InlineData(IUnknown** v) {
  if (v) *v = nullptr;
  return E_NOTIMPL;
}

STDMETHODIMP FlashObject::get_ProfilePort(long* v) {
  if (!v) return E_POINTER;
  *v = profilePort_;
  return S_OK;
}

STDMETHODIMP FlashObject::put_ProfilePort(long v) {
  profilePort_ = v;
  return S_OK;
}

STDMETHODIMP FlashObject::CallFunction(BSTR request, BSTR* response) {
  if (!response) return E_POINTER;
  *response = nullptr;
  // No movie of the played subset registers callbacks (ExternalInterface.addCallback).
  eventLog_.push_back(L"CallFunction(" + FromBstr(request) + L")");
  return E_FAIL;
}

STDMETHODIMP FlashObject::SetReturnValue(BSTR value) {
  return Guard([&] {
    if (!inFlashCall_) return E_FAIL;  // only an answer to a FlashCall in progress means anything
    returnValue_ = FromBstr(value);
    return S_OK;
  });
}

// ---------------------------------------------------------------------------------------------
// Report for the test surface

void FlashObject::FillReport(Report& report) const {
  report.Add(L"movie", movie_);
  report.Add(L"base", base_);
  report.Add(L"ready_state", readyState_);
  Level* main = FindLevel(0);
  report.Add(L"total_frames", main && main->timeline ? main->timeline->FrameCount() : 0);
  report.Add(L"frame", main && main->timeline ? main->timeline->CurrentFrame() : 0);
  report.Add(L"playing", main && main->timeline && main->timeline->Playing() ? 1 : 0);
  report.Add(L"bytes", main ? (long long)main->bytes : 0);
  std::vector<std::wstring> numbers;
  for (const auto& [number, level] : levels_) {
    numbers.push_back(std::to_wstring(number));
    std::wstring prefix = L"level" + std::to_wstring(number) + L"_";
    report.Add(prefix + L"url", level->url);
    report.Add(prefix + L"frame", level->timeline ? level->timeline->CurrentFrame() : 0);
    report.Add(prefix + L"frames", level->timeline ? level->timeline->FrameCount() : 0);
  }
  report.Add(L"levels", Join(numbers, L","));
  COLORREF bg = BackgroundRgb();
  wchar_t buf[16];
  wsprintfW(buf, L"%02X%02X%02X", GetRValue(bg), GetGValue(bg), GetBValue(bg));
  report.Add(L"background", buf);
  report.Add(L"window", window_ ? 1 : 0);
  report.Add(L"extent_cx", extent_.cx);
  report.Add(L"extent_cy", extent_.cy);
  report.Add(L"events", Join(eventLog_, L","));
  report.Add(L"site_calls", Join(siteCalls_, L","));
  report.Add(L"fetches", Join(fetchLog_, L"|"));
  report.Add(L"error", EscapeLineBreaks(lastError_));
}

}  // namespace standin
