// The control's life cycle with the fake runtime in a real window on Xvfb: creation and siting,
// activation and its failures, the plain window, extents, UI activation between two controls,
// window-handle destruction and destruction.
#include <windows.h>

#include <gtest/gtest.h>

#include <functional>

#include "tests/flashhost/flashhost_test_support.h"

namespace pageturn::test {
namespace {

using FlashControl = FakeRuntimeTest;

std::string ClassOf(HWND window) {
  char name[64] = {};
  ::GetClassNameA(window, name, sizeof name);
  return name;
}

// The colour the screen shows at a point of a window's client area, once the display has
// caught up with the paint (or what it shows after five seconds).
COLORREF ScreenPixel(HWND window, int x, int y, COLORREF expected) {
  POINT at = {x, y};
  ::ClientToScreen(window, &at);
  COLORREF pixel = CLR_INVALID;
  PumpMessagesUntil([&] {
    const HDC screen = ::GetDC(nullptr);
    pixel = ::GetPixel(screen, at.x, at.y);
    ::ReleaseDC(nullptr, screen);
    return pixel == expected;
  }, 5000);
  return pixel;
}

TEST_F(FlashControl, CreationSitesTheObjectTakesItsSizeAndConnectsTheEvents) {
  MakeControl();
  ASSERT_NE(fake, nullptr);
  EXPECT_EQ(fake->Calls(), "SetClientSite,GetExtent,SetExtent(2646,2117),Advise(events)");
  EXPECT_EQ(fake->Site(), static_cast<IOleClientSite*>(control.get()));
  EXPECT_NE(fake->Sink(), nullptr);
  EXPECT_EQ(control->Width(), 100);  // 2646 x 2117 HIMETRIC at 96 ppi
  EXPECT_EQ(control->Height(), 80);
  EXPECT_TRUE(control->TabStop());
  EXPECT_FALSE(control->HandleAllocated()) << "no window before it has a parent";
}

TEST_F(FlashControl, CreationFailuresRaiseTheirCodeAndLeaveNothingWithTheObject) {
  struct TCase {
    const char* what;
    HRESULT setClientSite, getExtent, expected;
  } cases[] = {
      {"SetClientSite refused", E_ACCESSDENIED, S_OK, E_ACCESSDENIED},
      {"GetExtent failing", S_OK, static_cast<HRESULT>(0x80040064), static_cast<HRESULT>(0x80040064)},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.what);
    script.setClientSite = c.setClientSite;
    script.getExtent = c.getExtent;
    try {
      TFlashPlayerControl control(nullptr);
      ADD_FAILURE() << "no exception";
    } catch (const OleError& e) {
      EXPECT_EQ(e.hr(), c.expected);
    }
    EXPECT_EQ(TFakeRuntime::Last(), nullptr) << "the object was let go";
  }
}

TEST_F(FlashControl, WithoutAnObjectItIsAPlainWindowPaintedInTheWindowColour) {
  CodeProvider->GetClassObjectProc = nullptr;
  MakeForm();
  MakeControl();
  ASSERT_EQ(control->RuntimeObject(), nullptr);
  control->SetBounds(10, 20, 300, 200);
  control->SetParent(form.get());
  ASSERT_TRUE(control->HandleAllocated());
  EXPECT_EQ(ClassOf(control->Handle()), "TFlashPlayerControl");
  ::UpdateWindow(form->Handle());
  ::RedrawWindow(control->Handle(), nullptr, nullptr, RDW_INVALIDATE | RDW_UPDATENOW);
  EXPECT_EQ(ScreenPixel(control->Handle(), 150, 100, ::GetSysColor(COLOR_WINDOW)),
            ::GetSysColor(COLOR_WINDOW));
  EXPECT_EQ(control->Perform(CM_DIALOGKEY, VK_TAB, 0), 0);
  EXPECT_EQ(control->Movie(), L"");
  control->SetMovie(L"cached.swf");
  EXPECT_EQ(control->Movie(), L"cached.swf");
  EXPECT_EQ(control->FlashMajorVersion(), -1);
}

TEST_F(FlashControl, ActivationMakesTheObjectsWindowTheControlsWindow) {
  MakeActiveControl();
  ASSERT_TRUE(control->HandleAllocated());
  EXPECT_EQ(control->Handle(), fake->Window());
  EXPECT_EQ(::GetParent(control->Handle()), form->Handle());
  // Sited and sized before it has a parent; connected and activated in place with the first
  // window; re-sited on the new parent.
  EXPECT_EQ(fake->Calls(),
            "SetClientSite,GetExtent,SetExtent(2646,2117),Advise(events),SetExtent(7938,5292),"
            "GetClientSite,Advise(notify),OnAmbientPropertyChange(-1),GetExtent,DoVerb(-5),"
            "wnd:0x0005,GetClientSite,OnAmbientPropertyChange(-1)");
  // The object's window is subclassed: a click reaches the control's events and then the object.
  std::vector<std::string> seen;
  control->OnMouseDown = [&](TWinControl*, TMouseButton, TShiftState, int x, int y) {
    seen.push_back("down " + std::to_string(x) + "," + std::to_string(y));
  };
  ::SendMessageA(control->Handle(), WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(7, 9));
  EXPECT_EQ(seen, std::vector<std::string>{"down 7,9"});
  EXPECT_TRUE(fake->Called("wnd:0x0201"));
  // What the object paints is on the screen where the control is.
  ::RedrawWindow(control->Handle(), nullptr, nullptr, RDW_INVALIDATE | RDW_UPDATENOW);
  EXPECT_EQ(ScreenPixel(form->Handle(), 160, 120, RGB(0x12, 0x34, 0x56)), RGB(0x12, 0x34, 0x56));
}

// A control whose plain window cannot be made either: its parent window is not a window.
class TUnplaceableControl : public TFlashPlayerControl {
 public:
  using TFlashPlayerControl::TFlashPlayerControl;

