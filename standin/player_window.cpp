// The windows of the object: the in-place player window and the hidden message window.
#include "flash_object.h"
#include "input.h"
#include "module.h"
#include "renderer.h"

namespace standin {

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
        case kMsgFetchDone:
          self->player_.OnFetchDone(reinterpret_cast<void*>(lp));
          break;
        case kMsgFetchProgress:
          self->player_.OnFetchProgress(reinterpret_cast<void*>(lp), size_t(wp));
          break;
        case kMsgRun:  // sent by RunOnOwnerThread; the sender owns the function
          result = (*reinterpret_cast<std::function<HRESULT()>*>(lp))();
          break;
        case WM_TIMER:
          if (wp == kFrameTimer) self->player_.OnFrameTimer();
          break;
        default:
          handled = false;
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
      case WM_ERASEBKGND:
        result = 1;
        break;
      case WM_GETDLGCODE:
        // Arrows, Enter and characters are the movie's keys, not the dialog's.
        result = DLGC_WANTARROWS | DLGC_WANTCHARS | DLGC_WANTALLKEYS;
        break;
      case WM_LBUTTONDOWN:
      case WM_LBUTTONDBLCLK:  // the class takes double clicks: the second press comes as this
        self->OnMouseDown(POINT{short(LOWORD(lp)), short(HIWORD(lp))});
        break;
      case WM_LBUTTONUP:
        self->OnMouseUp(POINT{short(LOWORD(lp)), short(HIWORD(lp))});
        break;
      case WM_CAPTURECHANGED:
        if (HWND(lp) != hwnd && self->pressed_) {
          self->pressed_ = {};
          self->OnChanged();
        }
        break;
      case WM_SETCURSOR:
        if (LOWORD(lp) != HTCLIENT) {
          handled = false;
          break;
        }
        self->UpdateCursor();
        result = TRUE;
        break;
      case WM_KEYDOWN:
        self->OnKey(KeyCodeOfVirtualKey(wp));
        break;
      case WM_CHAR:
        self->OnKey(KeyCodeOfCharacter(wp));
        break;
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
      default:
        handled = false;
    }
    return S_OK;
  });
  if (FAILED(hr)) return 0;
  return handled ? result : DefWindowProcW(hwnd, msg, wp, lp);
}

StageSettings FlashObject::Stage() const {
  StageSettings stage;
  stage.scale = WideToUtf8(stageScale_);
  stage.align = WideToUtf8(stageAlign_);
  stage.background = BackgroundRgb();
  stage.pressedLevel = pressed_.level;
  stage.pressedDepth = pressed_.depth;
  return stage;
}

ButtonHit FlashObject::ButtonUnder(POINT point) {
  if (!window_) return {};
  RECT client;
  GetClientRect(window_, &client);
  return HitTestButton(player_, StageTransform(player_, client.right, client.bottom, Stage()),
                       point);
}

void FlashObject::OnMouseDown(POINT point) {
  // A click takes the focus and makes the object UI-active, through its site.
  if (window_ && GetFocus() != window_) SetFocus(window_);
  if (!uiActive_) InPlaceActivate(true, nullptr);
  ButtonHit hit = ButtonUnder(point);
  if (!hit) return;
  pressed_ = hit;
  if (window_) SetCapture(window_);
  OnChanged();
  RunButtonConditions(player_, hit, ::swf::ButtonCondAction::kOverUpToOverDown);
}

void FlashObject::OnMouseUp(POINT point) {
  ButtonHit pressed = pressed_;
  pressed_ = {};
  if (GetCapture() == window_) ReleaseCapture();
  if (!pressed) return;
  OnChanged();
  // Released over the button it was pressed on: a click.
  if (ButtonUnder(point) == pressed)
    RunButtonConditions(player_, pressed, ::swf::ButtonCondAction::kOverDownToOverUp);
}

bool FlashObject::OnKey(uint8_t key) {
  if (!PressKey(player_, key)) return false;
  OnChanged();
  return true;
}

STDMETHODIMP FlashObject::TranslateAccelerator(LPMSG msg) {
  return Guard([&]() -> HRESULT {
    // A container's loop offers the UI-active object the keys of its other windows first;
    // ours arrive in our window anyway.
    if (!msg || !window_ || msg->hwnd == window_) return S_FALSE;
    uint8_t key = msg->message == WM_KEYDOWN ? KeyCodeOfVirtualKey(msg->wParam)
                  : msg->message == WM_CHAR  ? KeyCodeOfCharacter(msg->wParam)
                                             : 0;
    return key && OnKey(key) ? S_OK : S_FALSE;
  });
}

void FlashObject::UpdateCursor() {
  POINT point;
  GetCursorPos(&point);
  ScreenToClient(window_, &point);
  static HCURSOR hand = LoadCursorA(g_module, MAKEINTRESOURCEA(STANDIN_CURSOR_HAND));
  static HCURSOR arrow = LoadCursorW(nullptr, reinterpret_cast<LPCWSTR>(IDC_ARROW));
  SetCursor(ButtonUnder(point) && hand ? hand : arrow);
}

COLORREF FlashObject::BackgroundRgb() const {
  long rgb = 0xFFFFFF;
  if (backgroundOverride_ >= 0) {
    rgb = backgroundOverride_;
  } else if (Player::Level* main = player_.FindLevel(0);
             main && main->timeline && main->timeline->movie().backgroundColor) {
    rgb = long(*main->timeline->movie().backgroundColor);
  }
  return RGB((rgb >> 16) & 0xFF, (rgb >> 8) & 0xFF, rgb & 0xFF);
}

void FlashObject::Paint(HDC dc, const RECT& client) {
  // Words only while no movie shows: what is loading, or why nothing came.
  std::vector<std::wstring> lines;
  if (!player_.MainTimeline()) {
    lines.push_back(L"Stand-in Flash Player 10.3");
    lines.push_back(L"movie: " + (movie_.empty() ? std::wstring(L"(none)") : movie_));
    if (player_.Loading())
      lines.push_back(L"loading: " + std::to_wstring(player_.ReceivedBytes()) + L" bytes received");
    if (!player_.LastError().empty()) lines.push_back(L"error: " + player_.LastError());
  }
  RenderStage(dc, client, player_, Stage(), lines);
}

void FlashObject::ShowContextMenu(int x, int y) {
  HMENU bar = LoadMenuA(g_module, MAKEINTRESOURCEA(201));
  if (!bar) return;
  HMENU popup = GetSubMenu(bar, 0);
  if (popup) {
    int command = TrackPopupMenu(popup, TPM_RETURNCMD | TPM_RIGHTBUTTON, x, y, 0, window_, nullptr);
    switch (command) {
      case 1:
        Play();
        break;
      case 2:
        put_Loop(player_.Loop() ? VARIANT_FALSE : VARIANT_TRUE);
        break;
      case 3:
        Rewind();
        break;
      case 4:
        Forward();
        break;
      case 5:
        Back();
        break;
      default:
        break;
    }
  }
  DestroyMenu(bar);
}

void FlashObject::OnChanged() {
  if (window_) InvalidateRect(window_, nullptr, FALSE);
}

}  // namespace standin
