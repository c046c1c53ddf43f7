// The stand-in runtime mapped by our loader with the whole interception, inside a process that
// ran the control unit's start-up: its URL binds, file reads, window classes and cursors go
// through the replaced imports to the content manager and a recording control, as the player's
// would. The stand-in is driven through its test surface; this thread is the GUI thread and
// pumps while the stand-in waits for its worker.
#include <windows.h>
#include <objbase.h>
#include <ole2.h>

#include <gtest/gtest.h>

#include <map>
#include <memory>
#include <stdexcept>
#include <string>

#include "../content/content_test_support.h"
#include "content/content_manager.h"
#include "core/com.h"
#include "core/stream.h"
#include "core/text.h"
#include "runtime/code_provider.h"
#include "runtime/flash_control_unit.h"
#include "tests/runtime/standin_runtime.h"
#include "runtime/interception.h"
#include "standin/standin_test_surface.h"

namespace pageturn::test {
namespace {

using testing_support::Narrow;
using testing_support::TRecordingControl;

const std::wstring Marker = MemoryMarker;
constexpr HRESULT MkSAsynchronous = 0x000401E8;
constexpr HRESULT MkENoStorage = static_cast<HRESULT>(0x800401ED);

// "key=value" lines of a stand-in report.
std::map<std::string, std::string> ParseReport(BSTR report) {
  std::map<std::string, std::string> fields;
  const std::string text = report ? Narrow(std::wstring(report, ::SysStringLen(report))) : "";
  std::size_t at = 0;
  while (at < text.size()) {
    std::size_t end = text.find('\n', at);
    if (end == std::string::npos) end = text.size();
    const std::string line = text.substr(at, end - at);
    const std::size_t eq = line.find('=');
    if (eq != std::string::npos) fields[line.substr(0, eq)] = line.substr(eq + 1);
    at = end + 1;
  }
  return fields;
}

std::string Bytes(BSTR bytes) {
  return bytes ? std::string(reinterpret_cast<const char*>(bytes), ::SysStringByteLen(bytes)) : "";
}

std::string Hex(HRESULT hr) {
  char text[16];
  std::snprintf(text, sizeof text, "0x%08lx", static_cast<unsigned long>(hr));
  return text;
}

class TScopedBSTR {
 public:
  ~TScopedBSTR() { ::SysFreeString(text_); }
  BSTR* Out() { return &text_; }
  BSTR Get() const { return text_; }

 private:
  BSTR text_ = nullptr;
};

class StandinIntegration : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    // A source that sends nothing is given up after this long (30 s as books carry it).
    ::SetEnvironmentVariableA("STANDIN_TEST_FETCH_STALL_MS", "1500");
    StartControlUnitWithStandInRuntime();
    ASSERT_NE(CodeProvider, nullptr);
    ASSERT_NE(CodeProvider->Loader, nullptr);
    const auto getSurface = reinterpret_cast<StandInGetTestSurfaceProc>(
        CodeProvider->Loader->GetExportAddress("StandInGetTestSurface"));
    ASSERT_NE(getSurface, nullptr);
    ASSERT_EQ(getSurface(IID_IStandInTestSurface, reinterpret_cast<void**>(&surface_)), S_OK);
  }
  static void TearDownTestSuite() {
    if (surface_) surface_->Release();
    surface_ = nullptr;
    FlashControlUnitShutdown();
  }

  void SetUp() override {
    ASSERT_NE(surface_, nullptr);
    control_ = TRecordingControl::Create();
    number_ = nextNumber_++;
    ContentManager->RegisterControl(number_, control_.Get());
  }
  void TearDown() override {
    ContentManager->UnregisterControl(control_.Get());
    ContentManager->SetGlobalContentHandler(nullptr);
  }

