// Many runtime threads binding virtual names at once, answered through the synchronised streams
// while the GUI thread pumps: nothing may deadlock, get lost, reorder or leak.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "content/content_manager.h"
#include "content/my_moniker.h"
#include "content_test_support.h"

namespace pageturn {
namespace {

using testing_support::Bind;
using testing_support::ExpectNoLiveContentObjects;
using testing_support::Narrow;
using testing_support::RunWorkerWhilePumping;
using testing_support::TRecordingCallback;
using testing_support::TRecordingControl;

constexpr int Workers = 8;
constexpr int BindsPerWorker = 200;
constexpr int EventControlNumber = 1000;

// Distinct, order-revealing bytes for every name.
std::string ContentFor(const std::string& name) {
  std::string bytes;
  for (int i = 0; bytes.size() < 1500 + name.size() * 7; ++i) bytes += name + "#" + std::to_string(i) + ";";
  return bytes;
}

std::wstring VirtualURL(int number, const std::string& name) {
  return L"file:///Z:/FromMemory/" + std::wstring(MemoryMarker) + L"/" + std::to_wstring(number) +
         L"/" + std::wstring(name.begin(), name.end());
}

struct TBindResult {
  std::string name;
  HRESULT hr = E_UNEXPECTED;
  ComPtr<TRecordingCallback> callback;
};

TEST(ContentStress, EightThreadsBindingTwoHundredNamesEach) {
  ContentManager = new TContentManager;
  auto control = TRecordingControl::Create();
  ContentManager->RegisterControl(EventControlNumber, control.Get());

  // A quarter of the binds claim movies loaded beforehand (numbers 1..400, in order).
  constexpr int Movies = Workers * BindsPerWorker / 4;
  for (int m = 1; m <= Movies; ++m) {
    TStringStream source(ContentFor("movie" + std::to_string(m)));
    ContentManager->LoadMovieFromStream(control.Get(), false, source, -1);
  }

  // The rest ask the control's events: answered at once through the Ex event in two writes,
  // through the plain event, or kept by the Ex handler and finished by the bind's own thread.
  thread_local std::unique_ptr<TStream> keptByThisThread;
  control->onLoadEx = [](const std::wstring& url, TStream* stream, bool& handled) {
    const std::string name = Narrow(url);
    const std::string bytes = ContentFor(name);
    if (name.find("/ex") != std::string::npos) {
      const std::size_t half = bytes.size() / 2;
      stream->WriteBuffer(bytes.data(), half);
      stream->WriteBuffer(bytes.data() + half, bytes.size() - half);
      delete stream;
      handled = true;
    } else if (name.find("/kept") != std::string::npos) {
      stream->WriteBuffer(bytes.data(), 10);
      keptByThisThread.reset(stream);
      handled = true;
    }
  };
  control->onLoad = [](const std::wstring& url, TStream* stream) {
    const std::string bytes = ContentFor(Narrow(url));
    stream->WriteBuffer(bytes.data(), bytes.size());
  };

  std::vector<std::vector<TBindResult>> results(Workers);
  std::atomic<int> nextMovie{1};
  RunWorkerWhilePumping(
      [&] {
        std::vector<std::thread> threads;
        for (int w = 0; w < Workers; ++w) {
          threads.emplace_back([&, w] {
            ::CoInitializeEx(nullptr, COINIT_MULTITHREADED);
            for (int i = 0; i < BindsPerWorker; ++i) {
              TBindResult result;
              result.callback = TRecordingCallback::Create(i % 2 == 0);
              std::wstring url;
              switch (i % 4) {
                case 0: {
                  const int movie = nextMovie++;
                  result.name = "movie" + std::to_string(movie);
                  url = VirtualURL(movie, Narrow(FixedMovieName));
                  break;
                }
                case 1: result.name = "w" + std::to_string(w) + "/ex" + std::to_string(i); break;
                case 2: result.name = "w" + std::to_string(w) + "/plain" + std::to_string(i); break;
                case 3: result.name = "w" + std::to_string(w) + "/kept" + std::to_string(i); break;
              }
              if (url.empty()) url = VirtualURL(EventControlNumber, result.name);
              result.hr = Bind(url, result.callback.Get());
              if (keptByThisThread) {
                const std::string bytes = ContentFor(result.name);
                keptByThisThread->WriteBuffer(bytes.data() + 10, bytes.size() - 10);
                keptByThisThread.reset();  // the end of this response
              }
              results[w].push_back(std::move(result));
            }
            ::CoUninitialize();
          });
        }
        for (auto& t : threads) t.join();
      },
      60000);

  int checked = 0;
  for (const auto& perWorker : results) {
    for (const auto& r : perWorker) {
      SCOPED_TRACE(r.name);
      ASSERT_EQ(r.hr, MK_S_ASYNCHRONOUS);
      EXPECT_EQ(r.callback->Data(), ContentFor(r.name));  // nothing lost or reordered
      EXPECT_EQ(r.callback->StopCount(), 1);              // completed exactly once
      const auto calls = r.callback->Calls();
      ASSERT_FALSE(calls.empty());
      EXPECT_EQ(calls.back(), "OnStopBinding 0x00000000");
      ++checked;
    }
  }
  EXPECT_EQ(checked, Workers * BindsPerWorker);
  EXPECT_EQ(ContentManager->TakeProvider(FormatVirtualMoviePath(1)), nullptr);  // all claimed

  results.clear();
  delete ContentManager;
  ContentManager = nullptr;
  control.Reset();
  ExpectNoLiveContentObjects();
}

}  // namespace
}  // namespace pageturn
