#include "content_test_support.h"

#include <cstdio>
#include <exception>

#include "content/content_manager.h"
#include "content/my_moniker.h"
#include "content/synchronized_stream.h"
#include "content/urlmon_bindings.h"
#include "core/text.h"

namespace pageturn::testing_support {

namespace {
::testing::Environment* const Com = ::testing::AddGlobalTestEnvironment(new ComEnvironment);
}  // namespace

std::string Narrow(const std::wstring& text) { return WideToUtf8(text); }

void BindUrlmon() {
  const HMODULE urlmon = ::LoadLibraryA("urlmon.dll");
  SystemCreateURLMoniker = reinterpret_cast<TCreateURLMonikerProc>(
      reinterpret_cast<void*>(::GetProcAddress(urlmon, "CreateURLMoniker")));
  SystemRegisterBindStatusCallback = reinterpret_cast<TRegisterBindStatusCallbackProc>(
      reinterpret_cast<void*>(::GetProcAddress(urlmon, "RegisterBindStatusCallback")));
}

// ---- TRecordingCallback ----

HRESULT TRecordingCallback::QueryInterface(REFIID iid, void** object) {
  if (iid == IID_IUnknown || iid == IID_IBindStatusCallback) {
    *object = static_cast<IBindStatusCallback*>(this);
  } else if (iid == IID_IHttpNegotiate && negotiate_) {
    *object = static_cast<IHttpNegotiate*>(this);
  } else {
    *object = nullptr;
    return E_NOINTERFACE;
  }
  AddRef();
  return S_OK;
}

void TRecordingCallback::Record(std::string call) {
  std::lock_guard<std::mutex> lock(mutex_);
  calls_.push_back(std::move(call));
}

HRESULT TRecordingCallback::OnStartBinding(DWORD reserved, IBinding* binding) {
  Record("OnStartBinding " + std::to_string(reserved) + (binding ? " binding" : " none"));
  return S_OK;
}

HRESULT TRecordingCallback::GetPriority(LONG* priority) {
  *priority = THREAD_PRIORITY_NORMAL;
  return S_OK;
}

HRESULT TRecordingCallback::OnProgress(ULONG, ULONG, ULONG, LPCWSTR) { return S_OK; }

HRESULT TRecordingCallback::OnStopBinding(HRESULT result, LPCWSTR error) {
  char text[64];
  std::snprintf(text, sizeof text, "OnStopBinding 0x%08lx%s", static_cast<unsigned long>(result),
                error ? " text" : "");
  Record(text);
  std::lock_guard<std::mutex> lock(mutex_);
  ++stops_;
  stopThread_ = ::GetCurrentThreadId();
  return S_OK;
}

HRESULT TRecordingCallback::GetBindInfo(DWORD* flags, BINDINFO* info) {
  // A synchronous bind, so that real monikers finish within BindToStorage, unless asked.
  *flags = BINDF_GETNEWESTVERSION | BINDF_NOWRITECACHE | (asynchronous ? BINDF_ASYNCHRONOUS : 0);
  const ULONG size = info->cbSize;
  ZeroMemory(info, size);
  info->cbSize = size;
  return S_OK;
}

HRESULT TRecordingCallback::OnDataAvailable(DWORD flags, DWORD size, FORMATETC* format,
                                            STGMEDIUM* medium) {
  std::string call = "OnData " + std::to_string(flags) + " " + std::to_string(size);
  if (!format || format->cfFormat != 0 || format->ptd || format->dwAspect != DVASPECT_CONTENT ||
      format->lindex != -1 || format->tymed != TYMED_ISTREAM)
    call += " bad-format";
  if (!medium || medium->tymed != TYMED_ISTREAM || !medium->pstm || medium->pUnkForRelease)
    call += " bad-medium";
  std::string bytes;
  if (medium && medium->tymed == TYMED_ISTREAM && medium->pstm) {
    // Real monikers report a running total; providers pass each piece from its start.
    char buffer[65536];
    ULONG got = 0;
    while (SUCCEEDED(medium->pstm->Read(buffer, sizeof buffer, &got)) && got > 0)
      bytes.append(buffer, got);
  }
  Record(call);
  std::lock_guard<std::mutex> lock(mutex_);
  data_ += bytes;
  dataThreads_.push_back(::GetCurrentThreadId());
  return dataResult;
}

HRESULT TRecordingCallback::OnResponse(DWORD code, LPCWSTR responseHeaders, LPCWSTR requestHeaders,
                                       LPWSTR* additional) {
  std::string call = "OnResponse " + std::to_string(code) + " " +
                     (responseHeaders ? Narrow(responseHeaders) : std::string("(null)"));
  if (requestHeaders) call += " +request";
  if (!additional || *additional) call += " bad-additional";
  Record(call);
  return S_OK;
}

std::vector<std::string> TRecordingCallback::Calls() {
  std::lock_guard<std::mutex> lock(mutex_);
  return calls_;
}
std::string TRecordingCallback::Data() {
  std::lock_guard<std::mutex> lock(mutex_);
  return data_;
}
int TRecordingCallback::StopCount() {
  std::lock_guard<std::mutex> lock(mutex_);
  return stops_;
}
std::vector<DWORD> TRecordingCallback::DataThreads() {
  std::lock_guard<std::mutex> lock(mutex_);
  return dataThreads_;
}
DWORD TRecordingCallback::StopThread() {
  std::lock_guard<std::mutex> lock(mutex_);
  return stopThread_;
}

// ---- TRecordingControl ----

HRESULT TRecordingControl::QueryInterface(REFIID iid, void** object) {
  if (iid == IID_IUnknown || iid == IID_IFlashPlayerControlBase) {
    *object = static_cast<IFlashPlayerControlBase*>(this);
    AddRef();
    return S_OK;
  }
  *object = nullptr;
  return E_NOINTERFACE;
}

void TRecordingControl::Record(std::string call) {
  std::lock_guard<std::mutex> lock(mutex_);
  calls_.push_back(std::move(call));
}

std::vector<std::string> TRecordingControl::Calls() {
  std::lock_guard<std::mutex> lock(mutex_);
  return calls_;
}

HRESULT TRecordingControl::SetMovieURL(LPCWSTR url) {
  Record("SetMovieURL " + Narrow(url));
  if (onSetMovieURL) onSetMovieURL(url);
  return S_OK;
}

HRESULT TRecordingControl::LoadMovieURL(int layer, LPCWSTR url) {
  Record("LoadMovieURL " + std::to_string(layer) + " " + Narrow(url));
  return S_OK;
}

HRESULT TRecordingControl::GetBaseURL(BSTR* baseURL) {
  *baseURL = base.empty() ? nullptr : ::SysAllocStringLen(base.data(), base.size());
  return S_OK;
}

HRESULT TRecordingControl::FireLoadExternalResource(LPCWSTR url, TStream* stream) {
  Record("Load " + Narrow(url));
  if (!onLoad) return S_FALSE;
  onLoad(url, stream);
  return S_OK;
}

HRESULT TRecordingControl::FireLoadExternalResourceEx(LPCWSTR url, TStream* stream,
                                                      bool* handled) {
  Record("LoadEx " + Narrow(url));
  if (!onLoadEx) return S_FALSE;
  onLoadEx(url, stream, *handled);
  return S_OK;
}

HRESULT TRecordingControl::FireLoadExternalResourceAsync(LPCWSTR path, TStream** stream) {
  Record("LoadAsync " + Narrow(path) + (*stream ? " (stream given!)" : ""));
  if (!onLoadAsync) return S_FALSE;
  onLoadAsync(path, *stream);
  return S_OK;
}

HRESULT TRecordingControl::FireUnloadExternalResourceAsync(TStream* stream) {
  Record("UnloadAsync");
  if (!onUnloadAsync) return S_FALSE;
  onUnloadAsync(stream);
  return S_OK;
}

// ---- pumping ----

namespace {

struct TWorker {
  const std::function<void()>* body;
  std::string failure;
};

DWORD WINAPI WorkerEntry(void* parameter) {
  auto* worker = static_cast<TWorker*>(parameter);
  ::CoInitializeEx(nullptr, COINIT_MULTITHREADED);
  try {
    (*worker->body)();
  } catch (const std::exception& e) {
    worker->failure = std::string("worker raised: ") + e.what();
  } catch (...) {
    worker->failure = "worker raised an unknown exception";
  }
  ::CoUninitialize();
  return 0;
}

void PumpPending() {
  MSG message;
  while (::PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
    ::TranslateMessage(&message);
    ::DispatchMessageW(&message);
  }
}

}  // namespace

void RunWorkerWhilePumping(const std::function<void()>& body, DWORD timeoutMs) {
  TWorker worker{&body, {}};
  HANDLE thread = ::CreateThread(nullptr, 0, &WorkerEntry, &worker, 0, nullptr);
  ASSERT_TRUE(thread != nullptr);
  const DWORD start = ::GetTickCount();
  for (;;) {
    const DWORD elapsed = ::GetTickCount() - start;
    if (elapsed >= timeoutMs) {
      ::TerminateThread(thread, 1);
      ::CloseHandle(thread);
      FAIL() << "worker did not finish within " << timeoutMs << " ms (deadlock?)";
    }
    const DWORD r =
        ::MsgWaitForMultipleObjects(1, &thread, FALSE, timeoutMs - elapsed, QS_ALLINPUT);
    if (r == WAIT_OBJECT_0) break;
    PumpPending();
  }
  PumpPending();
  ::CloseHandle(thread);
  EXPECT_EQ(worker.failure, "");
}

bool PumpUntil(const std::function<bool()>& done, DWORD timeoutMs) {
  const DWORD start = ::GetTickCount();
  while (!done()) {
    if (::GetTickCount() - start >= timeoutMs) return false;
    ::MsgWaitForMultipleObjects(0, nullptr, FALSE, 10, QS_ALLINPUT);
    PumpPending();
  }
  return true;
}

HRESULT Bind(const std::wstring& url, IBindStatusCallback* callback) {
  ComPtr<IBindCtx> context;
  EXPECT_EQ(::CreateBindCtx(0, &context), S_OK);
  ComPtr<IBindStatusCallback> previous;
  EXPECT_EQ(::RegisterBindStatusCallback(context.Get(), callback, &previous, 0), S_OK);
  ComPtr<IMoniker> moniker;
  EXPECT_EQ(CreateContentMoniker(nullptr, url.c_str(), &moniker), S_OK);
  if (!moniker) return E_UNEXPECTED;
  ComPtr<IStream> stream;
  return moniker->BindToStorage(context.Get(), nullptr, IID_IStream,
                                reinterpret_cast<void**>(stream.GetAddressOf()));
}

void ExpectNoLiveContentObjects() {
  EXPECT_EQ(TContentProvider::Live(), 0);
  EXPECT_EQ(TContentProviderStream::Live(), 0);
  EXPECT_EQ(TSynchronizedStreamWrapper::Live(), 0);
  EXPECT_EQ(TMyMoniker::Live(), 0);
  EXPECT_EQ(TMyBindStatusCallback::Live(), 0);
  EXPECT_EQ(TRecordingCallback::Live(), 0);
  EXPECT_EQ(TRecordingControl::Live(), 0);
}

}  // namespace pageturn::testing_support
