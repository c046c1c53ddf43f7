// Code providers over the mapped fixture (its DllGetClassObject, its version resource), the
// registered-runtime lookup, and the control unit's start-up and shut-down.
#include <windows.h>
#include <objbase.h>
#include <ole2.h>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "content/content_manager.h"
#include "content/my_moniker.h"
#include "core/com.h"
#include "runtime/code_provider.h"
#include "runtime/flash_control_unit.h"
#include "tests/runtime/win_fixture.h"

namespace pageturn::test {
namespace {

using ::testing::ElementsAre;

// Every test leaves the module-wide state as it found it: empty.
class Providers : public ::testing::Test {
 protected:
  void TearDown() override { FlashControlUnitShutdown(); }
  TDep dep_;
};

LONG FactoryRefs() {
  auto refs = reinterpret_cast<LONG (*)()>(CodeProvider->Loader->GetExportAddress("FixtureFactoryRefs"));
  return refs();
}

TEST_F(Providers, FromAStreamMapsTheRuntimeAndMakesObjects) {
  auto image = ReadFixture("fixture_main.dll");
  auto* provider = new TFlashOCXCodeProviderBasedOnStream(image.get());
  image.reset();  // read whole during the call
  EXPECT_EQ(CodeProvider, provider);
  ASSERT_NE(provider->GetClassObjectProc, nullptr);
  EXPECT_EQ(provider->RuntimeVersion, 0x0B00022Cu);
  EXPECT_THAT(dep_.Reasons(), ElementsAre(1, 2));

  IUnknown* object = reinterpret_cast<IUnknown*>(0xDEADBEEF);
  EXPECT_EQ(provider->CreateFlashObject(IID_IUnknown, reinterpret_cast<void**>(&object)), S_OK);
  EXPECT_NE(object, nullptr);
  object = reinterpret_cast<IUnknown*>(0xDEADBEEF);
  EXPECT_EQ(provider->CreateFlashObject(IID_IOleObject, reinterpret_cast<void**>(&object)), S_OK)
      << "a factory was obtained, though its CreateInstance failed";
  EXPECT_EQ(object, nullptr);
  EXPECT_EQ(FactoryRefs(), 0) << "the factory is released";
}

TEST_F(Providers, WithoutARuntimeThereAreNoObjects) {
  auto* provider = new TFlashOCXCodeProviderBasedOnStream(nullptr);
  IUnknown* object = reinterpret_cast<IUnknown*>(0xDEADBEEF);
  EXPECT_EQ(provider->CreateFlashObject(IID_IOleObject, reinterpret_cast<void**>(&object)), E_FAIL);
  EXPECT_EQ(object, nullptr);
  EXPECT_EQ(provider->RuntimeVersion, 0u);
}

TEST_F(Providers, AMalformedRuntimeIsSilentlyLeftOut) {
  TMemoryStream junk;
  junk.WriteBuffer("MZ not really", 13);
  auto* provider = new TFlashOCXCodeProviderBasedOnStream(&junk);
  EXPECT_EQ(provider->GetClassObjectProc, nullptr);
  EXPECT_EQ(provider->RuntimeVersion, 0u);
}

TEST_F(Providers, LoadRuntimeFromStreamReplacesTheProvider) {
  auto image = ReadFixture("fixture_main.dll");
  LoadRuntimeFromStream(image.get());
  TFlashOCXCodeProviderBasedOnStream* first = CodeProvider;
  ASSERT_NE(first->GetClassObjectProc, nullptr);
  LoadRuntimeFromStream(nullptr);
  EXPECT_THAT(dep_.Reasons(), ElementsAre(1, 2, 0)) << "the previous runtime was detached";
  ASSERT_NE(CodeProvider, nullptr);
  EXPECT_EQ(CodeProvider->GetClassObjectProc, nullptr);
  EXPECT_EQ(CodeProvider->Loader, nullptr);
}

// The old runtime detaches while its provider is still the current one, so the lookups it makes
// in its DLL_PROCESS_DETACH still get the replacements: when a new runtime replaces it, and when
// the control unit shuts down.
TEST_F(Providers, ARuntimeDetachingStillGetsTheReplacements) {
  TFlashOCXLoader table;
  void* const replaced = table.GetImportReplacement("kernel32.dll", "VirtualAlloc");
  ASSERT_NE(replaced, nullptr);
  const struct {
    const char* how;
    void (*freeIt)();
  } cases[] = {
      {"replaced by another runtime", [] { LoadRuntimeFromStream(nullptr); }},
      {"freed at shut-down", [] { FlashControlUnitShutdown(); }},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.how);
    dep_.Reset();
    auto image = ReadFixture("fixture_main.dll");
    LoadRuntimeFromStream(image.get());
    ASSERT_NE(CodeProvider->GetClassObjectProc, nullptr);
    c.freeIt();
    EXPECT_THAT(dep_.Reasons(), ElementsAre(1, 2, 0));
    EXPECT_EQ(dep_.DetachLookup(), replaced) << "the system's own VirtualAlloc, or nothing";
  }
}

// Sets the registered runtime's path for one test and puts back what was there.
class TRegisteredRuntime {
 public:
  explicit TRegisteredRuntime(const std::string& path) {
    HKEY key;
    if (::RegOpenKeyExA(HKEY_CLASSES_ROOT, FlashRuntimeRegistryKey, 0, KEY_QUERY_VALUE, &key) == ERROR_SUCCESS) {
      char value[MAX_PATH + 1] = {};
      DWORD size = MAX_PATH;
      existed_ = ::RegQueryValueExA(key, "", nullptr, nullptr, reinterpret_cast<BYTE*>(value), &size) == ERROR_SUCCESS;
      old_ = value;
      ::RegCloseKey(key);
    }
    Set(path);
  }
  ~TRegisteredRuntime() {
    if (existed_) Set(old_);
    else ::RegDeleteKeyA(HKEY_CLASSES_ROOT, FlashRuntimeRegistryKey);
  }

