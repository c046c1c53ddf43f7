// Program entry of the player.
#include <windows.h>

#include <exception>
#include <string>

#include "app/UfrmMain.h"
#include "forms/forms.h"
#include "app/log4dp.h"
#include "runtime/flash_control_unit.h"

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
  using namespace pageturn;
  // Unit start-ups before any window: the control unit (code provider, interception, content
  // manager, urlmon bindings, working-set timer), then the main window's unit. The control unit
  // runs on this thread, which is the GUI thread that served streams are marshalled to.
  try {
    FlashControlUnitStartup();
  } catch (const std::exception& e) {
    // TFatalStartupError carries the fixed messages; anything else is just as fatal here.
    FlashControlUnitShutdown();
    ::MessageBoxA(nullptr, e.what(), "Pageturn", MB_OK | MB_ICONERROR | MB_TASKMODAL);
    return 1;
  }
  try {
    UfrmMainInitialization();
  } catch (...) {
    // Bundle failures are silent; without a runtime the control stays a plain window.
  }
  try {
    TApplication application;
    Application = &application;
    application.Initialize();
    try {
      frmMain = application.CreateForm<TfrmMain>();
    } catch (const std::exception& e) {
      // The form stands once its window exists: a runtime that refuses in-place activation
      // leaves the host control a plain window, so the program goes on with what it has and
      // the log says why.
      TLog4DP::WriteLog(std::string("Main window start-up failed: ") + e.what());
    } catch (...) {
      TLog4DP::WriteLog("Main window start-up failed");
    }
    frmMain = dynamic_cast<TfrmMain*>(application.MainForm());
    if (frmMain) application.Run();
    frmMain = nullptr;
  } catch (...) {
    // The shell shows no message of its own.
  }
  Application = nullptr;
  FlashControlUnitShutdown();
  return 0;
}
