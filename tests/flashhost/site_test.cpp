// The container-side interfaces of a real control, as the runtime calls them: the interface
// table, the fixed results, windows and rectangles, coordinate conversion, menus and the ambient
// properties.
#include <windows.h>
#include <olectl.h>

#include <gtest/gtest.h>

#include <functional>

#include "tests/flashhost/flashhost_test_support.h"

namespace pageturn::test {
namespace {

using Site = FakeRuntimeTest;

template <class I>
ComPtr<I> Query(TFlashPlayerControl& control, REFIID iid) {
  ComPtr<I> result;
  EXPECT_EQ(control.QueryInterface(iid, reinterpret_cast<void**>(result.GetAddressOf())), S_OK);
  return result;
}

TEST_F(Site, InterfaceTableAnswersEveryListedInterfaceAndNothingElse) {
  MakeControl();
  IUnknown* sink = static_cast<IDispatch*>(control.get());
  struct TCase {
    const char* what;
    IID iid;
    bool found;
  } cases[] = {
      {"_IShockwaveFlashEvents", DIID_IShockwaveFlashEvents, true},
      {"IOleWindow", IID_IOleWindow, true},
      {"IFlashPlayerControlBase", IID_IFlashPlayerControlBase, true},
      {"ISimpleFrameSite", IID_ISimpleFrameSite, true},
      {"IPropertyNotifySink", IID_IPropertyNotifySink, true},
      {"IDispatch", IID_IDispatch, true},
      {"IOleInPlaceFrame", IID_IOleInPlaceFrame, true},
      {"IOleInPlaceSite", IID_IOleInPlaceSite, true},
      {"IOleControlSite", IID_IOleControlSite, true},
      {"IOleClientSite", IID_IOleClientSite, true},
      {"IUnknown", IID_IUnknown, true},
      {"IOleContainer", IID_IOleContainer, false},
      {"IOleInPlaceSiteEx", IID_IOleInPlaceSiteEx, false},
      {"IServiceProvider", IID_IServiceProvider, false},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.what);
    void* object = reinterpret_cast<void*>(0xdeadbeef);
    EXPECT_EQ(control->QueryInterface(c.iid, &object), c.found ? S_OK : E_NOINTERFACE);
    if (c.found) {
      ASSERT_NE(object, nullptr);
      // One identity: every interface answers the control's IUnknown, and the control's
      // other interfaces.
      auto* found = static_cast<IUnknown*>(object);
      void* identity = nullptr;
      EXPECT_EQ(found->QueryInterface(IID_IUnknown, &identity), S_OK);
      EXPECT_EQ(identity, sink);
      if (identity) static_cast<IUnknown*>(identity)->Release();
      void* clientSite = nullptr;
      EXPECT_EQ(found->QueryInterface(IID_IOleClientSite, &clientSite), S_OK);
      EXPECT_EQ(clientSite, static_cast<IOleClientSite*>(control.get()));
      if (clientSite) static_cast<IUnknown*>(clientSite)->Release();
      found->Release();
    } else {
      EXPECT_EQ(object, nullptr);
    }
  }
  void* first = nullptr;
  void* last = nullptr;
  control->QueryInterface(DIID_IShockwaveFlashEvents, &first);
  control->QueryInterface(IID_IUnknown, &last);
  EXPECT_EQ(first, sink);
  EXPECT_EQ(last, sink);
  static_cast<IUnknown*>(first)->Release();
  static_cast<IUnknown*>(last)->Release();
  EXPECT_EQ(Query<IOleWindow>(*control, IID_IOleWindow).Get(),
            static_cast<IOleWindow*>(Query<IOleInPlaceSite>(*control, IID_IOleInPlaceSite).Get()));
}

TEST_F(Site, MethodsAnswerTheirFixedResults) {
  MakeActiveControl();
  auto client = Query<IOleClientSite>(*control, IID_IOleClientSite);
  auto inPlace = Query<IOleInPlaceSite>(*control, IID_IOleInPlaceSite);
  auto frame = Query<IOleInPlaceFrame>(*control, IID_IOleInPlaceFrame);
  auto controlSite = Query<IOleControlSite>(*control, IID_IOleControlSite);
  auto simple = Query<ISimpleFrameSite>(*control, IID_ISimpleFrameSite);
  auto notify = Query<IPropertyNotifySink>(*control, IID_IPropertyNotifySink);
  auto sink = Query<IDispatch>(*control, IID_IDispatch);
  IMoniker* moniker = reinterpret_cast<IMoniker*>(0xdeadbeef);
  IOleContainer* container = reinterpret_cast<IOleContainer*>(0xdeadbeef);
  IDispatch* extended = reinterpret_cast<IDispatch*>(0xdeadbeef);
  ITypeInfo* typeInfo = reinterpret_cast<ITypeInfo*>(0xdeadbeef);
  UINT count = 7;
  MSG msg = {};
  LRESULT filterResult = 5;
  DWORD cookie = 9;
  RECT rect = {};
  BORDERWIDTHS border = {};
  struct TCase {
    const char* what;
    std::function<HRESULT()> call;
    HRESULT expected;
  } cases[] = {
      {"SaveObject", [&] { return client->SaveObject(); }, S_OK},
      {"GetMoniker", [&] { return client->GetMoniker(0, 0, &moniker); }, E_NOTIMPL},
      {"GetContainer", [&] { return client->GetContainer(&container); }, E_NOINTERFACE},
      {"OnShowWindow", [&] { return client->OnShowWindow(TRUE); }, S_OK},
      {"ShowObject", [&] { return client->ShowObject(); }, S_OK},
      {"site ContextSensitiveHelp", [&] { return inPlace->ContextSensitiveHelp(TRUE); }, S_OK},
      {"CanInPlaceActivate", [&] { return inPlace->CanInPlaceActivate(); }, S_OK},
      {"Scroll", [&] { return inPlace->Scroll(SIZE{1, 1}); }, E_NOTIMPL},
      {"DiscardUndoState", [&] { return inPlace->DiscardUndoState(); }, E_NOTIMPL},
      {"DeactivateAndUndo", [&] { return inPlace->DeactivateAndUndo(); }, S_OK},
      {"OnPosRectChange", [&] { return inPlace->OnPosRectChange(&rect); }, S_OK},
      {"frame ContextSensitiveHelp", [&] { return frame->ContextSensitiveHelp(FALSE); }, S_OK},
      {"GetBorder", [&] { return frame->GetBorder(&rect); }, INPLACE_E_NOTOOLSPACE},
      {"RequestBorderSpace", [&] { return frame->RequestBorderSpace(&border); },
       INPLACE_E_NOTOOLSPACE},
      {"SetBorderSpace", [&] { return frame->SetBorderSpace(&border); }, E_NOTIMPL},
      {"SetActiveObject", [&] { return frame->SetActiveObject(nullptr, nullptr); }, S_OK},
      {"SetStatusText", [&] { return frame->SetStatusText(L"x"); }, S_OK},
      {"EnableModeless", [&] { return frame->EnableModeless(TRUE); }, S_OK},
      {"frame TranslateAccelerator", [&] { return frame->TranslateAccelerator(&msg, 0); }, S_FALSE},
      {"frame SetMenu without a menu", [&] { return frame->SetMenu(nullptr, nullptr, nullptr); }, S_OK},
      {"OnControlInfoChanged", [&] { return controlSite->OnControlInfoChanged(); }, E_NOTIMPL},
      {"LockInPlaceActive", [&] { return controlSite->LockInPlaceActive(TRUE); }, E_NOTIMPL},
      {"GetExtendedControl", [&] { return controlSite->GetExtendedControl(&extended); }, E_NOTIMPL},
      {"control TranslateAccelerator", [&] { return controlSite->TranslateAccelerator(&msg, 0); },
       E_NOTIMPL},
      {"OnFocus", [&] { return controlSite->OnFocus(TRUE); }, E_NOTIMPL},
      {"ShowPropertyFrame", [&] { return controlSite->ShowPropertyFrame(); }, E_NOTIMPL},
      {"OnChanged", [&] { return notify->OnChanged(1); }, S_OK},
      {"OnRequestEdit", [&] { return notify->OnRequestEdit(1); }, S_OK},
      {"PreMessageFilter",
       [&] { return simple->PreMessageFilter(nullptr, 0, 0, 0, &filterResult, &cookie); }, S_OK},
      {"PostMessageFilter",
       [&] { return simple->PostMessageFilter(nullptr, 0, 0, 0, &filterResult, cookie); }, S_OK},
      {"GetTypeInfoCount", [&] { return sink->GetTypeInfoCount(&count); }, S_OK},
      {"GetTypeInfo", [&] { return sink->GetTypeInfo(0, 0, &typeInfo); }, E_NOTIMPL},
      {"GetIDsOfNames", [&] { return sink->GetIDsOfNames(IID_NULL, nullptr, 0, 0, nullptr); },
       E_NOTIMPL},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.what);
    EXPECT_EQ(c.call(), c.expected);
  }
  EXPECT_EQ(moniker, nullptr);
  EXPECT_EQ(container, nullptr);
  EXPECT_EQ(extended, nullptr);
  EXPECT_EQ(typeInfo, nullptr);
  EXPECT_EQ(count, 0u);
  EXPECT_EQ(filterResult, 5) << "outputs untouched";
  EXPECT_EQ(cookie, 9u);
  EXPECT_TRUE(fake->Called("UIDeactivate")) << "DeactivateAndUndo";
  EXPECT_TRUE(fake->Called("SetObjectRects")) << "OnPosRectChange";
}

