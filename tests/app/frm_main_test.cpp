// The main window and the form framework in this process, with real windows (under Xvfb when
// run under Wine). This test program carries no bundle, so the configuration is unreadable, and
// there is no main movie to play.
#include <gtest/gtest.h>

#include <memory>
#include <vector>

#include "app/UfrmMain.h"
#include "forms/forms.h"
#include "runtime/flash_control_unit.h"

namespace pageturn {
namespace {

RECT WindowRect(HWND window) {
  RECT r = {};
  ::GetWindowRect(window, &r);
  return r;
}

::testing::AssertionResult RectIs(HWND window, int left, int top, int width, int height) {
  const RECT r = WindowRect(window);
  if (r.left == left && r.top == top && r.right - r.left == width && r.bottom - r.top == height)
    return ::testing::AssertionSuccess();
  return ::testing::AssertionFailure() << "window at " << r.left << "," << r.top << " size "
                                       << r.right - r.left << "x" << r.bottom - r.top;
}

// Takes the quit request, if one was posted; so each check starts from an empty flag.
bool TakeQuit() {
  MSG msg;
  return ::PeekMessageA(&msg, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE) != 0;
}

class MainWindowTest : public ::testing::Test {
 protected:
  void SetUp() override {
    // As the program starts: the control unit first, which the main window's player needs.
    FlashControlUnitStartup();
    app_ = std::make_unique<TApplication>();
    Application = app_.get();
    app_->Initialize();
    form_ = app_->CreateForm<TfrmMain>();
  }
  void TearDown() override {
    app_.reset();
    Application = nullptr;
    FlashControlUnitShutdown();
    TakeQuit();
  }
  HWND Window() { return form_->Handle(); }
  LONG Style() { return ::GetWindowLongA(Window(), GWL_STYLE); }

