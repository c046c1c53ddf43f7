#include "flashhost/flash_player_control.h"

#include <ole2.h>
#include <olectl.h>

#include <algorithm>
#include <cmath>
#include <utility>

#include "content/content_manager.h"
#include "core/error.h"
#include "core/text.h"
#include "core/win32.h"
#include "runtime/code_provider.h"

namespace pageturn {

namespace {

constexpr int kHimetricPerInch = 2540;
constexpr RECT kClipRect = {0, 0, 32767, 32767};
constexpr LONG kVerbInPlaceActivate = OLEIVERB_INPLACEACTIVATE;  // -5
constexpr LONG kVerbUIActivate = OLEIVERB_UIACTIVATE;            // -4
// What the key messages reflected to the object's window carry as their point: no real point.
constexpr LONG kReflectedKeyPoint = 0x115DE1F1;
// The framework reflects onto CN_BASE, OLE controls expect OCM_BASE (0x2000).
constexpr UINT kReflectionShift = CN_BASE - 0x2000;  // 0x9C00

// The clamped runtime versions through which a member is reached, as bit sets.
using TVersions = unsigned;
constexpr TVersions kV3to8 = 0x1F8;
constexpr TVersions kSWRemoteVersions = (1u << 4) | (1u << 5) | (1u << 7) | (1u << 8);
constexpr TVersions kStackingVersions = 1u << 5;
constexpr TVersions kLateVersions = (1u << 7) | (1u << 8);

bool Allows(TVersions versions, int clamped) {
  return clamped >= 0 && clamped <= 8 && ((versions >> clamped) & 1u) != 0;
}

// A BSTR made for one call, freed after it.
class TBStr {
 public:
  explicit TBStr(const std::wstring& text)
      : text_(::SysAllocStringLen(text.data(), static_cast<UINT>(text.size()))) {
    if (!text_) throw std::bad_alloc();
  }
  ~TBStr() { ::SysFreeString(text_); }
  TBStr(const TBStr&) = delete;
  TBStr& operator=(const TBStr&) = delete;
  operator BSTR() const { return text_; }

 private:
  BSTR text_;
};

// A BSTR the runtime returns, freed on every path.
class TBStrResult {
 public:
  TBStrResult() = default;
  ~TBStrResult() { ::SysFreeString(text_); }
  TBStrResult(const TBStrResult&) = delete;
  TBStrResult& operator=(const TBStrResult&) = delete;
  BSTR* Out() { return &text_; }
  std::wstring Text() const {
    return text_ ? std::wstring(text_, ::SysStringLen(text_)) : std::wstring();
  }

 private:
  BSTR text_ = nullptr;
};

WordBool Normalised(WordBool value) { return value ? -1 : 0; }

// An argument of an event by its slot: the runtime passes them in reverse declaration order.
// A slot the runtime did not send reads as empty or 0; an integer is the 32-bit payload of
// whatever variant came.
const VARIANT* Argument(const DISPPARAMS* params, UINT slot) {
  if (!params || !params->rgvarg || slot >= params->cArgs) return nullptr;
  return &params->rgvarg[slot];
}
int IntegerArgument(const DISPPARAMS* params, UINT slot) {
  const VARIANT* v = Argument(params, slot);
  return v ? static_cast<int>(v->lVal) : 0;
}
// Only a string variant is read as one: any other payload taken for a BSTR would be a wild
// pointer.
std::wstring StringArgument(const DISPPARAMS* params, UINT slot) {
  const VARIANT* v = Argument(params, slot);
  if (!v || v->vt != VT_BSTR || !v->bstrVal) return std::wstring();
  return std::wstring(v->bstrVal);  // up to the first NUL
}

void SetBoolResult(VARIANT* result, bool value) {
  result->vt = VT_BOOL;
  result->boolVal = value ? VARIANT_TRUE : VARIANT_FALSE;
}
void SetI4Result(VARIANT* result, LONG value) {
  result->vt = VT_I4;
  result->lVal = value;
}

}  // namespace

// ---- TFlashPlayerControlLink: what the content manager holds of a control

// The content manager and its fake-handle records keep this object, not the control, and call
// it from binding threads, possibly after the control is gone. The control cuts it loose first
// thing on destruction; from then on every call answers as if no handler were assigned. A handler
// is copied under the lock and run outside it, so a handler that waits for the GUI thread never
// blocks the control's destruction, and the destroyed control itself is never reached.
class TFlashPlayerControlLink final : public IFlashPlayerControlBase {
 public:
  explicit TFlashPlayerControlLink(TFlashPlayerControl* control) : control_(control) {}

  void CutLoose() noexcept {
    TLock lock(lock_);
    control_ = nullptr;
  }

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** object) override {
    if (!object) return E_POINTER;
    if (iid == IID_IUnknown || iid == IID_IFlashPlayerControlBase) {
      *object = static_cast<IFlashPlayerControlBase*>(this);
      AddRef();
      return S_OK;
    }
    *object = nullptr;
    return E_NOINTERFACE;
  }
  ULONG STDMETHODCALLTYPE AddRef() override {
    return static_cast<ULONG>(InterlockedIncrement(&refs_));
  }
  ULONG STDMETHODCALLTYPE Release() override {
    const LONG n = InterlockedDecrement(&refs_);
    if (n == 0) delete this;
    return static_cast<ULONG>(n);
  }

  // The movie setters run on the GUI thread, where the control is also destroyed.
  HRESULT STDMETHODCALLTYPE SetMovieURL(LPCWSTR url) override {
    return ComBoundary([&] {
      if (TFlashPlayerControl* control = Control()) control->SetMovie(url ? url : L"");
      return S_OK;
    });
  }
  HRESULT STDMETHODCALLTYPE LoadMovieURL(int layer, LPCWSTR url) override {
    return ComBoundary([&] {
      if (TFlashPlayerControl* control = Control()) control->LoadMovie(layer, url ? url : L"");
      return S_OK;
    });
  }
  // Asked from binding threads: the lock keeps the control alive for the getter.
  HRESULT STDMETHODCALLTYPE GetBaseURL(BSTR* baseURL) override {
    if (!baseURL) return E_POINTER;
    *baseURL = nullptr;
    return ComBoundary([&] {
      std::wstring base;
      {
        TLock lock(lock_);
        if (control_) base = control_->Base();
      }
      if (!base.empty()) {
        *baseURL = ::SysAllocStringLen(base.data(), static_cast<UINT>(base.size()));
        if (!*baseURL) return E_OUTOFMEMORY;
      }
      return S_OK;
    });
  }

