#include "content/content_manager.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <atomic>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "content/maps.h"
#include "content/my_moniker.h"
#include "content/urlmon_bindings.h"
#include "content_test_support.h"
#include "core/error.h"
#include "core/text.h"

namespace pageturn {
namespace {

using testing::ElementsAre;
using testing::IsEmpty;
using testing_support::Bind;
using testing_support::ExpectNoLiveContentObjects;
using testing_support::Narrow;
using testing_support::RunWorkerWhilePumping;
using testing_support::TRecordingCallback;
using testing_support::TRecordingControl;

const std::wstring Marker = MemoryMarker;
const std::string MarkerA = Narrow(Marker);
const std::string Path1 = Narrow(FormatVirtualMoviePath(1));
const std::string Path2 = Narrow(FormatVirtualMoviePath(2));
const std::string Reset = Narrow(ResetURL);
const std::string Header = "OnResponse 200 HTTP/1.1 200 OK\r\nContent-Length: -1\r\n";

std::wstring ForwardSlashURL(int number, const std::wstring& name) {
  return L"file:///Z:/FromMemory/" + Marker + L"/" + std::to_wstring(number) + L"/" + name;
}

void WriteFile(const std::filesystem::path& path, const std::string& bytes) {
  std::filesystem::create_directories(path.parent_path());
  std::ofstream(path, std::ios::binary) << bytes;
}

struct ManagerFixture : testing::Test {
  void SetUp() override {
    ContentManager = new TContentManager;
    control = TRecordingControl::Create();
    directory = std::filesystem::temp_directory_path() /
                ("content-test-" + std::to_string(::GetCurrentProcessId()));
    std::filesystem::create_directories(directory);
  }
  void TearDown() override {
    delete ContentManager;
    ContentManager = nullptr;
    control.Reset();
    std::error_code ignored;
    std::filesystem::remove_all(directory, ignored);
    ExpectNoLiveContentObjects();
  }
  std::wstring BaseURL() const { return L"file:///" + directory.generic_wstring(); }

