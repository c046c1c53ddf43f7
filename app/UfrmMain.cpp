#include "app/UfrmMain.h"

#include <cstdlib>
#include <exception>
#include <memory>

#include "app/command_line.h"
#include "app/exe_config_info.h"
#include "app/log4dp.h"
#include "bundle/bundle_lookup.h"
#include "content/content_manager.h"
#include "core/error.h"
#include "core/text.h"
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

constexpr const char* kMainMovieName = "book.swf";

// What a reader is told when the book cannot play, instead of an empty window.
constexpr const char* kNoMainMovieNotice =
    "This book cannot be shown: it has no main movie (book.swf).";
constexpr const char* kNoRuntimeNotice =
    "This book needs the Adobe Flash Player runtime to play. The book does not carry it, and it "
    "is not installed on this computer.";
constexpr const char* kRuntimeFailedNotice = "The Flash Player runtime could not be started: ";

// Counts what goes through it to the stream it is given.
class TCountingStream final : public TStream {
 public:
  explicit TCountingStream(TStream& target) : target_(target) {}
  std::size_t Read(void* buffer, std::size_t count) override { return target_.Read(buffer, count); }
  std::size_t Write(const void* buffer, std::size_t count) override {
    const std::size_t written = target_.Write(buffer, count);
    written_ += written;
    return written;
  }
  std::int64_t Seek(std::int64_t offset, TSeekOrigin origin) override {
    return target_.Seek(offset, origin);
  }
  std::uint64_t Written() const { return written_; }

 private:
  TStream& target_;
  std::uint64_t written_ = 0;
};

// Copies the entry into the stream that a request gave. An empty entry is still an answer: one
// write of no bytes tells the content layer so, and the request ends with empty content instead
// of going on to look elsewhere. An entry that cannot be copied whole raises, so that the request
// ends with an error rather than with a part of the file as if it were all.
void ServeBundleEntry(const std::string& name, TStream& stream) {
  TCountingStream counted(stream);
  if (!ExtractBundleEntry(name, counted)) {
    TLog4DP::WriteLog("Failed .. url[" + name + "]");
    throw Error("Cannot read " + name + " from the book");
  }
  static const char nothing = 0;
  if (counted.Written() == 0) stream.Write(&nothing, 0);
}

}  // namespace

// Says in plain words why the window shows no book: the text is drawn centred on the window
// colour, and is the window's text too, so that it can be read from outside.
class TBookNotice : public TWinControl {
 public:
  TBookNotice(TWinControl* owner, const std::string& text) : TWinControl(owner), text_(text) {
    SetMessageHandler(WM_PAINT, [this](TMessage& m) { Paint(m); });
    SetMessageHandler(WM_ERASEBKGND, [](TMessage& m) { m.Result = 1; });
  }
  ~TBookNotice() override { DestroyHandle(); }
  const std::string& Text() const { return text_; }

 protected:
  const char* WindowClassName() const override { return "TBookNotice"; }
  void CreateParams(TCreateParams& params) override {
    TWinControl::CreateParams(params);
    params.Caption = text_;
    params.ClassStyle |= CS_HREDRAW | CS_VREDRAW;  // the text stays centred on every resize
  }

 private:
  void Paint(TMessage& m) {
    PAINTSTRUCT paint;
    const HDC dc = ::BeginPaint(Handle(), &paint);
    RECT client = ClientRect();
    ::FillRect(dc, &client, ::GetSysColorBrush(COLOR_WINDOW));
    ::SetBkMode(dc, TRANSPARENT);
    ::SetTextColor(dc, ::GetSysColor(COLOR_WINDOWTEXT));
    const HGDIOBJ oldFont = ::SelectObject(dc, ::GetStockObject(DEFAULT_GUI_FONT));
    // Centred as a block: measure the wrapped text first, then place it in the middle.
    RECT text = {client.left + 24, 0, client.right - 24, 0};
    ::DrawTextA(dc, text_.c_str(), -1, &text, DT_CENTER | DT_WORDBREAK | DT_CALCRECT);
    const int height = text.bottom - text.top;
    text.left = client.left + 24;
    text.right = client.right - 24;
    text.top = client.top + (client.bottom - client.top - height) / 2;
    text.bottom = text.top + height;
    ::DrawTextA(dc, text_.c_str(), -1, &text, DT_CENTER | DT_WORDBREAK);
    ::SelectObject(dc, oldFont);
    ::EndPaint(Handle(), &paint);
    m.Result = 0;
  }

