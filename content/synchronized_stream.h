// Streams handed to producers that may write from any thread, while the bytes really go to a
// provider's COM stream whose notifications belong on the GUI thread.
#pragma once

#ifndef _WIN32
#error "content/synchronized_stream.h is for the Windows build only"
#endif

#include <windows.h>
#include <objbase.h>

#include <deque>
#include <functional>
#include <memory>

#include "content/live_count.h"
#include "core/com.h"
#include "core/stream.h"
#include "core/win32.h"

namespace pageturn {

// TStream over an IStream. The IStream's result codes are not examined: a value the stream does
// not report (every served stream refuses Read and Seek) reads as 0.
class TStreamBasedOnIStream final : public TStream {
 public:
  explicit TStreamBasedOnIStream(IStream* stream) : stream_(stream) {}
  std::size_t Read(void* buffer, std::size_t count) override;
  std::size_t Write(const void* buffer, std::size_t count) override;
  std::int64_t Seek(std::int64_t offset, TSeekOrigin origin) override;
  void SetSize(std::int64_t size) override;

 private:
  ComPtr<IStream> stream_;
};

// The GUI thread: the thread that created this object (the content manager creates one). Steps
// that other threads give to CallOnGUIThread are run by a hidden message-only window of this
// thread, woken by a posted message, so any ordinary GetMessage/DispatchMessage loop of the
// thread runs them, modal loops included. Create and destroy it on the same thread; while it
// lives it is the process's current GUI thread.
class TGUIThread {
 public:
  TGUIThread();
  ~TGUIThread();
  TGUIThread(const TGUIThread&) = delete;
  TGUIThread& operator=(const TGUIThread&) = delete;

  // The current GUI thread at this moment: with ending, one that is being destroyed may still be
  // returned. To call it, use CallOnGUIThread, which keeps it alive across the call.
  static TGUIThread* Current();
  DWORD ThreadId() const { return threadId_; }
  bool IsCurrentThread() const { return ::GetCurrentThreadId() == threadId_; }
  // Runs the step here on this thread at once; from another thread queues it, wakes this
  // thread and waits until this thread runs it, as long as it serves steps at all; the step's
  // exception is raised again in the caller. A step that can no longer be served (Close has
  // run) raises at once.
  void Call(const std::function<void()>& step);
  // The thread's message loop has ended: steps queued by now run here at once, and every later
  // one is refused, so that no other thread waits for a loop that will not come back. Call it
  // on this thread, while whatever the steps reach is still there; the destructor does it too.
  void Close();

 private:
  struct TStep;
  static LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
  void RunQueuedSteps();

  DWORD threadId_;
  HWND window_ = nullptr;
  SRWLOCK lock_ = SRWLOCK_INIT;  // guards the queue and the wake flag
  CONDITION_VARIABLE stepDone_ = CONDITION_VARIABLE_INIT;
  std::deque<TStep*> queue_;
  bool wakePosted_ = false;  // one wake message in flight is enough for any number of steps
  bool closed_ = false;      // going away: no new steps
  TGUIThread* previous_ = nullptr;
  int users_ = 0;  // CallOnGUIThread calls that took this object as current and are not done

  friend void CallOnGUIThread(const std::function<void()>& step);
};

// Runs `step` on the current GUI thread as TGUIThread::Call does. With no GUI thread known the
// step runs at once on the calling thread: there is no loop that could ever run it.
void CallOnGUIThread(const std::function<void()>& step);

// Carries every operation of a synchronised stream to the GUI thread and back. It owns the
// target, which it frees on the GUI thread too. One caller serves one thread at a time.
class TSynchronizedStreamCaller {
 public:
  explicit TSynchronizedStreamCaller(std::unique_ptr<TStream> target)
      : target_(std::move(target)) {}
  std::size_t Read(void* buffer, std::size_t count);
  std::size_t Write(const void* buffer, std::size_t count);
  std::int64_t Seek(std::int64_t offset, TSeekOrigin origin);
  std::int64_t GetSize();
  void SetSize(std::int64_t size);
  void FreeTarget();

 private:
  TStream& Target();
  std::unique_ptr<TStream> target_;
};

// A TStream whose every operation, and its target's destruction, runs on the GUI thread. No
// buffering: one Write is one write of the target.
class TSynchronizedStreamWrapper final : public TStream,
                                         public TLiveCount<TSynchronizedStreamWrapper> {
 public:
  explicit TSynchronizedStreamWrapper(std::unique_ptr<TStream> target)
      : caller_(std::move(target)) {}
  ~TSynchronizedStreamWrapper() override;
  std::size_t Read(void* buffer, std::size_t count) override { return caller_.Read(buffer, count); }
  std::size_t Write(const void* buffer, std::size_t count) override {
    return caller_.Write(buffer, count);
  }
  std::int64_t Seek(std::int64_t offset, TSeekOrigin origin) override {
    return caller_.Seek(offset, origin);
  }
  std::int64_t Size() override { return caller_.GetSize(); }
  void SetSize(std::int64_t size) override { caller_.SetSize(size); }

 private:
  TSynchronizedStreamCaller caller_;
};

// The stream the content manager serves: a wrapper over an adapter over `providerStream`.
std::unique_ptr<TStream> MakeServedStream(IStream* providerStream);

}  // namespace pageturn
