// The replacements, reached the way the runtime reaches them: through the table, or through the
// import slots of the mapped fixture.
#include <windows.h>
#include <mmsystem.h>
#include <objbase.h>
#include <urlmon.h>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <atomic>
#include <set>
#include <thread>

#include "content/content_manager.h"
#include "runtime/code_provider.h"
#include "runtime/content_seam.h"
#include "runtime/interception.h"
#include "tests/runtime/win_fixture.h"

namespace pageturn::test {
namespace {

// The replacement of `name`, typed as the system function it stands for.
template <class F>
F Replaced(F, const char* name) {
  return reinterpret_cast<F>(TFlashOCXLoader().GetImportReplacement("kernel32.dll", name));
}
#define REPLACED(fn) Replaced(&::fn, #fn)

constexpr BOOL FakeTrue = static_cast<BOOL>(0xFFFFFFFF);

TEST(InterceptionTable, HoldsTheTwentyThreeByExactName) {
  const char* names[] = {"RegisterClassExA", "RegisterClassA", "RegisterClassExW", "RegisterClassW",
                         "CreateWindowExA", "CreateWindowExW", "LoadCursorA", "LoadMenuA",
                         "FlushInstructionCache", "VirtualAlloc", "GetProcAddress", "CreateURLMoniker",
                         "CreateFileA", "CreateFileW", "ReadFile", "GetFileSize", "GetFileSizeEx",
                         "SetFilePointer", "SetFilePointerEx", "CloseHandle", "waveOutOpen",
                         "waveOutWrite", "waveOutClose"};
  TFlashOCXLoader loader;
  std::set<void*> seen;
  for (const char* name : names) {
    void* r = loader.GetImportReplacement("any.dll", name);
    EXPECT_NE(r, nullptr) << name;
    seen.insert(r);
  }
  EXPECT_EQ(seen.size(), std::size(names));
  for (const char* other : {"readfile", "CreateFile", "CreateFileWX", "LoadCursorW", "LoadMenuW", ""})
    EXPECT_EQ(loader.GetImportReplacement("kernel32.dll", other), nullptr) << other;
  EXPECT_EQ(loader.GetImportReplacement("kernel32.dll", MAKEINTRESOURCEA(1)), nullptr);
}

// A content layer with one fake handle over a memory stream.
class FakeFiles : public ::testing::Test {
 protected:
  static inline HANDLE fake = nullptr;
  static inline TStream* stream = nullptr;
  static inline bool released = false;
  static inline std::vector<std::wstring> opened;

  class TFailingStream : public TMemoryStream {
   public:
    std::size_t Read(void*, std::size_t) override { throw StreamReadError(); }
  };

  void SetUp() override {
    saved_ = ContentOperations;
    fake = ::CreateEventA(nullptr, FALSE, FALSE, nullptr);
    memory_.WriteBuffer("0123456789", 10);
    memory_.SetPosition(0);
    stream = &memory_;
    released = false;
    opened.clear();
    ContentOperations.FindFakeHandleStream = [](HANDLE h) -> std::shared_ptr<TStream> {
      // Not owned: the fixture's stream.
      return h == fake && !released ? std::shared_ptr<TStream>(std::shared_ptr<TStream>(), stream)
                                    : nullptr;
    };
    ContentOperations.ReleaseFakeHandle = [](HANDLE h) {
      if (h != fake || released) return false;
      return released = true;
    };
    ContentOperations.OpenFileW = [](LPCWSTR name, DWORD, DWORD, LPSECURITY_ATTRIBUTES, DWORD, DWORD,
                                     HANDLE) -> HANDLE {
      opened.push_back(name);
      return fake;
    };
  }
  void TearDown() override {
    ContentOperations = saved_;
    if (!released) ::CloseHandle(fake);
  }

