// Message routing of an in-place control with the fake runtime, sent to the real (subclassed)
// window: the mouse table with the control's own events in their order against what reaches the
// object's window, the context-menu requests, reflected keys, WM_SIZE, reflection renumbering,
// dialog keys and the parent's font and colour notifications.
#include <windows.h>

#include <gtest/gtest.h>

#include <sstream>

#include "tests/flashhost/flashhost_test_support.h"

namespace pageturn::test {
namespace {

// Records where its menu would have been shown instead of opening a modal menu.
class TRecordingPopupMenu : public TPopupMenu {
 public:
  explicit TRecordingPopupMenu(std::vector<std::string>& log) : log_(log) {}
  void Popup(int x, int y) override {
    log_.push_back("Popup(" + std::to_string(x) + "," + std::to_string(y) + ")");
  }

 private:
  std::vector<std::string>& log_;
};

std::string Join(const std::vector<std::string>& items) {
  std::string joined;
  for (const std::string& item : items) joined += (joined.empty() ? "" : ",") + item;
  return joined;
}

const char* ButtonName(TMouseButton button) {
  return button == TMouseButton::mbLeft ? "left" : button == TMouseButton::mbRight ? "right" : "middle";
}

class Routing : public FakeRuntimeTest {
 protected:
  void SetUp() override {
    FakeRuntimeTest::SetUp();
    script.translatesAccelerators = true;
    script.accelerator = VK_F2;
  }
  // An active control whose events and whose object's window messages go to one log.
  void Prepare(bool standartMenu, bool withPopup, bool designMode) {
    MakeActiveControl();
    control->StandartMenu = standartMenu ? -1 : 0;
    control->SetDesignMode(designMode);
    popup = std::make_unique<TRecordingPopupMenu>(log);
    if (withPopup) control->SetPopupMenu(popup.get());
    control->OnMouseDown = [this](TWinControl*, TMouseButton b, TShiftState s, int, int) {
      log.push_back(std::string("MouseDown(") + ButtonName(b) + (s & ssDouble ? ",double" : "") + ")");
    };
    control->OnMouseUp = [this](TWinControl*, TMouseButton b, TShiftState, int, int) {
      log.push_back(std::string("MouseUp(") + ButtonName(b) + ")");
    };
    control->OnMouseMove = [this](TWinControl*, TShiftState, int, int) { log.push_back("MouseMove"); };
    control->OnClick = [this](TWinControl*) { log.push_back("Click"); };
    control->OnDblClick = [this](TWinControl*) { log.push_back("DblClick"); };
    fake->onLog = [this](const std::string& call) {
      if (call.rfind("wnd:", 0) == 0 || call.rfind("DoVerb", 0) == 0 ||
          call.rfind("Translate", 0) == 0 || call.rfind("OnAmbient", 0) == 0 ||
          call.rfind("GetControlInfo", 0) == 0 || call.rfind("OnMnemonic", 0) == 0)
        log.push_back(call);
    };
    log.clear();
  }
  std::string ScreenPoint(int x, int y) {
    POINT at = {x, y};
    ::ClientToScreen(control->Handle(), &at);
    return std::to_string(at.x) + "," + std::to_string(at.y);
  }
  void TearDown() override {
    if (control) control->SetPopupMenu(nullptr);
    FakeRuntimeTest::TearDown();
    popup.reset();
  }

