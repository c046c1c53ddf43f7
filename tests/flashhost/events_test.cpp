// The event sink driven through the fake runtime's connection point with real DISPPARAMS in the
// runtime's argument order; the host probe; failing handlers; the content-side Fire operations.
#include <windows.h>

#include <gtest/gtest.h>

#include <cstring>
#include <stdexcept>

#include "tests/flashhost/flashhost_test_support.h"

namespace pageturn::test {
namespace {

using Events = FakeRuntimeTest;

// Owns the BSTRs of the arguments it hands out.
class TArguments {
 public:
  ~TArguments() {
    for (VARIANT& v : values_) ::VariantClear(&v);
  }
  TArguments& Text(const wchar_t* text) {
    VARIANT v;
    ::VariantInit(&v);
    v.vt = VT_BSTR;
    v.bstrVal = text ? ::SysAllocString(text) : nullptr;
    values_.push_back(v);
    return *this;
  }
  TArguments& Bytes(const wchar_t* text, UINT length) {
    VARIANT v;
    ::VariantInit(&v);
    v.vt = VT_BSTR;
    v.bstrVal = ::SysAllocStringLen(text, length);
    values_.push_back(v);
    return *this;
  }
  TArguments& Number(LONG number) {
    VARIANT v;
    ::VariantInit(&v);
    v.vt = VT_I4;
    v.lVal = number;
    values_.push_back(v);
    return *this;
  }
  // In dispatch order: the last declared argument first.
  std::vector<VARIANT> Reversed() const { return {values_.rbegin(), values_.rend()}; }

 private:
  std::vector<VARIANT> values_;
};

TEST_F(Events, RuntimeEventsReachTheirHandlersWithTheirArguments) {
  MakeControl();
  std::vector<std::string> seen;
  control->OnReadyStateChange = [&](TWinControl* s, int state) {
    seen.push_back("ready " + std::to_string(state) + (s == control.get() ? "" : " (sender?)"));
  };
  control->OnProgress = [&](TWinControl*, int percent) {
    seen.push_back("progress " + std::to_string(percent));
  };
  control->OnFSCommand = [&](TWinControl*, const std::wstring& command, const std::wstring& args) {
    seen.push_back("fscommand " + Narrow(command) + "|" + Narrow(args));
  };
  control->OnFlashCall = [&](TWinControl*, const std::wstring& request) {
    seen.push_back("flashcall " + Narrow(request));
  };
  struct TCase {
    DISPID id;
    std::function<void(TArguments&)> arguments;  // in declaration order
    const char* expected;
  } cases[] = {
      {-609, [](TArguments& a) { a.Number(4); }, "ready 4"},
      {1958, [](TArguments& a) { a.Number(55); }, "progress 55"},
      {150, [](TArguments& a) { a.Text(L"fullscreen").Text(L"true"); }, "fscommand fullscreen|true"},
      {150, [](TArguments& a) { a.Text(nullptr).Bytes(L"a\0b", 3); }, "fscommand |a"},
      {150, [](TArguments&) {}, "fscommand |"},  // a runtime that sends too few arguments
      {150, [](TArguments& a) { a.Number(0x1234).Text(L"x"); }, "fscommand |x"},  // no string
      {1958, [](TArguments& a) { a.Text(L"7"); }, ""},  // the payload bits, whatever they are
      {197, [](TArguments& a) { a.Text(L"<invoke name=\"f\"/>"); }, "flashcall <invoke name=\"f\"/>"},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.expected);
    seen.clear();
    TArguments arguments;
    c.arguments(arguments);
    EXPECT_EQ(fake->Fire(c.id, arguments.Reversed()), S_OK);
    if (*c.expected) {
      EXPECT_EQ(seen, std::vector<std::string>{c.expected});
    } else {
      EXPECT_EQ(seen.size(), 1u);
    }
  }
  // Without handlers the events are still answered S_OK.
  control->OnReadyStateChange = nullptr;
  control->OnFSCommand = nullptr;
  TArguments two;
  two.Text(L"a").Text(L"b");
  EXPECT_EQ(fake->Fire(150, two.Reversed()), S_OK);
  TArguments one;
  one.Number(1);
  EXPECT_EQ(fake->Fire(-609, one.Reversed()), S_OK);
}

TEST_F(Events, TheHostProbeIsAnsweredFromVersionEightAndNeverRaised) {
  const std::wstring probe = std::wstring(L"<invoke name=\"probe\"><arguments><string>") +
                             HostProbeId + L"</string></arguments></invoke>";
  std::wstring otherCase = probe;
  otherCase.replace(otherCase.find(L"4c7d"), 4, L"4C7D");
  const std::string answer = "SetReturnValue(" + Narrow(HostProbeAnswer) + ")";
  struct TCase {
    int version;
    std::wstring request;
    bool handler;
    bool raised;
    bool answered;
    HRESULT runtimeAnswer = S_OK;  // what the runtime makes of the answer
  } cases[] = {
      {8, probe, true, false, true},   {10, probe, true, false, true},
      {7, probe, true, false, false},  {9, otherCase, true, true, false},
      {9, probe, false, false, false},
      // A refused answer is the control's own business: the event still succeeds.
      {9, probe, true, false, true, E_FAIL},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(std::to_string(c.version) + " " + Narrow(c.request) + " handler " +
                 std::to_string(c.handler) + " runtime answer " + std::to_string(c.runtimeAnswer));
    script.majorVersion = c.version;
    script.runtimeCalls = c.runtimeAnswer;
    MakeControl();
    bool raised = false;
    if (c.handler) control->OnFlashCall = [&](TWinControl*, const std::wstring&) { raised = true; };
    TArguments request;
    request.Text(c.request.c_str());
    fake->calls.clear();
    EXPECT_EQ(fake->Fire(197, request.Reversed()), S_OK);
    EXPECT_EQ(raised, c.raised);
    EXPECT_EQ(fake->Calls("SetReturnValue"), c.answered ? answer : "");
  }
}

TEST_F(Events, AFailingHandlerIsReportedToTheRuntimeNotThrownIntoIt) {
  MakeControl();
  struct TCase {
    const char* what;
    std::function<void()> fail;
    const wchar_t* description;
  } cases[] = {
      {"runtime error", [] { throw std::runtime_error("handler failed"); }, L"handler failed"},
      {"OLE error", [] { throw OleError(E_FAIL, "no such page"); }, L"no such page"},
      {"anything", [] { throw 42; }, L"Unexpected failure"},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.what);
    control->OnFSCommand = [&](TWinControl*, const std::wstring&, const std::wstring&) { c.fail(); };
    TArguments arguments;
    arguments.Text(L"fullscreen").Text(L"true");
    EXPECT_EQ(fake->Fire(150, arguments.Reversed()), DISP_E_EXCEPTION);
    // The reason reaches a runtime that asks for it.
    EXCEPINFO exception;
    std::memset(&exception, 0xAB, sizeof exception);
    EXPECT_EQ(fake->Fire(150, arguments.Reversed(), &exception), DISP_E_EXCEPTION);
    EXPECT_EQ(exception.scode, E_FAIL);
    EXPECT_EQ(exception.pfnDeferredFillIn, nullptr);
    ASSERT_NE(exception.bstrSource, nullptr);
    EXPECT_STREQ(exception.bstrSource, L"TFlashPlayerControl");
    ASSERT_NE(exception.bstrDescription, nullptr);
    EXPECT_STREQ(exception.bstrDescription, c.description);
    ::SysFreeString(exception.bstrSource);
    ::SysFreeString(exception.bstrDescription);
    ::SysFreeString(exception.bstrHelpFile);
  }
}