  TMemoryStream memory_;
  TContentOperations saved_;
};

TEST_F(FakeFiles, CreateFileWGoesToTheContentLayer) {
  const HANDLE h = REPLACED(CreateFileW)(L"C:\\virtual\\file.swf", GENERIC_READ, FILE_SHARE_READ,
                                          nullptr, OPEN_EXISTING, 0, nullptr);
  EXPECT_EQ(h, fake);
  EXPECT_THAT(opened, ::testing::ElementsAre(L"C:\\virtual\\file.swf"));
}

TEST_F(FakeFiles, ReadFileReadsTheStreamAndReportsTrueAtTheEnd) {
  auto read = REPLACED(ReadFile);
  char buffer[8] = {};
  DWORD n = 0xDEADBEEF;
  EXPECT_EQ(read(fake, buffer, 8, &n, nullptr), FakeTrue);
  EXPECT_EQ(n, 8u);
  EXPECT_EQ(std::string(buffer, 8), "01234567");
  EXPECT_EQ(read(fake, buffer, 8, &n, nullptr), FakeTrue);
  EXPECT_EQ(n, 2u);
  EXPECT_EQ(read(fake, buffer, 8, &n, nullptr), FakeTrue);
  EXPECT_EQ(n, 0u) << "at the end";
  EXPECT_EQ(read(fake, buffer, 8, nullptr, nullptr), FakeTrue) << "no count pointer";
}

TEST_F(FakeFiles, AStreamErrorIsFalseWithoutACount) {
  TFailingStream failing;
  stream = &failing;
  char buffer[4];
  DWORD n = 0xDEADBEEF;
  EXPECT_EQ(REPLACED(ReadFile)(fake, buffer, 4, &n, nullptr), FALSE);
  EXPECT_EQ(n, 0xDEADBEEFu);
}

TEST_F(FakeFiles, SizesAndSeeks) {
  DWORD high = 0xDEADBEEF;
  EXPECT_EQ(REPLACED(GetFileSize)(fake, &high), 10u);
  EXPECT_EQ(high, 0u);
  LARGE_INTEGER size;
  size.QuadPart = -1;
  EXPECT_EQ(REPLACED(GetFileSizeEx)(fake, &size), FakeTrue);
  EXPECT_EQ(size.QuadPart, 10);

  auto seek = REPLACED(SetFilePointer);
  LONG distanceHigh = 5;  // not used as input: only the low 32 bits move a fake file
  EXPECT_EQ(seek(fake, 4, &distanceHigh, FILE_BEGIN), 4u);
  EXPECT_EQ(distanceHigh, 0);
  EXPECT_EQ(seek(fake, -1, nullptr, FILE_CURRENT), 3u);
  EXPECT_EQ(seek(fake, -2, nullptr, FILE_END), 8u);
  EXPECT_EQ(seek(fake, 0, nullptr, 7), INVALID_SET_FILE_POINTER) << "no such origin";

  LARGE_INTEGER distance, position;
  distance.LowPart = static_cast<DWORD>(-3);
  distance.HighPart = 1;  // ignored
  EXPECT_EQ(REPLACED(SetFilePointerEx)(fake, distance, &position, FILE_END), FakeTrue);
  EXPECT_EQ(position.QuadPart, 7);
  EXPECT_EQ(memory_.Position(), 7);
}

TEST_F(FakeFiles, CloseHandleReleasesOnceThenForwards) {
  auto close = REPLACED(CloseHandle);
  EXPECT_EQ(close(fake), FakeTrue);
  EXPECT_TRUE(released);
  EXPECT_EQ(close(fake), TRUE) << "the second close reaches the system, which closes the event";
  EXPECT_EQ(close(fake), FALSE) << "and a third finds nothing to close";
}

TEST_F(FakeFiles, RealFilesAreForwarded) {
  const std::string path = BesideTheTest("fixture_dep.dll");
  ContentOperations.OpenFileA = SystemContentOperations().OpenFileA;
  ScopedHandle file(REPLACED(CreateFileA)(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                          OPEN_EXISTING, 0, nullptr));
  ASSERT_TRUE(file.IsValid());
  char mz[2];
  DWORD n = 0;
  EXPECT_EQ(REPLACED(ReadFile)(file.Get(), mz, 2, &n, nullptr), TRUE);
  EXPECT_EQ(std::string(mz, 2), "MZ");
  LARGE_INTEGER size;
  EXPECT_TRUE(REPLACED(GetFileSizeEx)(file.Get(), &size));
  EXPECT_EQ(REPLACED(GetFileSize)(file.Get(), nullptr), static_cast<DWORD>(size.QuadPart));
  EXPECT_EQ(REPLACED(SetFilePointer)(file.Get(), 0, nullptr, FILE_END), static_cast<DWORD>(size.QuadPart));
}

TEST(URLMonikers, CreateURLMonikerClearsTheResultAndAsksTheContentLayer) {
  const TContentOperations saved = ContentOperations;
  static std::wstring asked;
  ContentOperations.CreateContentMoniker = [](IMoniker*, LPCWSTR url, IMoniker**) -> HRESULT {
    asked = url;
    return E_FAIL;
  };
  IMoniker* result = reinterpret_cast<IMoniker*>(0xDEADBEEF);
  EXPECT_EQ(REPLACED(CreateURLMoniker)(nullptr, L"file://x/book.swf", &result), E_FAIL);
  EXPECT_EQ(result, nullptr);
  EXPECT_EQ(asked, L"file://x/book.swf");
  ContentOperations = saved;
}

TEST(RunTimeLookups, ApplyTheTableWhileAProviderHasALoader) {
  auto getProcAddress = REPLACED(GetProcAddress);
  HMODULE user32 = ::GetModuleHandleA("user32.dll");
  ASSERT_EQ(CodeProvider, nullptr);
  EXPECT_EQ(getProcAddress(user32, "ReadFile"), nullptr) << "no provider: forwarded";

  auto* provider = new TFlashOCXCodeProviderBasedOnStream(nullptr);
  provider->Loader = std::make_unique<TFlashOCXLoader>();
  EXPECT_EQ(reinterpret_cast<void*>(getProcAddress(user32, "ReadFile")),
            reinterpret_cast<void*>(REPLACED(ReadFile)));
  EXPECT_EQ(getProcAddress(user32, "DefWindowProcA"), ::GetProcAddress(user32, "DefWindowProcA"));
  HMODULE kernel32 = ::GetModuleHandleA("kernel32.dll");
  EXPECT_EQ(getProcAddress(kernel32, MAKEINTRESOURCEA(1)), ::GetProcAddress(kernel32, MAKEINTRESOURCEA(1)))
      << "ordinals are forwarded";
  delete std::exchange(CodeProvider, nullptr);
}

TEST(CodeMemory, FlushMakesExecutableAndGuardRequestsAreDropped) {
  void* page = ::VirtualAlloc(nullptr, 0x2000, MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE);
  ASSERT_NE(page, nullptr);
  EXPECT_TRUE(REPLACED(FlushInstructionCache)(::GetCurrentProcess(), page, 0x1000));
  MEMORY_BASIC_INFORMATION info{};
  ::VirtualQuery(page, &info, sizeof info);
  EXPECT_EQ(info.Protect, static_cast<DWORD>(PAGE_EXECUTE_READWRITE));

  void* second = static_cast<char*>(page) + 0x1000;
  EXPECT_EQ(REPLACED(VirtualAlloc)(second, 1, MEM_COMMIT, PAGE_READWRITE | PAGE_GUARD), second);
  ::VirtualQuery(second, &info, sizeof info);
  EXPECT_EQ(info.Protect & PAGE_GUARD, 0u);
  ::VirtualFree(page, 0, MEM_RELEASE);
}

TEST(Sound, WriteScalesKnownHandlesThenForwards) {
  SampleWidths = std::make_unique<TMapCardinal2Cardinal>();
  SoundLock = std::make_unique<TCriticalSection>();
  const auto bogus = reinterpret_cast<HWAVEOUT>(0x4321);
  SampleWidths->Add(0x4321, 2);
  SoundVolume = 50;
  char data[5] = {0x10, 0x00, static_cast<char>(0xF0), static_cast<char>(0xFF), 0x7F};
  WAVEHDR header{};
  header.lpData = data;
  header.dwBufferLength = 5;
  EXPECT_EQ(REPLACED(waveOutWrite)(bogus, &header, sizeof header), ::waveOutWrite(bogus, &header, sizeof header));
  EXPECT_EQ(std::string(data, 5), std::string("\x08\x00\xF8\xFF\x7F", 5)) << "2 samples, last byte untouched";
  SoundVolume = 100;
  EXPECT_EQ(REPLACED(waveOutClose)(bogus), ::waveOutClose(bogus));

  // Without a device the open fails like the system's, and records nothing.
  WAVEFORMATEX format{WAVE_FORMAT_PCM, 1, 11025, 22050, 2, 16, 0};
  HWAVEOUT out = nullptr;
  const MMRESULT opened = REPLACED(waveOutOpen)(&out, WAVE_MAPPER, &format, 0, 0, CALLBACK_NULL);
  DWORD width = 0;
  if (opened == MMSYSERR_NOERROR) {
    EXPECT_TRUE(SampleWidths->Find(reinterpret_cast<DWORD>(out), width));
    EXPECT_EQ(width, 2u);
    ::waveOutClose(out);
  }
  SampleWidths.reset();
  SoundLock.reset();
}

// The mapped fixture registers its window class and creates a window with it.
class MappedWindows : public ::testing::Test {
 protected:
  void SetUp() override {
    ClassNameMap = std::make_unique<TMapString2String>();
    image_ = ReadFixture("fixture_main.dll");
    loader_.LoadFromStream(*image_);
    registerClass_ = reinterpret_cast<ATOM (*)(const char*)>(loader_.GetExportAddress("FixtureRegisterClass"));
    createWindow_ = reinterpret_cast<HWND (*)(const char*, HINSTANCE)>(loader_.GetExportAddress("FixtureCreateWindow"));
  }
  void TearDown() override { ClassNameMap.reset(); }
  HINSTANCE Module() const { return reinterpret_cast<HINSTANCE>(loader_.Handle()); }
  static std::string ClassOf(HWND window) {
    char name[256] = {};
    ::GetClassNameA(window, name, sizeof name);
    return name;
  }