TEST_F(Site, WindowsAndRectanglesOfTheWindowContext) {
  MakeControl();
  auto inPlace = Query<IOleInPlaceSite>(*control, IID_IOleInPlaceSite);
  HWND window = reinterpret_cast<HWND>(0xdeadbeef);
  EXPECT_EQ(inPlace->GetWindow(&window), E_FAIL) << "no parent";
  EXPECT_EQ(window, nullptr);

  MakeForm();
  control->SetBounds(10, 20, 300, 200);
  control->SetParent(form.get());
  EXPECT_EQ(inPlace->GetWindow(&window), S_OK);
  EXPECT_EQ(window, form->Handle());
  HWND top = nullptr;
  EXPECT_EQ(control->InPlaceFrame()->GetWindow(&top), S_OK);
  EXPECT_EQ(top, form->Handle());

  IOleInPlaceFrame* frame = nullptr;
  IOleInPlaceUIWindow* document = reinterpret_cast<IOleInPlaceUIWindow*>(0xdeadbeef);
  RECT position = {}, clip = {};
  OLEINPLACEFRAMEINFO info = {};
  info.cb = 1234;
  info.fMDIApp = TRUE;
  info.cAccelEntries = 9;
  ASSERT_EQ(inPlace->GetWindowContext(&frame, &document, &position, &clip, &info), S_OK);
  EXPECT_EQ(frame, control->InPlaceFrame());
  frame->Release();
  EXPECT_EQ(document, nullptr);
  EXPECT_EQ((std::vector<LONG>{position.left, position.top, position.right, position.bottom}),
            (std::vector<LONG>{10, 20, 310, 220}));
  EXPECT_EQ((std::vector<LONG>{clip.left, clip.top, clip.right, clip.bottom}),
            (std::vector<LONG>{0, 0, 32767, 32767}));
  EXPECT_FALSE(info.fMDIApp);
  EXPECT_EQ(info.hwndFrame, form->Handle());
  EXPECT_EQ(info.haccel, nullptr);
  EXPECT_EQ(info.cAccelEntries, 0u);
  EXPECT_EQ(info.cb, 1234u) << "the size is the caller's";
}

