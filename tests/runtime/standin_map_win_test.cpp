// The stand-in runtime (flash.ocx), built by its own room, mapped by our loader with the whole
// interception in place, the way the player maps a runtime from its bundle.
#include <windows.h>
#include <objbase.h>
#include <ole2.h>

#include <gtest/gtest.h>

#include "core/com.h"
#include "runtime/code_provider.h"
#include "runtime/flash_control_unit.h"
#include "tests/runtime/standin_runtime.h"

namespace pageturn::test {
namespace {

TEST(StandinRuntime, MapsAndMakesAFlashObject) {
  ASSERT_TRUE(SUCCEEDED(::OleInitialize(nullptr)));
  StartControlUnitWithStandInRuntime();
  ASSERT_NE(CodeProvider, nullptr);
  ASSERT_NE(CodeProvider->GetClassObjectProc, nullptr);
  EXPECT_GE(CodeProvider->RuntimeVersion, 0x09001C00u) << "new enough for AllowFullscreen";
  EXPECT_EQ(::GetModuleHandleA("flash.ocx"), nullptr) << "never through the system loader";
  {
    ComPtr<IOleObject> object;
    EXPECT_EQ(CodeProvider->CreateFlashObject(IID_IOleObject, reinterpret_cast<void**>(object.GetAddressOf())), S_OK);
    ASSERT_NE(object, nullptr);
    ComPtr<IUnknown> flash;
    const IID IID_IShockwaveFlash = {0xD27CDB6C, 0xAE6D, 0x11CF, {0x96, 0xB8, 0x44, 0x45, 0x53, 0x54, 0x00, 0x00}};
    EXPECT_EQ(object->QueryInterface(IID_IShockwaveFlash, reinterpret_cast<void**>(flash.GetAddressOf())), S_OK);
  }
  FlashControlUnitShutdown();  // the runtime is detached and released
  ::OleUninitialize();
}

}  // namespace
}  // namespace pageturn::test