  TDep dep_;
  std::unique_ptr<TMemoryStream> image_;
  TFlashOCXLoader loader_;
  ATOM (*registerClass_)(const char*) = nullptr;
  HWND (*createWindow_)(const char*, HINSTANCE) = nullptr;
};

TEST_F(MappedWindows, ClassesAreRenamedUnderTheHostAndFoundInAnyCase) {
  const std::string expected = "FlashPlayerControl_FixtureClass_" + std::to_string(UniqueClassNumber());
  const ATOM first = registerClass_("FixtureClass");
  const ATOM second = registerClass_("FixtureClass");
  EXPECT_NE(first, 0);
  EXPECT_NE(second, 0) << "the second registration replaces the first";
  WNDCLASSEXA info{};
  info.cbSize = sizeof info;
  EXPECT_TRUE(::GetClassInfoExA(HostInstance(), expected.c_str(), &info));

  HWND window = createWindow_("FIXTURECLASS", Module());
  ASSERT_NE(window, nullptr);
  EXPECT_EQ(ClassOf(window), expected);
  EXPECT_EQ(reinterpret_cast<HINSTANCE>(::GetWindowLongPtrA(window, GWLP_HINSTANCE)), HostInstance());
  ::DestroyWindow(window);

  HWND byAtom = createWindow_(MAKEINTATOM(second), Module());
  ASSERT_NE(byAtom, nullptr) << "an atom passes unchanged";
  EXPECT_EQ(ClassOf(byAtom), expected);
  ::DestroyWindow(byAtom);

  EXPECT_EQ(createWindow_("UnknownFixtureClass", Module()), nullptr) << "unknown names pass unchanged";
  ::UnregisterClassA(expected.c_str(), HostInstance());
}

HINSTANCE seenInstance;
LRESULT CALLBACK ProbeProc(HWND w, UINT m, WPARAM wp, LPARAM lp) {
  if (m == WM_NCCREATE) seenInstance = reinterpret_cast<CREATESTRUCTA*>(lp)->hInstance;
  return ::DefWindowProcA(w, m, wp, lp);
}

TEST_F(MappedWindows, CreateWindowWithNullInstanceKeepsIt) {
  HINSTANCE& seen = seenInstance;
  seen = reinterpret_cast<HINSTANCE>(0xDEADBEEF);
  WNDCLASSA wc{};
  wc.lpfnWndProc = &ProbeProc;
  wc.hInstance = ::GetModuleHandleA(nullptr);
  wc.lpszClassName = "NullInstanceProbe";
  ASSERT_NE(REPLACED(RegisterClassA)(&wc), 0);
  HWND window = createWindow_("NullInstanceProbe", nullptr);
  ASSERT_NE(window, nullptr);
  EXPECT_EQ(seen, nullptr);
  ::DestroyWindow(window);
  seen = reinterpret_cast<HINSTANCE>(0xDEADBEEF);
  window = createWindow_("NullInstanceProbe", Module());
  EXPECT_EQ(seen, HostInstance());
  ::DestroyWindow(window);
}

TEST_F(MappedWindows, WideClassesAreRenamedToo) {
  WNDCLASSEXW wc{};
  wc.cbSize = sizeof wc;
  wc.lpfnWndProc = ::DefWindowProcW;
  wc.lpszClassName = L"WideFixture";
  ASSERT_NE(REPLACED(RegisterClassExW)(&wc), 0);
  EXPECT_STREQ(wc.lpszClassName, L"WideFixture") << "the caller's structure is not modified";
  std::wstring mapped;
  ASSERT_TRUE(ClassNameMap->Get(L"widefixture", mapped));
  EXPECT_EQ(mapped, L"FlashPlayerControl_WideFixture_" + std::to_wstring(UniqueClassNumber()));
  HWND window = REPLACED(CreateWindowExW)(0, L"WIDEFIXTURE", L"", WS_POPUP, 0, 0, 1, 1, nullptr,
                                          nullptr, Module(), nullptr);
  EXPECT_NE(window, nullptr);
  ::DestroyWindow(window);
  ::UnregisterClassW(mapped.c_str(), HostInstance());
}

TEST_F(MappedWindows, CursorsComeFromTheImageAndAreCached) {
  SavedCursors = std::make_unique<TSavedCursors>();
  auto loadCursor = REPLACED(LoadCursorA);
  EXPECT_EQ(loadCursor(nullptr, IDC_ARROW), ::LoadCursorA(nullptr, IDC_ARROW));
  HCURSOR numbered = loadCursor(Module(), MAKEINTRESOURCEA(100));
  ASSERT_NE(numbered, nullptr);
  EXPECT_EQ(loadCursor(Module(), MAKEINTRESOURCEA(100)), numbered) << "a cache hit";
  HCURSOR named = loadCursor(Module(), "HANDCURSOR");
  ASSERT_NE(named, nullptr);
  EXPECT_NE(named, numbered);
  EXPECT_EQ(loadCursor(Module(), "handcursor"), nullptr) << "names are case-sensitive";
  EXPECT_EQ(loadCursor(Module(), MAKEINTRESOURCEA(101)), nullptr);
  // A fresh cache makes a new cursor: the hit above came from the cache.
  SavedCursors = std::make_unique<TSavedCursors>();
  HCURSOR again = loadCursor(Module(), MAKEINTRESOURCEA(100));
  EXPECT_NE(again, numbered);
  SavedCursors.reset();
}

TEST_F(MappedWindows, MenusFallBackThroughTheLanguages) {
  auto loadMenu = REPLACED(LoadMenuA);
  auto popup = [](HMENU menu) {
    char text[32] = {};
    if (menu) ::GetMenuStringA(menu, 0, text, sizeof text, MF_BYPOSITION);
    if (menu) ::DestroyMenu(menu);
    return std::string(menu ? text : "(none)");
  };
  const LCID saved = ::GetThreadLocale();
  const LANGID system = LANGIDFROMLCID(::GetSystemDefaultLCID());
  const LANGID user = LANGIDFROMLCID(::GetUserDefaultLCID());
  ASSERT_TRUE(system != 0x0407 && user != 0x0407 && system != 0x040C && user != 0x040C)
      << "this test expects neither a German nor a French default";
  ::SetThreadLocale(MAKELCID(0x0407, SORT_DEFAULT));
  EXPECT_EQ(popup(loadMenu(Module(), MAKEINTRESOURCEA(200))), "de");
  ::SetThreadLocale(MAKELCID(0x0411, SORT_DEFAULT));
  EXPECT_EQ(popup(loadMenu(Module(), MAKEINTRESOURCEA(201))), "neutral");
  EXPECT_EQ(popup(loadMenu(Module(), MAKEINTRESOURCEA(202))), "(none)") << "French only";
  EXPECT_EQ(popup(loadMenu(nullptr, MAKEINTRESOURCEA(200))), "(none)");
  ::SetThreadLocale(saved);
}

TEST_F(MappedWindows, TheVersionResourcePacksWithSpilling) {
  EXPECT_EQ(ReadRuntimeVersion(Module()), 0x0B00022Cu);  // 11.0.1.300
  EXPECT_EQ(ReadRuntimeVersion(nullptr), 0u);
}

// The content manager's fake handles under the real replacements: a handle closed on one thread
// while another reads it stays whole until the read is over, then goes as any close does.
class FakeHandleLifetime : public ::testing::Test {
 protected:
  void SetUp() override { StartContentLayer(); }
  void TearDown() override { StopContentLayer(); }