 private:
  static void Set(const std::string& path) {
    HKEY key;
    ASSERT_EQ(::RegCreateKeyExA(HKEY_CLASSES_ROOT, FlashRuntimeRegistryKey, 0, nullptr, 0, KEY_SET_VALUE,
                                nullptr, &key, nullptr), ERROR_SUCCESS);
    ::RegSetValueExA(key, "", 0, REG_SZ, reinterpret_cast<const BYTE*>(path.c_str()),
                     static_cast<DWORD>(path.size() + 1));
    ::RegCloseKey(key);
  }
  bool existed_ = false;
  std::string old_;
};

TEST_F(Providers, TheRegisteredRuntimeIsReadIntoMemory) {
  const std::string path = BesideTheTest("fixture_main.dll");
  {
    TRegisteredRuntime registered(path);
    auto* provider = new TFlashOCXCodeProviderBasedOnSystemInstalledOCX();
    EXPECT_EQ(CodeProvider, provider);
    ASSERT_NE(provider->GetClassObjectProc, nullptr);
    EXPECT_EQ(provider->RuntimeVersion, 0x0B00022Cu);
    EXPECT_EQ(::GetModuleHandleA(path.c_str()), nullptr) << "never through the system loader";
    // The file is not held open.
    ScopedHandle exclusive(::CreateFileA(path.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr));
    EXPECT_TRUE(exclusive.IsValid());
  }
  delete std::exchange(CodeProvider, nullptr);
  {
    TRegisteredRuntime registered(BesideTheTest("no-such-runtime.ocx"));
    auto* provider = new TFlashOCXCodeProviderBasedOnSystemInstalledOCX();
    EXPECT_EQ(provider->GetClassObjectProc, nullptr);
    EXPECT_EQ(provider->RuntimeVersion, 0u);
    IUnknown* object = reinterpret_cast<IUnknown*>(0xDEADBEEF);
    EXPECT_EQ(provider->CreateFlashObject(IID_IOleObject, reinterpret_cast<void**>(&object)), E_FAIL);
    EXPECT_EQ(object, nullptr);
  }
}

unsigned short FloatingPointControlWord() {
  unsigned short word;
  __asm__ __volatile__("fnstcw %0" : "=m"(word));
  return word;
}

TEST_F(Providers, UnitStartupCreatesTheStateAndShutdownFreesIt) {
  FlashControlUnitStartup();
  // Bit 6 is reserved and always reads as set.
  EXPECT_EQ(FloatingPointControlWord() & ~0x40, 0x133F);
  EXPECT_NE(CodeProvider, nullptr);
  EXPECT_NE(ClassNameMap, nullptr);
  EXPECT_NE(SavedCursors, nullptr);
  EXPECT_NE(SampleWidths, nullptr);
  EXPECT_NE(SoundLock, nullptr);
  EXPECT_TRUE(SoundEnabled);
  EXPECT_EQ(SoundVolume, 100);
  EXPECT_EQ(reinterpret_cast<void*>(SystemCreateURLMoniker),
            reinterpret_cast<void*>(::GetProcAddress(::GetModuleHandleA("urlmon.dll"), "CreateURLMoniker")));
  EXPECT_NE(SystemRegisterBindStatusCallback, nullptr);
  ASSERT_NE(ContentManager, nullptr);

  // The file replacements now work on the content manager's fake handles.
  TFlashOCXLoader table;
  auto readFile = reinterpret_cast<decltype(&::ReadFile)>(table.GetImportReplacement("kernel32.dll", "ReadFile"));
  auto closeHandle = reinterpret_cast<decltype(&::CloseHandle)>(table.GetImportReplacement("kernel32.dll", "CloseHandle"));
  auto content = std::make_unique<TMemoryStream>();
  content->WriteBuffer("served", 6);
  content->SetPosition(0);
  const HANDLE fake = ::CreateEventA(nullptr, FALSE, FALSE, nullptr);
  ContentManager->RegisterFakeHandle(fake, std::move(content), nullptr);
  char text[8] = {};
  DWORD n = 0;
  EXPECT_NE(readFile(fake, text, 8, &n, nullptr), FALSE);
  EXPECT_EQ(std::string(text, n), "served");
  EXPECT_NE(closeHandle(fake), FALSE);
  EXPECT_EQ(closeHandle(fake), FALSE) << "released and closed by the manager; the second close fails";

  // And the runtime's URL monikers are the content layer's.
  auto createURLMoniker = reinterpret_cast<decltype(&::CreateURLMoniker)>(
      table.GetImportReplacement("urlmon.dll", "CreateURLMoniker"));
  const long before = TLiveCount<TMyMoniker>::Live();
  ComPtr<IMoniker> moniker;
  ASSERT_EQ(createURLMoniker(nullptr, L"http://example.invalid/book.swf", moniker.GetAddressOf()), S_OK);
  ASSERT_NE(moniker, nullptr);
  EXPECT_EQ(TLiveCount<TMyMoniker>::Live(), before + 1) << "a TMyMoniker";
  moniker.Reset();
  EXPECT_EQ(TLiveCount<TMyMoniker>::Live(), before);

  FlashControlUnitShutdown();
  EXPECT_EQ(ContentManager, nullptr);
  EXPECT_EQ(CodeProvider, nullptr);
  EXPECT_EQ(ClassNameMap, nullptr);
  EXPECT_EQ(SavedCursors, nullptr);
  EXPECT_EQ(SampleWidths, nullptr);
  EXPECT_EQ(SoundLock, nullptr);
  EXPECT_EQ(SystemCreateURLMoniker, nullptr);
}

TEST_F(Providers, FailedBindingsAreFatalAndLeaveNothingBehind) {
  const struct {
    const char* urlmon;
    const char* user32;
    const char* message;
  } cases[] = {
      {"no-such-urlmon.dll", "user32.dll", "LoadLibrary(urlmon.dll) failed"},
      {"kernel32.dll", "user32.dll", "GetProcAddress(CreateURLMoniker) failed"},
      {"urlmon.dll", "no-such-user32.dll", "LoadLibrary(user32.dll) failed"},
  };
  for (const auto& c : cases) {
    try {
      detail::FlashControlUnitStartupWith(c.urlmon, c.user32);
      ADD_FAILURE() << "no error for " << c.message;
    } catch (const TFatalStartupError& e) {
      EXPECT_STREQ(e.what(), c.message);
    }
    EXPECT_EQ(CodeProvider, nullptr) << c.message;
    EXPECT_EQ(ClassNameMap, nullptr) << c.message;
    EXPECT_EQ(SoundLock, nullptr) << c.message;
    EXPECT_EQ(SystemCreateURLMoniker, nullptr) << c.message;
    EXPECT_EQ(ContentManager, nullptr) << c.message;
  }
}

}  // namespace
}  // namespace pageturn::test
