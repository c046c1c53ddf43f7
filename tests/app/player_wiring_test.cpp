// The main window's player wiring in a real book: this test program, copied with a bundle
// appended, runs again as that book. Inside it the control unit starts, the bundle's stand-in
// runtime is mapped from memory, the real main window plays the bundle's book.swf, and the
// stand-in (through its test surface, on its own worker threads) asks for files by both roads,
// the file open (CreateFileW) and the URL bind, and raises FSCommand and FlashCall.
#include <gtest/gtest.h>
#include <objbase.h>
#include <windows.h>

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include "app/UfrmMain.h"
#include "forms/forms.h"
#include "app/log4dp.h"
#include "bundle/bundle_lookup.h"
#include "bundle/bundle_writer.h"
#include "content/virtual_names.h"
#include "core/com.h"
#include "core/text.h"
#include "core/win32.h"
#include "runtime/flash_control_unit.h"
#include "standin/standin_test_surface.h"

namespace pageturn {
namespace {

// ---- the book's entries

std::string Bytes(size_t size, char seed) {
  std::string s(size, '\0');
  for (size_t i = 0; i < size; ++i) s[i] = static_cast<char>(seed + i * 7 + (i >> 9));
  return s;
}

// The smallest movie the stand-in plays: header, FileAttributes, ShowFrame, End.
std::string TinyMovie() {
  std::string body = {'\x78', '\x00', '\x05', '\x5F', '\x00', '\x00', '\x0F', '\xA0',
                      '\x00', '\x00', '\x18', '\x01', '\x00', '\x44', '\x11', '\x00',
                      '\x00', '\x00', '\x00', '\x40', '\x00', '\x00', '\x00'};
  const auto length = static_cast<std::uint32_t>(body.size() + 8);
  std::string file = {'F', 'W', 'S', '\x08'};
  for (int i = 0; i < 4; ++i) file += static_cast<char>(length >> (8 * i));
  return file + body;
}

struct TEntry {
  const char* name;
  std::string bytes;
};

const std::vector<TEntry>& BookEntries() {
  static const std::vector<TEntry> entries = {
      {"book.swf", TinyMovie()},
      {"files/large/1.swf", Bytes(200000, 'a')},  // several reads, several notifications
      {"files/thumb/3.jpg", Bytes(5000, 'b')},
      {"files/empty.bin", ""},
      {"http://book.invalid/extra.bin", Bytes(70000, 'c')},
  };
  return entries;
}

std::string EntryBytes(const std::string& name) {
  for (const TEntry& e : BookEntries())
    if (name == e.name) return e.bytes;
  return "(none)";
}

std::wstring VirtualPath(const std::wstring& relative) {
  return FormatVirtualMoviePath(1).substr(0, FormatVirtualMoviePath(1).rfind(L'\\') + 1) + relative;
}

// The file's bytes, shared with its writer (the log); empty when it cannot be read.
std::string WholeFile(const std::string& path) {
  const ScopedHandle file(::CreateFileA(path.c_str(), GENERIC_READ,
                                        FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                                        0, nullptr));
  if (!file.IsValid()) return "";
  std::string bytes(::GetFileSize(file.Get(), nullptr), '\0');
  DWORD got = 0;
  ::ReadFile(file.Get(), bytes.data(), static_cast<DWORD>(bytes.size()), &got, nullptr);
  bytes.resize(got);
  return bytes;
}

// ---- inside the book

std::string Report(const BSTR report) { return report ? WideToUtf8(report) : std::string(); }
std::string ByteString(const BSTR bytes) {
  return bytes ? std::string(reinterpret_cast<const char*>(bytes), ::SysStringByteLen(bytes))
               : std::string();
}
std::string Key(const std::string& report, const std::string& key) {
  const std::string line = key + "=";
  for (size_t at = 0; (at = report.find(line, at)) != std::string::npos; at += line.size())
    if (at == 0 || report[at - 1] == '\n') {
      const size_t end = report.find('\n', at);
      return report.substr(at + line.size(),
                           end == std::string::npos ? end : end - at - line.size());
    }
  return "";
}

bool InsideTheBook() { return BundleEntryIndex("book.swf") > 0; }

class InsideTheBookTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    if (!InsideTheBook()) return;
    FlashControlUnitStartup();
    UfrmMainInitialization();
    app_ = new TApplication;
    Application = app_;
    app_->Initialize();
    form_ = app_->CreateForm<TfrmMain>();
    form_->Show();
  }
  static void TearDownTestSuite() {
    delete app_;
    app_ = nullptr;
    Application = nullptr;
    form_ = nullptr;
    FlashControlUnitShutdown();
  }
  void SetUp() override {
    if (!InsideTheBook()) GTEST_SKIP() << "runs inside the book only";
    ASSERT_NE(form_->FlashPlayerControl1, nullptr);
    ASSERT_NE(form_->FlashPlayerControl1->RuntimeObject(), nullptr) << form_->NoticeText();
    ASSERT_TRUE(SUCCEEDED(form_->FlashPlayerControl1->RuntimeObject()->QueryInterface(
        IID_IStandInTestSurface, reinterpret_cast<void**>(surface_.GetAddressOf()))));
    // book.swf arrived and plays.
    const DWORD start = ::GetTickCount();
    for (;;) {
      app_->ProcessMessages();
      BSTR report = nullptr;
      surface_->GetReport(&report);
      const std::string r = Report(report);
      ::SysFreeString(report);
      if (Key(r, "ready_state") == "4") {
        ASSERT_EQ(Key(r, "bytes"), std::to_string(TinyMovie().size())) << r;
        break;
      }
      ASSERT_LT(::GetTickCount() - start, 15000u) << r;
      ::Sleep(10);
    }
  }

