#include <ole2.h>
#include <olectl.h>

#include "core/com.h"
#include "flashhost/flash_player_control.h"
#include "flashhost/in_place_frame.h"

namespace pageturn {

namespace {

constexpr LONG kVerbInPlaceActivate = OLEIVERB_INPLACEACTIVATE;  // -5
constexpr LONG kVerbUIActivate = OLEIVERB_UIACTIVATE;            // -4
// What the key messages reflected to the object's window carry as their point: no real point.
constexpr LONG kReflectedKeyPoint = 0x115DE1F1;
// The framework reflects onto CN_BASE, OLE controls expect OCM_BASE (0x2000).
constexpr UINT kReflectionShift = CN_BASE - 0x2000;  // 0x9C00

}  // namespace

// ---- window

HWND TFlashPlayerControl::ParentHandle() { return Parent() ? Parent()->Handle() : nullptr; }

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
    // holds it stays usable and raises its mouse events as any control does; the caller still
    // learns why, even when the plain window cannot be made either.
    if (adopted_) {
      DetachWindow();
      adopted_ = false;
    }
    ReleaseRuntimeObject();
    SetControlStyle(ControlStyle() & ~csNoStdEvents);
    try {
      TWinControl::CreateWnd();
    } catch (...) {
    }
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
    message.Result = CallDefaultProcedure(msg, message.WParam, message.LParam);
  } catch (...) {
    // Whatever goes wrong on the way to the object's window stays here; the result is kept.
  }
}

bool TFlashPlayerControl::PaletteChanged(bool foreground) {
  if (HandleAllocated() && adopted_ && foreground &&
      CallDefaultProcedure(WM_QUERYNEWPALETTE, 0, 0) != 0)
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

  for (UINT msg :
       {WM_LBUTTONDOWN, WM_RBUTTONDOWN, WM_MBUTTONDOWN, WM_LBUTTONDBLCLK, WM_RBUTTONDBLCLK,
        WM_MBUTTONDBLCLK, WM_MOUSEMOVE, WM_LBUTTONUP, WM_RBUTTONUP, WM_MBUTTONUP})
    ChainMessageHandler(
        msg, [this](TMessage& m, const TMessageHandler& inherited) { MouseMessage(m, inherited); });
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

}  // namespace pageturn
