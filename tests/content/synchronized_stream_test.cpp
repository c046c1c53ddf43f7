#include "content/synchronized_stream.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <string>
#include <thread>

#include "content/content_manager.h"
#include "content/content_provider.h"
#include "content_test_support.h"
#include "core/error.h"

namespace pageturn {
namespace {

using testing::Each;
using testing::ElementsAre;
using testing_support::RunWorkerWhilePumping;
using testing_support::TRecordingCallback;

// A served stream as the content manager makes it, bound to a recording callback.
struct ServedStreamFixture : testing::Test {
  void SetUp() override {
    ComPtr<IStream> providerStream;
    provider = TContentProvider::Create(&providerStream);
    callback = TRecordingCallback::Create(false);
    provider->SetBindStatusCallback(callback.Get());
    served = MakeServedStream(providerStream.Get());
  }
  void TearDown() override {
    served.reset();
    provider.Reset();
    callback.Reset();
    EXPECT_EQ(TContentProvider::Live(), 0);
    EXPECT_EQ(TContentProviderStream::Live(), 0);
    EXPECT_EQ(TSynchronizedStreamWrapper::Live(), 0);
  }

  TGUIThread gui;
  ComPtr<IContentProvider> provider;
  ComPtr<TRecordingCallback> callback;
  std::unique_ptr<TStream> served;
};

TEST_F(ServedStreamFixture, OnTheGUIThreadAWriteReachesTheProviderAtOnce) {
  const std::string movie(100000, 'm');
  served->WriteBuffer(movie.data(), movie.size());  // no message is pumped here
  EXPECT_THAT(callback->Calls(), ElementsAre("OnStartBinding 0 none", "OnData 5 100000"));
  EXPECT_EQ(callback->Data(), movie);
  served.reset();
  EXPECT_EQ(callback->StopCount(), 1);
}

TEST_F(ServedStreamFixture, WorkerWritesAndTheFreeingRunOnTheGUIThread) {
  std::vector<std::size_t> counts;
  std::vector<std::size_t> notificationsAfterEachWrite;
  RunWorkerWhilePumping([&] {
    for (const char* piece : {"first ", "second ", "third"}) {
      counts.push_back(served->Write(piece, std::strlen(piece)));
      // The write has been performed by the time it returns.
      notificationsAfterEachWrite.push_back(callback->DataThreads().size());
    }
    served.reset();  // frees the adapter, and with it the provider stream, on the GUI thread
    EXPECT_EQ(callback->StopCount(), 1);
  });
  EXPECT_THAT(counts, ElementsAre(6u, 7u, 5u));
  EXPECT_THAT(notificationsAfterEachWrite, ElementsAre(1u, 2u, 3u));
  EXPECT_EQ(callback->Data(), "first second third");
  EXPECT_THAT(callback->DataThreads(), Each(gui.ThreadId()));
  EXPECT_EQ(callback->StopThread(), gui.ThreadId());
}

TEST_F(ServedStreamFixture, AWorkerSeesTheCountTheProviderReported) {
  callback->dataResult = E_ABORT;  // the runtime refuses the data
  RunWorkerWhilePumping([&] {
    EXPECT_EQ(served->Write("abc", 3), 0u);
    EXPECT_THROW(served->WriteBuffer("abc", 3), StreamWriteError);
  });
}

TEST_F(ServedStreamFixture, ReadsSeeksAndSizesOfTheWriteOnlyStreamGiveZero) {
  served->WriteBuffer("abc", 3);
  char buffer[3];
  EXPECT_EQ(served->Read(buffer, 3), 0u);
  EXPECT_EQ(served->Seek(0, TSeekOrigin::Current), 0);
  EXPECT_EQ(served->Seek(10, TSeekOrigin::Beginning), 0);
  EXPECT_EQ(served->Size(), 0);
  RunWorkerWhilePumping([&] {
    EXPECT_EQ(served->Position(), 0);
    EXPECT_EQ(served->Size(), 0);
  });
}

// A target that fails the way a stream of the shell might.
class TFailingStream : public TStream {
 public:
  std::size_t Read(void*, std::size_t) override { throw StreamReadError(); }
  std::size_t Write(const void*, std::size_t) override { throw FileOpenError("no such entry"); }
  std::int64_t Seek(std::int64_t, TSeekOrigin) override { return 0; }
};

TEST(CallOnGUIThread, AnExceptionOnTheGUIThreadSurfacesInTheWaitingWorker) {
  TGUIThread gui;
  TSynchronizedStreamWrapper wrapper(std::make_unique<TFailingStream>());
  std::atomic<DWORD> stepThread{0};
  RunWorkerWhilePumping([&] {
    EXPECT_THROW(wrapper.Write("x", 1), FileOpenError);
    char c;
    EXPECT_THROW(wrapper.ReadBuffer(&c, 1), StreamReadError);
    try {
      CallOnGUIThread([&] {
        stepThread = ::GetCurrentThreadId();
        throw Error("step failed");
      });
      ADD_FAILURE() << "no exception";
    } catch (const Error& e) {
      EXPECT_STREQ(e.what(), "step failed");
    }
  });
  EXPECT_EQ(stepThread.load(), gui.ThreadId());
}

TEST(CallOnGUIThread, StepsFromManyWorkersAllRunAndEachWaitsForItsOwn) {
  TGUIThread gui;
  int counter = 0;  // touched only on the GUI thread
  std::atomic<int> unfinished{0};
  constexpr int Workers = 4, Steps = 250;
  RunWorkerWhilePumping([&] {
    std::vector<std::thread> threads;
    for (int w = 0; w < Workers; ++w) {
      threads.emplace_back([&] {
        for (int i = 0; i < Steps; ++i) {
          int seen = -1;
          CallOnGUIThread([&] { seen = ++counter; });
          if (seen <= 0) ++unfinished;  // returned before its step ran
        }
      });
    }
    for (auto& t : threads) t.join();
  });
  EXPECT_EQ(counter, Workers * Steps);
  EXPECT_EQ(unfinished.load(), 0);
}

TEST(CallOnGUIThread, WithoutAGUIThreadTheStepRunsAtOnce) {
  ASSERT_EQ(TGUIThread::Current(), nullptr);
  DWORD ran = 0;
  CallOnGUIThread([&] { ran = ::GetCurrentThreadId(); });
  EXPECT_EQ(ran, ::GetCurrentThreadId());
}

// The content manager ends (its GUI thread object with it) while a worker keeps marshalling:
// every step runs (on the GUI thread while it serves, at once after) or is refused with an
// error, and no caller is left holding the object that went.
TEST(CallOnGUIThread, EndingTheContentManagerWhileAWorkerMarshalsIsSafe) {
  for (int round = 0; round < 50; ++round) {
    SCOPED_TRACE("round " + std::to_string(round));
    auto* manager = new TContentManager;
    std::atomic<bool> stop{false};
    std::atomic<int> onGUI{0}, steps{0};
    const DWORD guiThread = ::GetCurrentThreadId();
    std::thread worker([&] {
      while (!stop) {
        try {
          CallOnGUIThread([&] {
            ++steps;
            if (::GetCurrentThreadId() == guiThread) ++onGUI;
          });
        } catch (const Error&) {
          // refused: the GUI thread stopped serving while this step waited to be queued
        }
      }
    });
    EXPECT_TRUE(testing_support::PumpUntil([&] { return onGUI > 0; }));
    delete manager;  // with the worker still calling
    EXPECT_EQ(TGUIThread::Current(), nullptr);
    const int after = steps;
    EXPECT_TRUE(testing_support::PumpUntil([&] { return steps > after + 10; }))
        << "steps run at once once there is no GUI thread";
    stop = true;
    worker.join();
  }
}

// The GUI thread's loop has ended and it will dispatch nothing more: the step a worker is waiting
// for runs when the thread says so, on that thread, and every later step is refused at once
// instead of waiting for ever.
TEST(CallOnGUIThread, OnceTheLoopHasEndedWaitingStepsRunAndLaterOnesAreRefused) {
  TGUIThread gui;
  std::atomic<DWORD> ranOn{0};
  std::thread waiting([&] { CallOnGUIThread([&] { ranOn = ::GetCurrentThreadId(); }); });
  // The step is queued once its wake message is posted here; nothing here dispatches it.
  MSG wake;
  while (!::PeekMessageW(&wake, nullptr, 0, 0, PM_NOREMOVE | PM_QS_POSTMESSAGE)) ::Sleep(1);
  gui.Close();
  waiting.join();
  EXPECT_EQ(ranOn.load(), gui.ThreadId());

  std::atomic<bool> refused{false};
  std::thread late([&] {
    try {
      CallOnGUIThread([] {});
    } catch (const Error&) {
      refused = true;
    }
  });
  late.join();  // returns without any message dispatched here
  EXPECT_TRUE(refused.load());
  int here = 0;
  CallOnGUIThread([&] { ++here; });  // the thread itself still runs its own steps
  EXPECT_EQ(here, 1);
}

constexpr wchar_t ModalTitle[] = L"content modal loop";

void CALLBACK CancelModalBox(HWND, UINT, UINT_PTR, DWORD) {
  if (HWND box = ::FindWindowW(nullptr, ModalTitle)) ::EndDialog(box, IDCANCEL);
}
void CALLBACK ConfirmModalBox(HWND, UINT, UINT_PTR timer, DWORD) {
  ::KillTimer(nullptr, timer);
  if (HWND box = ::FindWindowW(nullptr, ModalTitle)) ::EndDialog(box, IDOK);
}

TEST(CallOnGUIThread, AModalLoopOfTheGUIThreadRunsTheSteps) {
  if (::GetEnvironmentVariableA("DISPLAY", nullptr, 0) == 0) GTEST_SKIP() << "needs a display";
  TGUIThread gui;
  std::atomic<DWORD> ranOn{0};
  // The GUI thread pumps nowhere but inside the message box, so a step that runs at all ran in
  // its modal loop; the step closes the box. A watchdog timer closes it should the step not come.
  const UINT_PTR watchdog = ::SetTimer(nullptr, 0, 5000, &CancelModalBox);
  std::thread worker([&] {
    CallOnGUIThread([&] {
      ranOn = ::GetCurrentThreadId();
      if (HWND box = ::FindWindowW(nullptr, ModalTitle))
        ::EndDialog(box, IDOK);
      else
        ::SetTimer(nullptr, 0, 20, &ConfirmModalBox);  // the box is not quite up yet
    });
  });
  const int answer = ::MessageBoxW(nullptr, L"waiting for a step", ModalTitle, MB_OKCANCEL);
  worker.join();
  ::KillTimer(nullptr, watchdog);
  EXPECT_EQ(ranOn.load(), gui.ThreadId());
  EXPECT_EQ(answer, IDOK);
}

}  // namespace
}  // namespace pageturn