  // One request on a worker thread of the runtime; this thread keeps pumping meanwhile.
  std::string Read(const std::wstring& path, std::string& report) {
    BSTR bytes = nullptr, text = nullptr;
    surface_->ReadFile(STANDIN_ON_WORKER, path.c_str(), 0, &bytes, &text);
    report = Report(text);
    std::string got = ByteString(bytes);
    ::SysFreeString(bytes);
    ::SysFreeString(text);
    return got;
  }
  std::string Bind(const std::wstring& url, std::string& report) {
    BSTR bytes = nullptr, text = nullptr;
    surface_->BindUrl(STANDIN_ON_WORKER, url.c_str(), 10000, &bytes, &text);
    report = Report(text);
    std::string got = ByteString(bytes);
    ::SysFreeString(bytes);
    ::SysFreeString(text);
    return got;
  }
  std::string FireEvent(LONG dispid, const wchar_t* a, const wchar_t* b) {
    BSTR text = nullptr;
    surface_->FireEvent(STANDIN_ON_OBJECT, dispid, a, b, 0, &text);
    std::string r = Report(text);
    ::SysFreeString(text);
    return r;
  }
  static std::vector<std::string> LogLines() {
    std::vector<std::string> lines;
    const std::string text = WholeFile(LogFileName);
    for (size_t at = 0; at < text.size();) {
      size_t end = text.find("\r\n", at);
      if (end == std::string::npos) end = text.size();
      const std::string line = text.substr(at, end - at);
      const size_t colon = line.find(": ");
      lines.push_back(colon == std::string::npos ? line : line.substr(colon + 2));
      at = end + 2;
    }
    return lines;
  }
  // The log lines written since `from` (a count of lines).
  static std::vector<std::string> LogSince(size_t from) {
    std::vector<std::string> lines = LogLines();
    lines.erase(lines.begin(), lines.begin() + std::min(from, lines.size()));
    return lines;
  }

  static TApplication* app_;
  static TfrmMain* form_;
  ComPtr<IStandInTestSurface> surface_;
};

TApplication* InsideTheBookTest::app_ = nullptr;
TfrmMain* InsideTheBookTest::form_ = nullptr;