  ComPtr<TRecordingControl> control;
  std::filesystem::path directory;
};

TEST_F(ManagerFixture, MoviesGetNumberedPathsAfterTheResetURL) {
  auto other = TRecordingControl::Create();
  ContentManager->RegisterMovieStream(control.Get(), false, -1);
  ContentManager->RegisterMovieStream(other.Get(), true, 3);
  EXPECT_THAT(control->Calls(), ElementsAre("SetMovieURL " + Reset, "SetMovieURL " + Path1));
  EXPECT_THAT(other->Calls(), ElementsAre("LoadMovieURL 3 " + Reset, "LoadMovieURL 3 " + Path2));
  EXPECT_EQ(ContentManager->FindControl(1).Get(), control.Get());
  EXPECT_EQ(ContentManager->FindControl(2).Get(), other.Get());
}

TEST_F(ManagerFixture, AMovieFromAStreamIsClaimedOnceWhateverTheSeparators) {
  TMemoryStream source;
  source.WriteBuffer("FWS movie bytes", 15);  // left at its end: the whole stream still goes
  ContentManager->LoadMovieFromStream(control.Get(), false, source, -1);

  auto runtime = TRecordingCallback::Create(true);
  EXPECT_EQ(Bind(ForwardSlashURL(1, FixedMovieName), runtime.Get()), MK_S_ASYNCHRONOUS);
  EXPECT_THAT(runtime->Calls(), ElementsAre(Header, "OnStartBinding 0 none", "OnData 5 15",
                                            "OnStopBinding 0x00000000"));
  EXPECT_EQ(runtime->Data(), "FWS movie bytes");

  // The second identical bind finds nothing waiting and asks the control.
  auto again = TRecordingCallback::Create(true);
  control->onLoad = [](const std::wstring&, TStream* stream) { stream->WriteBuffer("ev", 2); };
  EXPECT_EQ(Bind(ForwardSlashURL(1, FixedMovieName), again.Get()), MK_S_ASYNCHRONOUS);
  const std::string name = Narrow(FixedMovieName);
  EXPECT_THAT(control->Calls(), ElementsAre("SetMovieURL " + Reset, "SetMovieURL " + Path1,
                                            "LoadEx " + name, "Load " + name));
  EXPECT_EQ(again->Data(), "ev");
}

TEST_F(ManagerFixture, AMovieBoundWhileItIsBeingSetArrivesWriteByWrite) {
  // The runtime may bind the path inside SetMovieURL, before any byte is written.
  auto runtime = TRecordingCallback::Create(false);
  control->onSetMovieURL = [&](const std::wstring& url) {
    if (url != ResetURL) {
      EXPECT_EQ(Bind(url, runtime.Get()), MK_S_ASYNCHRONOUS);
    }
  };
  std::unique_ptr<TStream> movie = ContentManager->RegisterMovieStream(control.Get(), false, -1);
  EXPECT_THAT(runtime->Calls(), IsEmpty());
  movie->WriteBuffer("abc", 3);
  movie->WriteBuffer("de", 2);
  EXPECT_EQ(runtime->StopCount(), 0);
  movie.reset();
  EXPECT_THAT(runtime->Calls(), ElementsAre("OnStartBinding 0 none", "OnData 5 3", "OnData 5 2",
                                            "OnStopBinding 0x00000000"));
}

TEST_F(ManagerFixture, RelativeNamesKeepTheirCase) {
  ContentManager->RegisterMovieStream(control.Get(), false, -1);
  std::wstring lower = FixedMovieName;
  for (auto& c : lower) c = static_cast<wchar_t>(towlower(c));
  auto runtime = TRecordingCallback::Create(false);
  EXPECT_EQ(Bind(ForwardSlashURL(1, lower), runtime.Get()), MK_E_NOSTORAGE);
  EXPECT_EQ(control->Calls().at(2), "LoadEx " + Narrow(lower));
  EXPECT_NE(ContentManager->TakeProvider(FormatVirtualMoviePath(1)), nullptr);  // still waiting
}

TEST_F(ManagerFixture, AnExHandlerThatTakesTheStreamEndsTheResponseWhenItFreesIt) {
  ContentManager->RegisterControl(7, control.Get());
  std::unique_ptr<TStream> kept;
  control->onLoadEx = [&](const std::wstring& url, TStream* stream, bool& handled) {
    stream->WriteBuffer("now", 3);
    kept.reset(stream);
    handled = true;
  };
  auto runtime = TRecordingCallback::Create(true);
  EXPECT_EQ(Bind(L"http://x/" + Marker + L"/7//x.swf", runtime.Get()), MK_S_ASYNCHRONOUS);
  EXPECT_THAT(control->Calls(), ElementsAre("LoadEx x.swf"));  // one leading slash dropped
  EXPECT_EQ(runtime->StopCount(), 0);  // still open
  RunWorkerWhilePumping([&] {
    kept->WriteBuffer(" later", 6);
    kept.reset();
  });
  EXPECT_THAT(runtime->Calls(), ElementsAre(Header, "OnStartBinding 0 none", "OnData 5 3",
                                            "OnData 5 6", "OnStopBinding 0x00000000"));
}

TEST_F(ManagerFixture, BytesOfAnUnhandledExEventAndOfThePlainEventAreBothServed) {
  ContentManager->RegisterControl(4, control.Get());
  control->onLoadEx = [](const std::wstring&, TStream* stream, bool&) {
    stream->WriteBuffer("ex;", 3);
  };
  control->onLoad = [](const std::wstring&, TStream* stream) { stream->WriteBuffer("plain", 5); };
  auto runtime = TRecordingCallback::Create(false);
  EXPECT_EQ(Bind(ForwardSlashURL(4, L"files/large/10.swf"), runtime.Get()), MK_S_ASYNCHRONOUS);
  EXPECT_THAT(control->Calls(),
              ElementsAre("LoadEx files/large/10.swf", "Load files/large/10.swf"));
  EXPECT_THAT(runtime->Calls(), ElementsAre("OnStartBinding 0 none", "OnData 5 3", "OnData 5 5",
                                            "OnStopBinding 0x00000000"));
}

// The Ex handler wrote but did not say handled, the plain one wrote nothing: what was written is
// the content.
TEST_F(ManagerFixture, BytesOfAnUnhandledExEventAloneAreServed) {
  ContentManager->RegisterControl(1, control.Get());
  control->onLoadEx = [](const std::wstring&, TStream* stream, bool&) { stream->WriteBuffer("ex", 2); };
  control->onLoad = [](const std::wstring&, TStream*) {};
  auto runtime = TRecordingCallback::Create(false);
  EXPECT_EQ(Bind(ForwardSlashURL(1, L"a.swf"), runtime.Get()), MK_S_ASYNCHRONOUS);
  EXPECT_EQ(runtime->Data(), "ex");
  EXPECT_EQ(runtime->StopCount(), 1);
  EXPECT_THAT(control->Calls(), ElementsAre("LoadEx a.swf", "Load a.swf"));
}

// A real moniker that goes asynchronous (MK_S_ASYNCHRONOUS) serves a virtual name's fallback,
// but an URL without a virtual name counts as served only when its real bind says S_OK. An HTTP
// bind to a closed local port goes asynchronous, then stops with an error.
TEST_F(ManagerFixture, OnlyTheVirtualFallbackTakesAnAsynchronousRealBind) {
  const std::wstring base = L"http://127.0.0.1:1";
  control->base = base;
  ContentManager->RegisterControl(1, control.Get());
  const struct {
    const char* what;
    std::wstring url;
    HRESULT expected;
  } cases[] = {
      {"virtual name", ForwardSlashURL(1, L"a.txt"), MK_S_ASYNCHRONOUS},
      {"no virtual name", base + L"/a.txt", MK_E_NOSTORAGE},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    auto runtime = TRecordingCallback::Create(false);
    runtime->asynchronous = true;
    EXPECT_EQ(Bind(c.url, runtime.Get()), c.expected);
    // The real bind goes on either way; it ends before the next case.
    EXPECT_TRUE(testing_support::PumpUntil([&] { return runtime->StopCount() == 1; }, 20000));
    EXPECT_EQ(runtime->Data(), "");
  }
}

TEST_F(ManagerFixture, AnEmptyPlainEventFallsBackToTheBaseAsARealURL) {
  WriteFile(directory / "files" / "page.txt", "from disk");
  ContentManager->RegisterControl(2, control.Get());
  control->base = BaseURL();
  control->onLoad = [](const std::wstring&, TStream*) {};  // writes nothing
  auto runtime = TRecordingCallback::Create(false);
  EXPECT_EQ(Bind(ForwardSlashURL(2, L"files/page.txt"), runtime.Get()), MK_S_ASYNCHRONOUS);
  EXPECT_EQ(runtime->Data(), "from disk");

  auto missing = TRecordingCallback::Create(false);
  EXPECT_EQ(Bind(ForwardSlashURL(2, L"files/none.txt"), missing.Get()), MK_E_NOSTORAGE);

  // No Base: the current directory, a slash and the relative name.
  control->base.clear();
  const std::wstring previous = CurrentDirectoryW();
  ASSERT_TRUE(::SetCurrentDirectoryW(directory.wstring().c_str()));
  auto fromCurrent = TRecordingCallback::Create(false);
  const HRESULT hr = Bind(ForwardSlashURL(2, L"files/page.txt"), fromCurrent.Get());
  ::SetCurrentDirectoryW(previous.c_str());
  EXPECT_EQ(hr, MK_S_ASYNCHRONOUS);
  EXPECT_EQ(fromCurrent->Data(), "from disk");
}

TEST_F(ManagerFixture, WithoutABaseTheCurrentDirectoryIsUsed) {
  ComPtr<TRecordingControl> noBase = TRecordingControl::Create();
  EXPECT_EQ(ContentManager->ControlBaseDirectory(noBase.Get()), CurrentDirectoryW());
  EXPECT_FALSE(CurrentDirectoryW().empty());
  noBase->base = L"http://example/book";
  EXPECT_EQ(ContentManager->ControlBaseDirectory(noBase.Get()), L"http://example/book");
}

TEST_F(ManagerFixture, URLsWithoutAVirtualNameGoToTheGlobalHandlerThenToARealMoniker) {
  std::vector<std::wstring> asked;
  ContentManager->SetGlobalContentHandler(
      [&](const std::wstring& url, TStream* stream, bool& handled) {
        asked.push_back(url);
        if (url.find(L"book.xml") != std::wstring::npos) {
          stream->WriteBuffer("<book/>", 7);
          delete stream;  // the handler's once it says handled
          handled = true;
        }
      });
  auto reset = TRecordingCallback::Create(false);
  EXPECT_EQ(Bind(ResetURL, reset.Get()), MK_E_NOSTORAGE);  // no such file either
  auto noSlash = TRecordingCallback::Create(false);
  EXPECT_EQ(Bind(L"file:///Z:/" + Marker + L"/12", noSlash.Get()), MK_E_NOSTORAGE);
  auto served = TRecordingCallback::Create(false);
  EXPECT_EQ(Bind(L"http://nowhere.invalid/book.xml", served.Get()), MK_S_ASYNCHRONOUS);
  EXPECT_THAT(asked, ElementsAre(std::wstring(ResetURL), L"file:///Z:/" + Marker + L"/12",
                                 L"http://nowhere.invalid/book.xml"));
  EXPECT_EQ(served->Data(), "<book/>");
  EXPECT_EQ(served->StopCount(), 1);

  // Not handled: the real moniker serves the file itself.
  WriteFile(directory / "real.txt", "real bytes");
  auto real = TRecordingCallback::Create(false);
  EXPECT_EQ(Bind(BaseURL() + L"/real.txt", real.Get()), MK_S_ASYNCHRONOUS);
  EXPECT_EQ(real->Data(), "real bytes");
}

// The layer's own URL monikers and callback registrations go through the functions that the
// control unit binds by name: recorded here on their way to the system's, and refused unbound.
std::vector<std::string> urlmonCalls;
TCreateURLMonikerProc systemCreate;
TRegisterBindStatusCallbackProc systemRegister;
HRESULT WINAPI RecordedCreateURLMoniker(IMoniker* context, LPCWSTR url, IMoniker** result) {
  urlmonCalls.push_back("CreateURLMoniker " + Narrow(url) + (context ? " with context" : ""));
  return systemCreate(context, url, result);
}
HRESULT WINAPI RecordedRegisterBindStatusCallback(IBindCtx* context, IBindStatusCallback* callback,
                                                  IBindStatusCallback** previous, DWORD reserved) {
  urlmonCalls.push_back("RegisterBindStatusCallback");
  return systemRegister(context, callback, previous, reserved);
}

TEST_F(ManagerFixture, URLMonikersAndCallbacksGoThroughTheBoundUrlmonFunctions) {
  WriteFile(directory / "real.txt", "real bytes");
  const std::wstring url = BaseURL() + L"/real.txt";
  systemCreate = std::exchange(SystemCreateURLMoniker, &RecordedCreateURLMoniker);
  systemRegister = std::exchange(SystemRegisterBindStatusCallback, &RecordedRegisterBindStatusCallback);
  urlmonCalls.clear();
  auto real = TRecordingCallback::Create(false);
  EXPECT_EQ(Bind(url, real.Get()), MK_S_ASYNCHRONOUS);
  EXPECT_EQ(real->Data(), "real bytes");
  const std::string create = "CreateURLMoniker " + Narrow(url);
  EXPECT_THAT(urlmonCalls, ElementsAre(create,                          // the moniker's own
                                       "RegisterBindStatusCallback",    // its callback, at the bind
                                       create));                        // the fallback moniker

  // A moniker made with a context keeps it for itself; the fallback is made without one.
  ComPtr<IMoniker> context;
  ASSERT_EQ(systemCreate(nullptr, BaseURL().c_str(), &context), S_OK);
  urlmonCalls.clear();
  ComPtr<IMoniker> moniker;
  ASSERT_EQ(CreateContentMoniker(context.Get(), L"real.txt", &moniker), S_OK);
  ComPtr<IBindCtx> bindContext;
  ASSERT_EQ(::CreateBindCtx(0, &bindContext), S_OK);
  auto relative = TRecordingCallback::Create(false);
  ComPtr<IBindStatusCallback> previous;
  ASSERT_EQ(::RegisterBindStatusCallback(bindContext.Get(), relative.Get(), &previous, 0), S_OK);
  ComPtr<IStream> stream;
  moniker->BindToStorage(bindContext.Get(), nullptr, IID_IStream,
                         reinterpret_cast<void**>(stream.GetAddressOf()));
  ASSERT_FALSE(urlmonCalls.empty());
  EXPECT_EQ(urlmonCalls.front(), "CreateURLMoniker real.txt with context");
  for (std::size_t i = 1; i < urlmonCalls.size(); ++i)
    EXPECT_EQ(urlmonCalls[i].find("with context"), std::string::npos) << urlmonCalls[i];

  SystemCreateURLMoniker = nullptr;
  SystemRegisterBindStatusCallback = nullptr;
  auto unbound = TRecordingCallback::Create(false);
  EXPECT_EQ(Bind(url, unbound.Get()), MK_E_NOSTORAGE) << "no real moniker without the binding";
  EXPECT_EQ(unbound->Data(), "");
  SystemCreateURLMoniker = systemCreate;
  SystemRegisterBindStatusCallback = systemRegister;
}

TEST_F(ManagerFixture, AVirtualNameOfAnUnknownControlFails) {
  auto runtime = TRecordingCallback::Create(false);
  EXPECT_EQ(Bind(ForwardSlashURL(99, L"a.swf"), runtime.Get()), E_FAIL);
  ContentManager->RegisterMovieStream(control.Get(), false, -1);
  ContentManager->RegisterControl(5, control.Get());
  ContentManager->UnregisterControl(control.Get());
  EXPECT_EQ(ContentManager->FindControl(1), nullptr);
  EXPECT_EQ(ContentManager->FindControl(5), nullptr);
  EXPECT_EQ(Bind(ForwardSlashURL(5, L"a.swf"), runtime.Get()), E_FAIL);
  EXPECT_THAT(runtime->Calls(), IsEmpty());
}

// A handler that fails ends the bind once, with an error: as the bind's result when the runtime
// has heard nothing yet, else through its callback, never as a short success.
TEST_F(ManagerFixture, FailingHandlersEndTheBindWithAnError) {
  const std::string failed = "OnStopBinding 0x800c0008";  // INET_E_DOWNLOAD_FAILURE
  ContentManager->RegisterControl(1, control.Get());
  control->onLoadEx = [](const std::wstring&, TStream*, bool&) { throw Error("handler failed"); };
  auto runtime = TRecordingCallback::Create(false);
  EXPECT_EQ(Bind(ForwardSlashURL(1, L"a.swf"), runtime.Get()), MK_E_NOSTORAGE);
  EXPECT_THAT(runtime->Calls(), IsEmpty());

  // A write the runtime refuses fails the plain event's copy after the start was announced.
  control->onLoadEx = nullptr;
  control->onLoad = [](const std::wstring&, TStream* stream) { stream->WriteBuffer("x", 1); };
  auto refusing = TRecordingCallback::Create(false);
  refusing->dataResult = E_ABORT;
  EXPECT_EQ(Bind(ForwardSlashURL(1, L"a.swf"), refusing.Get()), MK_S_ASYNCHRONOUS);
  EXPECT_THAT(refusing->Calls(), ElementsAre("OnStartBinding 0 none", "OnData 5 1", failed));

  auto global = TRecordingCallback::Create(false);
  ContentManager->SetGlobalContentHandler(
      [](const std::wstring&, TStream*, bool&) { throw std::runtime_error("global failed"); });
  EXPECT_EQ(Bind(L"http://nowhere.invalid/x", global.Get()), MK_E_NOSTORAGE);
  EXPECT_THAT(global->Calls(), IsEmpty());

  // A handler that took the stream, wrote a part and could not read the rest: the part is not
  // passed off as the whole, whether it freed the stream before raising or keeps it.
  for (const bool freesIt : {true, false}) {
    SCOPED_TRACE(freesIt ? "stream freed" : "stream kept");
    std::unique_ptr<TStream> kept;
    ContentManager->SetGlobalContentHandler(
        [&](const std::wstring&, TStream* stream, bool& handled) {
          std::unique_ptr<TStream> taken(stream);
          handled = true;
          taken->WriteBuffer("part", 4);
          if (!freesIt) kept = std::move(taken);
          throw Error("read failed");
        });
    auto partial = TRecordingCallback::Create(false);
    EXPECT_EQ(Bind(L"http://nowhere.invalid/part", partial.Get()), MK_S_ASYNCHRONOUS);
    kept.reset();
    EXPECT_THAT(partial->Calls(), ElementsAre("OnStartBinding 0 none", "OnData 5 4", failed));
  }
}

// A handler that answers with no bytes has answered: the bind completes with empty content and
// looks nowhere else, on both roads. (A handler that does not write at all has not answered.)
TEST_F(ManagerFixture, AnEmptyAnswerCompletesTheBindWithNoBytes) {
  WriteFile(directory / "files" / "empty.bin", "from disk");
  ContentManager->RegisterControl(2, control.Get());
  control->base = BaseURL();
  control->onLoad = [](const std::wstring&, TStream* stream) { stream->Write("", 0); };
  ContentManager->SetGlobalContentHandler([](const std::wstring&, TStream* stream, bool& handled) {
    handled = true;
    stream->Write("", 0);
    delete stream;
  });
  for (const std::wstring& url :
       {ForwardSlashURL(2, L"files/empty.bin"), BaseURL() + L"/files/empty.bin"}) {
    SCOPED_TRACE(Narrow(url));
    auto runtime = TRecordingCallback::Create(false);
    EXPECT_EQ(Bind(url, runtime.Get()), MK_S_ASYNCHRONOUS);
    EXPECT_THAT(runtime->Calls(),
                ElementsAre("OnStartBinding 0 none", "OnData 5 0", "OnStopBinding 0x00000000"));
    EXPECT_EQ(runtime->Data(), "");
  }
}

// ---- files ----

HANDLE Open(const std::wstring& name) {
  return ContentManager->OpenFileW(name.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                   OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
}

TEST_F(ManagerFixture, AVirtualFileOpensAsAFakeHandleOverTheControlsStream) {
  ContentManager->RegisterControl(3, control.Get());
  TStream* given = nullptr;
  control->onLoadAsync = [&](const std::wstring& path, TStream*& stream) {
    auto memory = std::make_unique<TMemoryStream>();
    memory->WriteBuffer("file bytes", 10);  // positioned at its end
    given = memory.get();
    stream = memory.release();
  };
  TStream* unloaded = nullptr;
  control->onUnloadAsync = [&](TStream* stream) {
    unloaded = stream;
    EXPECT_EQ(ContentManager->FindFakeHandleStream(nullptr), nullptr);
  };
  const HANDLE handle = Open(L"Z:\\FromMemory\\" + Marker + L"\\3\\/files/book.bin");
  ASSERT_NE(handle, INVALID_HANDLE_VALUE);
  EXPECT_THAT(control->Calls(), ElementsAre("LoadAsync /files/book.bin"));  // name as parsed
  TStream* stream = ContentManager->FindFakeHandleStream(handle).get();
  ASSERT_EQ(stream, given);
  char buffer[16];
  EXPECT_EQ(stream->Read(buffer, sizeof buffer), 10u);  // from the first byte
  EXPECT_EQ(std::string(buffer, 10), "file bytes");
  EXPECT_EQ(stream->Read(buffer, sizeof buffer), 0u);  // at the end

  EXPECT_TRUE(ContentManager->ReleaseFakeHandle(handle));
  EXPECT_EQ(unloaded, given);
  EXPECT_EQ(ContentManager->FindFakeHandleStream(handle), nullptr);
  EXPECT_FALSE(ContentManager->ReleaseFakeHandle(handle));  // a second close is not ours
  DWORD flags;
  EXPECT_FALSE(::GetHandleInformation(handle, &flags));  // the event was closed
}

// A fake handle's stream that notes, when it is freed, whether its handle was closed by then.
// (Looked at later, a closed handle's value may already name a new object.)
struct TWatchedStream : TMemoryStream {
  TWatchedStream(HANDLE h, std::vector<std::string>& l) : handle(h), log(l) {}
  ~TWatchedStream() override {
    DWORD flags;
    log.push_back(::GetHandleInformation(handle, &flags) ? "freed, handle open" : "freed, handle closed");
  }
  HANDLE handle;
  std::vector<std::string>& log;
};

// Closing a fake handle: the unload event first, under the manager's lock (another thread cannot
// look up handles meanwhile), with the handle still open and the stream still there; then the
// handle is closed, then the stream freed.
TEST_F(ManagerFixture, AFakeHandleClosesInTheOrderUnloadCloseFree) {
  std::vector<std::string> seen;
  const HANDLE handle = ::CreateEventA(nullptr, FALSE, FALSE, nullptr);
  ContentManager->RegisterFakeHandle(handle, std::make_unique<TWatchedStream>(handle, seen),
                                     control.Get());
  std::thread other;
  std::atomic<bool> looked{false};
  control->onUnloadAsync = [&](TStream*) {
    DWORD flags;
    seen.push_back(::GetHandleInformation(handle, &flags) ? "unload, handle open" : "unload, handle closed");
    other = std::thread([&] {
      ContentManager->FindFakeHandleStream(handle);
      looked = true;
    });
    ::Sleep(200);
    seen.push_back(looked ? "lock free" : "lock held");
  };
  EXPECT_TRUE(ContentManager->ReleaseFakeHandle(handle));
  other.join();
  EXPECT_TRUE(looked);
  EXPECT_THAT(seen, ElementsAre("unload, handle open", "lock held", "freed, handle closed"));
}

// The manager going away closes the fake handles still open, each with its unload event.
TEST_F(ManagerFixture, DestroyingTheManagerUnloadsTheHandlesStillOpen) {
  std::vector<std::string> seen;
  control->onUnloadAsync = [&](TStream* stream) {
    seen.push_back(std::string("unload ") + (static_cast<TMemoryStream*>(stream)->Size() == 1 ? "first" : "second"));
  };
  for (const int size : {1, 2}) {
    const HANDLE handle = ::CreateEventA(nullptr, FALSE, FALSE, nullptr);
    auto stream = std::make_unique<TWatchedStream>(handle, seen);
    stream->SetSize(size);
    ContentManager->RegisterFakeHandle(handle, std::move(stream), control.Get());
  }
  delete std::exchange(ContentManager, nullptr);
  EXPECT_THAT(seen, ElementsAre("unload first", "freed, handle closed", "unload second",
                                "freed, handle closed"));
}

TEST_F(ManagerFixture, TheNarrowOpenIsTheWideOne) {
  ContentManager->RegisterControl(3, control.Get());
  control->onLoadAsync = [&](const std::wstring&, TStream*& stream) {
    stream = new TStringStream("narrow");
  };
  const std::string name = "Z:\\FromMemory\\" + MarkerA + "\\3\\a.bin";
  const HANDLE handle = ContentManager->OpenFileA(name.c_str(), GENERIC_READ, 0, nullptr,
                                                  OPEN_EXISTING, 0, nullptr);
  ASSERT_NE(handle, INVALID_HANDLE_VALUE);
  EXPECT_EQ(ContentManager->FindFakeHandleStream(handle)->Size(), 6);
  EXPECT_THAT(control->Calls(), ElementsAre("LoadAsync a.bin"));
  // Left open: the manager closes it when it goes, with the unload event.
}

TEST_F(ManagerFixture, AVirtualFileNobodySuppliesOpensUnderTheBaseDirectory) {
  WriteFile(directory / "files" / "thumb" / "1.jpg", "jpeg");
  ContentManager->RegisterControl(3, control.Get());
  control->base = directory.wstring();
  const HANDLE handle = Open(L"file:///Z:/FromMemory/" + Marker + L"/3/files/thumb/1.jpg");
  ASSERT_NE(handle, INVALID_HANDLE_VALUE);
  EXPECT_EQ(ContentManager->FindFakeHandleStream(handle), nullptr);  // a real file
  char buffer[8];
  DWORD read = 0;
  EXPECT_TRUE(::ReadFile(handle, buffer, sizeof buffer, &read, nullptr));
  EXPECT_EQ(std::string(buffer, read), "jpeg");
  EXPECT_FALSE(ContentManager->ReleaseFakeHandle(handle));
  ::CloseHandle(handle);

  // An unknown control: the virtual name itself is opened, and does not exist.
  EXPECT_EQ(Open(L"Z:\\FromMemory\\" + Marker + L"\\8\\files\\thumb\\1.jpg"),
            INVALID_HANDLE_VALUE);
  // An ordinary name is just opened.
  const HANDLE plain = Open((directory / "files" / "thumb" / "1.jpg").wstring());
  EXPECT_NE(plain, INVALID_HANDLE_VALUE);
  ::CloseHandle(plain);
  EXPECT_THAT(control->Calls(), ElementsAre("LoadAsync files/thumb/1.jpg"));
}

TEST_F(ManagerFixture, FailingOpenHandlersAreContained) {
  ContentManager->RegisterControl(3, control.Get());
  control->onLoadAsync = [&](const std::wstring&, TStream*& stream) {
    stream = new TMemoryStream;
    throw Error("async failed");
  };
  EXPECT_EQ(Open(L"Z:\\FromMemory\\" + Marker + L"\\3\\a.bin"), INVALID_HANDLE_VALUE);
  EXPECT_EQ(ContentManager->OpenFileW(nullptr, 0, 0, nullptr, OPEN_EXISTING, 0, nullptr),
            INVALID_HANDLE_VALUE);
  EXPECT_EQ(ContentManager->OpenFileA(nullptr, 0, 0, nullptr, OPEN_EXISTING, 0, nullptr),
            INVALID_HANDLE_VALUE);

  // An unload handler that fails still lets the handle close.
  control->onLoadAsync = [&](const std::wstring&, TStream*& stream) { stream = new TMemoryStream; };
  control->onUnloadAsync = [](TStream*) { throw Error("unload failed"); };
  const HANDLE handle = Open(L"Z:\\FromMemory\\" + Marker + L"\\3\\a.bin");
  ASSERT_NE(handle, INVALID_HANDLE_VALUE);
  EXPECT_TRUE(ContentManager->ReleaseFakeHandle(handle));
  EXPECT_EQ(ContentManager->FindFakeHandleStream(handle), nullptr);
}

// ---- the interception layer's maps ----

TEST(Maps, ClassNamesIgnoreCaseAndSampleWidthsKeepTheFirst) {
  TMapString2String names;
  std::wstring value;
  EXPECT_FALSE(names.Get(L"FlashWindow", value));
  names.Set(L"FlashWindow", L"first");
  names.Set(L"FLASHWINDOW", L"second");  // the same key
  ASSERT_TRUE(names.Get(L"flashwindow", value));
  EXPECT_EQ(value, L"second");

  TMapCardinal2Cardinal widths;
  DWORD width = 0;
  EXPECT_FALSE(widths.Find(7, width));
  widths.Add(7, 2);
  widths.Add(7, 1);
  ASSERT_TRUE(widths.Find(7, width));
  EXPECT_EQ(width, 2u);
}

}  // namespace
}  // namespace pageturn
