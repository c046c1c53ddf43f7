#include "content/synchronized_stream.h"

#include <algorithm>
#include <atomic>
#include <exception>
#include <limits>

#include "core/error.h"

namespace pageturn {

// ---- TStreamBasedOnIStream ----

namespace {

ULONG ClampCount(std::size_t count) {
  return static_cast<ULONG>(std::min<std::size_t>(count, std::numeric_limits<ULONG>::max()));
}

}  // namespace

std::size_t TStreamBasedOnIStream::Read(void* buffer, std::size_t count) {
  ULONG read = 0;
  stream_->Read(buffer, ClampCount(count), &read);
  return read;
}

std::size_t TStreamBasedOnIStream::Write(const void* buffer, std::size_t count) {
  ULONG written = 0;
  stream_->Write(buffer, ClampCount(count), &written);
  return written;
}

std::int64_t TStreamBasedOnIStream::Seek(std::int64_t offset, TSeekOrigin origin) {
  LARGE_INTEGER move;
  move.QuadPart = offset;
  const DWORD from = origin == TSeekOrigin::Beginning ? STREAM_SEEK_SET
                     : origin == TSeekOrigin::Current ? STREAM_SEEK_CUR
                                                      : STREAM_SEEK_END;
  ULARGE_INTEGER position;
  position.QuadPart = 0;
  stream_->Seek(move, from, &position);
  return static_cast<std::int64_t>(position.QuadPart);
}

void TStreamBasedOnIStream::SetSize(std::int64_t size) {
  ULARGE_INTEGER newSize;
  newSize.QuadPart = static_cast<ULONGLONG>(size);
  stream_->SetSize(newSize);
}

// ---- TGUIThread ----

struct TGUIThread::TStep {
  const std::function<void()>* body;
  std::exception_ptr error;
  bool done = false;
};

namespace {

constexpr UINT WM_RUN_GUI_STEPS = WM_APP + 0x2C4;
constexpr wchar_t StepWindowClass[] = L"PageturnGUIThreadSteps";

std::atomic<TGUIThread*> CurrentGUIThread{nullptr};
// Hands the current GUI thread over to callers: guards the change of CurrentGUIThread and every
// object's user count, so that a destructor can wait until no caller still holds it.
SRWLOCK HandOverLock = SRWLOCK_INIT;
CONDITION_VARIABLE UsersGone = CONDITION_VARIABLE_INIT;

class TExclusive {
 public:
  explicit TExclusive(SRWLOCK& lock) : lock_(lock) { ::AcquireSRWLockExclusive(&lock_); }
  ~TExclusive() { ::ReleaseSRWLockExclusive(&lock_); }
  TExclusive(const TExclusive&) = delete;
  TExclusive& operator=(const TExclusive&) = delete;

 private:
  SRWLOCK& lock_;
};

HINSTANCE ThisModule() {
  HMODULE module = nullptr;
  ::GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS |
                           GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                       reinterpret_cast<LPCWSTR>(&CurrentGUIThread), &module);
  return module;
}

}  // namespace

