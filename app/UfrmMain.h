// The main window: the one visible window of the player, its display modes (sized, maximised,
// full screen, screen saver) and the book configuration applied to it.
#pragma once

#include <windows.h>

#include <cstdint>

#include "app/forms.h"

namespace pageturn {

// Unit start-up of the main window's unit, after the control unit's and before any window: a
// flash.ocx in the bundle becomes the runtime the control is served from.
void UfrmMainInitialization();

class TfrmMain : public TForm {
 public:
  explicit TfrmMain(TWinControl* owner);

  // The host control (FlashPlayerControl1) is declared ahead of these with the player wiring.
  bool FullScreen = false;
  bool ScreenSaverMode = false;
  std::int32_t SavedWidth = 0;
  std::int32_t SavedHeight = 0;
  TWindowState SavedWindowState = TWindowState::wsNormal;
  std::int32_t SavedLeft = 0;
  std::int32_t SavedTop = 0;
  POINT StartCursorPos = {0, 0};

  void FormCreate(TWinControl* sender);
  void FormKeyPress(TWinControl* sender, char& key);
  // The application's message hook while the configuration is applied; never marks a message
  // handled.
  void AppMessage(MSG& msg, bool& handled);

  void ParseCommandLine();
  void ApplyBookConfig();
  void EnterFullScreen();
  void LeaveFullScreen();

 protected:
  const char* WindowClassName() const override { return "TfrmMain"; }
};

// The main window, once the program entry has created it.
extern TfrmMain* frmMain;

}  // namespace pageturn