  // A name under this test's control number, as the runtime resolves a movie's request.
  std::wstring VirtualURL(const std::wstring& relative) const {
    return L"file:///Z:/FromMemory/" + Marker + L"/" + std::to_wstring(number_) + L"/" + relative;
  }
  std::wstring VirtualPath(const std::wstring& relative) const {
    return L"Z:\\FromMemory\\" + Marker + L"\\" + std::to_wstring(number_) + L"\\" + relative;
  }

  std::map<std::string, std::string> Bind(LONG thread, const std::wstring& url, std::string& bytes) {
    TScopedBSTR data, report;
    EXPECT_EQ(surface_->BindUrl(thread, url.c_str(), 10000, data.Out(), report.Out()), S_OK);
    bytes = Bytes(data.Get());
    return ParseReport(report.Get());
  }

  static IStandInTestSurface* surface_;
  static int nextNumber_;
  ComPtr<TRecordingControl> control_;
  int number_ = 0;
};

IStandInTestSurface* StandinIntegration::surface_ = nullptr;
int StandinIntegration::nextNumber_ = 9001;

const char* const FullSequence =
    "QueryInterface(IHttpNegotiate),OnResponse(200),OnStartBinding,OnDataAvailable(5:";

// A worker bind of a virtual name: the events run on the worker, their writes on this thread,
// and the stand-in's callback sees the whole protocol.
TEST_F(StandinIntegration, WorkerBindOfAVirtualNameIsAnsweredByTheControlsEvents) {
  struct TCase {
    const char* what;
    bool handleInEx;  // else the plain event answers
  } cases[] = {{"Ex event keeps the stream", true}, {"plain event fills memory", false}};
  const DWORD gui = ::GetCurrentThreadId();
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.what);
    const std::string content = std::string("FWS") + std::string(61, 'x') + c.what;
    DWORD eventThread = 0;
    if (c.handleInEx) {
      control_->onLoadEx = [&](const std::wstring&, TStream* stream, bool& handled) {
        eventThread = ::GetCurrentThreadId();
        stream->WriteBuffer(content.data(), content.size());
        handled = true;
        delete stream;  // the handler's now: freeing it ends the data
      };
      control_->onLoad = nullptr;
    } else {
      control_->onLoadEx = [](const std::wstring&, TStream*, bool&) {};
      control_->onLoad = [&](const std::wstring&, TStream* stream) {
        eventThread = ::GetCurrentThreadId();
        stream->WriteBuffer(content.data(), content.size());
      };
    }
    std::string bytes;
    auto report = Bind(STANDIN_ON_WORKER, VirtualURL(L"files/large/10.swf"), bytes);
    EXPECT_EQ(report["thread"], "worker");
    EXPECT_EQ(report["hr"], Hex(MkSAsynchronous));
    EXPECT_EQ(report["stopped"], "1");
    EXPECT_EQ(report["stop_hr"], "0x00000000");
    EXPECT_EQ(report["response_code"], "200");
    EXPECT_EQ(report["header"], "HTTP/1.1 200 OK\\r\\nContent-Length: -1\\r\\n");
    EXPECT_EQ(report["sequence"], std::string(FullSequence) + std::to_string(content.size()) +
                                      "),OnStopBinding(0x00000000)");
    EXPECT_EQ(bytes, content);
    EXPECT_NE(eventThread, 0u);
    EXPECT_NE(eventThread, gui) << "the events run on the thread of the bind";
  }
  const auto calls = control_->Calls();
  ASSERT_EQ(calls.size(), 3u);
  EXPECT_EQ(calls[0], "LoadEx files/large/10.swf");
  EXPECT_EQ(calls[1], "LoadEx files/large/10.swf");
  EXPECT_EQ(calls[2], "Load files/large/10.swf") << "plain event only after an unhandled Ex";
}

const char First[] = "FWS-first-part";
const char Second[] = "second";

DWORD WINAPI WriteLaterAndFree(void* parameter) {
  std::unique_ptr<TStream> kept(static_cast<TStream*>(parameter));
  try {
    kept->WriteBuffer(First, sizeof First - 1);
    kept->WriteBuffer(Second, sizeof Second - 1);
  } catch (...) {
    return 1;
  }
  return 0;  // freeing `kept` here, off the GUI thread, ends the delivery
}