TEST_F(Site, TransformCoordsConvertsAtTheScreensResolution) {
  ASSERT_EQ(ScreenPixelsPerInch(), 96) << "the cases are for 96 ppi";
  MakeControl();
  auto site = Query<IOleControlSite>(*control, IID_IOleControlSite);
  struct TCase {
    DWORD flags;
    LONG himetric;
    float container;
    LONG expectedHimetric;
    float expectedContainer;
  } cases[] = {
      {XFORMCOORDS_HIMETRICTOCONTAINER, 2540, 0, 2540, 96.0f},
      {XFORMCOORDS_HIMETRICTOCONTAINER | XFORMCOORDS_SIZE, 1270, 0, 1270, 48.0f},
      {XFORMCOORDS_HIMETRICTOCONTAINER, 13, 0, 13, 0.0f},     // 0.49 px
      {XFORMCOORDS_CONTAINERTOHIMETRIC, 0, 1.0f, 26, 1.0f},   // 26.458...
      {XFORMCOORDS_CONTAINERTOHIMETRIC, 0, 96.0f, 2540, 96.0f},
      {XFORMCOORDS_CONTAINERTOHIMETRIC, 0, -1.0f, -26, -1.0f},
      {XFORMCOORDS_CONTAINERTOHIMETRIC, 0, 0.5f, 13, 0.5f},   // 13.229...
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(std::to_string(c.flags) + " " + std::to_string(c.himetric) + " " +
                 std::to_string(c.container));
    POINTL himetric = {c.himetric, c.himetric};
    POINTF container = {c.container, c.container};
    EXPECT_EQ(site->TransformCoords(&himetric, &container, c.flags), S_OK);
    EXPECT_EQ(himetric.x, c.expectedHimetric);
    EXPECT_EQ(himetric.y, c.expectedHimetric);
    EXPECT_FLOAT_EQ(container.x, c.expectedContainer);
  }
}

