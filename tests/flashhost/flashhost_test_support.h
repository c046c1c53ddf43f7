// The control unit started once per binary (code provider, content manager, interception), OLE
// on the test thread, and a form on Xvfb to put controls on; the fake runtime is served through
// the real code provider.
#pragma once

#include <windows.h>

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "forms/forms.h"
#include "flashhost/flash_player_control.h"
#include "runtime/code_provider.h"
#include "runtime/flash_control_unit.h"
#include "tests/flashhost/fake_runtime.h"

namespace pageturn::test {

class ControlUnitEnvironment : public ::testing::Environment {
 public:
  void SetUp() override {
    ASSERT_TRUE(SUCCEEDED(::OleInitialize(nullptr)));
    FlashControlUnitStartup();
    ASSERT_NE(CodeProvider, nullptr);
  }
  void TearDown() override {
    FlashControlUnitShutdown();
    ::OleUninitialize();
  }
};

// Pumps this thread's messages until `done` holds or the time is up; true when done.
inline bool PumpMessagesUntil(const std::function<bool()>& done, DWORD timeoutMs = 10000) {
  const DWORD start = ::GetTickCount();
  while (!done()) {
    if (::GetTickCount() - start > timeoutMs) return false;
    ::MsgWaitForMultipleObjects(0, nullptr, FALSE, 10, QS_ALLINPUT);
    MSG msg;
    while (::PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
      ::TranslateMessage(&msg);
      ::DispatchMessageA(&msg);
    }
  }
  return true;
}

// A fixture with a fake runtime of the scripted version: `control` is made by MakeControl, a
// form by MakeForm; the control is freed before the form.
class FakeRuntimeTest : public ::testing::Test {
 protected:
  void SetUp() override {
    TFakeRuntime::Install(script);
    CodeProvider->RuntimeVersion = 0x0A000000;
  }
  void TearDown() override {
    control.reset();
    form.reset();
    CodeProvider->GetClassObjectProc = nullptr;
    CodeProvider->RuntimeVersion = 0;
  }
  TFlashPlayerControl& MakeControl() {
    control = std::make_unique<TFlashPlayerControl>(nullptr);
    fake = control->RuntimeObject() ? TFakeRuntime::Last() : nullptr;
    return *control;
  }
  TForm& MakeForm() {
    form = std::make_unique<TForm>(nullptr);
    form->SetBounds(40, 30, 640, 480);
    form->Show();
    return *form;
  }
  // A control in place on a shown form, at (10, 20) and 300 x 200.
  TFlashPlayerControl& MakeActiveControl() {
    MakeForm();
    MakeControl();
    control->SetBounds(10, 20, 300, 200);
    control->SetParent(form.get());
    return *control;
  }

  TFakeScript script;
  std::unique_ptr<TForm> form;
  std::unique_ptr<TFlashPlayerControl> control;
  TFakeRuntime* fake = nullptr;
};

inline std::string Narrow(const std::wstring& text) { return std::string(text.begin(), text.end()); }

}  // namespace pageturn::test