// A bind on the GUI thread whose handler keeps the stream and writes it later from a thread of
// its own: each write is one notification, and freeing the stream ends the data, while the
// stand-in waits pumping.
TEST_F(StandinIntegration, GuiThreadBindIsFinishedByAWriterOnAnotherThread) {
  HANDLE writer = nullptr;
  control_->onLoadEx = [&](const std::wstring&, TStream* stream, bool& handled) {
    handled = true;
    writer = ::CreateThread(nullptr, 0, &WriteLaterAndFree, stream, 0, nullptr);
  };
  std::string bytes;
  auto report = Bind(STANDIN_ON_CALLER, VirtualURL(L"files/later.swf"), bytes);
  ASSERT_NE(writer, nullptr);
  EXPECT_EQ(::WaitForSingleObject(writer, 10000), WAIT_OBJECT_0);
  DWORD exitCode = 1;
  ::GetExitCodeThread(writer, &exitCode);
  ::CloseHandle(writer);
  EXPECT_EQ(exitCode, 0u);
  EXPECT_EQ(report["thread"], "caller");
  EXPECT_EQ(report["hr"], Hex(MkSAsynchronous));
  EXPECT_EQ(report["sequence"], std::string(FullSequence) + std::to_string(sizeof First - 1) +
                                    "),OnDataAvailable(5:" + std::to_string(sizeof Second - 1) +
                                    "),OnStopBinding(0x00000000)");
  EXPECT_EQ(bytes, std::string(First) + Second);
}

// The movie a control loads from a stream is claimed by the runtime's bind of its virtual path,
// and delivered in one notification; a URL without the marker goes to the global handler.
TEST_F(StandinIntegration, MovieFromStreamAndGlobalHandlerReachTheStandinsCallback) {
  std::wstring moviePath;
  control_->onSetMovieURL = [&](const std::wstring& url) { moviePath = url; };
  const std::string movie = "FWS" + std::string(100, 'm');
  TMemoryStream source;
  source.WriteBuffer(movie.data(), movie.size());
  ContentManager->LoadMovieFromStream(control_.Get(), false, source, -1);
  ASSERT_NE(moviePath.find(Marker), std::wstring::npos);

  std::string bytes;
  auto report = Bind(STANDIN_ON_WORKER, moviePath, bytes);
  EXPECT_EQ(report["hr"], Hex(MkSAsynchronous));
  EXPECT_EQ(report["sequence"], std::string(FullSequence) + std::to_string(movie.size()) +
                                    "),OnStopBinding(0x00000000)");
  EXPECT_EQ(bytes, movie);

  std::wstring askedURL;
  ContentManager->SetGlobalContentHandler(
      [&](const std::wstring& url, TStream* stream, bool& handled) {
        askedURL = url;
        stream->WriteBuffer("book", 4);
        handled = true;
        delete stream;
      });
  const std::wstring plain = L"http://pageturn.invalid/files/book.bin";
  report = Bind(STANDIN_ON_WORKER, plain, bytes);
  EXPECT_EQ(askedURL, plain);
  EXPECT_EQ(report["hr"], Hex(MkSAsynchronous));
  EXPECT_EQ(report["stopped"], "1");
  EXPECT_EQ(bytes, "book");
}

