// The smallest Win32 window program: one visible top-level window and a message loop. The
// start-up benchmark times it next to the player under the same Wine.
#include <windows.h>

namespace {

LRESULT CALLBACK WindowProcedure(HWND window, UINT msg, WPARAM wParam, LPARAM lParam) {
  if (msg == WM_DESTROY) {
    ::PostQuitMessage(0);
    return 0;
  }
  return ::DefWindowProcA(window, msg, wParam, lParam);
}

}  // namespace

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int) {
  WNDCLASSA wc = {};
  wc.lpfnWndProc = WindowProcedure;
  wc.hInstance = instance;
  wc.hbrBackground = ::GetSysColorBrush(COLOR_WINDOW);
  wc.lpszClassName = "MinimalWindow";
  ::RegisterClassA(&wc);
  const HWND window = ::CreateWindowExA(0, "MinimalWindow", "Minimal", WS_OVERLAPPEDWINDOW, 399,
                                        262, 640, 480, nullptr, nullptr, instance, nullptr);
  ::ShowWindow(window, SW_SHOWNORMAL);
  MSG msg;
  while (::GetMessageA(&msg, nullptr, 0, 0) > 0) {
    ::TranslateMessage(&msg);
    ::DispatchMessageA(&msg);
  }
  return 0;
}