  std::unique_ptr<TApplication> app_;
  TfrmMain* form_ = nullptr;
};

TEST_F(MainWindowTest, UnreadableConfigurationLeavesTheDesignedWindowAndNoHook) {
  char className[64] = {};
  ::GetClassNameA(Window(), className, sizeof className);
  EXPECT_STREQ(className, "TfrmMain");
  EXPECT_EQ(form_->Caption(), "Pageturn");
  EXPECT_EQ(app_->Title(), "Pageturn");
  EXPECT_TRUE(RectIs(Window(), 399, 262, 1020, 575));
  EXPECT_EQ(Style() & WS_OVERLAPPEDWINDOW, WS_OVERLAPPEDWINDOW);
  EXPECT_FALSE(form_->ScreenSaverMode);
  EXPECT_FALSE(form_->FullScreen);
  EXPECT_FALSE(app_->OnMessage) << "the hook comes with a readable configuration only";
}

TEST_F(MainWindowTest, EnterTwiceThenLeaveRestoresTheFirstPlacement) {
  form_->Show();
  form_->SetBounds(100, 120, 700, 500);
  form_->EnterFullScreen();
  EXPECT_TRUE(form_->FullScreen);
  EXPECT_EQ(Style() & (WS_CAPTION | WS_THICKFRAME | WS_SYSMENU), 0);
  EXPECT_TRUE(Style() & WS_MAXIMIZEBOX);
  EXPECT_TRUE(::IsWindowVisible(Window()));
  EXPECT_TRUE(
      RectIs(Window(), 0, 0, ::GetSystemMetrics(SM_CXSCREEN), ::GetSystemMetrics(SM_CYSCREEN)));
  EXPECT_EQ(form_->WindowState(), TWindowState::wsMaximized);

  form_->EnterFullScreen();  // already there: the saved placement stays the first one
  EXPECT_EQ(form_->SavedWidth, 700);
  form_->LeaveFullScreen();
  EXPECT_FALSE(form_->FullScreen);
  EXPECT_TRUE(RectIs(Window(), 100, 120, 700, 500));
  EXPECT_EQ(Style() & WS_OVERLAPPEDWINDOW, WS_OVERLAPPEDWINDOW);
  EXPECT_FALSE(::IsZoomed(Window()));
  EXPECT_TRUE(::IsWindowVisible(Window()));
  EXPECT_EQ(form_->WindowState(), TWindowState::wsNormal);

  form_->LeaveFullScreen();  // not in full screen: nothing happens
  EXPECT_TRUE(RectIs(Window(), 100, 120, 700, 500));
}

// As configuration mode 3 does it: full screen before the window is first shown.
TEST_F(MainWindowTest, FullScreenEnteredBeforeShowingLeavesToTheDesignedPlacement) {
  form_->EnterFullScreen();
  form_->Show();
  EXPECT_TRUE(
      RectIs(Window(), 0, 0, ::GetSystemMetrics(SM_CXSCREEN), ::GetSystemMetrics(SM_CYSCREEN)));
  EXPECT_TRUE(::IsZoomed(Window()));
  form_->LeaveFullScreen();
  EXPECT_TRUE(RectIs(Window(), 399, 262, 1020, 575));
  EXPECT_FALSE(::IsZoomed(Window()));
  EXPECT_EQ(Style() & WS_OVERLAPPEDWINDOW, WS_OVERLAPPEDWINDOW);
}

TEST_F(MainWindowTest, FullScreenFromMaximisedReturnsMaximised) {
  form_->Show();
  form_->SetWindowState(TWindowState::wsMaximized);
  ASSERT_TRUE(::IsZoomed(Window()));
  form_->EnterFullScreen();
  EXPECT_EQ(form_->SavedWindowState, TWindowState::wsMaximized);
  EXPECT_TRUE(
      RectIs(Window(), 0, 0, ::GetSystemMetrics(SM_CXSCREEN), ::GetSystemMetrics(SM_CYSCREEN)));
  form_->LeaveFullScreen();
  EXPECT_TRUE(::IsZoomed(Window()));
  EXPECT_EQ(form_->WindowState(), TWindowState::wsMaximized);
  EXPECT_TRUE(Style() & WS_CAPTION);
}

TEST_F(MainWindowTest, EscapeTypedIntoTheFormLeavesFullScreenWhenThereIsNoHook) {
  form_->Show();
  form_->EnterFullScreen();
  ::PostMessageA(Window(), WM_KEYDOWN, VK_ESCAPE, 0x00010001);
  ::PostMessageA(Window(), WM_KEYUP, VK_ESCAPE, 0xC0010001);
  app_->ProcessMessages();
  EXPECT_FALSE(form_->FullScreen);
  EXPECT_FALSE(TakeQuit()) << "without the hook Escape does not close the window";
}

TEST_F(MainWindowTest, ClosingTheMainFormEndsTheLoop) {
  form_->Show();
  ::PostMessageA(Window(), WM_CLOSE, 0, 0);
  app_->Run();  // returns once the close has turned into the quit request
  EXPECT_TRUE(app_->Terminated());
}

// The hook's rules, one message at a time; closing shows as the quit request it posts.
TEST_F(MainWindowTest, ScreenSaverHookClosesOnInputBeyondTheTolerance) {
  struct Case {
    UINT message;
    WPARAM wParam;
    LPARAM lParam;
    bool closes;
  } cases[] = {
      {WM_KEYDOWN, 'A', 0, true},
      {WM_LBUTTONDOWN, 0, MAKELPARAM(100, 200), true},
      {WM_LBUTTONDBLCLK, 0, MAKELPARAM(100, 200), true},
      {WM_RBUTTONDOWN, 0, MAKELPARAM(100, 200), true},
      {WM_MOUSEWHEEL, MAKEWPARAM(0, 120), MAKELPARAM(100, 200), true},
      {WM_MOUSEMOVE, 0, MAKELPARAM(105, 195), false},
      {WM_MOUSEMOVE, 0, MAKELPARAM(95, 205), false},
      {WM_MOUSEMOVE, 0, MAKELPARAM(106, 200), true},
      {WM_MOUSEMOVE, 0, MAKELPARAM(100, 194), true},
      {WM_KEYUP, 'A', 0, false},
      {WM_SYSKEYDOWN, VK_MENU, 0, false},
      {WM_MBUTTONDOWN, 0, MAKELPARAM(100, 200), false},
      {WM_RBUTTONDBLCLK, 0, MAKELPARAM(100, 200), false},
      {WM_LBUTTONUP, 0, MAKELPARAM(300, 300), false},
      {WM_CHAR, 'a', 0, false},
  };
  form_->ScreenSaverMode = true;
  form_->StartCursorPos = {100, 200};
  for (const auto& c : cases) {
    MSG msg = {Window(), c.message, c.wParam, c.lParam, 0, {0, 0}};
    bool handled = false;
    form_->AppMessage(msg, handled);
    EXPECT_EQ(TakeQuit(), c.closes) << std::hex << c.message << " " << c.lParam;
    EXPECT_FALSE(handled);
  }
}

TEST_F(MainWindowTest, ScreenSaverHookReadsCoordinatesAsUnsignedWords) {
  form_->ScreenSaverMode = true;
  form_->StartCursorPos = {0, 0};
  // x = -1 as a signed word would be 1 pixel away; as the unsigned word 65535 it is far away.
  MSG msg = {Window(), WM_MOUSEMOVE, 0, MAKELPARAM(0xFFFF, 0), 0, {0, 0}};
  bool handled = false;
  form_->AppMessage(msg, handled);
  EXPECT_TRUE(TakeQuit());
}

TEST_F(MainWindowTest, WindowedHookClosesOnEscapeInFullScreenOnly) {
  bool handled = false;
  MSG escape = {Window(), WM_KEYDOWN, VK_ESCAPE, 0, 0, {0, 0}};
  MSG other = {Window(), WM_KEYDOWN, 'Q', 0, 0, {0, 0}};
  MSG click = {Window(), WM_LBUTTONDOWN, 0, MAKELPARAM(500, 500), 0, {0, 0}};
  form_->AppMessage(escape, handled);
  EXPECT_FALSE(TakeQuit()) << "windowed";
  form_->FullScreen = true;
  form_->AppMessage(other, handled);
  form_->AppMessage(click, handled);
  EXPECT_FALSE(TakeQuit());
  form_->AppMessage(escape, handled);
  EXPECT_TRUE(TakeQuit());
}

// ---- the framework beneath

class TProbeControl : public TWinControl {
 public:
  using TWinControl::TWinControl;
  ~TProbeControl() override { DestroyHandle(); }
  HWND adopt = nullptr;
  std::vector<UINT> seen;

