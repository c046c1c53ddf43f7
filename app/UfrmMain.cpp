#include "app/UfrmMain.h"

#include <cstdlib>
#include <memory>

#include "app/command_line.h"
#include "app/exe_config_info.h"
#include "app/log4dp.h"
#include "bundle/bundle_lookup.h"
#include "runtime/code_provider.h"

namespace pageturn {

TfrmMain* frmMain = nullptr;

namespace {

// The window's placement as designed.
constexpr int kDesignedLeft = 399, kDesignedTop = 262;
constexpr int kDesignedWidth = 1020, kDesignedHeight = 575;

// Pointer moves that stay within this many pixels of the start position on both axes are the
// jitter of a resting mouse and do not end the screen saver.
constexpr int kMouseMoveTolerance = 5;

}  // namespace

TfrmMain::TfrmMain(TWinControl* owner) : TForm(owner) {
  SetBounds(kDesignedLeft, kDesignedTop, kDesignedWidth, kDesignedHeight);
  SetCaption("Pageturn");
  OnCreate = [this](TWinControl* sender) { FormCreate(sender); };
  OnKeyPress = [this](TWinControl* sender, char& key) { FormKeyPress(sender, key); };
  // OnKeyDown and OnKeyUp forward the form's keys to the host control (player wiring).
}

void UfrmMainInitialization() {
  if (BundleEntryIndex("flash.ocx") > 0) {
    // A failed fetch hands over no stream: the provider then has no runtime.
    const std::unique_ptr<TMemoryStream> runtime = LoadBundleEntry("flash.ocx");
    LoadRuntimeFromStream(runtime.get());
  }
}

void TfrmMain::ParseCommandLine() {
  ParseLogSwitches(ProgramArguments(), DebugEnabled, LogFileName);
}

void TfrmMain::FormCreate(TWinControl*) {
  ScreenSaverMode = false;
  ParseCommandLine();
  ::GetCursorPos(&StartCursorPos);
  ApplyBookConfig();
  Application->SetTitle(Caption());
  // Steps 6 to 13, the player start-up, follow here: log "Loading book.swf...", fetch book.swf,
  // create FlashPlayerControl1, bind its events, parent and align it to the client area,
  // register the global content handler, load the movie from the stream, free the stream.
}

void TfrmMain::ApplyBookConfig() {
  // A configuration that cannot be read changes nothing: no caption, no mode, no hook.
  try {
    TLog4DP::WriteLog("ConfigFileName:" + TExeConfigInfo::ConfigFileName());
    const std::unique_ptr<TMemoryStream> stream = LoadBundleEntry(TExeConfigInfo::ConfigFileName());
    TExeConfigInfo config;
    config.LoadFromStream(stream.get());

    SetCaption(config.ExeCaption);
    switch (config.WindowOpenMode) {
      case 1:
        SetWidth(config.WindowOpenWidth);
        SetHeight(config.WindowOpenHeight);
        break;
      case 2:
        SetWindowState(TWindowState::wsMaximized);
        break;
      case 3:
        EnterFullScreen();
        break;
      default:
        break;
    }
    if (config.ScreenSaver) {
      ScreenSaverMode = true;
      EnterFullScreen();
      const std::vector<std::string> arguments = ProgramArguments();
      // The preview request of the screen-saver host: start up, then end at once.
      if (!arguments.empty() && IsPreviewArgument(arguments.front())) Application->Terminate();
    }
    Application->OnMessage = [this](MSG& msg, bool& handled) { AppMessage(msg, handled); };
  } catch (...) {
  }
}

void TfrmMain::EnterFullScreen() {
  if (FullScreen) return;
  SavedWidth = Width();
  SavedHeight = Height();
  SavedLeft = Left();
  SavedTop = Top();
  SavedWindowState = WindowState();
  if (SavedWindowState == TWindowState::wsMaximized) SetWindowState(TWindowState::wsNormal);
  FullScreen = true;
  const LONG style = ::GetWindowLongA(Handle(), GWL_STYLE);
  ::SetWindowLongA(Handle(), GWL_STYLE, style & 0xFF3FFFFF);  // WS_CAPTION off
  ::SetWindowLongA(Handle(), GWL_STYLE, WS_MAXIMIZEBOX);      // no caption, frame or menu
  SetBorderWidth(0);
  SetWindowState(TWindowState::wsMaximized);
  SetWidth(::GetSystemMetrics(SM_CXSCREEN));
  SetHeight(::GetSystemMetrics(SM_CYSCREEN));
  SetLeft(0);
  SetTop(0);
}

void TfrmMain::LeaveFullScreen() {
  if (!FullScreen) return;
  FullScreen = false;
  SetWindowState(TWindowState::wsNormal);
  ::SetWindowLongA(Handle(), GWL_STYLE, WS_OVERLAPPEDWINDOW);
  SetWindowState(TWindowState::wsMaximized);
  SetWidth(SavedWidth);
  SetHeight(SavedHeight);
  SetLeft(SavedLeft);
  SetTop(SavedTop);
  SetWindowState(SavedWindowState);
}

void TfrmMain::FormKeyPress(TWinControl*, char& key) {
  TLog4DP::WriteLog(std::string("FormKeyPress[") + key + "]");
  if (key == 27) LeaveFullScreen();
}

void TfrmMain::AppMessage(MSG& msg, bool&) {
  if (ScreenSaverMode) {
    switch (msg.message) {
      case WM_KEYDOWN:
      case WM_LBUTTONDOWN:
      case WM_LBUTTONDBLCLK:
      case WM_RBUTTONDOWN:
      case WM_MOUSEWHEEL:
        Close();
        break;
      case WM_MOUSEMOVE: {
        // The coordinates are taken as unsigned words, as they always were.
        const int x = LOWORD(msg.lParam);
        const int y = HIWORD(msg.lParam);
        if (std::abs(x - StartCursorPos.x) > kMouseMoveTolerance ||
            std::abs(y - StartCursorPos.y) > kMouseMoveTolerance)
          Close();
        break;
      }
      default:
        break;
    }
  } else if (msg.message == WM_KEYDOWN && msg.wParam == VK_ESCAPE && FullScreen) {
    Close();
  }
}

}  // namespace pageturn