// A handler that raises during a bind or a file open is contained: the stand-in sees the
// failure codes of the functions it called, and nothing crosses into it.
TEST_F(StandinIntegration, FailingHandlersAreContainedAtTheReplacedImports) {
  control_->onLoadEx = [](const std::wstring&, TStream*, bool&) {
    throw std::runtime_error("handler failed");
  };
  std::string bytes;
  auto report = Bind(STANDIN_ON_WORKER, VirtualURL(L"files/broken.swf"), bytes);
  EXPECT_EQ(report["hr"], Hex(MkENoStorage));
  EXPECT_EQ(bytes, "");

  // A virtual name of a control nobody registered: E_FAIL, no fallback.
  const std::wstring unknown = L"file:///Z:/FromMemory/" + Marker + L"/8999/files/a.swf";
  report = Bind(STANDIN_ON_WORKER, unknown, bytes);
  EXPECT_EQ(report["hr"], Hex(E_FAIL));

  control_->onLoadAsync = [](const std::wstring&, TStream*&) {
    throw std::runtime_error("handler failed");
  };
  TScopedBSTR data, fileReport;
  ASSERT_EQ(surface_->ReadFile(STANDIN_ON_WORKER, VirtualPath(L"files\\book.bin").c_str(), 0,
                               data.Out(), fileReport.Out()),
            S_OK);
  EXPECT_EQ(ParseReport(fileReport.Get())["handle_valid"], "0");
}

// CreateFileW of a virtual path from the stand-in's worker: the async event supplies a stream,
// every later file call works on the fake handle, and closing it raises the unload event.
TEST_F(StandinIntegration, WorkerFileReadOfAVirtualPathGoesThroughTheFakeHandle) {
  std::string content(5000, '\0');
  for (std::size_t i = 0; i < content.size(); ++i) content[i] = static_cast<char>(i * 7);
  std::wstring askedPath;
  control_->onLoadAsync = [&](const std::wstring& path, TStream*& stream) {
    askedPath = path;
    auto memory = std::make_unique<TMemoryStream>();
    memory->WriteBuffer(content.data(), content.size());  // left at its end: the manager rewinds
    stream = memory.release();
  };
  TScopedBSTR data, report;
  ASSERT_EQ(surface_->ReadFile(STANDIN_ON_WORKER, VirtualPath(L"files\\book.bin").c_str(), 3,
                               data.Out(), report.Out()),
            S_OK);
  auto fields = ParseReport(report.Get());
  EXPECT_EQ(askedPath, L"files/book.bin");
  EXPECT_EQ(fields["thread"], "worker");
  EXPECT_EQ(fields["handle_valid"], "1");
  EXPECT_EQ(fields["size"], "5000") << "GetFileSize with its high part 0";
  EXPECT_EQ(fields["size_ex"], "5000") << "GetFileSizeEx found by GetProcAddress";
  EXPECT_EQ(fields["seek"], "3");
  EXPECT_EQ(fields["reads"], "3") << "4096, 901, then TRUE with 0 bytes at the end";
  EXPECT_EQ(fields["bytes"], "4997");
  EXPECT_EQ(fields["position"], "5000");
  EXPECT_EQ(fields["closed"], "1");
  EXPECT_EQ(Bytes(data.Get()), content.substr(3));
  const auto calls = control_->Calls();
  ASSERT_EQ(calls.size(), 2u);
  EXPECT_EQ(calls[0], "LoadAsync files/book.bin");
  EXPECT_EQ(calls[1], "UnloadAsync");
  EXPECT_EQ(ContentManager->FindFakeHandleStream(reinterpret_cast<HANDLE>(1)), nullptr);
}