 protected:
  void CreateWnd() override {
    if (adopt)
      AttachWindow(adopt);
    else
      TWinControl::CreateWnd();
  }
  void DestroyWnd() override {
    if (adopt)
      DetachWindow();
    else
      TWinControl::DestroyWnd();
  }
  void WndProc(TMessage& message) override {
    if (message.Msg >= WM_USER) seen.push_back(message.Msg);
    TWinControl::WndProc(message);
  }
};

std::vector<UINT>* foreignSeen = nullptr;
LRESULT CALLBACK ForeignProcedure(HWND window, UINT msg, WPARAM wParam, LPARAM lParam) {
  if (msg >= WM_USER && foreignSeen) foreignSeen->push_back(msg);
  if (msg == WM_USER + 7) return 77;
  return ::DefWindowProcA(window, msg, wParam, lParam);
}

TEST_F(MainWindowTest, ClientAlignedChildFillsTheClientAreaAndIsTheActiveControlWithTheFocus) {
  auto* child = new TProbeControl(form_);
  child->SetAlign(TAlign::alClient);
  child->SetParent(form_);
  ASSERT_TRUE(child->HandleAllocated());
  RECT client;
  ::GetClientRect(Window(), &client);
  EXPECT_EQ(child->Left(), 0);
  EXPECT_EQ(child->Width(), client.right);
  EXPECT_EQ(child->Height(), client.bottom);

  form_->Show();
  ::SetFocus(child->Handle());
  EXPECT_EQ(form_->ActiveControl(), child);
  ::SetFocus(Window());
  EXPECT_EQ(form_->ActiveControl(), nullptr);

  form_->SetBounds(10, 10, 500, 400);
  ::GetClientRect(Window(), &client);
  EXPECT_EQ(child->Width(), client.right);
  form_->SetBorderWidth(8);
  EXPECT_EQ(child->Left(), 8);
  EXPECT_EQ(child->Top(), 8);
  EXPECT_EQ(child->Width(), client.right - 16);
}

TEST_F(MainWindowTest, AdoptedForeignWindowRoutesThroughTheControlAndIsGivenBack) {
  WNDCLASSA wc = {};
  wc.lpfnWndProc = ForeignProcedure;
  wc.hInstance = ::GetModuleHandleA(nullptr);
  wc.lpszClassName = "PageturnForeignTestWindow";
  ::RegisterClassA(&wc);
  const HWND foreign = ::CreateWindowExA(0, wc.lpszClassName, "", WS_CHILD | WS_VISIBLE, 0, 0, 50,
                                         50, Window(), nullptr, wc.hInstance, nullptr);
  ASSERT_TRUE(foreign);
  std::vector<UINT> reached;
  foreignSeen = &reached;

  auto* control = new TProbeControl(form_);
  control->adopt = foreign;
  control->SetParent(form_);
  ASSERT_EQ(control->Handle(), foreign);
  EXPECT_EQ(TWinControl::FromHandle(foreign), control);
  EXPECT_EQ(::SendMessageA(foreign, WM_USER + 7, 0, 0), 77)
      << "the default handler reaches the window's own procedure";
  EXPECT_EQ(control->seen, std::vector<UINT>{WM_USER + 7});
  EXPECT_EQ(reached, std::vector<UINT>{WM_USER + 7});

  control->DestroyHandle();
  EXPECT_TRUE(::IsWindow(foreign)) << "the adopted window belongs to its maker";
  EXPECT_EQ(reinterpret_cast<WNDPROC>(::GetWindowLongPtrA(foreign, GWLP_WNDPROC)),
            &ForeignProcedure);
  EXPECT_EQ(TWinControl::FromHandle(foreign), nullptr);
  ::SendMessageA(foreign, WM_USER + 8, 0, 0);
  EXPECT_EQ(control->seen.size(), 1u);
  delete control;
  foreignSeen = nullptr;
  ::DestroyWindow(foreign);
}

}  // namespace
}  // namespace pageturn