TEST_F(InsideTheBookTest, FileOpensOfVirtualNamesReadTheBundleEntries) {
  struct Case {
    std::wstring path;
    const char* entry;  // nullptr: not answered
    std::vector<std::string> log;
  };
  const Case cases[] = {
      {VirtualPath(L"files\\large\\1.swf"),
       "files/large/1.swf",
       {"To load url 44[files/large/1.swf]", "To load url 44_________[files/large/1.swf]"}},
      {VirtualPath(L"files/thumb/3.jpg"),
       "files/thumb/3.jpg",
       {"To load url 44[files/thumb/3.jpg]", "To load url 44_________[files/thumb/3.jpg]"}},
      {VirtualPath(L"files/empty.bin"),
       "files/empty.bin",
       {"To load url 44[files/empty.bin]", "To load url 44_________[files/empty.bin]"}},
      // No "./" retry on this road.
      {VirtualPath(L"./files/thumb/3.jpg"), nullptr, {"To load url 44[./files/thumb/3.jpg]"}},
      {VirtualPath(L"files/large/none.swf"), nullptr, {"To load url 44[files/large/none.swf]"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(WideToUtf8(c.path));
    const size_t before = LogLines().size();
    std::string report;
    const std::string got = Read(c.path, report);
    if (c.entry) {
      EXPECT_EQ(Key(report, "handle_valid"), "1") << report;
      EXPECT_TRUE(got == EntryBytes(c.entry)) << got.size() << " bytes, " << report;
      EXPECT_EQ(Key(report, "size"), std::to_string(EntryBytes(c.entry).size()));
      EXPECT_EQ(Key(report, "closed"), "1");
    } else {
      EXPECT_EQ(Key(report, "handle_valid"), "0") << report;
    }
    EXPECT_EQ(LogSince(before), c.log);
  }
}

TEST_F(InsideTheBookTest, UrlBindsGetExactlyTheBundleBytes) {
  struct Case {
    std::wstring url;
    const char* entry;  // nullptr: not answered from the bundle
    std::vector<std::string> log;
  };
  const Case cases[] = {
      {VirtualPath(L"files/large/1.swf"),
       "files/large/1.swf",
       {"To load url 333[files/large/1.swf]", "To load url2[files/large/1.swf]",
        "Got .. url2[files/large/1.swf]"}},
      {L"file:///Z:/FromMemory/" + std::wstring(MemoryMarker) + L"/1/./files/thumb/3.jpg",
       "files/thumb/3.jpg",
       {"To load url 333[./files/thumb/3.jpg]", "To load url2[./files/thumb/3.jpg]",
        "Got .. url2_2[files/thumb/3.jpg]"}},
      // An empty entry is an answer: empty content, a complete bind, and never the file of that
      // name that lies on the disk beside the book.
      {VirtualPath(L"files/empty.bin"),
       "files/empty.bin",
       {"To load url 333[files/empty.bin]", "To load url2[files/empty.bin]",
        "Got .. url2[files/empty.bin]"}},
      {L"files/empty.bin", "files/empty.bin", {"ContentProvider url[files/empty.bin]"}},
      {VirtualPath(L"files/./thumb/3.jpg"),
       nullptr,
       {"To load url 333[files/./thumb/3.jpg]", "To load url2[files/./thumb/3.jpg]"}},
      // No virtual name: the global handler looks the whole URL up.
      {L"http://book.invalid/extra.bin",
       "http://book.invalid/extra.bin",
       {"ContentProvider url[http://book.invalid/extra.bin]"}},
      {L"files/thumb/3.jpg", "files/thumb/3.jpg", {"ContentProvider url[files/thumb/3.jpg]"}},
      // The global handler has no "./" retry.
      {L"./files/thumb/3.jpg", nullptr, {"ContentProvider url[./files/thumb/3.jpg]"}},
      {L"file:///Z:/no/such/place/./files/thumb/3.jpg",
       nullptr,
       {"ContentProvider url[file:///Z:/no/such/place/./files/thumb/3.jpg]"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(WideToUtf8(c.url));
    const size_t before = LogLines().size();
    std::string report;
    const std::string got = Bind(c.url, report);
    if (c.entry) {
      EXPECT_EQ(Key(report, "stopped"), "1") << report;
      EXPECT_EQ(Key(report, "stop_hr"), "0x00000000") << report;
      EXPECT_TRUE(got == EntryBytes(c.entry)) << got.size() << " bytes, " << report;
    } else {
      EXPECT_TRUE(got.empty()) << report;
    }
    EXPECT_EQ(LogSince(before), c.log);
  }
}

TEST_F(InsideTheBookTest, FullScreenCommandsAndTheHostProbe) {
  const RECT before = form_->BoundsRect();
  struct Step {
    const wchar_t* args;
    bool fullScreen;
  };
  for (const Step& s : {Step{L"TRUE", false}, Step{L"true", true}, Step{L"true", true},
                        Step{L"True", true}, Step{L"false", false}}) {
    SCOPED_TRACE(WideToUtf8(s.args));
    FireEvent(150, L"fullscreen", s.args);
    EXPECT_EQ(form_->FullScreen, s.fullScreen);
  }
  const RECT after = form_->BoundsRect();
  EXPECT_EQ(after.left, before.left);
  EXPECT_EQ(after.top, before.top);
  EXPECT_EQ(after.right, before.right);
  EXPECT_EQ(after.bottom, before.bottom);
  FireEvent(150, L"FullScreen", L"true");
  EXPECT_FALSE(form_->FullScreen);

  const std::string probe =
      FireEvent(197,
                L"<invoke name=\"x\" returntype=\"xml\"><arguments><string>"
                L"{3F6C2D1E-9A4B-4c7d-B2E5-6D8A1F0C3B79}</string></arguments></invoke>",
                L"");
  EXPECT_EQ(Key(probe, "return_value"), "<string>{7E19B0D4-C5A2-4F83-9D6E-0B4C8A2F1E65}</string>")
      << probe;
}

// ---- outside: make the book and run the tests above in it

std::string OwnPath() {
  char path[MAX_PATH] = {};
  ::GetModuleFileNameA(nullptr, path, MAX_PATH);
  return path;
}

TEST(PlayerWiring, RunsInsideARealBook) {
  if (InsideTheBook()) GTEST_SKIP() << "this is the book";
  const std::string own = OwnPath();
  const std::string folder = own.substr(0, own.find_last_of('\\'));
  const std::string book = folder + "\\player-wiring-book.exe";
  const std::string log = folder + "\\player-wiring-book.log";
  ::DeleteFileA(log.c_str());
  // A file on the disk by the name of the book's empty entry, where the fallbacks would look.
  ::CreateDirectoryA((folder + "\\files").c_str(), nullptr);
  {
    const ScopedHandle disk(::CreateFileA((folder + "\\files\\empty.bin").c_str(), GENERIC_WRITE, 0,
                                          nullptr, CREATE_ALWAYS, 0, nullptr));
    DWORD written = 0;
    ::WriteFile(disk.Get(), "from disk", 9, &written, nullptr);
  }
  TBundleWriter writer;
  for (const TEntry& e : BookEntries()) writer.AddEntry(e.name, e.bytes);
  const std::string runtime = WholeFile(STANDIN_FLASH_PATH);
  ASSERT_GT(runtime.size(), 4096u);
  writer.AddEntry("flash.ocx", runtime);
  writer.WriteBook(own, book);

  // The book's output comes back through a pipe; its gtest verdict is the exit code.
  SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
  HANDLE readEnd = nullptr, writeEnd = nullptr;
  ASSERT_TRUE(::CreatePipe(&readEnd, &writeEnd, &inherit, 0));
  ScopedHandle reader(readEnd), writer2(writeEnd);
  ::SetHandleInformation(reader.Get(), HANDLE_FLAG_INHERIT, 0);
  STARTUPINFOA startup{};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdOutput = writer2.Get();
  startup.hStdError = writer2.Get();
  startup.hStdInput = ::GetStdHandle(STD_INPUT_HANDLE);
  PROCESS_INFORMATION process{};
  std::string commandLine = "\"" + book + "\" --gtest_filter=InsideTheBookTest.* -d -F" + log;
  ASSERT_TRUE(::CreateProcessA(book.c_str(), commandLine.data(), nullptr, nullptr, TRUE, 0, nullptr,
                               folder.c_str(), &startup, &process));
  ScopedHandle processHandle(process.hProcess), threadHandle(process.hThread);
  writer2.Reset();
  // Read while the book runs, and stop when it ends rather than at the pipe's end: a process
  // that Wine starts on the book's behalf may inherit the pipe and keep it open.
  std::string output;
  const auto drain = [&] {
    char buffer[4096];
    DWORD available = 0, got = 0;
    while (::PeekNamedPipe(reader.Get(), nullptr, 0, nullptr, &available, nullptr) && available > 0 &&
           ::ReadFile(reader.Get(), buffer, sizeof buffer, &got, nullptr) && got > 0)
      output.append(buffer, got);
  };
  DWORD waited = WAIT_TIMEOUT;
  for (int i = 0; i < 1200 && waited != WAIT_OBJECT_0; ++i) {
    waited = ::WaitForSingleObject(processHandle.Get(), 50);
    drain();
  }
  if (waited != WAIT_OBJECT_0) {
    ::TerminateProcess(processHandle.Get(), 99);
    FAIL() << "the book did not end\n" << output;
  }
  DWORD exitCode = 0xdeadbeef;
  ::GetExitCodeProcess(processHandle.Get(), &exitCode);
  EXPECT_EQ(exitCode, 0u) << output;
  for (const char* name : {"FileOpensOfVirtualNamesReadTheBundleEntries",
                           "UrlBindsGetExactlyTheBundleBytes", "FullScreenCommandsAndTheHostProbe"})
    EXPECT_NE(output.find(std::string("[       OK ] InsideTheBookTest.") + name), std::string::npos)
        << name << " did not pass inside the book\n"
        << output;
}

}  // namespace
}  // namespace pageturn