 protected:
  void CreateParams(TCreateParams& params) override {
    TFlashPlayerControl::CreateParams(params);
    params.WndParent = reinterpret_cast<HWND>(static_cast<INT_PTR>(0x7FFE));
  }
};

TEST_F(FlashControl, ActivationFailuresRaiseAndLeaveAUsablePlainWindow) {
  struct TCase {
    bool activates, makesWindow;
    const char* message;
    bool plainWindowFails = false;
  } cases[] = {
      {false, true, "OLE control activation failed"},
      {true, false, "Could not obtain OLE control window handle"},
      // The activation's reason is what the caller learns, not the plain window's.
      {false, true, "OLE control activation failed", true},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(std::string(c.message) + (c.plainWindowFails ? ", no plain window" : ""));
    script.activates = c.activates;
    script.makesWindow = c.makesWindow;
    MakeForm();
    if (c.plainWindowFails) {
      control = std::make_unique<TUnplaceableControl>(nullptr);
      fake = TFakeRuntime::Last();
    } else {
      MakeControl();
    }
    try {
      control->SetParent(form.get());
      ADD_FAILURE() << "no exception";
    } catch (const OleError& e) {
      EXPECT_STREQ(e.what(), c.message);
    } catch (const std::exception& e) {
      ADD_FAILURE() << "raised " << e.what();
    }
    EXPECT_EQ(control->RuntimeObject(), nullptr);
    EXPECT_EQ(TFakeRuntime::Last(), nullptr) << "the object was closed and let go";
    if (c.plainWindowFails) {
      EXPECT_FALSE(control->HandleAllocated());
    } else {
      ASSERT_TRUE(control->HandleAllocated());
      EXPECT_EQ(ClassOf(control->Handle()), "TFlashPlayerControl");
      // A plain control raises the mouse events of any control.
      std::vector<std::string> seen;
      control->OnMouseDown = [&](TWinControl*, TMouseButton, TShiftState, int x, int y) {
        seen.push_back("down " + std::to_string(x) + "," + std::to_string(y));
      };
      control->OnMouseUp = [&](TWinControl*, TMouseButton, TShiftState, int x, int y) {
        seen.push_back("up " + std::to_string(x) + "," + std::to_string(y));
      };
      control->OnClick = [&](TWinControl*) { seen.push_back("click"); };
      ::SendMessageA(control->Handle(), WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(7, 9));
      ::SendMessageA(control->Handle(), WM_LBUTTONUP, 0, MAKELPARAM(8, 9));
      EXPECT_EQ(seen, (std::vector<std::string>{"down 7,9", "click", "up 8,9"}));
    }
    control.reset();
    form.reset();
  }
}

TEST_F(FlashControl, ResizingOffersTheExtentAndARefusalKeepsTheSize) {
  struct TCase {
    const char* what;
    HRESULT setExtent;
    std::vector<RECT> bounds;  // left, top, width, height, applied in turn
    std::string extentCalls;
    int width, height;
  } cases[] = {
      {"100 x 100 to 800 x 600", S_OK, {{0, 0, 100, 100}, {0, 0, 800, 600}},
       "SetExtent(2646,2646),SetExtent(21167,15875)", 800, 600},
      // Refused from the start: the object's natural size was refused too.
      {"refused", E_FAIL, {{0, 0, 800, 600}}, "SetExtent(21167,15875)", 100, 100},
      {"S_FALSE is a refusal", S_FALSE, {{0, 0, 800, 600}}, "SetExtent(21167,15875)", 100, 100},
      {"moving only", S_OK, {{50, 60, 100, 80}}, "", 100, 80},
      {"from zero size", S_OK, {{0, 0, 0, 0}, {0, 0, 300, 200}}, "SetExtent(0,0)", 300, 200},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.what);
    script.setExtent = c.setExtent;
    MakeControl();
    fake->calls.clear();
    for (const RECT& r : c.bounds) control->SetBounds(r.left, r.top, r.right, r.bottom);
    EXPECT_EQ(fake->Calls("SetExtent"), c.extentCalls);
    EXPECT_EQ(control->Width(), c.width);
    EXPECT_EQ(control->Height(), c.height);
  }
}

