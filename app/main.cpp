// Program entry of the player.
#include <windows.h>

#include "app/UfrmMain.h"
#include "app/forms.h"

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
  using namespace pageturn;
  // Unit start-ups, in this order, before any window exists (wired with the player):
  //   1. the control unit, FlashControlUnitStartup() (runtime/flash_control_unit.h): code
  //      provider, import interception, content manager, urlmon bindings, working-set timer; a
  //      TFatalStartupError ends the program with its message before any window;
  //   2. UfrmMain's unit: a flash.ocx in the bundle handed to the runtime loader.
  // Their shut-downs run after the message loop, the main window's unit first, then
  // FlashControlUnitShutdown().
  try {
    TApplication application;
    Application = &application;
    application.Initialize();
    frmMain = application.CreateForm<TfrmMain>();
    application.Run();
    frmMain = nullptr;
  } catch (...) {
    // The shell shows no message of its own.
  }
  Application = nullptr;
  return 0;
}
