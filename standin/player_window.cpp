// The windows of the object: the in-place player window and the hidden message window.
#include "flash_object.h"

#include "module.h"

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
        case kMsgFetchDone: self->player_.OnFetchDone(reinterpret_cast<void*>(lp)); break;
        case kMsgFetchProgress:
          self->player_.OnFetchProgress(reinterpret_cast<void*>(lp), size_t(wp));
          break;
        case kMsgRun:  // sent by RunOnOwnerThread; the sender owns the function
          result = (*reinterpret_cast<std::function<HRESULT()>*>(lp))();
          break;
        case WM_TIMER:
          if (wp == kFrameTimer) self->player_.OnFrameTimer();
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
  } else if (Player::Level* main = player_.FindLevel(0); main && main->timeline &&
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
  for (const auto& [number, level] : player_.Levels()) {
    if (!level->timeline) continue;
    lines.push_back(L"level " + std::to_wstring(number) + L": frame " +
                    std::to_wstring(level->timeline->CurrentFrame() + 1) + L" of " +
                    std::to_wstring(level->timeline->FrameCount()) + L", " +
                    std::to_wstring(level->bytes) + L" bytes received" +
                    (number ? L" (" + level->url + L")" : L""));
  }
  if (player_.Levels().empty() && player_.Loading())
    lines.push_back(L"loading: " + std::to_wstring(player_.ReceivedBytes()) + L" bytes received");
  if (!player_.LastError().empty()) lines.push_back(L"error: " + player_.LastError());
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
      case 2: put_Loop(player_.Loop() ? VARIANT_FALSE : VARIANT_TRUE); break;
      case 3: Rewind(); break;
      case 4: Forward(); break;
      case 5: Back(); break;
      default: break;
    }
  }
  DestroyMenu(bar);
}


void FlashObject::OnChanged() {
  if (window_) InvalidateRect(window_, nullptr, FALSE);
}

}  // namespace standin
