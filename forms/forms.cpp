#include "forms/forms.h"

#include <ole2.h>

#include <algorithm>
#include <memory>
#include <stdexcept>
#include <string>

#include "core/com.h"
#include "core/error.h"

namespace pageturn {

TApplication* Application = nullptr;

namespace {

// The window property that binds a window to its control; a property rather than the user data
// slot, because adopted windows keep their own use of that slot.
constexpr const char* kControlProperty = "PageturnControl";

// The control whose window is being bound: set just before CreateWindowEx or a subclassing, and
// taken by the window's first message. One GUI thread, so one slot.
TWinControl* creationControl = nullptr;

void RegisterClassOnce(const char* name, UINT style, HBRUSH background, WNDPROC procedure) {
  WNDCLASSA existing;
  const HINSTANCE instance = ::GetModuleHandleA(nullptr);
  if (::GetClassInfoA(instance, name, &existing)) return;
  WNDCLASSA wc = {};
  wc.style = style;
  wc.lpfnWndProc = procedure;
  wc.hInstance = instance;
  wc.hCursor = ::LoadCursorA(nullptr, reinterpret_cast<LPCSTR>(IDC_ARROW));
  wc.hIcon = ::LoadIconA(instance, "MAINICON");
  if (!wc.hIcon) wc.hIcon = ::LoadIconA(nullptr, reinterpret_cast<LPCSTR>(IDI_APPLICATION));
  wc.hbrBackground = background;
  wc.lpszClassName = name;
  ::RegisterClassA(&wc);
}

}  // namespace

TShiftState KeysToShiftState(WPARAM keys) {
  TShiftState shift = 0;
  if (keys & MK_SHIFT) shift |= ssShift;
  if (keys & MK_CONTROL) shift |= ssCtrl;
  if (keys & MK_LBUTTON) shift |= ssLeft;
  if (keys & MK_RBUTTON) shift |= ssRight;
  if (keys & MK_MBUTTON) shift |= ssMiddle;
  if (::GetKeyState(VK_MENU) < 0) shift |= ssAlt;
  return shift;
}

COLORREF ColorToRGB(TColor color) {
  if (color & clSystemColor) return ::GetSysColor(color & 0xFF);
  return static_cast<COLORREF>(color);
}

int ScreenPixelsPerInch() {
  static const int ppi = [] {
    const HDC screen = ::GetDC(nullptr);
    const int value = screen ? ::GetDeviceCaps(screen, LOGPIXELSY) : 96;
    if (screen) ::ReleaseDC(nullptr, screen);
    return value > 0 ? value : 96;
  }();
  return ppi;
}

// ---- TPopupMenu

TPopupMenu::~TPopupMenu() = default;

void TPopupMenu::Add(const std::string& caption, TNotifyEvent onClick) {
  items_.push_back({caption, std::move(onClick)});
}

void TPopupMenu::Popup(int x, int y) {
  const HMENU menu = ::CreatePopupMenu();
  if (!menu) return;
  for (std::size_t i = 0; i < items_.size(); ++i)
    ::AppendMenuA(menu, MF_STRING, i + 1, items_[i].caption.c_str());
  const HWND owner = PopupComponent && PopupComponent->HandleAllocated()
                         ? PopupComponent->Handle()
                         : ::GetActiveWindow();
  const UINT chosen = static_cast<UINT>(
      ::TrackPopupMenu(menu, TPM_RETURNCMD | TPM_NONOTIFY, x, y, 0, owner, nullptr));
  ::DestroyMenu(menu);
  if (chosen > 0 && chosen <= items_.size() && items_[chosen - 1].onClick)
    items_[chosen - 1].onClick(PopupComponent);
}

// ---- TMainMenu

TMainMenu::TMainMenu(TForm* form) : form_(form), menu_(::CreateMenu()) {}

TMainMenu::~TMainMenu() {
  if (form_ && form_->HandleAllocated() && ::GetMenu(form_->Handle()) == menu_)
    ::SetMenu(form_->Handle(), nullptr);
  if (menu_) ::DestroyMenu(menu_);
}

void TMainMenu::Add(const std::string& caption, int groupIndex) {
  items_.push_back({caption, groupIndex});
  ::AppendMenuA(menu_, MF_STRING, items_.size(), caption.c_str());
}

HWND TMainMenu::WindowHandle() { return form_ ? form_->Handle() : nullptr; }

void TMainMenu::PopulateOle2Menu(HMENU shared, const int* groups, int groupCount, LONG* widths) {
  for (int g = 0; g < groupCount; ++g) {
    const int group = groups[g];
    LONG count = 0;
    for (std::size_t i = 0; i < items_.size(); ++i) {
      if (items_[i].groupIndex != group) continue;
      ::AppendMenuA(shared, MF_STRING, i + 1, items_[i].caption.c_str());
      ++count;
    }
    if (group >= 0 && group < 6) widths[group] = count;
  }
}

void TMainMenu::SetOle2MenuHandle(HMENU shared) {
  if (!form_ || !form_->HandleAllocated()) return;
  ::SetMenu(form_->Handle(), shared ? shared : menu_);
}

TShiftState KeyboardShiftState() {
  TShiftState shift = 0;
  if (::GetKeyState(VK_SHIFT) < 0) shift |= ssShift;
  if (::GetKeyState(VK_MENU) < 0) shift |= ssAlt;
  if (::GetKeyState(VK_CONTROL) < 0) shift |= ssCtrl;
  return shift;
}

// ---- TWinControl

TWinControl::TWinControl(TWinControl* owner) : owner_(owner) {
  if (owner_) owner_->owned_.push_back(this);
  SetMessageHandler(WM_KEYDOWN, [this](TMessage& m) { DoKeyDown(m); });
  SetMessageHandler(WM_CHAR, [this](TMessage& m) { DoKeyPress(m); });
  SetMessageHandler(WM_KEYUP, [this](TMessage& m) { DoKeyUp(m); });
  SetMessageHandler(WM_SIZE, [this](TMessage& m) {
    DefaultHandler(m);
    AlignControls();
  });
  // Key messages offered to the control first (CN_BASE + WM_KEY...): not wanted by default,
  // except that a dialog key the control does not want goes to its form (CM_DIALOGKEY).
  for (UINT key = WM_KEYFIRST; key <= WM_KEYLAST; ++key)
    SetMessageHandler(CN_BASE + key, [](TMessage& m) { m.Result = 0; });
  SetMessageHandler(CN_KEYDOWN, [this](TMessage& m) { DoDialogKeyRequest(m); });
  SetMessageHandler(CM_DIALOGKEY, [this](TMessage& m) {
    m.Result = Broadcast(CM_DIALOGKEY, m.WParam, m.LParam);
  });
  SetMessageHandler(CM_PARENTFONTCHANGED, [this](TMessage&) {
    if (parentFont_) NotifyChildren(CM_PARENTFONTCHANGED);
  });
  SetMessageHandler(CM_PARENTCOLORCHANGED, [this](TMessage&) {
    if (parentColor_) NotifyChildren(CM_PARENTCOLORCHANGED);
  });
  SetMessageHandler(WM_CONTEXTMENU, [this](TMessage& m) { DoContextMenu(m); });
  SetMessageHandler(WM_SETFOCUS, [this](TMessage& m) {
    DefaultHandler(m);
    if (TForm* form = GetParentForm(this); form && form != this) form->FocusedControlChanged(this);
  });
  // The standard mouse events, unless the control raises them itself (csNoStdEvents).
  const auto mouse = [this](TMessage& m) {
    DefaultHandler(m);
    if (controlStyle_ & csNoStdEvents) return;
    const int x = static_cast<short>(LOWORD(m.LParam)), y = static_cast<short>(HIWORD(m.LParam));
    TShiftState shift = KeysToShiftState(m.WParam);
    switch (m.Msg) {
      case WM_LBUTTONDBLCLK: DblClick(); shift |= ssDouble; MouseDown(TMouseButton::mbLeft, shift, x, y); break;
      case WM_RBUTTONDBLCLK: shift |= ssDouble; MouseDown(TMouseButton::mbRight, shift, x, y); break;
      case WM_MBUTTONDBLCLK: shift |= ssDouble; MouseDown(TMouseButton::mbMiddle, shift, x, y); break;
      case WM_LBUTTONDOWN: MouseDown(TMouseButton::mbLeft, shift, x, y); break;
      case WM_RBUTTONDOWN: MouseDown(TMouseButton::mbRight, shift, x, y); break;
      case WM_MBUTTONDOWN: MouseDown(TMouseButton::mbMiddle, shift, x, y); break;
      case WM_LBUTTONUP: {
        const RECT client = ClientRect();
        if (x >= client.left && x < client.right && y >= client.top && y < client.bottom) Click();
        MouseUp(TMouseButton::mbLeft, shift, x, y);
        break;
      }
      case WM_RBUTTONUP: MouseUp(TMouseButton::mbRight, shift, x, y); break;
      case WM_MBUTTONUP: MouseUp(TMouseButton::mbMiddle, shift, x, y); break;
      case WM_MOUSEMOVE: MouseMove(shift, x, y); break;
      default: break;
    }
  };
  for (UINT msg : {WM_LBUTTONDOWN, WM_RBUTTONDOWN, WM_MBUTTONDOWN, WM_LBUTTONDBLCLK,
                   WM_RBUTTONDBLCLK, WM_MBUTTONDBLCLK, WM_LBUTTONUP, WM_RBUTTONUP, WM_MBUTTONUP,
                   WM_MOUSEMOVE})
    SetMessageHandler(msg, mouse);
}

void TWinControl::MouseDown(TMouseButton button, TShiftState shift, int x, int y) {
  if (OnMouseDown) OnMouseDown(this, button, shift, x, y);
}
void TWinControl::MouseUp(TMouseButton button, TShiftState shift, int x, int y) {
  if (OnMouseUp) OnMouseUp(this, button, shift, x, y);
}
void TWinControl::MouseMove(TShiftState shift, int x, int y) {
  if (OnMouseMove) OnMouseMove(this, shift, x, y);
}
void TWinControl::Click() {
  if (OnClick) OnClick(this);
}
void TWinControl::DblClick() {
  if (OnDblClick) OnDblClick(this);
}

void TWinControl::SendCancelMode() {
  TForm* form = GetParentForm(this);
  if (!form) return;
  TWinControl* focused = form->ActiveControl();
  if (focused && focused != this) focused->Perform(CM_CANCELMODE, 0, 0);
}

LRESULT TWinControl::Broadcast(UINT msg, WPARAM wParam, LPARAM lParam) {
  const std::vector<TWinControl*> children = controls_;
  for (TWinControl* child : children)
    if (const LRESULT result = child->Perform(msg, wParam, lParam)) return result;
  return 0;
}

void TWinControl::NotifyChildren(UINT msg) {
  const std::vector<TWinControl*> children = controls_;
  for (TWinControl* child : children) child->Perform(msg, 0, 0);
}

void TWinControl::DoDialogKeyRequest(TMessage& message) {
  message.Result = 0;
  UINT want = 0;
  switch (message.WParam) {
    case VK_TAB: want = DLGC_WANTTAB; break;
    case VK_LEFT: case VK_RIGHT: case VK_UP: case VK_DOWN: want = DLGC_WANTARROWS; break;
    case VK_RETURN: case VK_EXECUTE: case VK_ESCAPE: case VK_CANCEL: want = DLGC_WANTALLKEYS; break;
    default: return;
  }
  if (handle_ && (::SendMessageW(handle_, WM_GETDLGCODE, 0, 0) & want)) return;
  TForm* form = GetParentForm(this);
  if (form && form != this && form->Perform(CM_DIALOGKEY, message.WParam, message.LParam) != 0)
    message.Result = 1;
}

void TWinControl::DoContextMenu(TMessage& message) {
  if (designMode_ || !popupMenu_) {
    DefaultHandler(message);
    return;
  }
  POINT at = {static_cast<short>(LOWORD(message.LParam)),
              static_cast<short>(HIWORD(message.LParam))};
  // The keyboard's request (-1, -1) opens the menu at the control's top-left corner.
  if (at.x == -1 && at.y == -1) at = ClientToScreen(POINT{0, 0});
  popupMenu_->PopupComponent = this;
  popupMenu_->Popup(at.x, at.y);
  message.Result = 1;
}

bool TWinControl::PaletteChanged(bool foreground) {
  bool realised = false;
  const std::vector<TWinControl*> children = controls_;
  for (TWinControl* child : children) realised = child->PaletteChanged(foreground) || realised;
  return realised;
}

POINT TWinControl::ClientToScreen(POINT point) {
  if (handle_) ::ClientToScreen(handle_, &point);
  return point;
}

TColor TWinControl::Color() const {
  return parentColor_ && parent_ ? parent_->Color() : color_;
}

void TWinControl::SetColor(TColor color) {
  color_ = color;
  parentColor_ = false;
  NotifyChildren(CM_PARENTCOLORCHANGED);
}

void TWinControl::SetParentColor(bool value) {
  if (value == parentColor_) return;
  if (!value) color_ = Color();  // keeps what it showed
  parentColor_ = value;
  if (value) NotifyChildren(CM_PARENTCOLORCHANGED);
}

const TFont& TWinControl::Font() const {
  return parentFont_ && parent_ ? parent_->Font() : font_;
}

void TWinControl::SetFont(const TFont& font) {
  font_ = font;
  parentFont_ = false;
  NotifyChildren(CM_PARENTFONTCHANGED);
}

void TWinControl::SetParentFont(bool value) {
  if (value == parentFont_) return;
  if (!value) font_ = Font();
  parentFont_ = value;
  if (value) NotifyChildren(CM_PARENTFONTCHANGED);
}

bool TWinControl::CanFocus() {
  if (!GetParentForm(this)) return false;
  for (TWinControl* control = this; control; control = control->parent_) {
    if (!control->visible_) return false;
    if (control->handle_ && !::IsWindowEnabled(control->handle_)) return false;
  }
  return true;
}

TWinControl::~TWinControl() {
  DestroyComponents();
  DestroyHandle();
  if (parent_) {
    auto& siblings = parent_->controls_;
    siblings.erase(std::remove(siblings.begin(), siblings.end(), this), siblings.end());
  }
  for (TWinControl* child : controls_) child->parent_ = nullptr;
  if (owner_) {
    auto& owned = owner_->owned_;
    owned.erase(std::remove(owned.begin(), owned.end(), this), owned.end());
  }
}

void TWinControl::DestroyComponents() {
  while (!owned_.empty()) delete owned_.back();  // each one leaves the list itself
}

HWND TWinControl::Handle() {
  if (!handle_) {
    if (parent_) parent_->HandleNeeded();
    if (!handle_) {
      CreateWnd();
      for (TWinControl* child : controls_) child->HandleNeeded();
      AlignControls();
    }
  }
  return handle_;
}

void TWinControl::DestroyHandle() {
  if (!handle_) return;
  for (TWinControl* child : controls_) child->DestroyHandle();
  DestroyWnd();
}

void TWinControl::CreateParams(TCreateParams& params) {
  params.Style = WS_CHILD | WS_CLIPSIBLINGS | WS_CLIPCHILDREN | (visible_ ? WS_VISIBLE : 0);
  params.X = left_;
  params.Y = top_;
  params.Width = width_;
  params.Height = height_;
  params.WndParent = parent_ ? parent_->Handle() : nullptr;
  params.Background = nullptr;
}

void TWinControl::CreateWnd() {
  TCreateParams params;
  CreateParams(params);
  if ((params.Style & WS_CHILD) && !params.WndParent) throw Error("Control has no parent window");
  RegisterClassOnce(WindowClassName(), params.ClassStyle, params.Background,
                    &TWinControl::InitialWindowProcedure);
  defWndProc_ = ::DefWindowProcA;
  unicode_ = false;
  SetCreationControl(this);
  const HWND window = ::CreateWindowExA(
      params.ExStyle, WindowClassName(), params.Caption.c_str(), params.Style, params.X, params.Y,
      params.Width, params.Height, params.WndParent, nullptr, ::GetModuleHandleA(nullptr), nullptr);
  SetCreationControl(nullptr);
  if (!window) throw Error("Error creating window");
}

void TWinControl::DestroyWnd() {
  if (!handle_) return;
  // Keep the last placement for a window made again later.
  RECT r = BoundsRect();
  left_ = r.left, top_ = r.top, width_ = r.right - r.left, height_ = r.bottom - r.top;
  ::DestroyWindow(handle_);  // WM_NCDESTROY unbinds
  Unbind();
}

void TWinControl::SetParent(TWinControl* parent) {
  if (parent == parent_) return;
  if (parent_) {
    auto& siblings = parent_->controls_;
    siblings.erase(std::remove(siblings.begin(), siblings.end(), this), siblings.end());
  }
  parent_ = parent;
  if (!parent_) return;
  parent_->controls_.push_back(this);
  if (parent_->HandleAllocated()) {
    if (handle_)
      ::SetParent(handle_, parent_->Handle());
    else
      HandleNeeded();
    parent_->AlignControls();
  }
}

void TWinControl::SetAlign(TAlign align) {
  align_ = align;
  if (parent_) parent_->AlignControls();
}

void TWinControl::AlignControls() {
  if (controls_.empty()) return;
  RECT client = ClientRect();
  const int inset = ClientInset();
  for (TWinControl* child : controls_) {
    if (child->align_ != TAlign::alClient) continue;
    child->SetBounds(client.left + inset, client.top + inset,
                     std::max(0L, client.right - client.left - 2 * inset),
                     std::max(0L, client.bottom - client.top - 2 * inset));
  }
}

RECT TWinControl::BoundsRect() {
  RECT r = {left_, top_, left_ + width_, top_ + height_};
  if (!handle_) return r;
  if (::IsIconic(handle_)) {
    WINDOWPLACEMENT placement = {};
    placement.length = sizeof placement;
    if (::GetWindowPlacement(handle_, &placement)) return placement.rcNormalPosition;
  }
  ::GetWindowRect(handle_, &r);
  const HWND parentWindow =
      (::GetWindowLongA(handle_, GWL_STYLE) & WS_CHILD) ? ::GetParent(handle_) : nullptr;
  if (parentWindow) ::MapWindowPoints(nullptr, parentWindow, reinterpret_cast<POINT*>(&r), 2);
  return r;
}

int TWinControl::Left() { return BoundsRect().left; }
int TWinControl::Top() { return BoundsRect().top; }
int TWinControl::Width() {
  const RECT r = BoundsRect();
  return r.right - r.left;
}
int TWinControl::Height() {
  const RECT r = BoundsRect();
  return r.bottom - r.top;
}

RECT TWinControl::ClientRect() {
  RECT r = {0, 0, Width(), Height()};
  if (handle_) ::GetClientRect(handle_, &r);
  return r;
}

void TWinControl::SetBounds(int left, int top, int width, int height) {
  const RECT now = BoundsRect();
  if (left == now.left && top == now.top && width == now.right - now.left &&
      height == now.bottom - now.top)
    return;
  left_ = left, top_ = top, width_ = width, height_ = height;
  if (handle_ && ::IsIconic(handle_)) {
    SetRestoredBounds(left, top, width, height);
  } else if (handle_) {
    // A maximised window stays maximised at the new bounds, and they also become the bounds it
    // is restored to: so a placement saved before maximising can be given back while maximised.
    if (::IsZoomed(handle_)) SetRestoredBounds(left, top, width, height);
    ::SetWindowPos(handle_, nullptr, left, top, width, height, SWP_NOZORDER | SWP_NOACTIVATE);
  }
  if (!handle_) AlignControls();
}

void TWinControl::SetRestoredBounds(int left, int top, int width, int height) {
  WINDOWPLACEMENT placement = {};
  placement.length = sizeof placement;
  ::GetWindowPlacement(handle_, &placement);
  placement.rcNormalPosition = {left, top, left + width, top + height};
  ::SetWindowPlacement(handle_, &placement);
}

void TWinControl::SetVisible(bool visible) {
  SetVisibleFlag(visible);
  if (handle_) ::ShowWindow(handle_, visible ? SW_SHOW : SW_HIDE);
}

LRESULT TWinControl::Perform(UINT msg, WPARAM wParam, LPARAM lParam) {
  TMessage message = {msg, wParam, lParam, 0};
  WndProc(message);
  return message.Result;
}

void TWinControl::WndProc(TMessage& message) { Dispatch(message); }

void TWinControl::Dispatch(TMessage& message) {
  const auto found = handlers_.find(message.Msg);
  if (found != handlers_.end())
    found->second(message);
  else
    DefaultHandler(message);
}

void TWinControl::DefaultHandler(TMessage& message) {
  if (handle_) message.Result = CallDefaultProcedure(message.Msg, message.WParam, message.LParam);
}

LRESULT TWinControl::CallDefaultProcedure(UINT msg, WPARAM wParam, LPARAM lParam) {
  return unicode_ ? ::CallWindowProcW(defWndProc_, handle_, msg, wParam, lParam)
                  : ::CallWindowProcA(defWndProc_, handle_, msg, wParam, lParam);
}

TMessageHandler TWinControl::SetMessageHandler(UINT msg, TMessageHandler handler) {
  TMessageHandler previous = [this](TMessage& m) { DefaultHandler(m); };
  auto found = handlers_.find(msg);
  if (found != handlers_.end()) previous = std::move(found->second);
  handlers_[msg] = std::move(handler);
  return previous;
}

void TWinControl::ChainMessageHandler(UINT msg, TChainedHandler handler) {
  auto inherited = std::make_shared<TMessageHandler>();
  *inherited = SetMessageHandler(
      msg, [handler = std::move(handler), inherited](TMessage& m) { handler(m, *inherited); });
}

void TWinControl::DoKeyDown(TMessage& message) {
  WORD key = static_cast<WORD>(message.WParam);
  if (OnKeyDown) OnKeyDown(this, key, KeyboardShiftState());
  if (key != 0) DefaultHandler(message);
}

void TWinControl::DoKeyPress(TMessage& message) {
  // A Unicode window's character is wider than the handler's: it passes on whole unless the
  // handler changes or swallows it.
  if (!OnKeyPress) {
    if (message.WParam != 0) DefaultHandler(message);
    return;
  }
  const char given = static_cast<char>(message.WParam);
  char key = given;
  OnKeyPress(this, key);
  if (key == 0) return;
  if (key != given) message.WParam = static_cast<unsigned char>(key);
  DefaultHandler(message);
}

void TWinControl::DoKeyUp(TMessage& message) {
  WORD key = static_cast<WORD>(message.WParam);
  if (OnKeyUp) OnKeyUp(this, key, KeyboardShiftState());
  if (key != 0) DefaultHandler(message);
}

TWinControl* TWinControl::FromHandle(HWND window) {
  return window ? static_cast<TWinControl*>(::GetPropA(window, kControlProperty)) : nullptr;
}

void TWinControl::SetCreationControl(TWinControl* control) { creationControl = control; }

namespace {

// The window's procedure is read and replaced in the window's own character set: setting it
// through the ANSI function would turn a Unicode window into an ANSI one.
WNDPROC WindowProcedure(HWND window, bool unicode) {
  return reinterpret_cast<WNDPROC>(unicode ? ::GetWindowLongPtrW(window, GWLP_WNDPROC)
                                           : ::GetWindowLongPtrA(window, GWLP_WNDPROC));
}
void SetWindowProcedure(HWND window, bool unicode, WNDPROC procedure) {
  const auto value = reinterpret_cast<LONG_PTR>(procedure);
  if (unicode)
    ::SetWindowLongPtrW(window, GWLP_WNDPROC, value);
  else
    ::SetWindowLongPtrA(window, GWLP_WNDPROC, value);
}
LRESULT DefaultWindowProcedure(HWND window, UINT msg, WPARAM wParam, LPARAM lParam) {
  return ::IsWindowUnicode(window) ? ::DefWindowProcW(window, msg, wParam, lParam)
                                   : ::DefWindowProcA(window, msg, wParam, lParam);
}

}  // namespace

void TWinControl::AttachWindow(HWND window) {
  unicode_ = ::IsWindowUnicode(window) != FALSE;
  defWndProc_ = WindowProcedure(window, unicode_);
  SetCreationControl(this);
  SetWindowProcedure(window, unicode_, &TWinControl::InitialWindowProcedure);
  if (unicode_)
    ::SendMessageW(window, WM_NULL, 0, 0);
  else
    ::SendMessageA(window, WM_NULL, 0, 0);
  SetCreationControl(nullptr);
}

void TWinControl::DetachWindow() {
  if (!handle_) return;
  SetWindowProcedure(handle_, unicode_, defWndProc_);
  Unbind();
}

void TWinControl::Bind(HWND window) {
  handle_ = window;
  ::SetPropA(window, kControlProperty, this);
  SetWindowProcedure(window, unicode_, &TWinControl::StandardWindowProcedure);
}

void TWinControl::Unbind() {
  if (!handle_) return;
  ::RemovePropA(handle_, kControlProperty);
  handle_ = nullptr;
}

LRESULT CALLBACK TWinControl::InitialWindowProcedure(HWND window, UINT msg, WPARAM wParam,
                                                     LPARAM lParam) {
  TWinControl* control = creationControl;
  if (!control) return DefaultWindowProcedure(window, msg, wParam, lParam);
  creationControl = nullptr;
  control->Bind(window);
  return StandardWindowProcedure(window, msg, wParam, lParam);
}

LRESULT CALLBACK TWinControl::StandardWindowProcedure(HWND window, UINT msg, WPARAM wParam,
                                                      LPARAM lParam) {
  TWinControl* control = FromHandle(window);
  if (!control) return DefaultWindowProcedure(window, msg, wParam, lParam);
  const WNDPROC fallback = control->defWndProc_;
  const bool unicode = control->unicode_;
  TMessage message = {msg, wParam, lParam, 0};
  const bool ok = Boundary(false, [&] {
    control->WndProc(message);
    return true;
  });
  if (!ok) message.Result = 0;
  if (msg == WM_NCDESTROY && FromHandle(window) == control) {
    control->Unbind();
    if (!ok)
      return unicode ? ::CallWindowProcW(fallback, window, msg, wParam, lParam)
                     : ::CallWindowProcA(fallback, window, msg, wParam, lParam);
  }
  return message.Result;
}

// ---- TApplication

TApplication::~TApplication() {
  while (!forms_.empty()) {
    TForm* form = forms_.back();
    forms_.pop_back();
    delete form;
  }
  mainForm_ = nullptr;
  if (oleInitialized_) ::OleUninitialize();
}

void TApplication::Initialize() {
  if (!oleInitialized_) oleInitialized_ = SUCCEEDED(::OleInitialize(nullptr));
}

void TApplication::AddForm(TForm* form) {
  forms_.push_back(form);
  if (!mainForm_) mainForm_ = form;
  form->HandleNeeded();
  form->DoCreate();
}

void TApplication::Terminate() {
  // Like the original: the loop sees the quit message after what is already queued.
  ::PostQuitMessage(0);
}

bool TApplication::IsKeyMsg(MSG& msg) {
  if (msg.message < WM_KEYFIRST || msg.message > WM_KEYLAST) return false;
  HWND window = ::GetCapture();
  if (!window) {
    window = msg.hwnd;
    while (window && !TWinControl::FromHandle(window)) window = ::GetParent(window);
  }
  TWinControl* control = TWinControl::FromHandle(window);
  return control && control->Perform(CN_BASE + msg.message, msg.wParam, msg.lParam) != 0;
}

bool TApplication::ProcessMessage(MSG& msg) {
  if (msg.message == WM_QUIT) {
    terminated_ = true;
    return false;
  }
  bool handled = false;
  if (OnMessage) OnMessage(msg, handled);
  if (!handled && !IsKeyMsg(msg)) {
    ::TranslateMessage(&msg);
    ::DispatchMessageW(&msg);
  }
  return true;
}

bool TApplication::ProcessMessages() {
  MSG msg;
  while (!terminated_ && ::PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) ProcessMessage(msg);
  return !terminated_;
}

void TApplication::Run() {
  if (mainForm_) mainForm_->Show();
  MSG msg;
  while (!terminated_) {
    const BOOL got = ::GetMessageW(&msg, nullptr, 0, 0);
    if (got == -1) break;
    if (got == 0) msg.message = WM_QUIT;
    ProcessMessage(msg);
  }
}

// ---- TForm

TForm::TForm(TWinControl* owner) : TWinControl(owner) {
  SetVisibleFlag(false);
  SetMessageHandler(WM_CLOSE, [this](TMessage&) { Close(); });
  ChainMessageHandler(WM_SIZE, [this](TMessage& m, const TMessageHandler& inherited) {
    // The state follows the window only while it is shown; before, it is the one Show applies.
    if (showing_) {
      if (m.WParam == SIZE_MAXIMIZED)
        windowState_ = TWindowState::wsMaximized;
      else if (m.WParam == SIZE_MINIMIZED)
        windowState_ = TWindowState::wsMinimized;
      else if (m.WParam == SIZE_RESTORED)
        windowState_ = TWindowState::wsNormal;
    }
    inherited(m);
  });
  SetMessageHandler(WM_QUERYNEWPALETTE, [this](TMessage& m) {
    m.Result = TWinControl::PaletteChanged(true) ? 1 : 0;
  });
  SetMessageHandler(WM_PALETTECHANGED, [this](TMessage& m) {
    if (reinterpret_cast<HWND>(m.WParam) != Handle()) TWinControl::PaletteChanged(false);
  });
  ChainMessageHandler(WM_DESTROY, [this](TMessage& m, const TMessageHandler& inherited) {
    showing_ = false;
    if (Application && Application->MainForm() == this) Application->Terminate();
    inherited(m);
  });
}

TForm::~TForm() {
  // Owned controls go first, whole, while the form's window still stands; then the window.
  DestroyComponents();
  DestroyHandle();
}

void TForm::CreateParams(TCreateParams& params) {
  TWinControl::CreateParams(params);
  params.Caption = caption_;
  params.Style = WS_OVERLAPPEDWINDOW | WS_CLIPCHILDREN;  // sizeable; hidden until shown
  params.ExStyle = WS_EX_WINDOWEDGE | WS_EX_CONTROLPARENT;
  params.WndParent = nullptr;
  params.Background = ::GetSysColorBrush(COLOR_BTNFACE);
}

std::string TForm::Caption() {
  if (!HandleAllocated()) return caption_;
  const int length = ::GetWindowTextLengthA(Handle());
  std::string text(static_cast<std::size_t>(length) + 1, '\0');
  text.resize(static_cast<std::size_t>(::GetWindowTextA(Handle(), text.data(), length + 1)));
  return text;
}

void TForm::SetCaption(const std::string& caption) {
  caption_ = caption;
  if (HandleAllocated()) ::SetWindowTextA(Handle(), caption.c_str());
}

namespace {
int ShowCommand(TWindowState state) {
  switch (state) {
    case TWindowState::wsMinimized:
      return SW_SHOWMINNOACTIVE;
    case TWindowState::wsMaximized:
      return SW_SHOWMAXIMIZED;
    default:
      return SW_SHOWNORMAL;
  }
}
}  // namespace

void TForm::SetWindowState(TWindowState state) {
  if (state == windowState_) return;
  windowState_ = state;
  if (showing_) ::ShowWindow(Handle(), ShowCommand(state));
}

void TForm::SetBorderWidth(int width) {
  if (width == borderWidth_) return;
  borderWidth_ = width;
  if (HandleAllocated())
    ::SetWindowPos(Handle(), nullptr, 0, 0, 0, 0,
                   SWP_NOACTIVATE | SWP_NOZORDER | SWP_NOMOVE | SWP_NOSIZE | SWP_FRAMECHANGED);
  AlignControls();
}

void TForm::SetVisible(bool visible) {
  SetVisibleFlag(visible);
  if (visible == showing_) return;
  showing_ = visible;
  if (visible) {
    ::ShowWindow(Handle(), ShowCommand(windowState_));
    ::SetForegroundWindow(Handle());
  } else if (HandleAllocated()) {
    ::ShowWindow(Handle(), SW_HIDE);
  }
}

void TForm::Close() {
  if (Application && Application->MainForm() == this)
    Application->Terminate();
  else
    SetVisible(false);
}

TWinControl* TForm::ActiveControl() {
  if (!HandleAllocated()) return nullptr;
  for (HWND window = ::GetFocus(); window && window != Handle(); window = ::GetParent(window)) {
    TWinControl* control = FromHandle(window);
    if (control && GetParentForm(control) == this) return control;
  }
  return nullptr;
}

void TForm::FocusedControlChanged(TWinControl* control) {
  if (changingFocus_) return;  // the UI activation may move the focus again
  changingFocus_ = true;
  try {
    if (ActiveOleControl && ActiveOleControl != control)
      ActiveOleControl->Perform(CM_UIDEACTIVATE, 0, 0);
    control->Perform(CM_UIACTIVATE, 0, 0);
  } catch (...) {
    changingFocus_ = false;
    throw;
  }
  changingFocus_ = false;
}

void TForm::DoCreate() {
  if (OnCreate) OnCreate(this);
}

TForm* GetParentForm(TWinControl* control) {
  while (control && control->Parent()) control = control->Parent();
  return dynamic_cast<TForm*>(control);
}

}  // namespace pageturn