TEST_F(Site, MenusMergeIntoTheFormsMenuAndAreRemovedFromPositionZero) {
  MakeForm();
  TMainMenu menu(form.get());
  menu.Add("&File", 0);
  menu.Add("&Edit", 1);
  menu.Add("&View", 2);
  menu.Add("&Object", 3);
  menu.Add("&Window", 4);
  menu.Add("&Help", 5);
  form->Menu = &menu;
  MakeControl();
  control->SetParent(form.get());
  IOleInPlaceFrame* frame = control->InPlaceFrame();

  const HMENU shared = ::CreateMenu();
  OLEMENUGROUPWIDTHS widths = {{-1, -1, -1, -1, -1, -1}};
  ASSERT_EQ(frame->InsertMenus(shared, &widths), S_OK);
  EXPECT_EQ(::GetMenuItemCount(shared), 3);
  EXPECT_EQ((std::vector<LONG>(widths.width, widths.width + 6)),
            (std::vector<LONG>{1, -1, 1, -1, 1, -1}));
  const HOLEMENU descriptor = ::OleCreateMenuDescriptor(shared, &widths);
  ASSERT_EQ(frame->SetMenu(shared, descriptor, control->Handle()), S_OK);
  EXPECT_EQ(::GetMenu(form->Handle()), shared);
  ASSERT_EQ(frame->SetMenu(nullptr, nullptr, nullptr), S_OK);
  EXPECT_EQ(::GetMenu(form->Handle()), menu.Handle()) << "the form's own menu is back";
  ::OleDestroyMenuDescriptor(descriptor);

  for (int i = 0; i < 2; ++i) ::AppendMenuA(shared, MF_STRING, 100 + i, "more");
  ASSERT_EQ(::GetMenuItemCount(shared), 5);
  EXPECT_EQ(frame->RemoveMenus(shared), S_OK);
  EXPECT_EQ(::GetMenuItemCount(shared), 0);
  ::DestroyMenu(shared);
  control.reset();
  form->Menu = nullptr;
}

// Invoke on the sink with a property get, the way the runtime asks for ambient properties.
HRESULT Ambient(TFlashPlayerControl& control, DISPID id, VARIANT& result,
                WORD flags = DISPATCH_PROPERTYGET, bool withResult = true) {
  ::VariantInit(&result);
  DISPPARAMS none = {nullptr, nullptr, 0, 0};
  return control.Invoke(id, IID_NULL, 0, flags, &none, withResult ? &result : nullptr, nullptr,
                        nullptr);
}