  std::string text_;
};

TfrmMain::TfrmMain(TWinControl* owner) : TForm(owner) {
  SetBounds(kDesignedLeft, kDesignedTop, kDesignedWidth, kDesignedHeight);
  SetCaption("Pageturn");
  OnCreate = [this](TWinControl* sender) { FormCreate(sender); };
  OnKeyDown = [this](TWinControl* sender, WORD& key, TShiftState shift) {
    FormKeyDown(sender, key, shift);
  };
  OnKeyPress = [this](TWinControl* sender, char& key) { FormKeyPress(sender, key); };
  OnKeyUp = [this](TWinControl* sender, WORD& key, TShiftState shift) {
    FormKeyUp(sender, key, shift);
  };
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

  TLog4DP::WriteLog("Loading book.swf...");
  std::unique_ptr<TMemoryStream> movie = LoadBundleEntry(kMainMovieName);
  const bool hasMovie = movie != nullptr;
  // A runtime that refuses to be sited or activated raises here; the window then says why
  // instead of the program ending without a word.
  std::string failure;
  try {
    FlashPlayerControl1 = new TFlashPlayerControl(this);
    BindPlayerEvents();
    FlashPlayerControl1->SetParent(this);
    FlashPlayerControl1->SetAlign(TAlign::alClient);
  } catch (const std::exception& e) {
    failure = e.what();
  } catch (...) {
    failure = "unknown error";
  }
  // Not bound to the form: binding threads may still ask after the form is gone.
  ContentManager->SetGlobalContentHandler(&TfrmMain::ServeBundleContent);
  // Without a main movie there is nothing to load: the window says so instead.
  if (hasMovie && FlashPlayerControl1) {
    try {
      FlashPlayerControl1->SetMovieFromStream(*movie);
    } catch (const std::exception& e) {
      if (failure.empty()) failure = e.what();
    }
  }
  movie.reset();  // the control has taken the whole movie

  if (!failure.empty()) {
    TLog4DP::WriteLog("Flash runtime failed to start: " + failure);
    ShowNotice(kRuntimeFailedNotice + failure);
  } else if (!FlashPlayerControl1->RuntimeObject()) {
    TLog4DP::WriteLog("No Flash runtime: none in the book, none installed");
    ShowNotice(kNoRuntimeNotice);
  } else if (!hasMovie) {
    TLog4DP::WriteLog("book.swf not found in the book");
    ShowNotice(kNoMainMovieNotice);
  }
}

void TfrmMain::BindPlayerEvents() {
  FlashPlayerControl1->OnFSCommand = [this](TWinControl* sender, const std::wstring& command,
                                            const std::wstring& args) {
    FlashPlayerControl1FSCommand(sender, command, args);
  };
  // Bound so that the control answers the movie's host probe, which it does only for a host that
  // takes calls; the book asks nothing else of the host.
  FlashPlayerControl1->OnFlashCall = [this](TWinControl* sender, const std::wstring& request) {
    FlashPlayerControl1FlashCall(sender, request);
  };
  FlashPlayerControl1->OnLoadExternalResource = [this](TWinControl* sender, const std::wstring& url,
                                                       TStream* stream) {
    FlashPlayerControl1LoadExternalResource(sender, url, stream);
  };
  FlashPlayerControl1->OnLoadExternalResourceEx =
      [this](TWinControl* sender, const std::wstring& url, TStream* stream, bool& handled) {
        FlashPlayerControl1LoadExternalResourceEx(sender, url, stream, handled);
      };
  FlashPlayerControl1->OnLoadExternalResourceAsync =
      [this](TWinControl* sender, const std::wstring& path, TStream*& stream) {
        FlashPlayerControl1LoadExternalResourceAsync(sender, path, stream);
      };
}

