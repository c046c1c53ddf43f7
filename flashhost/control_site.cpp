#include <ole2.h>
#include <olectl.h>

#include <cmath>

#include "core/com.h"
#include "core/text.h"
#include "flashhost/flash_player_control.h"
#include "flashhost/in_place_frame.h"

namespace pageturn {

namespace {

constexpr RECT kClipRect = {0, 0, 32767, 32767};

void SetBoolResult(VARIANT* result, bool value) {
  result->vt = VT_BOOL;
  result->boolVal = value ? VARIANT_TRUE : VARIANT_FALSE;
}
void SetI4Result(VARIANT* result, LONG value) {
  result->vt = VT_I4;
  result->lVal = value;
}

}  // namespace

// ---- ambient properties

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
  description.cySize.int64 = ::MulDiv(std::abs(font.Height), 72 * 10000, ScreenPixelsPerInch());
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
HRESULT STDMETHODCALLTYPE TFlashPlayerControl::GetWindowContext(IOleInPlaceFrame** frame,
                                                                IOleInPlaceUIWindow** document,
                                                                LPRECT position, LPRECT clip,
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
HRESULT STDMETHODCALLTYPE TFlashPlayerControl::TransformCoords(POINTL* himetric, POINTF* container,
                                                               DWORD flags) {
  if (!himetric || !container) return E_POINTER;
  const int ppi = ScreenPixelsPerInch();
  if (flags & XFORMCOORDS_HIMETRICTOCONTAINER) {
    container->x = static_cast<float>(::MulDiv(himetric->x, ppi, kHimetricPerInch));
    container->y = static_cast<float>(::MulDiv(himetric->y, ppi, kHimetricPerInch));
  } else {
    // To the nearest integer, halves to the even neighbour (the default rounding mode).
    himetric->x = static_cast<LONG>(
        std::nearbyint(static_cast<double>(container->x) * kHimetricPerInch / ppi));
    himetric->y = static_cast<LONG>(
        std::nearbyint(static_cast<double>(container->y) * kHimetricPerInch / ppi));
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