  std::vector<std::string> log;
  std::unique_ptr<TRecordingPopupMenu> popup;
};

TEST_F(Routing, MouseMessagesRaiseTheControlsEventsAroundTheObjectsHandling) {
  struct TCase {
    UINT msg;
    LPARAM at;
    bool standartMenu, designMode;
    const char* expected;
  } cases[] = {
      {WM_LBUTTONDOWN, MAKELPARAM(5, 6), false, false, "wnd:0x0201,MouseDown(left)"},
      {WM_RBUTTONDOWN, MAKELPARAM(5, 6), false, false, "MouseDown(right)"},
      {WM_RBUTTONDOWN, MAKELPARAM(5, 6), true, false, "wnd:0x0204,MouseDown(right)"},
      {WM_MBUTTONDOWN, MAKELPARAM(5, 6), false, false, "MouseDown(middle),wnd:0x0207"},
      {WM_LBUTTONDBLCLK, MAKELPARAM(5, 6), false, false,
       "wnd:0x0203,DblClick,MouseDown(left,double)"},
      {WM_RBUTTONDBLCLK, MAKELPARAM(5, 6), false, false, "wnd:0x0206,MouseDown(right,double)"},
      {WM_MBUTTONDBLCLK, MAKELPARAM(5, 6), false, false, "wnd:0x0209,MouseDown(middle,double)"},
      {WM_MOUSEMOVE, MAKELPARAM(5, 6), false, false, "wnd:0x0200,MouseMove"},
      {WM_LBUTTONUP, MAKELPARAM(5, 6), false, false, "wnd:0x0202,Click,MouseUp(left)"},
      {WM_LBUTTONUP, MAKELPARAM(-5, 6), false, false, "wnd:0x0202,MouseUp(left)"},
      {WM_MBUTTONUP, MAKELPARAM(5, 6), false, false, "wnd:0x0208,MouseUp(middle)"},
      {WM_RBUTTONUP, MAKELPARAM(5, 6), false, true, "wnd:0x0205,MouseUp(right)"},  // design mode
  };
  for (const TCase& c : cases) {
    std::ostringstream what;
    what << std::hex << c.msg << " standartMenu " << c.standartMenu << " design " << c.designMode;
    SCOPED_TRACE(what.str());
    Prepare(c.standartMenu, false, c.designMode);
    ::SendMessageA(control->Handle(), c.msg, 0, c.at);
    EXPECT_EQ(Join(log), c.expected);
    if (c.msg == WM_LBUTTONDBLCLK) EXPECT_EQ(::GetCapture(), control->Handle());
    ::ReleaseCapture();
  }
}

TEST_F(Routing, RightButtonAndAppsKeyBecomeContextMenuRequests) {
  struct TCase {
    const char* what;
    bool standartMenu, withPopup;
    UINT msg;
    WPARAM wParam;
    std::string expected;  // "@x,y" is replaced by the screen point of client (x, y)
  } cases[] = {
      {"release, no menu", false, false, WM_RBUTTONUP, 0, "wnd:0x007B(@5,6)"},
      {"release, menu", false, true, WM_RBUTTONUP, 0, "Popup(@5,6)"},
      {"Apps, no menu, StandartMenu off", false, false, WM_KEYDOWN, VK_APPS, ""},
      {"Apps, no menu, StandartMenu on", true, false, WM_KEYDOWN, VK_APPS, "wnd:0x0100"},
      {"Apps, menu, StandartMenu off", false, true, WM_KEYDOWN, VK_APPS, "Popup(@0,0)"},
      {"Apps, menu, StandartMenu on", true, true, WM_KEYDOWN, VK_APPS, "Popup(@0,0)"},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.what);
    Prepare(c.standartMenu, c.withPopup, false);
    std::string expected = c.expected;
    const std::size_t at = expected.find('@');
    if (at != std::string::npos) {
      const std::size_t comma = expected.find(',', at), end = expected.find(')', at);
      expected.replace(at, end - at,
                       ScreenPoint(std::stoi(expected.substr(at + 1, comma - at - 1)),
                                   std::stoi(expected.substr(comma + 1, end - comma - 1))));
    }
    ::SendMessageA(control->Handle(), c.msg, c.wParam, MAKELPARAM(5, 6));
    EXPECT_EQ(Join(log), expected);
  }
}

TEST_F(Routing, FrameworkMessagesReachTheObjectAsTheyShould) {
  struct TCase {
    const char* what;
    UINT msg;
    WPARAM wParam;
    bool objectTranslates;
    const char* expected;
    LRESULT result;
  } cases[] = {
      {"reflected key, translated", CN_KEYDOWN, 'A', true,
       "TranslateAccelerator(100,41,115de1f1,115de1f1)", 1},
      {"reflected char, not translated", CN_BASE + WM_CHAR, 'a', false,
       "TranslateAccelerator(102,61,115de1f1,115de1f1)", 0},
      {"reflected command renumbered", CN_BASE + WM_COMMAND, 0, false, "wnd:0x2111", 0},
      {"size re-activates in place", WM_SIZE, 0, false, "DoVerb(-5)", 0},
      {"dialog key of the object's accelerators", CM_DIALOGKEY, VK_F2, false,
       "GetControlInfo(16),OnMnemonic(71)", 1},
      {"other dialog key", CM_DIALOGKEY, VK_TAB, false, "GetControlInfo(16)", 0},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.what);
    script.translatesAccelerators = c.objectTranslates;
    Prepare(false, false, false);
    EXPECT_EQ(control->Perform(c.msg, c.wParam, 0), c.result);
    EXPECT_EQ(Join(log), c.expected);
  }
}