void TfrmMain::ShowNotice(const std::string& text) {
  // The notice takes the control's place; the control stays, hidden, for the rest of the run.
  if (FlashPlayerControl1) FlashPlayerControl1->SetVisible(false);
  notice_ = new TBookNotice(this, text);
  notice_->SetParent(this);
  notice_->SetAlign(TAlign::alClient);
}

std::string TfrmMain::NoticeText() const { return notice_ ? notice_->Text() : std::string(); }

void TfrmMain::FlashPlayerControl1FSCommand(TWinControl*, const std::wstring& command,
                                            const std::wstring& args) {
  if (command == L"fullscreen" && args == L"true")
    EnterFullScreen();
  else if (command == L"fullscreen" && args == L"false")
    LeaveFullScreen();
}

void TfrmMain::FlashPlayerControl1FlashCall(TWinControl*, const std::wstring&) {}

void TfrmMain::FlashPlayerControl1LoadExternalResource(TWinControl*, const std::wstring& URL,
                                                       TStream* Stream) {
  const std::string name = WideToSystem(URL);
  TLog4DP::WriteLog("To load url2[" + name + "]");
  if (BundleEntryIndex(name) != 0) {
    TLog4DP::WriteLog("Got .. url2[" + name + "]");
    ServeBundleEntry(name, *Stream);
  } else if (name.compare(0, 2, "./") == 0) {
    // Movies name files beside them with a leading "./" that the index does not carry.
    const std::string rest = name.substr(2);
    if (BundleEntryIndex(rest) != 0) {
      TLog4DP::WriteLog("Got .. url2_2[" + rest + "]");
      ServeBundleEntry(rest, *Stream);
    }
  }
}

void TfrmMain::FlashPlayerControl1LoadExternalResourceEx(TWinControl*, const std::wstring& URL,
                                                         TStream*, bool&) {
  TLog4DP::WriteLog("To load url 333[" + WideToSystem(URL) + "]");
}

void TfrmMain::FlashPlayerControl1LoadExternalResourceAsync(TWinControl*, const std::wstring& Path,
                                                            TStream*& Stream) {
  const std::string name = WideToSystem(Path);
  TLog4DP::WriteLog("To load url 44[" + name + "]");
  if (BundleEntryIndex(name) == 0) return;
  TLog4DP::WriteLog("To load url 44_________[" + name + "]");
  Stream = LoadBundleEntry(name).release();
}

void TfrmMain::ServeBundleContent(const std::wstring& URL, TStream* stream, bool& handled) {
  const std::string name = WideToSystem(URL);
  TLog4DP::WriteLog("ContentProvider url[" + name + "]");
  if (BundleEntryIndex(name) <= 0) return;
  // Taken over: freeing it, on every path, is what ends the delivery.
  const std::unique_ptr<TStream> taken(stream);
  handled = true;
  ServeBundleEntry(name, *taken);
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

void TfrmMain::FormKeyDown(TWinControl*, WORD& key, TShiftState) {
  TLog4DP::WriteLog("FormKeyDown[" + std::to_string(key) + "]");
  if (FlashPlayerControl1) FlashPlayerControl1->Perform(WM_KEYDOWN, key, 0);
}

void TfrmMain::FormKeyUp(TWinControl*, WORD& key, TShiftState) {
  TLog4DP::WriteLog("FormKeyUp[" + std::to_string(key) + "]");
  if (FlashPlayerControl1) FlashPlayerControl1->Perform(WM_KEYUP, key, 0);
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
