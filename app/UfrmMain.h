// The main window: the one visible window of the player, its display modes (sized, maximised,
// full screen, screen saver), the book configuration applied to it, and the player that fills it
// and answers the movie's file requests from the bundle.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>

#include "forms/forms.h"
#include "core/stream.h"
#include "flashhost/flash_player_control.h"

namespace pageturn {

// Unit start-up of the main window's unit, after the control unit's and before any window: a
// flash.ocx in the bundle becomes the runtime the control is served from.
void UfrmMainInitialization();

class TBookNotice;

class TfrmMain : public TForm {
 public:
  explicit TfrmMain(TWinControl* owner);

  // Created in FormCreate and owned by the form.
  TFlashPlayerControl* FlashPlayerControl1 = nullptr;
  bool FullScreen = false;
  bool ScreenSaverMode = false;
  std::int32_t SavedWidth = 0;
  std::int32_t SavedHeight = 0;
  TWindowState SavedWindowState = TWindowState::wsNormal;
  std::int32_t SavedLeft = 0;
  std::int32_t SavedTop = 0;
  POINT StartCursorPos = {0, 0};

  void FormCreate(TWinControl* sender);
  void FormKeyDown(TWinControl* sender, WORD& key, TShiftState shift);
  void FormKeyPress(TWinControl* sender, char& key);
  void FormKeyUp(TWinControl* sender, WORD& key, TShiftState shift);
  // The application's message hook while the configuration is applied; never marks a message
  // handled.
  void AppMessage(MSG& msg, bool& handled);

  void ParseCommandLine();
  void ApplyBookConfig();
  void EnterFullScreen();
  void LeaveFullScreen();

  // The control's events. The three content handlers run on the thread of the runtime's bind or
  // file open and touch nothing but the bundle, the log and the streams they are given.
  void FlashPlayerControl1FSCommand(TWinControl* ASender, const std::wstring& command,
                                    const std::wstring& args);
  // Calls from the movie other than the host probe (which the control answers itself) go
  // unanswered.
  void FlashPlayerControl1FlashCall(TWinControl* ASender, const std::wstring& request);
  void FlashPlayerControl1LoadExternalResource(TWinControl* ASender, const std::wstring& URL,
                                               TStream* Stream);
  void FlashPlayerControl1LoadExternalResourceEx(TWinControl* ASender, const std::wstring& URL,
                                                 TStream* Stream, bool& bHandled);
  void FlashPlayerControl1LoadExternalResourceAsync(TWinControl* ASender, const std::wstring& Path,
                                                    TStream*& Stream);
  // The content manager's answer to URLs that carry no virtual name: the whole URL looked up in
  // the bundle. Handled means the stream was taken over (and is freed here). It needs no form:
  // the content manager may call it on a binding thread after the form is gone.
  static void ServeBundleContent(const std::wstring& URL, TStream* stream, bool& handled);

  // What the window says instead of playing, when it cannot play; empty while it plays.
  std::string NoticeText() const;

 protected:
  const char* WindowClassName() const override { return "TfrmMain"; }

 private:
  void BindPlayerEvents();
  void ShowNotice(const std::string& text);

  TBookNotice* notice_ = nullptr;
};

// The main window, once the program entry has created it.
extern TfrmMain* frmMain;

}  // namespace pageturn