TEST_F(Site, AmbientPropertiesAnswerTheirTable) {
  MakeForm();
  MakeControl();
  control->SetParent(form.get());
  control->SetName("FlashPlayerControl1");
  control->SetColor(0x00804020);
  struct TCase {
    DISPID id;
    HRESULT hr;
    VARTYPE vt;
    LONG value;  // VT_I4 / VT_BOOL payload
  } cases[] = {
      {DISPID_AMBIENT_BACKCOLOR, S_OK, VT_I4, 0x00804020},
      {DISPID_AMBIENT_FORECOLOR, S_OK, VT_I4, clWindowText},
      {DISPID_AMBIENT_LOCALEID, S_OK, VT_I4, static_cast<LONG>(::GetUserDefaultLCID())},
      {DISPID_AMBIENT_MESSAGEREFLECT, S_OK, VT_BOOL, VARIANT_TRUE},
      {DISPID_AMBIENT_USERMODE, S_OK, VT_BOOL, VARIANT_TRUE},
      {DISPID_AMBIENT_UIDEAD, S_OK, VT_BOOL, VARIANT_FALSE},
      {DISPID_AMBIENT_SHOWGRABHANDLES, S_OK, VT_BOOL, VARIANT_FALSE},
      {DISPID_AMBIENT_SHOWHATCHING, S_OK, VT_BOOL, VARIANT_FALSE},
      {DISPID_AMBIENT_SUPPORTSMNEMONICS, S_OK, VT_BOOL, VARIANT_TRUE},
      {DISPID_AMBIENT_AUTOCLIP, S_OK, VT_BOOL, VARIANT_TRUE},
      {DISPID_AMBIENT_SCALEUNITS, DISP_E_MEMBERNOTFOUND, VT_EMPTY, 0},       // -707
      {DISPID_AMBIENT_TEXTALIGN, DISP_E_MEMBERNOTFOUND, VT_EMPTY, 0},        // -708
      {DISPID_AMBIENT_DISPLAYASDEFAULT, DISP_E_MEMBERNOTFOUND, VT_EMPTY, 0}, // -713
      {-716, DISP_E_MEMBERNOTFOUND, VT_EMPTY, 0},
      {0, DISP_E_MEMBERNOTFOUND, VT_EMPTY, 0},
      {151, DISP_E_MEMBERNOTFOUND, VT_EMPTY, 0},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.id);
    VARIANT result;
    EXPECT_EQ(Ambient(*control, c.id, result), c.hr);
    EXPECT_EQ(result.vt, c.vt);
    if (c.vt == VT_I4) EXPECT_EQ(result.lVal, c.value);
    if (c.vt == VT_BOOL) EXPECT_EQ(result.boolVal, c.value);
  }

  VARIANT name;
  ASSERT_EQ(Ambient(*control, DISPID_AMBIENT_DISPLAYNAME, name), S_OK);
  ASSERT_EQ(name.vt, VT_BSTR);
  EXPECT_STREQ(name.bstrVal, L"FlashPlayerControl1");
  ::VariantClear(&name);

  // Supported ids too need a property get with a result variant.
  VARIANT result;
  EXPECT_EQ(Ambient(*control, DISPID_AMBIENT_USERMODE, result, DISPATCH_METHOD), DISP_E_MEMBERNOTFOUND);
  EXPECT_EQ(Ambient(*control, DISPID_AMBIENT_USERMODE, result, DISPATCH_PROPERTYGET, false),
            DISP_E_MEMBERNOTFOUND);

  control->SetDesignMode(true);
  EXPECT_EQ(Ambient(*control, DISPID_AMBIENT_USERMODE, result), S_OK);
  EXPECT_EQ(result.boolVal, VARIANT_FALSE);
  EXPECT_EQ(Ambient(*control, DISPID_AMBIENT_UIDEAD, result), S_OK);
  EXPECT_EQ(result.boolVal, VARIANT_TRUE);
}

TEST_F(Site, AmbientFontIsAnOleFontOfTheParentsOrTheControlsOwnFont) {
  MakeForm();
  TFont parentFont;
  parentFont.Name = "Arial";
  parentFont.Height = -16;
  parentFont.Bold = true;
  parentFont.Italic = true;
  form->SetFont(parentFont);
  MakeControl();
  control->SetParent(form.get());
  // Wine's font object reports the face it realised, so the cases tell the fonts apart by style
  // and size.
  struct TFontSeen {
    CY size;
    BOOL bold, italic;
  };
  const auto ambientFont = [&](TFontSeen& seen) {
    VARIANT result;
    ASSERT_EQ(Ambient(*control, DISPID_AMBIENT_FONT, result), S_OK);
    ASSERT_EQ(result.vt, VT_DISPATCH);
    ComPtr<IFont> font;
    ASSERT_EQ(result.pdispVal->QueryInterface(IID_IFont, reinterpret_cast<void**>(font.GetAddressOf())),
              S_OK);
    font->get_Size(&seen.size);
    font->get_Bold(&seen.bold);
    font->get_Italic(&seen.italic);
    ::VariantClear(&result);
  };
  TFontSeen parent = {}, own = {};
  ambientFont(parent);
  control->SetFont(TFont());
  ambientFont(own);
  EXPECT_TRUE(parent.bold && parent.italic);
  EXPECT_FALSE(own.bold || own.italic);
  EXPECT_GT(parent.size.int64, own.size.int64);
  EXPECT_GT(own.size.int64, 70000);  // 8.25 points asked
  EXPECT_LT(own.size.int64, 95000);
}

}  // namespace
}  // namespace pageturn::test
