// A control destroyed while the content layer still holds it: a bind on a worker thread whose
// handler is running, and an open in-memory file. The control lives in a buffer that is poisoned
// as soon as it is destroyed, so any later call into it would jump through a garbage vtable.
#include <gtest/gtest.h>
#include <windows.h>

#include <atomic>
#include <cstring>
#include <mutex>
#include <new>
#include <string>
#include <vector>

#include "../content/content_test_support.h"
#include "content/content_manager.h"
#include "content/virtual_names.h"
#include "tests/flashhost/flashhost_test_support.h"

namespace pageturn::test {
namespace {

using testing_support::Bind;
using testing_support::RunWorkerWhilePumping;
using testing_support::TRecordingCallback;

// Room for one control, filled with 0xCC once the control is gone.
class TPoisonedControl {
 public:
  TFlashPlayerControl& Make() { return *new (storage_) TFlashPlayerControl(nullptr); }
  TFlashPlayerControl& Get() { return *std::launder(reinterpret_cast<TFlashPlayerControl*>(storage_)); }
  void Destroy() {
    Get().~TFlashPlayerControl();
    std::memset(storage_, 0xCC, sizeof storage_);
  }

 private:
  alignas(16) unsigned char storage_[sizeof(TFlashPlayerControl)];
};

// The virtual URL of `relative` under the number that loading a movie gave the control.
std::wstring ServedURL(TFlashPlayerControl& control, const std::wstring& relative) {
  TMemoryStream movie;
  movie.WriteBuffer("FWS", 3);
  control.SetMovieFromStream(movie);
  TVirtualName name;
  EXPECT_TRUE(ParseVirtualName(control.Movie(), name));
  return L"file:///Z:/FromMemory/" + std::wstring(MemoryMarker) + L"/" +
         std::to_wstring(name.controlNumber) + L"/" + relative;
}

// The in-memory file path of `relative` under the same number as `url`.
std::wstring ServedPath(const std::wstring& url) {
  std::wstring path = url.substr(url.find(L"Z:/"));
  for (wchar_t& c : path)
    if (c == L'/') c = L'\\';
  return path;
}

HANDLE OpenServed(const std::wstring& path) {
  return ContentManager->OpenFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                   OPEN_EXISTING, 0, nullptr);
}

// Runs `body` on a new thread; the caller pumps (the served streams write on this thread).
class TWorkerThread {
 public:
  explicit TWorkerThread(std::function<void()> body) : body_(std::move(body)) {
    thread_ = ::CreateThread(nullptr, 0, &Entry, this, 0, nullptr);
  }
  ~TWorkerThread() {
    Join();
    if (thread_) ::CloseHandle(thread_);
  }
  bool Finished() const { return ::WaitForSingleObject(thread_, 0) == WAIT_OBJECT_0; }
  void Join() { EXPECT_TRUE(PumpMessagesUntil([&] { return Finished(); }, 30000)); }