  // Handler failures are not caught: they reach the content manager, which contains them.
  HRESULT STDMETHODCALLTYPE FireLoadExternalResource(LPCWSTR url, TStream* stream) override {
    TWinControl* sender = nullptr;
    auto handler = Handler(&TFlashPlayerControl::OnLoadExternalResource, sender);
    if (!handler) return S_FALSE;
    handler(sender, url ? url : L"", stream);
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE FireLoadExternalResourceEx(LPCWSTR url, TStream* stream,
                                                       bool* handled) override {
    TWinControl* sender = nullptr;
    auto handler = Handler(&TFlashPlayerControl::OnLoadExternalResourceEx, sender);
    if (!handler || !handled) return S_FALSE;
    handler(sender, url ? url : L"", stream, *handled);
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE FireLoadExternalResourceAsync(LPCWSTR path,
                                                          TStream** stream) override {
    TWinControl* sender = nullptr;
    auto handler = Handler(&TFlashPlayerControl::OnLoadExternalResourceAsync, sender);
    if (!handler || !stream) return S_FALSE;
    handler(sender, path ? path : L"", *stream);
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE FireUnloadExternalResourceAsync(TStream* stream) override {
    TWinControl* sender = nullptr;
    auto handler = Handler(&TFlashPlayerControl::OnUnloadExternalResourceAsync, sender);
    if (!handler) return S_FALSE;
    handler(sender, stream);
    return S_OK;
  }

 private:
  ~TFlashPlayerControlLink() = default;

  TFlashPlayerControl* Control() {
    TLock lock(lock_);
    return control_;
  }
  template <class Event>
  Event Handler(Event TFlashPlayerControl::*slot, TWinControl*& sender) {
    TLock lock(lock_);
    if (!control_) return Event();
    sender = control_;
    return control_->*slot;
  }

  LONG refs_ = 1;
  TCriticalSection lock_;
  TFlashPlayerControl* control_;
};

// ---- TInPlaceFrame: the control's IOleInPlaceFrame

class TFlashPlayerControl::TInPlaceFrame final : public IOleInPlaceFrame {
 public:
  explicit TInPlaceFrame(TFlashPlayerControl* control) : control_(control) {}

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** object) override {
    return control_->QueryInterface(iid, object);
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return control_->AddRef(); }
  ULONG STDMETHODCALLTYPE Release() override { return control_->Release(); }

  HRESULT STDMETHODCALLTYPE GetWindow(HWND* window) override {
    if (!window) return E_POINTER;
    return ComBoundary([&] {
      *window = control_->TopHandle();
      return S_OK;
    });
  }
  HRESULT STDMETHODCALLTYPE ContextSensitiveHelp(BOOL) override { return S_OK; }
  HRESULT STDMETHODCALLTYPE GetBorder(LPRECT) override { return INPLACE_E_NOTOOLSPACE; }
  HRESULT STDMETHODCALLTYPE RequestBorderSpace(LPCBORDERWIDTHS) override {
    return INPLACE_E_NOTOOLSPACE;
  }
  HRESULT STDMETHODCALLTYPE SetBorderSpace(LPCBORDERWIDTHS) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE SetActiveObject(IOleInPlaceActiveObject*, LPCOLESTR) override {
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE InsertMenus(HMENU shared, LPOLEMENUGROUPWIDTHS widths) override {
    return ComBoundary([&] {
      TMainMenu* menu = control_->FindMergeMenu();
      if (menu && widths) {
        static constexpr int kContainerGroups[] = {0, 2, 4};  // file, container, window
        menu->PopulateOle2Menu(shared, kContainerGroups, 3, widths->width);
      }
      return S_OK;
    });
  }
  HRESULT STDMETHODCALLTYPE SetMenu(HMENU shared, HOLEMENU descriptor,
                                    HWND activeObject) override {
    return ComBoundary([&] {
      TMainMenu* menu = control_->FindMergeMenu();
      if (!menu) return S_OK;
      menu->SetOle2MenuHandle(shared);
      return ::OleSetMenuDescriptor(descriptor, menu->WindowHandle(), activeObject, nullptr,
                                    nullptr);
    });
  }
  HRESULT STDMETHODCALLTYPE RemoveMenus(HMENU shared) override {
    while (::GetMenuItemCount(shared) > 0) ::RemoveMenu(shared, 0, MF_BYPOSITION);
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE SetStatusText(LPCOLESTR) override { return S_OK; }
  HRESULT STDMETHODCALLTYPE EnableModeless(BOOL) override { return S_OK; }
  HRESULT STDMETHODCALLTYPE TranslateAccelerator(LPMSG, WORD) override { return S_FALSE; }

 private:
  TFlashPlayerControl* control_;
};

// ---- construction and destruction

TFlashPlayerControl::TFlashPlayerControl(TWinControl* owner)
    : TWinControl(owner),
      frame_(std::make_unique<TInPlaceFrame>(this)),
      link_(Adopt(new TFlashPlayerControlLink(this))) {
  SetBounds(Left(), Top(), 100, 100);
  InstallMessageHandlers();
  if (!CodeProvider) return;
  void* object = nullptr;
  CodeProvider->CreateFlashObject(IID_IOleObject, &object);  // success is an object coming back
  oleObject_ = Adopt(static_cast<IOleObject*>(object));
  if (!oleObject_) return;
  try {
    OleCheck(oleObject_->SetClientSite(this));
    SetControlStyle((ControlStyle() | csDoubleClicks | csNoStdEvents) & ~csAcceptsControls);
    SetTabStop(true);
    OleCheck(RequestNewObjectLayout());
    ComPtr<IConnectionPointContainer> container;
    if (SUCCEEDED(oleObject_->QueryInterface(IID_IConnectionPointContainer,
                                             reinterpret_cast<void**>(container.GetAddressOf()))) &&
        container &&
        SUCCEEDED(container->FindConnectionPoint(DIID_IShockwaveFlashEvents,
                                                 eventsConnectionPoint_.GetAddressOf())) &&
        eventsConnectionPoint_ &&
        SUCCEEDED(eventsConnectionPoint_->Advise(static_cast<IDispatch*>(this), &eventsCookie_)))
      eventsAdvised_ = true;
  } catch (...) {
    // The destructor will not run: leave nothing of this control with the object.
    ReleaseRuntimeObject();
    link_->CutLoose();
    throw;
  }
}

TFlashPlayerControl::~TFlashPlayerControl() {
  if (ContentManager) ContentManager->UnregisterControl(link_.Get());
  link_->CutLoose();
  // The object's window is given back before the object is closed, so the closing object's
  // messages never pass through a control that is half gone.
  if (adopted_) {
    DetachWindow();
    adopted_ = false;
  }
  ReleaseRuntimeObject();
  DestroyComponents();
  DestroyHandle();
}

void TFlashPlayerControl::ReleaseRuntimeObject() noexcept {
  Boundary(0, [&] {
    if (eventsAdvised_ && eventsConnectionPoint_) eventsConnectionPoint_->Unadvise(eventsCookie_);
    eventsAdvised_ = false;
    eventsConnectionPoint_.Reset();
    MarkUiActive(false);
    if (oleObject_) oleObject_->Close(OLECLOSE_NOSAVE);
    DisconnectRuntimeObject();
    // Forgotten before the last calls, which the object may answer by calling this site again.
    ComPtr<IOleObject> object = std::move(oleObject_);
    inPlaceActiveObject_.Reset();
    inPlaceObject_.Reset();
    if (object) object->SetClientSite(nullptr);
    return 0;
  });
}

// ---- connection

void TFlashPlayerControl::EnsureClientSite() {
  IOleClientSite* site = nullptr;
  HRESULT hr = E_FAIL;
  try {
    hr = oleObject_->GetClientSite(&site);
  } catch (...) {
    hr = E_FAIL;
  }
  const ComPtr<IOleClientSite> held = Adopt(site);
  if (FAILED(hr) || !site) OleCheck(oleObject_->SetClientSite(this));
}

void TFlashPlayerControl::ConnectRuntimeObject() {
  if (oleControl_) return;
  try {
    EnsureClientSite();
    OleCheck(oleObject_->QueryInterface(IID_IOleControl,
                                        reinterpret_cast<void**>(oleControl_.GetAddressOf())));
    OleCheck(oleObject_->QueryInterface(IID_IDispatch,
                                        reinterpret_cast<void**>(objectDispatch_.GetAddressOf())));
    oleObject_->QueryInterface(IID_IPerPropertyBrowsing,
                               reinterpret_cast<void**>(propertyBrowsing_.GetAddressOf()));
    propertyNotifyCookie_ = 0;
    ComPtr<IConnectionPointContainer> container;
    ComPtr<IConnectionPoint> point;
    if (SUCCEEDED(oleObject_->QueryInterface(IID_IConnectionPointContainer,
                                             reinterpret_cast<void**>(container.GetAddressOf()))) &&
        container &&
        SUCCEEDED(container->FindConnectionPoint(IID_IPropertyNotifySink, point.GetAddressOf())) &&
        point) {
      DWORD cookie = 0;
      if (SUCCEEDED(point->Advise(static_cast<IPropertyNotifySink*>(this), &cookie)))
        propertyNotifyCookie_ = cookie;
    }
    if (oleControl_) oleControl_->OnAmbientPropertyChange(DISPID_UNKNOWN);
    RequestNewObjectLayout();
  } catch (...) {
    DisconnectRuntimeObject();
    throw;
  }
}

void TFlashPlayerControl::DisconnectRuntimeObject() noexcept {
  if (!oleObject_) return;
  Boundary(0, [&] {
    if (propertyNotifyCookie_ != 0) {
      ComPtr<IConnectionPointContainer> container;
      ComPtr<IConnectionPoint> point;
      if (SUCCEEDED(oleObject_->QueryInterface(
              IID_IConnectionPointContainer, reinterpret_cast<void**>(container.GetAddressOf()))) &&
          container &&
          SUCCEEDED(container->FindConnectionPoint(IID_IPropertyNotifySink,
                                                   point.GetAddressOf())) &&
          point && point->Unadvise(propertyNotifyCookie_) == S_OK)
        propertyNotifyCookie_ = 0;
    }
    return 0;
  });
  propertyBrowsing_.Reset();
  objectDispatch_.Reset();
  oleControl_.Reset();
}

// ---- window

HWND TFlashPlayerControl::ParentHandle() {
  return Parent() ? Parent()->Handle() : nullptr;
}

HWND TFlashPlayerControl::TopHandle() {
  TWinControl* top = this;
  while (top->Parent()) top = top->Parent();
  if (top == this) return HandleAllocated() ? Handle() : nullptr;
  return top->Handle();
}

RECT TFlashPlayerControl::ParentBoundsRect() { return BoundsRect(); }

void TFlashPlayerControl::CreateWnd() {
  if (!oleObject_) {
    TWinControl::CreateWnd();
    return;
  }
  try {
    ConnectRuntimeObject();
    RECT bounds = ParentBoundsRect();
    oleObject_->DoVerb(kVerbInPlaceActivate, nullptr, this, 0, ParentHandle(), &bounds);
    if (!inPlaceObject_) throw OleError(E_FAIL, "OLE control activation failed");
    HookObjectWindow();
    if (!Visible() && HandleAllocated() && ::IsWindowVisible(Handle()))
      ::ShowWindow(Handle(), SW_HIDE);
  } catch (...) {
    // A runtime that cannot be activated leaves a plain control behind, so the window that
    // holds it stays usable; the caller still learns why.
    if (adopted_) {
      DetachWindow();
      adopted_ = false;
    }
    ReleaseRuntimeObject();
    TWinControl::CreateWnd();
    throw;
  }
}

void TFlashPlayerControl::HookObjectWindow() {
  if (!inPlaceObject_ || HandleAllocated()) return;
  HWND window = nullptr;
  inPlaceObject_->GetWindow(&window);
  if (!window) throw OleError(E_FAIL, "Could not obtain OLE control window handle");
  AttachWindow(window);
  adopted_ = true;
}

void TFlashPlayerControl::DestroyWnd() {
  if (!adopted_) {
    TWinControl::DestroyWnd();
    return;
  }
  DetachWindow();
  adopted_ = false;
  if (oleObject_) oleObject_->Close(OLECLOSE_NOSAVE);
}

void TFlashPlayerControl::SetBounds(int left, int top, int width, int height) {
  if (oleObject_) {
    const int currentWidth = Width(), currentHeight = Height();
    if ((width != currentWidth && currentWidth > 0) ||
        (height != currentHeight && currentHeight > 0)) {
      const int ppi = ScreenPixelsPerInch();
      SIZEL extent = {::MulDiv(width, kHimetricPerInch, ppi),
                      ::MulDiv(height, kHimetricPerInch, ppi)};
      if (oleObject_->SetExtent(DVASPECT_CONTENT, &extent) != S_OK) {
        width = currentWidth;
        height = currentHeight;
      }
    }
  }
  TWinControl::SetBounds(left, top, width, height);
}

void TFlashPlayerControl::SetParent(TWinControl* parent) {
  TWinControl::SetParent(parent);
  if (!oleObject_ || !parent) return;
  EnsureClientSite();
  if (oleControl_) oleControl_->OnAmbientPropertyChange(DISPID_UNKNOWN);
}

void TFlashPlayerControl::MarkUiActive(bool active) {
  TForm* form = GetParentForm(this);
  if (!form) return;
  if (active) {
    if (form->ActiveOleControl && form->ActiveOleControl != this)
      form->ActiveOleControl->Perform(CM_UIDEACTIVATE, 0, 0);
    form->ActiveOleControl = this;
  } else if (form->ActiveOleControl == this) {
    form->ActiveOleControl = nullptr;
  }
}

void TFlashPlayerControl::ApplyInPlaceActivate() {
  RECT bounds = ParentBoundsRect();
  oleObject_->DoVerb(kVerbInPlaceActivate, nullptr, this, 0, ParentHandle(), &bounds);
}

void TFlashPlayerControl::WndProc(TMessage& message) {
  if (!oleObject_) {
    TWinControl::WndProc(message);
    return;
  }
  const UINT msg = message.Msg;
  if (msg == WM_KEYDOWN && message.WParam == VK_APPS) {
    if (PopupMenu()) {
      message.Result = Perform(WM_CONTEXTMENU, message.WParam, static_cast<LPARAM>(0xFFFFFFFF));
      return;
    }
    if (!StandartMenu) return;  // the object's own menu stays shut
  }
  if (!DesignMode() && msg == WM_RBUTTONUP) {
    POINT at = {static_cast<LONG>(LOWORD(message.LParam)),
                static_cast<LONG>(HIWORD(message.LParam))};
    at = ClientToScreen(at);
    message.Result = Perform(WM_CONTEXTMENU, message.WParam,
                             MAKELPARAM(static_cast<WORD>(at.x), static_cast<WORD>(at.y)));
    return;
  }
  if (msg >= CN_BASE + WM_KEYFIRST && msg <= CN_BASE + WM_KEYLAST && inPlaceActiveObject_) {
    MSG keyMessage = {};
    keyMessage.hwnd = HandleAllocated() ? Handle() : nullptr;
    keyMessage.message = msg - CN_BASE;
    keyMessage.wParam = message.WParam;
    keyMessage.lParam = message.LParam;
    keyMessage.time = static_cast<DWORD>(::GetMessageTime());
    keyMessage.pt.x = keyMessage.pt.y = kReflectedKeyPoint;
    if (inPlaceActiveObject_->TranslateAccelerator(&keyMessage) == S_OK) {
      message.Result = 1;
      return;
    }
  }
  if (msg == CM_PARENTFONTCHANGED && ParentFont() && oleControl_) {
    oleControl_->OnAmbientPropertyChange(DISPID_AMBIENT_FONT);
    oleControl_->OnAmbientPropertyChange(DISPID_AMBIENT_FORECOLOR);
  } else if (msg == CM_PARENTCOLORCHANGED && ParentColor() && oleControl_) {
    oleControl_->OnAmbientPropertyChange(DISPID_AMBIENT_BACKCOLOR);
  }
  TWinControl::WndProc(message);
}

void TFlashPlayerControl::DefaultHandler(TMessage& message) {
  if (!oleObject_ || !HandleAllocated()) {
    TWinControl::DefaultHandler(message);
    return;
  }
  try {
    if (message.Msg == WM_SIZE) {
      ApplyInPlaceActivate();
      return;
    }
    UINT msg = message.Msg;
    if (msg >= CN_BASE && msg < 0xC000) msg -= kReflectionShift;
    message.Result =
        ::CallWindowProcA(DefWndProc(), Handle(), msg, message.WParam, message.LParam);
  } catch (...) {
    // Whatever goes wrong on the way to the object's window stays here; the result is kept.
  }
}

bool TFlashPlayerControl::PaletteChanged(bool foreground) {
  if (HandleAllocated() && adopted_ && foreground &&
      ::CallWindowProcA(DefWndProc(), Handle(), WM_QUERYNEWPALETTE, 0, 0) != 0)
    return true;
  return TWinControl::PaletteChanged(foreground);
}

void TFlashPlayerControl::InstallMessageHandlers() {
  SetMessageHandler(WM_PAINT, [this](TMessage& m) {
    if (oleObject_) {
      DefaultHandler(m);
      return;
    }
    const RECT client = ClientRect();
    if (m.WParam) {
      ::FillRect(reinterpret_cast<HDC>(m.WParam), &client, ::GetSysColorBrush(COLOR_WINDOW));
      return;
    }
    PAINTSTRUCT paint;
    const HDC dc = ::BeginPaint(Handle(), &paint);
    if (dc) ::FillRect(dc, &client, ::GetSysColorBrush(COLOR_WINDOW));
    ::EndPaint(Handle(), &paint);
  });
  SetMessageHandler(WM_ERASEBKGND, [this](TMessage& m) { DefaultHandler(m); });

  ChainMessageHandler(CM_DIALOGKEY, [this](TMessage& m, const TMessageHandler& inherited) {
    if (!oleObject_) return;  // not passed on
    if (CanFocus() && oleControl_ && HandleAllocated()) {
      CONTROLINFO info = {};
      info.cb = 16;
      if (oleControl_->GetControlInfo(&info) == S_OK && info.cAccel != 0) {
        MSG key = {};
        key.hwnd = Handle();
        key.message = WM_KEYDOWN;
        key.wParam = m.WParam;
        key.lParam = m.LParam;
        WORD command = 0;
        if (::IsAccelerator(info.hAccel, info.cAccel, &key, &command)) {
          oleControl_->OnMnemonic(&key);
          m.Result = 1;
          return;
        }
      }
    }
    inherited(m);
  });
  ChainMessageHandler(CM_UIACTIVATE, [this](TMessage& m, const TMessageHandler& inherited) {
    if (!oleObject_) return inherited(m);
    TForm* form = GetParentForm(this);
    if (form && form->ActiveOleControl == this) return;
    RECT bounds = ParentBoundsRect();
    oleObject_->DoVerb(kVerbUIActivate, nullptr, this, 0, ParentHandle(), &bounds);
  });
  ChainMessageHandler(CM_UIDEACTIVATE, [this](TMessage& m, const TMessageHandler& inherited) {
    if (!oleObject_) return inherited(m);
    TForm* form = GetParentForm(this);
    if (form && form->ActiveOleControl != this) return;
    if (inPlaceObject_) inPlaceObject_->UIDeactivate();
    if (form && form->ActiveControl() == this) OnUIDeactivate(FALSE);
  });
  ChainMessageHandler(CM_DOCWINDOWACTIVATE, [this](TMessage& m, const TMessageHandler& inherited) {
    TForm* form = GetParentForm(this);
    if (!oleObject_ || !form || !form->IsMDIChild()) return inherited(m);
    if (inPlaceActiveObject_) inPlaceActiveObject_->OnDocWindowActivate(m.WParam != 0);
    if (m.WParam == 0) frame_->SetMenu(nullptr, nullptr, nullptr);
  });

  for (UINT msg : {WM_LBUTTONDOWN, WM_RBUTTONDOWN, WM_MBUTTONDOWN, WM_LBUTTONDBLCLK,
                   WM_RBUTTONDBLCLK, WM_MBUTTONDBLCLK, WM_MOUSEMOVE, WM_LBUTTONUP, WM_RBUTTONUP,
                   WM_MBUTTONUP})
    ChainMessageHandler(msg, [this](TMessage& m, const TMessageHandler& inherited) {
      MouseMessage(m, inherited);
    });
}

void TFlashPlayerControl::MouseMessage(TMessage& m, const TMessageHandler& base) {
  if (!oleObject_) {
    base(m);  // the framework raises the standard events itself
    return;
  }
  const int x = static_cast<short>(LOWORD(m.LParam)), y = static_cast<short>(HIWORD(m.LParam));
  const TShiftState shift = KeysToShiftState(m.WParam);
  using B = TMouseButton;
  switch (m.Msg) {
    case WM_LBUTTONDOWN:
      SendCancelMode();
      base(m);
      MouseDown(B::mbLeft, shift, x, y);
      break;
    case WM_RBUTTONDOWN:
      if (StandartMenu) base(m);
      MouseDown(B::mbRight, shift, x, y);
      break;
    case WM_MBUTTONDOWN:
      MouseDown(B::mbMiddle, shift, x, y);
      base(m);
      break;
    case WM_LBUTTONDBLCLK:
      SendCancelMode();
      base(m);
      if (HandleAllocated()) ::SetCapture(Handle());
      DblClick();
      MouseDown(B::mbLeft, shift | ssDouble, x, y);
      break;
    case WM_RBUTTONDBLCLK:
      base(m);
      MouseDown(B::mbRight, shift | ssDouble, x, y);
      break;
    case WM_MBUTTONDBLCLK:
      base(m);
      MouseDown(B::mbMiddle, shift | ssDouble, x, y);
      break;
    case WM_MOUSEMOVE:
      base(m);
      MouseMove(shift, x, y);
      break;
    case WM_LBUTTONUP: {
      base(m);
      ::ReleaseCapture();
      const RECT client = ClientRect();
      if (x >= client.left && x < client.right && y >= client.top && y < client.bottom) Click();
      MouseUp(B::mbLeft, shift, x, y);
      break;
    }
    case WM_RBUTTONUP:
      base(m);
      MouseUp(B::mbRight, shift, x, y);
      break;
    case WM_MBUTTONUP:
      base(m);
      MouseUp(B::mbMiddle, shift, x, y);
      break;
    default:
      base(m);
      break;
  }
}

// ---- versions and the runtime's interface

std::uint32_t TFlashPlayerControl::RuntimeFileVersion() {
  return CodeProvider ? CodeProvider->RuntimeVersion : 0;
}

ComPtr<IShockwaveFlash> TFlashPlayerControl::Flash() {
  if (!oleObject_) throw OleError(E_NOINTERFACE);
  ComPtr<IShockwaveFlash> flash;
  OleCheck(oleObject_->QueryInterface(IID_IShockwaveFlash,
                                      reinterpret_cast<void**>(flash.GetAddressOf())));
  if (!flash) throw OleError(E_NOINTERFACE);
  return flash;
}

int TFlashPlayerControl::FlashMajorVersion() {
  if (!oleObject_) return -1;
  return (FlashVersion() >> 16) & 0xFF;
}

int TFlashPlayerControl::ClampedVersion() { return std::min(FlashMajorVersion(), 8); }

bool TFlashPlayerControl::MethodAllowed(int lowest) {
  if (!oleObject_) return false;
  return ClampedVersion() >= lowest;
}

// ---- property accessors: caches, gates, discarded failures

template <class T, class Get>
T TFlashPlayerControl::GetValue(const T& cached, TVersions versions, Get get) {
  T result = cached;
  if (!oleObject_) return result;
  try {
    const int version = ClampedVersion();
    if (Allows(versions, version)) {
      ComPtr<IShockwaveFlash> flash = Flash();
      T live{};
      OleCheck(get(flash.Get(), version, &live));
      result = live;
    }
  } catch (...) {
  }
  return result;
}

template <class Get>
std::wstring TFlashPlayerControl::GetText(const std::wstring& cached, TVersions versions, Get get) {
  std::wstring result = cached;
  if (!oleObject_) return result;
  try {
    const int version = ClampedVersion();
    if (Allows(versions, version)) {
      result.clear();
      ComPtr<IShockwaveFlash> flash = Flash();
      TBStrResult text;
      OleCheck(get(flash.Get(), version, text.Out()));
      result = text.Text();
    }
  } catch (...) {
  }
  return result;
}

template <class Put>
void TFlashPlayerControl::PutValue(TVersions versions, Put put) {
  if (!oleObject_) return;
  try {
    const int version = ClampedVersion();
    if (Allows(versions, version)) {
      ComPtr<IShockwaveFlash> flash = Flash();
      put(flash.Get(), version);
    }
  } catch (...) {
  }
}

// The three accessor shapes, one line per property below.
#define PAGETURN_INT_PROPERTY(Name, field, member, Type)                                 \
  int TFlashPlayerControl::Name() {                                                      \
    return static_cast<int>(GetValue<Type>(static_cast<Type>(cache_.field), kV3to8,      \
                                           [](IShockwaveFlash* f, int, Type* v) {        \
                                             return f->get_##member(v);                  \
                                           }));                                          \
  }                                                                                      \
  void TFlashPlayerControl::Set##Name(int value) {                                       \
    cache_.field = value;                                                                \
    PutValue(kV3to8, [&](IShockwaveFlash* f, int) { f->put_##member(value); });          \
  }
#define PAGETURN_BOOL_PROPERTY(Name, field, member)                                      \
  WordBool TFlashPlayerControl::Name() {                                                 \
    return GetValue<VARIANT_BOOL>(cache_.field, kV3to8,                                  \
                                  [](IShockwaveFlash* f, int, VARIANT_BOOL* v) {         \
                                    return f->get_##member(v);                           \
                                  });                                                    \
  }                                                                                      \
  void TFlashPlayerControl::Set##Name(WordBool value) {                                  \
    cache_.field = Normalised(value);                                                    \
    PutValue(kV3to8, [&](IShockwaveFlash* f, int) { f->put_##member(cache_.field); });   \
  }
#define PAGETURN_TEXT_PROPERTY(Name, field, member, versions)                            \
  std::wstring TFlashPlayerControl::Name() {                                             \
    return GetText(cache_.field, versions,                                               \
                   [](IShockwaveFlash* f, int, BSTR* v) { return f->get_##member(v); }); \
  }                                                                                      \
  void TFlashPlayerControl::Set##Name(const std::wstring& value) {                       \
    cache_.field = value;                                                                \
    PutValue(versions, [&](IShockwaveFlash* f, int) {                                    \
      TBStr text(value);                                                                 \
      f->put_##member(text);                                                             \
    });                                                                                  \
  }

PAGETURN_TEXT_PROPERTY(Movie, movie, Movie, kV3to8)
PAGETURN_INT_PROPERTY(FrameNum, frameNum, FrameNum, long)
PAGETURN_INT_PROPERTY(Quality, quality, Quality, int)
PAGETURN_INT_PROPERTY(ScaleMode, scaleMode, ScaleMode, int)
PAGETURN_INT_PROPERTY(AlignMode, alignMode, AlignMode, int)
PAGETURN_INT_PROPERTY(BackgroundColor, backgroundColor, BackgroundColor, long)
PAGETURN_BOOL_PROPERTY(Loop, loop, Loop)
PAGETURN_TEXT_PROPERTY(WMode, wMode, WMode, kV3to8)
PAGETURN_TEXT_PROPERTY(SAlign, sAlign, SAlign, kV3to8)
PAGETURN_BOOL_PROPERTY(Menu, menu, Menu)
PAGETURN_TEXT_PROPERTY(Base, base, Base, kV3to8)
PAGETURN_TEXT_PROPERTY(Scale, scale, Scale, kV3to8)
PAGETURN_BOOL_PROPERTY(DeviceFont, deviceFont, DeviceFont)
PAGETURN_BOOL_PROPERTY(EmbedMovie, embedMovie, EmbedMovie)
PAGETURN_TEXT_PROPERTY(BGColor, bgColor, BGColor, kV3to8)
PAGETURN_TEXT_PROPERTY(Quality2, quality2, Quality2, kV3to8)
PAGETURN_TEXT_PROPERTY(FlashVars, flashVars, FlashVars, kLateVersions)
PAGETURN_TEXT_PROPERTY(AllowScriptAccess, allowScriptAccess, AllowScriptAccess, kLateVersions)
PAGETURN_TEXT_PROPERTY(MovieData, movieData, MovieData, kLateVersions)

#undef PAGETURN_INT_PROPERTY
#undef PAGETURN_BOOL_PROPERTY
#undef PAGETURN_TEXT_PROPERTY

int TFlashPlayerControl::ReadyState() {
  return GetValue<long>(cache_.readyState, kV3to8,
                        [](IShockwaveFlash* f, int, long* v) { return f->get_ReadyState(v); });
}

int TFlashPlayerControl::TotalFrames() {
  return GetValue<long>(cache_.totalFrames, kV3to8,
                        [](IShockwaveFlash* f, int, long* v) { return f->get_TotalFrames(v); });
}

// Playing reaches the runtime only at run time.
WordBool TFlashPlayerControl::Playing() {
  if (DesignMode()) return cache_.playing;
  return GetValue<VARIANT_BOOL>(cache_.playing, kV3to8, [](IShockwaveFlash* f, int,
                                                           VARIANT_BOOL* v) {
    return f->get_Playing(v);
  });
}

void TFlashPlayerControl::SetPlaying(WordBool value) {
  cache_.playing = Normalised(value);
  if (DesignMode()) return;
  PutValue(kV3to8, [&](IShockwaveFlash* f, int) { f->put_Playing(cache_.playing); });
}

// SWRemote sits after TGetPropertyNum on runtimes 4 and 5, after TGetPropertyAsNumber later.
std::wstring TFlashPlayerControl::SWRemote() {
  return GetText(cache_.swRemote, kSWRemoteVersions, [](IShockwaveFlash* f, int version, BSTR* v) {
    return version >= 7 ? f->get_SWRemote(v)
                        : reinterpret_cast<IShockwaveFlash5*>(f)->get_SWRemote(v);
  });
}

void TFlashPlayerControl::SetSWRemote(const std::wstring& value) {
  cache_.swRemote = value;
  PutValue(kSWRemoteVersions, [&](IShockwaveFlash* f, int version) {
    TBStr text(value);
    if (version >= 7)
      f->put_SWRemote(text);
    else
      reinterpret_cast<IShockwaveFlash5*>(f)->put_SWRemote(text);
  });
}

std::wstring TFlashPlayerControl::Stacking() {
  return GetText(cache_.stacking, kStackingVersions, [](IShockwaveFlash* f, int, BSTR* v) {
    return reinterpret_cast<IShockwaveFlash5*>(f)->get_Stacking(v);
  });
}

void TFlashPlayerControl::SetStacking(const std::wstring& value) {
  cache_.stacking = value;
  PutValue(kStackingVersions, [&](IShockwaveFlash* f, int) {
    TBStr text(value);
    reinterpret_cast<IShockwaveFlash5*>(f)->put_Stacking(text);
  });
}

// Gated by the module version of the loaded runtime, not by FlashVersion.
WordBool TFlashPlayerControl::AllowFullscreen() {
  WordBool result = cache_.allowFullscreen;
  if (!oleObject_ || RuntimeFileVersion() < AllowFullscreenModuleVersion) return result;
  try {
    ComPtr<IShockwaveFlash> flash = Flash();
    TBStrResult text;
    OleCheck(flash->get_AllowFullScreen(text.Out()));
    result = text.Text() == L"true" ? -1 : 0;
  } catch (...) {
  }
  return result;
}

void TFlashPlayerControl::SetAllowFullscreen(WordBool value) {
  cache_.allowFullscreen = value;  // kept as given
  if (!oleObject_ || RuntimeFileVersion() < AllowFullscreenModuleVersion) return;
  try {
    ComPtr<IShockwaveFlash> flash = Flash();
    TBStr text(value ? L"true" : L"false");
    flash->put_AllowFullScreen(text);
  } catch (...) {
  }
}

// ---- method wrappers: gated, failures raised

void TFlashPlayerControl::SetZoomRect(int left, int top, int right, int bottom) {
  if (MethodAllowed(3)) OleCheck(Flash()->SetZoomRect(left, top, right, bottom));
}
void TFlashPlayerControl::Zoom(int factor) {
  if (MethodAllowed(3)) OleCheck(Flash()->Zoom(factor));
}
void TFlashPlayerControl::Pan(int x, int y, int mode) {
  if (MethodAllowed(3)) OleCheck(Flash()->Pan(x, y, mode));
}
void TFlashPlayerControl::Play() {
  if (MethodAllowed(3)) OleCheck(Flash()->Play());
}
void TFlashPlayerControl::Stop() {
  if (MethodAllowed(3)) OleCheck(Flash()->Stop());
}
void TFlashPlayerControl::Back() {
  if (MethodAllowed(3)) OleCheck(Flash()->Back());
}
void TFlashPlayerControl::Forward() {
  if (MethodAllowed(3)) OleCheck(Flash()->Forward());
}
void TFlashPlayerControl::Rewind() {
  if (MethodAllowed(3)) OleCheck(Flash()->Rewind());
}
void TFlashPlayerControl::StopPlay() {
  if (MethodAllowed(3)) OleCheck(Flash()->StopPlay());
}
void TFlashPlayerControl::GotoFrame(int frameNum) {
  if (MethodAllowed(3)) OleCheck(Flash()->GotoFrame(frameNum));
}
int TFlashPlayerControl::CurrentFrame() {
  long frame = 0;
  if (MethodAllowed(3)) OleCheck(Flash()->CurrentFrame(&frame));
  return frame;
}
WordBool TFlashPlayerControl::IsPlaying() {
  VARIANT_BOOL playing = VARIANT_TRUE;
  if (MethodAllowed(3)) OleCheck(Flash()->IsPlaying(&playing));
  return playing;
}
int TFlashPlayerControl::PercentLoaded() {
  long percent = 0;
  if (MethodAllowed(3)) OleCheck(Flash()->PercentLoaded(&percent));
  return percent;
}
WordBool TFlashPlayerControl::FrameLoaded(int frameNum) {
  VARIANT_BOOL loaded = VARIANT_TRUE;
  if (MethodAllowed(3)) OleCheck(Flash()->FrameLoaded(frameNum, &loaded));
  return loaded;
}
int TFlashPlayerControl::FlashVersion() {
  long version = 0;
  OleCheck(Flash()->FlashVersion(&version));  // Flash() raises without an object
  return version;
}
void TFlashPlayerControl::LoadMovie(int layer, const std::wstring& url) {
  try {
    if (MethodAllowed(3)) Flash()->LoadMovie(layer, TBStr(url));
  } catch (...) {
    // A layer the runtime refuses is not the caller's failure.
  }
}
void TFlashPlayerControl::TGotoFrame(const std::wstring& target, int frameNum) {
  if (MethodAllowed(3)) OleCheck(Flash()->TGotoFrame(TBStr(target), frameNum));
}
void TFlashPlayerControl::TGotoLabel(const std::wstring& target, const std::wstring& label) {
  if (MethodAllowed(3)) OleCheck(Flash()->TGotoLabel(TBStr(target), TBStr(label)));
}
int TFlashPlayerControl::TCurrentFrame(const std::wstring& target) {
  long frame = 0;
  if (MethodAllowed(3)) OleCheck(Flash()->TCurrentFrame(TBStr(target), &frame));
  return frame;
}
std::wstring TFlashPlayerControl::TCurrentLabel(const std::wstring& target) {
  if (!MethodAllowed(3)) return std::wstring();
  TBStrResult label;
  OleCheck(Flash()->TCurrentLabel(TBStr(target), label.Out()));
  return label.Text();
}
void TFlashPlayerControl::TPlay(const std::wstring& target) {
  if (MethodAllowed(3)) OleCheck(Flash()->TPlay(TBStr(target)));
}
void TFlashPlayerControl::TStopPlay(const std::wstring& target) {
  if (MethodAllowed(3)) OleCheck(Flash()->TStopPlay(TBStr(target)));
}
void TFlashPlayerControl::SetVariable(const std::wstring& name, const std::wstring& value) {
  if (MethodAllowed(4)) OleCheck(Flash()->SetVariable(TBStr(name), TBStr(value)));
}
std::wstring TFlashPlayerControl::GetVariable(const std::wstring& name) {
  if (!MethodAllowed(4)) return std::wstring();
  TBStrResult value;
  OleCheck(Flash()->GetVariable(TBStr(name), value.Out()));
  return value.Text();
}
void TFlashPlayerControl::TSetProperty(const std::wstring& target, int property,
                                       const std::wstring& value) {
  if (MethodAllowed(4)) OleCheck(Flash()->TSetProperty(TBStr(target), property, TBStr(value)));
}
std::wstring TFlashPlayerControl::TGetProperty(const std::wstring& target, int property) {
  if (!MethodAllowed(4)) return std::wstring();
  TBStrResult value;
  OleCheck(Flash()->TGetProperty(TBStr(target), property, value.Out()));
  return value.Text();
}
void TFlashPlayerControl::TCallFrame(const std::wstring& target, int frameNum) {
  if (MethodAllowed(4)) OleCheck(Flash()->TCallFrame(TBStr(target), frameNum));
}
void TFlashPlayerControl::TCallLabel(const std::wstring& target, const std::wstring& label) {
  if (MethodAllowed(4)) OleCheck(Flash()->TCallLabel(TBStr(target), TBStr(label)));
}
void TFlashPlayerControl::TSetPropertyNum(const std::wstring& target, int property,
                                          double value) {
  if (MethodAllowed(4)) OleCheck(Flash()->TSetPropertyNum(TBStr(target), property, value));
}
double TFlashPlayerControl::TGetPropertyNum(const std::wstring& target, int property) {
  double value = 0.0;
  if (MethodAllowed(4)) OleCheck(Flash()->TGetPropertyNum(TBStr(target), property, &value));
  return value;
}
double TFlashPlayerControl::TGetPropertyAsNumber(const std::wstring& target, int property) {
  double value = 0.0;
  if (MethodAllowed(7))
    OleCheck(Flash()->TGetPropertyAsNumber(TBStr(target), property, &value));
  return value;
}
std::wstring TFlashPlayerControl::CallFunction(const std::wstring& request) {
  if (!MethodAllowed(8)) return std::wstring();
  TBStrResult response;
  OleCheck(Flash()->CallFunction(TBStr(request), response.Out()));
  return response.Text();
}
void TFlashPlayerControl::SetReturnValue(const std::wstring& returnValue) {
  if (MethodAllowed(8)) OleCheck(Flash()->SetReturnValue(TBStr(returnValue)));
}

// ---- movies from streams

namespace {
TContentManager& Manager() {
  if (!ContentManager) throw Error("No content manager");
  return *ContentManager;
}
}  // namespace

void TFlashPlayerControl::LoadLayerFromStream(int layer, TStream& stream) {
  Manager().LoadMovieFromStream(link_.Get(), true, stream, layer);
}
void TFlashPlayerControl::SetMovieFromStream(TStream& stream) {
  Manager().LoadMovieFromStream(link_.Get(), false, stream, -1);
}
std::unique_ptr<TStream> TFlashPlayerControl::OpenLayerStream(int layer) {
  return Manager().RegisterMovieStream(link_.Get(), true, layer);
}
std::unique_ptr<TStream> TFlashPlayerControl::OpenMovieStream() {
  return Manager().RegisterMovieStream(link_.Get(), false, -1);
}

// ---- IUnknown

HRESULT STDMETHODCALLTYPE TFlashPlayerControl::QueryInterface(REFIID iid, void** object) {
  if (!object) return E_POINTER;
  *object = nullptr;
  IUnknown* found = nullptr;
  if (iid == DIID_IShockwaveFlashEvents || iid == IID_IDispatch || iid == IID_IUnknown)
    found = static_cast<IDispatch*>(this);
  else if (iid == IID_IOleWindow || iid == IID_IOleInPlaceSite)
    found = static_cast<IOleInPlaceSite*>(this);
  else if (iid == IID_IFlashPlayerControlBase)
    found = link_.Get();
  else if (iid == IID_ISimpleFrameSite)
    found = static_cast<ISimpleFrameSite*>(this);
  else if (iid == IID_IPropertyNotifySink)
    found = static_cast<IPropertyNotifySink*>(this);
  else if (iid == IID_IOleInPlaceFrame)
    found = frame_.get();
  else if (iid == IID_IOleControlSite)
    found = static_cast<IOleControlSite*>(this);
  else if (iid == IID_IOleClientSite)
    found = static_cast<IOleClientSite*>(this);
  if (!found) return E_NOINTERFACE;
  found->AddRef();
  *object = found;
  return S_OK;
}

ULONG STDMETHODCALLTYPE TFlashPlayerControl::AddRef() {
  return static_cast<ULONG>(InterlockedIncrement(&refs_));
}
ULONG STDMETHODCALLTYPE TFlashPlayerControl::Release() {
  return static_cast<ULONG>(InterlockedDecrement(&refs_));  // the owner frees the control
}

IOleInPlaceFrame* TFlashPlayerControl::InPlaceFrame() { return frame_.get(); }

// ---- IDispatch: the runtime's events and the ambient properties

HRESULT STDMETHODCALLTYPE TFlashPlayerControl::GetTypeInfoCount(UINT* count) {
  if (count) *count = 0;
  return S_OK;
}
HRESULT STDMETHODCALLTYPE TFlashPlayerControl::GetTypeInfo(UINT, LCID, ITypeInfo** info) {
  if (info) *info = nullptr;
  return E_NOTIMPL;
}
HRESULT STDMETHODCALLTYPE TFlashPlayerControl::GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID,
                                                             DISPID*) {
  return E_NOTIMPL;
}

HRESULT STDMETHODCALLTYPE TFlashPlayerControl::Invoke(DISPID id, REFIID, LCID, WORD flags,
                                                      DISPPARAMS* params, VARIANT* result,
                                                      EXCEPINFO*, UINT*) {
  // A handler that fails is reported to the runtime as a failed call, never thrown into it.
  try {
    switch (id) {
      case DISPID_FlashReadyStateChange:
        if (OnReadyStateChange) OnReadyStateChange(this, IntegerArgument(params, 0));
        return S_OK;
      case DISPID_FlashFSCommand:
        if (OnFSCommand) OnFSCommand(this, StringArgument(params, 1), StringArgument(params, 0));
        return S_OK;
      case DISPID_FlashFlashCall:
        if (OnFlashCall) {
          const std::wstring request = StringArgument(params, 0);
          if (request.find(HostProbeId) != std::wstring::npos)
            SetReturnValue(HostProbeAnswer);
          else
            OnFlashCall(this, request);
        }
        return S_OK;
      case DISPID_FlashProgress:
        if (OnProgress) OnProgress(this, IntegerArgument(params, 0));
        return S_OK;
      default:
        if (!(flags & DISPATCH_PROPERTYGET) || !result) return DISP_E_MEMBERNOTFOUND;
        return AmbientProperty(id, result);
    }
  } catch (...) {
    return DISP_E_EXCEPTION;
  }
}

HRESULT TFlashPlayerControl::AmbientProperty(DISPID id, VARIANT* result) {
  switch (id) {
    case DISPID_AMBIENT_BACKCOLOR:
      SetI4Result(result, Color());
      return S_OK;
    case DISPID_AMBIENT_DISPLAYNAME: {
      const std::wstring name = SystemToWide(Name());
      BSTR text = ::SysAllocStringLen(name.data(), static_cast<UINT>(name.size()));
      if (!text) return E_OUTOFMEMORY;
      result->vt = VT_BSTR;
      result->bstrVal = text;
      return S_OK;
    }
    case DISPID_AMBIENT_FONT: {
      const TFont& font = Parent() && ParentFont() ? Parent()->Font() : Font();
      IDispatch* dispatch = nullptr;
      const HRESULT hr = CreateFontDispatch(font, &dispatch);
      if (FAILED(hr)) return hr;
      result->vt = VT_DISPATCH;
      result->pdispVal = dispatch;
      return S_OK;
    }
    case DISPID_AMBIENT_FORECOLOR:
      SetI4Result(result, Font().Color);
      return S_OK;
    case DISPID_AMBIENT_LOCALEID:
      SetI4Result(result, static_cast<LONG>(::GetUserDefaultLCID()));
      return S_OK;
    case DISPID_AMBIENT_MESSAGEREFLECT:
      SetBoolResult(result, true);
      return S_OK;
    case DISPID_AMBIENT_USERMODE:
      SetBoolResult(result, !DesignMode());
      return S_OK;
    case DISPID_AMBIENT_UIDEAD:
      SetBoolResult(result, DesignMode());
      return S_OK;
    case DISPID_AMBIENT_SHOWGRABHANDLES:
    case DISPID_AMBIENT_SHOWHATCHING:
      SetBoolResult(result, false);
      return S_OK;
    case DISPID_AMBIENT_SUPPORTSMNEMONICS:
    case DISPID_AMBIENT_AUTOCLIP:
      SetBoolResult(result, true);
      return S_OK;
    default:
      return DISP_E_MEMBERNOTFOUND;
  }
}

HRESULT TFlashPlayerControl::CreateFontDispatch(const TFont& font, IDispatch** dispatch) {
  const std::wstring name = SystemToWide(font.Name);
  FONTDESC description = {};
  description.cbSizeofstruct = sizeof description;
  description.lpstrName = const_cast<LPOLESTR>(name.c_str());
  // Points, in units of 1/10000: the pixel height at the screen's resolution.
  description.cySize.int64 =
      ::MulDiv(std::abs(font.Height), 72 * 10000, ScreenPixelsPerInch());
  description.sWeight = static_cast<SHORT>(font.Bold ? FW_BOLD : FW_NORMAL);
  description.sCharset = font.Charset;
  description.fItalic = font.Italic;
  description.fUnderline = font.Underline;
  description.fStrikethrough = font.StrikeOut;
  return ::OleCreateFontIndirect(&description, IID_IFontDisp, reinterpret_cast<void**>(dispatch));
}

// ---- IOleClientSite

HRESULT STDMETHODCALLTYPE TFlashPlayerControl::SaveObject() { return S_OK; }
HRESULT STDMETHODCALLTYPE TFlashPlayerControl::GetMoniker(DWORD, DWORD, IMoniker** moniker) {
  if (moniker) *moniker = nullptr;
  return E_NOTIMPL;
}
HRESULT STDMETHODCALLTYPE TFlashPlayerControl::GetContainer(IOleContainer** container) {
  if (container) *container = nullptr;
  return E_NOINTERFACE;
}
// An object without a window is reported by the window creation that asked it to activate.
HRESULT STDMETHODCALLTYPE TFlashPlayerControl::ShowObject() {
  Boundary(0, [&] {
    HookObjectWindow();
    return 0;
  });
  return S_OK;
}
HRESULT STDMETHODCALLTYPE TFlashPlayerControl::OnShowWindow(BOOL) { return S_OK; }
HRESULT STDMETHODCALLTYPE TFlashPlayerControl::RequestNewObjectLayout() {
  return ComBoundary([&] {
    if (!oleObject_) return E_FAIL;
    SIZEL extent = {0, 0};
    const HRESULT hr = oleObject_->GetExtent(DVASPECT_CONTENT, &extent);
    if (FAILED(hr)) return hr;
    const int ppi = ScreenPixelsPerInch();
    SetBounds(Left(), Top(), ::MulDiv(extent.cx, ppi, kHimetricPerInch),
              ::MulDiv(extent.cy, ppi, kHimetricPerInch));
    return S_OK;
  });
}

// ---- IOleWindow, IOleInPlaceSite

HRESULT STDMETHODCALLTYPE TFlashPlayerControl::GetWindow(HWND* window) {
  if (!window) return E_POINTER;
  *window = nullptr;
  return ComBoundary([&] {
    *window = ParentHandle();
    return *window ? S_OK : E_FAIL;
  });
}
HRESULT STDMETHODCALLTYPE TFlashPlayerControl::ContextSensitiveHelp(BOOL) { return S_OK; }
HRESULT STDMETHODCALLTYPE TFlashPlayerControl::CanInPlaceActivate() { return S_OK; }
HRESULT STDMETHODCALLTYPE TFlashPlayerControl::OnInPlaceActivate() {
  if (!oleObject_) return S_OK;
  inPlaceObject_.Reset();
  inPlaceActiveObject_.Reset();
  oleObject_->QueryInterface(IID_IOleInPlaceObject,
                             reinterpret_cast<void**>(inPlaceObject_.GetAddressOf()));
  oleObject_->QueryInterface(IID_IOleInPlaceActiveObject,
                             reinterpret_cast<void**>(inPlaceActiveObject_.GetAddressOf()));
  return S_OK;
}
HRESULT STDMETHODCALLTYPE TFlashPlayerControl::OnUIActivate() {
  return ComBoundary([&] {
    MarkUiActive(true);
    return S_OK;
  });
}
HRESULT STDMETHODCALLTYPE TFlashPlayerControl::GetWindowContext(
    IOleInPlaceFrame** frame, IOleInPlaceUIWindow** document, LPRECT position, LPRECT clip,
    LPOLEINPLACEFRAMEINFO frameInfo) {
  return ComBoundary([&] {
    if (frame) {
      *frame = frame_.get();
      frame_->AddRef();
    }
    if (document) *document = nullptr;
    if (position) *position = ParentBoundsRect();
    if (clip) *clip = kClipRect;
    if (frameInfo) {
      frameInfo->fMDIApp = FALSE;
      frameInfo->hwndFrame = TopHandle();
      frameInfo->haccel = nullptr;
      frameInfo->cAccelEntries = 0;
    }
    return S_OK;
  });
}
HRESULT STDMETHODCALLTYPE TFlashPlayerControl::Scroll(SIZE) { return E_NOTIMPL; }
HRESULT STDMETHODCALLTYPE TFlashPlayerControl::OnUIDeactivate(BOOL) {
  return ComBoundary([&] {
    frame_->SetMenu(nullptr, nullptr, nullptr);
    MarkUiActive(false);
    return S_OK;
  });
}
HRESULT STDMETHODCALLTYPE TFlashPlayerControl::OnInPlaceDeactivate() {
  inPlaceActiveObject_.Reset();
  inPlaceObject_.Reset();
  return S_OK;
}
HRESULT STDMETHODCALLTYPE TFlashPlayerControl::DiscardUndoState() { return E_NOTIMPL; }
HRESULT STDMETHODCALLTYPE TFlashPlayerControl::DeactivateAndUndo() {
  if (inPlaceObject_) inPlaceObject_->UIDeactivate();
  return S_OK;
}
HRESULT STDMETHODCALLTYPE TFlashPlayerControl::OnPosRectChange(LPCRECT position) {
  if (inPlaceObject_ && position) inPlaceObject_->SetObjectRects(position, &kClipRect);
  return S_OK;
}

// ---- IOleControlSite

HRESULT STDMETHODCALLTYPE TFlashPlayerControl::OnControlInfoChanged() { return E_NOTIMPL; }
HRESULT STDMETHODCALLTYPE TFlashPlayerControl::LockInPlaceActive(BOOL) { return E_NOTIMPL; }
HRESULT STDMETHODCALLTYPE TFlashPlayerControl::GetExtendedControl(IDispatch** control) {
  if (control) *control = nullptr;
  return E_NOTIMPL;
}
HRESULT STDMETHODCALLTYPE TFlashPlayerControl::TransformCoords(POINTL* himetric,
                                                               POINTF* container, DWORD flags) {
  if (!himetric || !container) return E_POINTER;
  const int ppi = ScreenPixelsPerInch();
  if (flags & XFORMCOORDS_HIMETRICTOCONTAINER) {
    container->x = static_cast<float>(::MulDiv(himetric->x, ppi, kHimetricPerInch));
    container->y = static_cast<float>(::MulDiv(himetric->y, ppi, kHimetricPerInch));
  } else {
    // To the nearest integer, halves to the even neighbour (the default rounding mode).
    himetric->x = static_cast<LONG>(std::nearbyint(static_cast<double>(container->x) * kHimetricPerInch / ppi));
    himetric->y = static_cast<LONG>(std::nearbyint(static_cast<double>(container->y) * kHimetricPerInch / ppi));
  }
  return S_OK;
}
HRESULT STDMETHODCALLTYPE TFlashPlayerControl::TranslateAccelerator(MSG*, DWORD) {
  return E_NOTIMPL;
}
HRESULT STDMETHODCALLTYPE TFlashPlayerControl::OnFocus(BOOL) { return E_NOTIMPL; }
HRESULT STDMETHODCALLTYPE TFlashPlayerControl::ShowPropertyFrame() { return E_NOTIMPL; }

// ---- ISimpleFrameSite

HRESULT STDMETHODCALLTYPE TFlashPlayerControl::PreMessageFilter(HWND, UINT, WPARAM, LPARAM,
                                                                LRESULT*, DWORD*) {
  return S_OK;
}
HRESULT STDMETHODCALLTYPE TFlashPlayerControl::PostMessageFilter(HWND, UINT, WPARAM, LPARAM,
                                                                 LRESULT*, DWORD) {
  return S_OK;
}

// ---- menu merging

TMainMenu* TFlashPlayerControl::FindMergeMenu() {
  TForm* form = GetParentForm(this);
  if (!form) return nullptr;
  if (!form->IsMDIChild()) return form->Menu;
  return Application && Application->MainForm() ? Application->MainForm()->Menu : nullptr;
}

}  // namespace pageturn
