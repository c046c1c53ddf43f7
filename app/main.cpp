// Program entry of the player.
#include <windows.h>

#include <exception>
#include <string>

#include "app/UfrmMain.h"
#include "forms/forms.h"
#include "app/log4dp.h"
#include "content/content_manager.h"
#include "runtime/flash_control_unit.h"

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
  using namespace pageturn;
  // COM for the whole run, before the runtime is first mapped and until after it is unloaded:
  // its attach, its detach and the releases around them all belong to an initialised thread.
  const bool oleInitialized = SUCCEEDED(::OleInitialize(nullptr));
  // Unit start-ups before any window: the control unit (code provider, interception, content
  // manager, urlmon bindings, working-set timer), then the main window's unit. The control unit
  // runs on this thread, which is the GUI thread that served streams are marshalled to.
  try {
    FlashControlUnitStartup();
  } catch (const std::exception& e) {
    // TFatalStartupError carries the fixed messages; anything else is just as fatal here.
    FlashControlUnitShutdown();
    ::MessageBoxA(nullptr, e.what(), "Pageturn", MB_OK | MB_ICONERROR | MB_TASKMODAL);
    if (oleInitialized) ::OleUninitialize();
    return 1;
  }
  try {
    UfrmMainInitialization();
  } catch (...) {
    // Bundle failures are silent; without a runtime the control stays a plain window.
  }
  try {
    TApplication application;
    // Once the loop is over, however it ends: what binding threads still wait for runs now and
    // nothing more is taken, before the forms go and the runtime, closing with them, waits for
    // its threads. (Declared after the application, so it runs before the forms are freed.)
    struct TLoopEnded {
      ~TLoopEnded() {
        if (ContentManager) ContentManager->StopServingGUISteps();
      }
    } loopEnded;
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
  if (oleInitialized) ::OleUninitialize();
  return 0;
}