// Nobody in memory answers: the control's Base holds the real file, for a bind (a real URL
// moniker bound with the same bind context reports to the stand-in's callback) and for an open.
TEST_F(StandinIntegration, UnansweredVirtualNamesFallBackToTheControlsBase) {
  wchar_t temp[MAX_PATH];
  ASSERT_NE(::GetTempPathW(MAX_PATH, temp), 0u);
  const std::wstring folder = std::wstring(temp) + L"pageturn_standin_base";
  ::CreateDirectoryW(folder.c_str(), nullptr);
  ::CreateDirectoryW((folder + L"\\files").c_str(), nullptr);
  const std::wstring file = folder + L"\\files\\real.bin";
  const std::string content = "bytes from the real file";
  {
    TFileStream out(WideToSystem(file), TFileStream::Mode::Create);
    out.WriteBuffer(content.data(), content.size());
  }
  control_->onLoad = [](const std::wstring&, TStream*) {};  // leaves the memory stream empty

  control_->base = folder;
  TScopedBSTR data, report;
  ASSERT_EQ(surface_->ReadFile(STANDIN_ON_WORKER, VirtualPath(L"files/real.bin").c_str(), 0,
                               data.Out(), report.Out()),
            S_OK);
  auto fields = ParseReport(report.Get());
  EXPECT_EQ(fields["handle_valid"], "1");
  EXPECT_EQ(fields["closed"], "1");
  EXPECT_EQ(Bytes(data.Get()), content);

  std::wstring url = folder;
  for (auto& c : url)
    if (c == L'\\') c = L'/';
  control_->base = L"file:///" + url;
  std::string bytes;
  fields = Bind(STANDIN_ON_WORKER, VirtualURL(L"files/real.bin"), bytes);
  EXPECT_EQ(fields["hr"], Hex(MkSAsynchronous));
  EXPECT_EQ(fields["stopped"], "1");
  EXPECT_EQ(fields["stop_hr"], "0x00000000");
  EXPECT_EQ(bytes, content);

  ::DeleteFileW(file.c_str());
  ::RemoveDirectoryW((folder + L"\\files").c_str());
  ::RemoveDirectoryW(folder.c_str());
}

DWORD WINAPI TrickleAndFree(void* parameter) {
  std::unique_ptr<TStream> kept(static_cast<TStream*>(parameter));
  try {
    for (int i = 0; i < 6; ++i) {
      ::Sleep(500);  // 3 s in all, twice the stall time, but never 1.5 s without data
      kept->WriteBuffer("t", 1);
    }
  } catch (...) {
    return 1;
  }
  return 0;
}

// A source that takes the request and then sends nothing does not hold the fetch for ever: it
// gives up once no data has come for the stall time. One that keeps sending, however slowly, is
// waited for to its end.
TEST_F(StandinIntegration, AFetchWithoutDataGivesUpAndASlowOneIsWaitedFor) {
  std::unique_ptr<TStream> silent;
  HANDLE trickler = nullptr;
  ContentManager->SetGlobalContentHandler(
      [&](const std::wstring& url, TStream* stream, bool& handled) {
        handled = true;
        if (url.find(L"silent") != std::wstring::npos)
          silent.reset(stream);
        else
          trickler = ::CreateThread(nullptr, 0, &TrickleAndFree, stream, 0, nullptr);
      });
  TScopedBSTR data, report;
  ASSERT_EQ(surface_->BindUrl(STANDIN_ON_WORKER, L"http://pageturn.invalid/silent.bin", -1,
                              data.Out(), report.Out()),
            S_OK);
  auto fields = ParseReport(report.Get());
  EXPECT_EQ(fields["hr"], Hex(MkSAsynchronous));
  EXPECT_EQ(fields["stalled"], "1");
  EXPECT_EQ(fields["stopped"], "0");
  EXPECT_EQ(fields["stop_hr"], Hex(HRESULT_FROM_WIN32(ERROR_TIMEOUT)));
  silent.reset();

  TScopedBSTR slowData, slowReport;
  ASSERT_EQ(surface_->BindUrl(STANDIN_ON_WORKER, L"http://pageturn.invalid/slow.bin", -1,
                              slowData.Out(), slowReport.Out()),
            S_OK);
  ASSERT_NE(trickler, nullptr);
  EXPECT_EQ(::WaitForSingleObject(trickler, 10000), WAIT_OBJECT_0);
  ::CloseHandle(trickler);
  fields = ParseReport(slowReport.Get());
  EXPECT_EQ(fields["stalled"], "0");
  EXPECT_EQ(fields["stopped"], "1");
  EXPECT_EQ(fields["stop_hr"], "0x00000000");
  EXPECT_EQ(Bytes(slowData.Get()), "tttttt");
}

