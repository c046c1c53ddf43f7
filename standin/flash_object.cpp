#include "flash_object.h"

#include "module.h"

namespace standin {

namespace {

// The natural size before any extent is set: the default stage of 550 x 400 pixels.
constexpr int kDefaultWidthPx = 550, kDefaultHeightPx = 400;

int ScreenPpi(bool horizontal) {
  HDC dc = GetDC(nullptr);
  int ppi = dc ? GetDeviceCaps(dc, horizontal ? LOGPIXELSX : LOGPIXELSY) : 96;
  if (dc) ReleaseDC(nullptr, dc);
  return ppi > 0 ? ppi : 96;
}

}  // namespace

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
  messageWindow_ = CreateWindowExW(0, kPlayerWindowClass, L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                                   g_module, this);
  if (!messageWindow_) {
    ModuleRelease();
    throw HResultError(HRESULT_FROM_WIN32(GetLastError()));
  }
  player_.SetMessageWindow(messageWindow_);
}

FlashObject::~FlashObject() {
#ifdef STANDIN_TEST_SURFACE
  closingWorker_.reset();
#endif
  player_.CancelFetches();
  // Windows can only be destroyed by their own thread.
  std::function<HRESULT()> destroy = [this] {
    if (window_) DestroyWindow(window_);
    window_ = nullptr;
    HWND messageWindow = messageWindow_;
    messageWindow_ = nullptr;
    DestroyWindow(messageWindow);
    return S_OK;
  };
  if (GetCurrentThreadId() == ownerThread_)
    destroy();
  else
    SendMessageW(messageWindow_, kMsgRun, 1, LPARAM(&destroy));
  if (ownsThread_) PostThreadMessageW(ownerThread_, WM_QUIT, 0, 0);
  ModuleRelease();
}

STDMETHODIMP FlashObject::QueryInterface(REFIID riid, void** ppv) {
  if (!ppv) return E_POINTER;
  *ppv = nullptr;
  if (riid == IID_IUnknown || riid == IID_IOleObject)
    *ppv = static_cast<IOleObject*>(this);
  else if (riid == IID_IOleControl)
    *ppv = static_cast<IOleControl*>(this);
  else if (riid == IID_IOleWindow || riid == IID_IOleInPlaceObject)
    *ppv = static_cast<IOleInPlaceObject*>(this);
  else if (riid == IID_IOleInPlaceActiveObject)
    *ppv = static_cast<IOleInPlaceActiveObject*>(this);
  else if (riid == IID_IConnectionPointContainer)
    *ppv = static_cast<IConnectionPointContainer*>(this);
  else if (riid == IID_IPerPropertyBrowsing)
    *ppv = static_cast<IPerPropertyBrowsing*>(this);
  else if (riid == IID_IProvideClassInfo || riid == IID_IProvideClassInfo2)
    *ppv = static_cast<IProvideClassInfo2*>(this);
  else if (riid == IID_IDispatch || riid == kIidShockwaveFlash)
    *ppv = static_cast<IShockwaveFlash*>(this);
#ifdef STANDIN_TEST_SURFACE
  else if (riid == IID_IStandInTestSurface)
    return CreateTestSurface(this, riid, ppv);
#endif
  else
    return E_NOINTERFACE;
  AddRef();
  return S_OK;
}

STDMETHODIMP_(ULONG) FlashObject::AddRef() { return InterlockedIncrement(&refs_); }

STDMETHODIMP_(ULONG) FlashObject::Release() {
  LONG n = InterlockedDecrement(&refs_);
  if (n == 0) delete this;
  return n;
}

HRESULT FlashObject::RunOnOwnerThread(const std::function<HRESULT()>& work) {
  if (GetCurrentThreadId() == ownerThread_) return work();
  std::function<HRESULT()> copy = work;
  return HRESULT(SendMessageW(messageWindow_, kMsgRun, 1, LPARAM(&copy)));
}

void FlashObject::LogSite(const wchar_t* call) { siteCalls_.Add(call); }

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

STDMETHODIMP FlashObject::DoVerb(LONG verb, LPMSG, IOleClientSite* site, LONG, HWND, LPCRECT pos) {
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
    window_ =
        CreateWindowExW(0, kPlayerWindowClass, L"", WS_CHILD | WS_VISIBLE | WS_CLIPSIBLINGS, r.left,
                        r.top, r.right - r.left, r.bottom - r.top, parent, nullptr, g_module, this);
    if (!window_) {
      player_.SetLastError(L"CreateWindowExW failed");
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
    // The active object takes the keyboard, as the movie's keys are meant for it.
    if (window_ && IsWindowVisible(window_) && GetFocus() != window_) SetFocus(window_);
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
  if (riid == kDiidShockwaveFlashEvents)
    *cp = &events_;
  else if (riid == IID_IPropertyNotifySink)
    *cp = &propertyNotify_;
  else
    return CONNECT_E_NOCONNECTION;
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

}  // namespace standin