TEST_F(FlashControl, WindowHandleDestructionGivesTheWindowBackAndClosesTheObject) {
  MakeActiveControl();
  const HWND window = control->Handle();
  const LONG_PTR subclassed = ::GetWindowLongPtrA(window, GWLP_WNDPROC);
  bool restoredBeforeClose = false;
  fake->onLog = [&](const std::string& call) {
    if (call == "Close(1)")
      restoredBeforeClose = ::GetWindowLongPtrA(window, GWLP_WNDPROC) != subclassed &&
                            TWinControl::FromHandle(window) == nullptr;
  };
  fake->calls.clear();
  control->DestroyHandle();
  EXPECT_FALSE(control->HandleAllocated());
  EXPECT_TRUE(restoredBeforeClose);
  EXPECT_EQ(fake->Calls(), "Close(1),InPlaceDeactivate");
  // A new window is the object's again, on the same connection.
  fake->calls.clear();
  control->HandleNeeded();
  EXPECT_EQ(control->Handle(), fake->Window());
  EXPECT_EQ(fake->Calls(), "DoVerb(-5),wnd:0x0005");
  fake->onLog = nullptr;
}

TEST_F(FlashControl, DestructionUnadvisesClosesDisconnectsAndUnsites) {
  MakeActiveControl();
  const HWND window = control->Handle();
  TFakeRuntime* object = fake;
  object->AddRef();  // keep it to read its log
  object->calls.clear();
  control.reset();
  EXPECT_EQ(object->Calls(),
            "Unadvise(events,11),Close(1),InPlaceDeactivate,Unadvise(notify,22),"
            "SetClientSite(null)");
  EXPECT_FALSE(::IsWindow(window)) << "the object took its window with it";
  EXPECT_EQ(object->Site(), nullptr);
  object->Release();
}