  // Blocks in Read until let go, noting whether it was freed meanwhile.
  class TBlockingStream : public TMemoryStream {
   public:
    static inline std::atomic<bool> freed{false}, freedDuringRead{false}, closedWhenFreed{false};
    static inline HANDLE inRead = nullptr, proceed = nullptr, fake = nullptr;
    ~TBlockingStream() override {
      DWORD flags;
      closedWhenFreed = !::GetHandleInformation(fake, &flags);
      freed = true;
    }
    std::size_t Read(void* buffer, std::size_t count) override {
      ::SetEvent(inRead);
      ::WaitForSingleObject(proceed, 20000);
      freedDuringRead = freed.load();
      return freed ? 0 : TMemoryStream::Read(buffer, count);
    }
  };
};

TEST_F(FakeHandleLifetime, ACloseDuringAReadFreesTheStreamWhenTheReadEnds) {
  TBlockingStream::inRead = ::CreateEventA(nullptr, TRUE, FALSE, nullptr);
  TBlockingStream::proceed = ::CreateEventA(nullptr, TRUE, FALSE, nullptr);
  auto content = std::make_unique<TBlockingStream>();
  content->WriteBuffer("served", 6);
  content->SetPosition(0);
  const HANDLE fake = ::CreateEventA(nullptr, FALSE, FALSE, nullptr);
  TBlockingStream::fake = fake;
  ContentManager->RegisterFakeHandle(fake, std::move(content), nullptr);

  char text[8] = {};
  DWORD n = 0;
  BOOL readResult = FALSE;
  std::thread reader([&] { readResult = REPLACED(ReadFile)(fake, text, 8, &n, nullptr); });
  ASSERT_EQ(::WaitForSingleObject(TBlockingStream::inRead, 20000), WAIT_OBJECT_0);
  EXPECT_EQ(REPLACED(CloseHandle)(fake), FakeTrue);
  EXPECT_FALSE(TBlockingStream::freed) << "freed under the read";
  EXPECT_EQ(ContentManager->FindFakeHandleStream(fake), nullptr) << "closed for everyone else";
  ::SetEvent(TBlockingStream::proceed);
  reader.join();
  EXPECT_FALSE(TBlockingStream::freedDuringRead);
  EXPECT_EQ(readResult, FakeTrue);
  EXPECT_EQ(std::string(text, n), "served");
  EXPECT_TRUE(TBlockingStream::freed) << "freed once the read was over";
  EXPECT_TRUE(TBlockingStream::closedWhenFreed) << "after its handle was closed";
  ::CloseHandle(TBlockingStream::inRead);
  ::CloseHandle(TBlockingStream::proceed);
}

TEST_F(FakeHandleLifetime, ReadsSizesAndSeeksRaceACloseOfTheSameHandle) {
  auto readFile = REPLACED(ReadFile);
  auto getFileSize = REPLACED(GetFileSize);
  auto setFilePointer = REPLACED(SetFilePointer);
  auto closeHandle = REPLACED(CloseHandle);
  for (int round = 0; round < 200; ++round) {
    auto content = std::make_unique<TMemoryStream>();
    content->SetSize(64 * 1024);
    const HANDLE fake = ::CreateEventA(nullptr, FALSE, FALSE, nullptr);
    ContentManager->RegisterFakeHandle(fake, std::move(content), nullptr);
    std::atomic<bool> started{false}, closed{false};
    std::thread user([&] {
      std::vector<char> buffer(4096);
      // Once closed, the handle is no fake one any more and its value may soon name another
      // object: the calls stop as soon as the close is over.
      for (int i = 0; i < 64 && !closed; ++i) {
        DWORD n = 0;
        started = true;
        readFile(fake, buffer.data(), static_cast<DWORD>(buffer.size()), &n, nullptr);
        getFileSize(fake, nullptr);
        setFilePointer(fake, i, nullptr, FILE_BEGIN);
      }
    });
    while (!started) std::this_thread::yield();
    EXPECT_EQ(closeHandle(fake), FakeTrue);
    closed = true;
    user.join();
  }
}

}  // namespace
}  // namespace pageturn::test