 private:
  static DWORD WINAPI Entry(void* parameter) {
    ::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    try {
      static_cast<TWorkerThread*>(parameter)->body_();
    } catch (...) {
    }
    ::CoUninitialize();
    return 0;
  }
  std::function<void()> body_;
  HANDLE thread_ = nullptr;
};

using Destruction = FakeRuntimeTest;

TEST_F(Destruction, BindInFlightAndOpenFileNeverReachTheDestroyedControl) {
  TPoisonedControl slot;
  TFlashPlayerControl& control = slot.Make();
  const std::wstring url = ServedURL(control, L"files/page.swf");
  HANDLE entered = ::CreateEventA(nullptr, TRUE, FALSE, nullptr);
  HANDLE resume = ::CreateEventA(nullptr, TRUE, FALSE, nullptr);
  std::atomic<int> unloads{0};
  control.OnLoadExternalResourceEx = [&](TWinControl*, const std::wstring&, TStream* stream,
                                         bool& handled) {
    ::SetEvent(entered);
    ::WaitForSingleObject(resume, 20000);  // the control is destroyed meanwhile
    stream->WriteBuffer("page", 4);
    handled = true;
    delete stream;
  };
  control.OnLoadExternalResourceAsync = [](TWinControl*, const std::wstring&, TStream*& stream) {
    auto* file = new TMemoryStream;
    file->WriteBuffer("file", 4);
    stream = file;
  };
  control.OnUnloadExternalResourceAsync = [&](TWinControl*, TStream*) { ++unloads; };

  const HANDLE file = OpenServed(ServedPath(url));
  ASSERT_NE(file, INVALID_HANDLE_VALUE);
  ASSERT_NE(ContentManager->FindFakeHandleStream(file), nullptr);
  // Left open on purpose: the content manager's own end, when the binary shuts the control unit
  // down, closes it long after the control is gone.
  ASSERT_NE(OpenServed(ServedPath(url)), INVALID_HANDLE_VALUE);

  auto callback = TRecordingCallback::Create(true);
  HRESULT bound = E_UNEXPECTED;
  {
    TWorkerThread worker([&] { bound = Bind(url, callback.Get()); });
    ASSERT_TRUE(PumpMessagesUntil([&] { return ::WaitForSingleObject(entered, 0) == WAIT_OBJECT_0; }));
    slot.Destroy();
    ::SetEvent(resume);
  }
  EXPECT_EQ(bound, MK_S_ASYNCHRONOUS) << "the bind begun before still completes";
  EXPECT_TRUE(PumpMessagesUntil([&] { return callback->StopCount() == 1; }));
  EXPECT_EQ(callback->Data(), "page");

  EXPECT_TRUE(ContentManager->ReleaseFakeHandle(file));
  EXPECT_EQ(unloads.load(), 0) << "the file closed after the control went raises nothing";
  auto late = TRecordingCallback::Create(true);
  EXPECT_EQ(Bind(url, late.Get()), E_FAIL) << "the control's number is gone";
  EXPECT_EQ(OpenServed(ServedPath(url)), INVALID_HANDLE_VALUE);
  ::CloseHandle(entered);
  ::CloseHandle(resume);
}

TEST_F(Destruction, ControlsDestroyedAmidWorkersBindingAndReadingFiles) {
  for (int round = 0; round < 12; ++round) {
    SCOPED_TRACE(round);
    TPoisonedControl slot;
    TFlashPlayerControl& control = slot.Make();
    const std::wstring url = ServedURL(control, L"files/large/" + std::to_wstring(round) + L".swf");
    control.OnLoadExternalResource = [](TWinControl*, const std::wstring&, TStream* stream) {
      stream->WriteBuffer("content", 7);
    };
    control.OnLoadExternalResourceAsync = [](TWinControl*, const std::wstring&,
                                             TStream*& stream) { stream = new TMemoryStream; };
    control.OnUnloadExternalResourceAsync = [](TWinControl*, TStream*) {};
    std::atomic<bool> stop{false};
    std::atomic<int> served{0}, refused{0};
    std::vector<std::unique_ptr<TWorkerThread>> workers;
    for (int w = 0; w < 3; ++w)
      workers.push_back(std::make_unique<TWorkerThread>([&, w] {
        while (!stop) {
          if (w == 0) {
            const HANDLE file = OpenServed(ServedPath(url));
            if (file != INVALID_HANDLE_VALUE) ContentManager->ReleaseFakeHandle(file);
            continue;
          }
          auto callback = TRecordingCallback::Create(true);
          const HRESULT hr = Bind(url, callback.Get());
          (hr == MK_S_ASYNCHRONOUS ? served : refused)++;
        }
      }));
    const DWORD lifetime = 5 + 7 * (round % 4);
    const DWORD start = ::GetTickCount();
    PumpMessagesUntil([&] { return ::GetTickCount() - start >= lifetime; });
    slot.Destroy();
    const DWORD after = ::GetTickCount();
    PumpMessagesUntil([&] { return ::GetTickCount() - after >= 20; });
    stop = true;
    workers.clear();
    EXPECT_GT(served + refused, 0);
  }
}

// The base that a binding thread or a file open falls back to is the one the control took on its
// own thread when the base was set: no other thread calls into the runtime object, which belongs
// to the control's thread (and whose control may be going meanwhile).
TEST_F(Destruction, BindingThreadsTakeTheBaseWithoutCallingTheRuntimeObject) {
  TFlashPlayerControl& control = MakeControl();
  ASSERT_NE(fake, nullptr);
  std::mutex lock;
  std::vector<DWORD> baseAskedOn;
  fake->onLog = [&](const std::string& call) {
    if (call != "get_Base") return;
    const std::lock_guard<std::mutex> guard(lock);
    baseAskedOn.push_back(::GetCurrentThreadId());
  };
  const std::wstring url = ServedURL(control, L"files/none.swf");  // nobody answers it
  TVirtualName name;
  ASSERT_TRUE(ParseVirtualName(url, name));
  const ComPtr<IFlashPlayerControlBase> link = ContentManager->FindControl(name.controlNumber);
  ASSERT_NE(link, nullptr);

  for (const wchar_t* base : {L"file:///Z:/nowhere/first", L"file:///Z:/nowhere/second"}) {
    SCOPED_TRACE(testing_support::Narrow(base));
    fake->texts["Base"] = base;  // what the runtime answers from now on
    control.SetBase(base);
    std::wstring seen;
    {
      TWorkerThread worker([&] {
        auto callback = TRecordingCallback::Create(true);
        Bind(url, callback.Get());
        const HANDLE file = OpenServed(ServedPath(url));
        if (file != INVALID_HANDLE_VALUE) ::CloseHandle(file);
        seen = ContentManager->ControlBaseDirectory(link.Get());
      });
    }
    EXPECT_EQ(seen, base);
  }
  const std::lock_guard<std::mutex> guard(lock);
  for (const DWORD thread : baseAskedOn) EXPECT_EQ(thread, ::GetCurrentThreadId());
}

}  // namespace
}  // namespace pageturn::test