TEST_F(FlashControl, ASecondControlBecomingUIActiveDeactivatesTheFirst) {
  MakeActiveControl();
  TFlashPlayerControl& first = *control;
  TFakeRuntime* firstObject = fake;
  TFlashPlayerControl second(nullptr);
  TFakeRuntime* secondObject = TFakeRuntime::Last();
  second.SetBounds(320, 20, 300, 200);
  second.SetParent(form.get());

  first.Perform(CM_UIACTIVATE, 0, 0);
  EXPECT_EQ(form->ActiveOleControl, &first);
  firstObject->calls.clear();
  first.Perform(CM_UIACTIVATE, 0, 0);
  EXPECT_EQ(firstObject->Calls("DoVerb"), "") << "already the form's active OLE control";

  second.Perform(CM_UIACTIVATE, 0, 0);
  EXPECT_EQ(form->ActiveOleControl, &second);
  EXPECT_EQ(firstObject->Calls("UIDeactivate"), "UIDeactivate");
  EXPECT_EQ(secondObject->Calls("DoVerb(-4)"), "DoVerb(-4)");
}

TEST_F(FlashControl, ObjectsThatRefuseWhatTheyShouldOfferAreSurvived) {
  struct TCase {
    const char* what;
    std::function<void(TFakeScript&)> script;
    HRESULT raised;  // from the activation; S_OK when the control activates
    const char* calls;  // a run of calls the object must see
  } cases[] = {
      {"no IOleControl", [](TFakeScript& s) { s.answersOleControl = false; }, E_NOINTERFACE,
       "SetClientSite(null)"},
      {"no IDispatch", [](TFakeScript& s) { s.answersDispatch = false; }, E_NOINTERFACE,
       "SetClientSite(null)"},
      // A site the object forgot is given again before anything else is asked of it.
      {"no client site", [](TFakeScript& s) { s.forgetsClientSite = true; }, S_OK,
       "GetClientSite,SetClientSite"},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.what);
    script = TFakeScript();
    c.script(script);
    MakeForm();
    MakeControl();
    TFakeRuntime* object = fake;
    object->AddRef();  // keep it to read its log
    HRESULT raised = S_OK;
    try {
      control->SetParent(form.get());
    } catch (const OleError& e) {
      raised = e.hr();
    }
    EXPECT_EQ(raised, c.raised);
    EXPECT_NE(object->Calls().find(c.calls), std::string::npos) << object->Calls();
    EXPECT_TRUE(control->HandleAllocated());
    EXPECT_EQ(control->RuntimeObject() != nullptr, c.raised == S_OK);
    control.reset();
    form.reset();
    object->Release();
  }
}

TEST_F(FlashControl, ARefusedUnadviseStillClosesAndUnsitesTheObject) {
  script.unadvise = E_FAIL;
  MakeActiveControl();
  TFakeRuntime* object = fake;
  object->AddRef();
  object->calls.clear();
  control.reset();
  EXPECT_EQ(object->Calls(),
            "Unadvise(events,11),Close(1),InPlaceDeactivate,Unadvise(notify,22),"
            "SetClientSite(null)");
  EXPECT_EQ(object->Site(), nullptr);
  object->Release();
}

TEST_F(FlashControl, DestroyingTheUIActiveControlClearsTheFormsActiveControl) {
  MakeActiveControl();
  control->Perform(CM_UIACTIVATE, 0, 0);
  ASSERT_EQ(form->ActiveOleControl, control.get());
  control.reset();
  EXPECT_EQ(form->ActiveOleControl, nullptr);
}

}  // namespace
}  // namespace pageturn::test
