// Program entry of the player.
#include <windows.h>

#include "app/UfrmMain.h"
#include "app/forms.h"

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
  using namespace pageturn;
  // Unit start-ups, in this order, before any window exists:
  //   1. the control unit (runtime/): floating-point exceptions masked, code provider, import
  //      interception, content manager, URL-moniker bindings, working-set timer;
  //   2. UfrmMain: a flash.ocx in the bundle handed to the runtime loader.
  // Their shut-downs run in the reverse order after the message loop.
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