TEST_F(Events, FireOperationsAnswerSFalseWithoutAHandler) {
  MakeControl();
  ComPtr<IFlashPlayerControlBase> base;
  ASSERT_EQ(control->QueryInterface(IID_IFlashPlayerControlBase,
                                    reinterpret_cast<void**>(base.GetAddressOf())),
            S_OK);
  TMemoryStream stream;
  bool handled = false;
  TStream* served = nullptr;
  EXPECT_EQ(base->FireLoadExternalResource(L"a.swf", &stream), S_FALSE);
  EXPECT_EQ(base->FireLoadExternalResourceEx(L"a.swf", &stream, &handled), S_FALSE);
  EXPECT_EQ(base->FireLoadExternalResourceAsync(L"a.swf", &served), S_FALSE);
  EXPECT_EQ(base->FireUnloadExternalResourceAsync(&stream), S_FALSE);
  EXPECT_FALSE(handled);
  EXPECT_EQ(served, nullptr);

  std::vector<std::string> seen;
  control->OnLoadExternalResource = [&](TWinControl* s, const std::wstring& url, TStream* st) {
    seen.push_back("load " + Narrow(url) + (s == control.get() && st == &stream ? "" : " ?"));
  };
  control->OnLoadExternalResourceEx = [&](TWinControl*, const std::wstring& url, TStream*,
                                          bool& h) {
    seen.push_back("ex " + Narrow(url));
    h = true;
  };
  control->OnLoadExternalResourceAsync = [&](TWinControl*, const std::wstring& path,
                                             TStream*& out) {
    seen.push_back("async " + Narrow(path));
    out = new TMemoryStream;
  };
  control->OnUnloadExternalResourceAsync = [&](TWinControl*, TStream* st) {
    seen.push_back(st == &stream ? "unload" : "unload ?");
  };
  EXPECT_EQ(base->FireLoadExternalResource(L"a.swf", &stream), S_OK);
  EXPECT_EQ(base->FireLoadExternalResourceEx(L"b.swf", &stream, &handled), S_OK);
  EXPECT_EQ(base->FireLoadExternalResourceAsync(L"/c.swf", &served), S_OK);
  EXPECT_EQ(base->FireUnloadExternalResourceAsync(&stream), S_OK);
  EXPECT_TRUE(handled);
  ASSERT_NE(served, nullptr);
  delete served;
  EXPECT_EQ(seen, (std::vector<std::string>{"load a.swf", "ex b.swf", "async /c.swf", "unload"}));
}

}  // namespace
}  // namespace pageturn::test