// The stand-in's window classes are registered under private names and its windows find them;
// its cursors come from its own resources, once per module and name, and so do its menus.
TEST_F(StandinIntegration, WindowClassesAreRenamedAndCursorsComeFromTheModule) {
  TScopedBSTR report;
  ASSERT_EQ(surface_->RegisterWindowClass(STANDIN_ON_CALLER, L"StandInProbe", report.Out()), S_OK);
  auto fields = ParseReport(report.Get());
  EXPECT_NE(fields["atom"], "0");
  EXPECT_EQ(fields["window"], "1");
  EXPECT_EQ(fields["window_class"],
            "FlashPlayerControl_StandInProbe_" + std::to_string(UniqueClassNumber()));
  EXPECT_EQ(fields["wndproc_called"], "1");
  std::wstring mapped;
  ASSERT_TRUE(ClassNameMap->Get(L"STANDINPROBE", mapped)) << "keys ignore letter case";
  EXPECT_EQ(Narrow(mapped), fields["window_class"]);

  auto* module = CodeProvider->Loader->Handle();
  struct TCursorCase {
    LONG id;
    const char* name;
  } cursors[] = {{STANDIN_CURSOR_HAND, nullptr}, {0, "FLASHHAND"}};
  for (const TCursorCase& c : cursors) {
    SCOPED_TRACE(c.name ? c.name : "by id");
    const char* key = c.name ? c.name : MAKEINTRESOURCEA(c.id);
    EXPECT_EQ(SavedCursors->FindCursor(module, key), nullptr);
    for (int round = 0; round < 2; ++round) {
      TScopedBSTR cursorReport;
      ASSERT_EQ(surface_->LoadCursorResource(STANDIN_ON_CALLER, c.id, c.name, cursorReport.Out()),
                S_OK);
      auto cursor = ParseReport(cursorReport.Get());
      EXPECT_EQ(cursor["cursor"], "1");
      EXPECT_NE(cursor["width"], "0");
      EXPECT_NE(SavedCursors->FindCursor(module, key), nullptr) << "cached after the first load";
    }
  }

  for (const char* name : {static_cast<const char*>(nullptr), "FLASHMENU"}) {
    SCOPED_TRACE(name ? name : "by id");
    TScopedBSTR menuReport;
    ASSERT_EQ(surface_->LoadMenuResource(STANDIN_ON_CALLER, STANDIN_MENU_CONTEXT, name,
                                         menuReport.Out()),
              S_OK);
    auto menu = ParseReport(menuReport.Get());
    EXPECT_EQ(menu["menu"], "1");
    EXPECT_EQ(menu["item0"], "Flash");
    EXPECT_EQ(menu["item0_items"], "6");
  }
}

// Run-time lookups get the table's replacements; guard-page code memory is made executable.
TEST_F(StandinIntegration, RunTimeLookupsAndCodeMemoryGoThroughTheTable) {
  TScopedBSTR lookup;
  ASSERT_EQ(surface_->LookupProc(STANDIN_ON_CALLER, "user32.dll", "ReadFile", lookup.Out()), S_OK);
  auto fields = ParseReport(lookup.Get());
  EXPECT_EQ(fields["proc"], "1");
  char expected[32];
  std::snprintf(expected, sizeof expected, "%p",
                CodeProvider->Loader->GetImportReplacement("kernel32.dll", "ReadFile"));
  EXPECT_EQ(std::stoul(fields["address"], nullptr, 16), std::stoul(expected, nullptr, 16))
      << "whatever module was named";

  TScopedBSTR code;
  ASSERT_EQ(surface_->PrepareCode(STANDIN_ON_CALLER, STANDIN_CODE_GUARD, code.Out()), S_OK);
  fields = ParseReport(code.Get());
  EXPECT_EQ(fields["alloc"], "1");
  EXPECT_EQ(fields["ran"], "1");
  EXPECT_EQ(fields["result"], "0x57a4d1e5");
}

}  // namespace
}  // namespace pageturn::test