TGUIThread::TGUIThread() : threadId_(::GetCurrentThreadId()) {
  const HINSTANCE instance = ThisModule();
  WNDCLASSEXW windowClass{};
  windowClass.cbSize = sizeof windowClass;
  windowClass.lpfnWndProc = &TGUIThread::WindowProc;
  windowClass.hInstance = instance;
  windowClass.lpszClassName = StepWindowClass;
  // A second GUI thread object finds the class already registered.
  if (!::RegisterClassExW(&windowClass) && ::GetLastError() != ERROR_CLASS_ALREADY_EXISTS)
    throw Error("Cannot register the GUI thread's step window class");
  window_ = ::CreateWindowExW(0, StepWindowClass, L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                              instance, nullptr);
  if (!window_) throw Error("Cannot create the GUI thread's step window");
  ::SetWindowLongPtrW(window_, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
  TExclusive handOver(HandOverLock);
  previous_ = CurrentGUIThread.exchange(this);
}

TGUIThread::~TGUIThread() {
  {
    // No caller takes this object from here on.
    TExclusive handOver(HandOverLock);
    TGUIThread* self = this;
    CurrentGUIThread.compare_exchange_strong(self, previous_);
  }
  // Callers still waiting are served here, on this thread, before the window goes; callers that
  // took this object before it stopped being current are waited for (they queue nothing more,
  // being refused now), so that none of them touches it once it is gone.
  Close();
  {
    TExclusive handOver(HandOverLock);
    while (users_ > 0) ::SleepConditionVariableSRW(&UsersGone, &HandOverLock, INFINITE, 0);
  }
  ::SetWindowLongPtrW(window_, GWLP_USERDATA, 0);
  ::DestroyWindow(window_);
}

void TGUIThread::Close() {
  {
    TExclusive lock(lock_);
    closed_ = true;
  }
  RunQueuedSteps();
}

TGUIThread* TGUIThread::Current() { return CurrentGUIThread.load(); }

void TGUIThread::Call(const std::function<void()>& step) {
  if (IsCurrentThread()) {
    step();
    return;
  }
  TStep queued{&step, nullptr, false};
  bool wake = false;
  {
    TExclusive lock(lock_);
    if (closed_) throw Error("The GUI thread has stopped serving steps");
    queue_.push_back(&queued);
    wake = !wakePosted_;
    wakePosted_ = true;
  }
  if (wake && !::PostMessageW(window_, WM_RUN_GUI_STEPS, 0, 0)) {
    TExclusive lock(lock_);
    wakePosted_ = false;
    const auto it = std::find(queue_.begin(), queue_.end(), &queued);
    if (it != queue_.end()) {
      queue_.erase(it);
      throw Error("Cannot wake the GUI thread");
    }
    // Already taken by a run of the queue that another wake started: wait for it as usual.
  }
  {
    TExclusive lock(lock_);
    while (!queued.done) ::SleepConditionVariableSRW(&stepDone_, &lock_, INFINITE, 0);
  }
  if (queued.error) std::rethrow_exception(queued.error);
}

void TGUIThread::RunQueuedSteps() {
  {
    TExclusive lock(lock_);
    wakePosted_ = false;  // steps queued from now on need a wake of their own
  }
  for (;;) {
    TStep* step;
    {
      TExclusive lock(lock_);
      if (queue_.empty()) return;
      step = queue_.front();
      queue_.pop_front();
    }
    try {
      (*step->body)();
    } catch (...) {
      step->error = std::current_exception();
    }
    {
      TExclusive lock(lock_);
      step->done = true;  // the waiter may return at once: `step` is not touched again
    }
    ::WakeAllConditionVariable(&stepDone_);
  }
}

LRESULT CALLBACK TGUIThread::WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_RUN_GUI_STEPS) {
    return Boundary(LRESULT{0}, [&] {
      if (auto* self = reinterpret_cast<TGUIThread*>(::GetWindowLongPtrW(window, GWLP_USERDATA)))
        self->RunQueuedSteps();
      return LRESULT{0};
    });
  }
  return ::DefWindowProcW(window, message, wParam, lParam);
}

void CallOnGUIThread(const std::function<void()>& step) {
  TGUIThread* gui;
  {
    TExclusive handOver(HandOverLock);
    gui = CurrentGUIThread.load();
    if (gui) ++gui->users_;
  }
  if (!gui) {
    step();
    return;
  }
  // Whatever the call does, the object is let go of, and its destructor told when it may go on.
  struct TUse {
    TGUIThread* gui;
    ~TUse() {
      TExclusive handOver(HandOverLock);
      if (--gui->users_ == 0) ::WakeAllConditionVariable(&UsersGone);
    }
  } use{gui};
  gui->Call(step);
}

// ---- TSynchronizedStreamCaller ----

TStream& TSynchronizedStreamCaller::Target() {
  if (!target_) throw Error("Synchronised stream used after its target was freed");
  return *target_;
}

std::size_t TSynchronizedStreamCaller::Read(void* buffer, std::size_t count) {
  std::size_t result = 0;
  CallOnGUIThread([&] { result = Target().Read(buffer, count); });
  return result;
}

std::size_t TSynchronizedStreamCaller::Write(const void* buffer, std::size_t count) {
  std::size_t result = 0;
  CallOnGUIThread([&] { result = Target().Write(buffer, count); });
  return result;
}

std::int64_t TSynchronizedStreamCaller::Seek(std::int64_t offset, TSeekOrigin origin) {
  std::int64_t result = 0;
  CallOnGUIThread([&] { result = Target().Seek(offset, origin); });
  return result;
}

std::int64_t TSynchronizedStreamCaller::GetSize() {
  std::int64_t result = 0;
  CallOnGUIThread([&] { result = Target().Size(); });
  return result;
}

void TSynchronizedStreamCaller::SetSize(std::int64_t size) {
  CallOnGUIThread([&] { Target().SetSize(size); });
}

void TSynchronizedStreamCaller::FreeTarget() {
  CallOnGUIThread([&] { target_.reset(); });
}

// ---- TSynchronizedStreamWrapper ----

TSynchronizedStreamWrapper::~TSynchronizedStreamWrapper() {
  try {
    caller_.FreeTarget();
  } catch (...) {
    // The GUI thread could not be reached; the caller frees the target here instead.
  }
}

std::unique_ptr<TStream> MakeServedStream(IStream* providerStream) {
  return std::make_unique<TSynchronizedStreamWrapper>(
      std::make_unique<TStreamBasedOnIStream>(providerStream));
}

}  // namespace pageturn