TEST_F(Routing, ParentNotificationsReachTheObject) {
  Prepare(false, false, false);
  TFont font;
  font.Name = "Arial";
  form->SetFont(font);
  EXPECT_EQ(Join(log), "OnAmbientPropertyChange(-703),OnAmbientPropertyChange(-704)");
  log.clear();
  form->SetColor(0x00336699);
  EXPECT_EQ(Join(log), "OnAmbientPropertyChange(-701)");
  EXPECT_EQ(control->Color(), 0x00336699);
  // A control with its own font and colour does not follow.
  control->SetFont(TFont());
  control->SetColor(clWindow);
  log.clear();
  form->SetFont(font);
  form->SetColor(0x00112233);
  EXPECT_EQ(Join(log), "");
  // The form's palette turn goes to the object's window.
  EXPECT_EQ(form->Perform(WM_QUERYNEWPALETTE, 0, 0), 1);
  EXPECT_EQ(Join(log), "wnd:0x030F");
}

}  // namespace
}  // namespace pageturn::test

namespace pageturn::test {
namespace {

// The framework's own senders: the keyboard focus UI-activates the control, and a dialog key
// taken from the queue goes through the form to the object's accelerators.
TEST_F(Routing, FocusAndDialogKeysComeFromTheFramework) {
  script.accelerator = VK_TAB;
  script.translatesAccelerators = false;
  Prepare(false, false, false);
  ::SetFocus(control->Handle());
  EXPECT_EQ(form->ActiveOleControl, control.get());
  EXPECT_NE(Join(log).find("DoVerb(-4)"), std::string::npos) << Join(log);

  TApplication application;
  log.clear();
  ::PostMessageA(control->Handle(), WM_KEYDOWN, VK_TAB, 0);
  application.ProcessMessages();
  // Whatever else the queue held (a pointer move of the display) reached the object's window.
  std::vector<std::string> calls;
  for (const std::string& entry : log)
    if (entry.rfind("wnd:", 0) != 0 && entry != "MouseMove") calls.push_back(entry);
  EXPECT_EQ(Join(calls),
            "TranslateAccelerator(100,9,115de1f1,115de1f1),GetControlInfo(16),OnMnemonic(9)");
}

// The object's window stays a Unicode window once the control has hooked it, and the
// application's loop hands it characters outside the system code page as they were typed.
TEST_F(Routing, TheObjectsWindowStaysUnicodeAndGetsEveryCharacterIntact) {
  script.translatesAccelerators = false;
  Prepare(false, false, false);
  ASSERT_EQ(control->Handle(), fake->Window());
  EXPECT_TRUE(::IsWindowUnicode(control->Handle()));

  TApplication application;
  fake->calls.clear();
  for (wchar_t c : {L'a', L'\u00E9', L'\u4E2D', L'\u0416', L'\u0100'})
    ::PostMessageW(control->Handle(), WM_CHAR, c, 1);
  application.ProcessMessages();
  EXPECT_EQ(fake->Calls("char:"),
            "char:U+0061,char:U+00E9,char:U+4E2D,char:U+0416,char:U+0100");
  // The runtime's accelerators were offered the same characters first.
  EXPECT_NE(fake->Calls("TranslateAccelerator").find("TranslateAccelerator(102,4e2d,"),
            std::string::npos)
      << fake->Calls("TranslateAccelerator");
}

}  // namespace
}  // namespace pageturn::test
