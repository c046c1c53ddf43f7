#include "url_fetch.h"

#include <urlmon.h>

#include <algorithm>

#include "com_support.h"

namespace standin {

DWORD FetchStallMs = kFetchStallMs;

namespace {

// The runtime's own bind-status callback. Free-threaded: the host's content layer may call it
// on its GUI thread while the fetching thread waits.
class BindCallback final : public RefCounted<IBindStatusCallback, IHttpNegotiate> {
 public:
  explicit BindCallback(std::function<void(size_t, size_t)> progress)
      : progress_(std::move(progress)), done_(CreateEventW(nullptr, TRUE, FALSE, nullptr)) {
    if (!done_) throw std::bad_alloc();
  }

  HANDLE done() const { return done_.get(); }

  // IUnknown
  STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override {
    if (!ppv) return E_POINTER;
    *ppv = nullptr;
    if (riid == IID_IUnknown || riid == IID_IBindStatusCallback) {
      *ppv = static_cast<IBindStatusCallback*>(this);
    } else if (riid == IID_IHttpNegotiate) {
      Log(L"QueryInterface(IHttpNegotiate)");
      *ppv = static_cast<IHttpNegotiate*>(this);
    } else {
      return E_NOINTERFACE;
    }
    AddRef();
    return S_OK;
  }

  // IBindStatusCallback
  STDMETHODIMP OnStartBinding(DWORD, IBinding* binding) override {
    Log(L"OnStartBinding");
    Lock lock(cs_);
    binding_ = binding;  // may be null: the host's content layer passes none
    return S_OK;
  }
  STDMETHODIMP GetPriority(LONG* priority) override {
    if (!priority) return E_POINTER;
    *priority = THREAD_PRIORITY_NORMAL;
    return S_OK;
  }
  STDMETHODIMP OnLowResource(DWORD) override { return S_OK; }
  STDMETHODIMP OnProgress(ULONG, ULONG progressMax, ULONG statusCode, LPCWSTR) override {
    Log(L"OnProgress(" + std::to_wstring(statusCode) + L")");
    Lock lock(cs_);
    if (progressMax > 0 && expected_ == 0) expected_ = progressMax;
    return S_OK;
  }
  STDMETHODIMP OnStopBinding(HRESULT hr, LPCWSTR) override {
    return Guard([&] {
      Log(L"OnStopBinding(" + Hex(hr) + L")");
      Lock lock(cs_);
      stopped_ = true;
      stopResult_ = hr;
      binding_.Reset();
      SetEvent(done_.get());
      return S_OK;
    });
  }
  STDMETHODIMP GetBindInfo(DWORD* flags, BINDINFO* info) override {
    Log(L"GetBindInfo");
    if (!flags || !info) return E_POINTER;
    *flags = BINDF_ASYNCHRONOUS | BINDF_ASYNCSTORAGE | BINDF_PULLDATA | BINDF_GETNEWESTVERSION;
    ULONG size = info->cbSize;
    ZeroMemory(info, size);
    info->cbSize = size;
    info->dwBindVerb = BINDVERB_GET;
    return S_OK;
  }
  STDMETHODIMP OnDataAvailable(DWORD flags, DWORD size, FORMATETC*, STGMEDIUM* medium) override {
    return Guard([&] {
      Log(L"OnDataAvailable(" + std::to_wstring(flags) + L":" + std::to_wstring(size) + L")");
      lastData_ = GetTickCount();
      if (!medium || medium->tymed != TYMED_ISTREAM || !medium->pstm) return S_OK;
      // Pull what the stream holds now; a real moniker's stream says E_PENDING for "more later",
      // the host's streams say S_FALSE at their end.
      size_t total, expected;
      {
        Lock lock(cs_);
        ReadAvailable(medium->pstm);
        total = bytes_.size();
        if (expected_ == 0 && total >= 8 && bytes_[0] == 'F' && bytes_[1] == 'W' &&
            bytes_[2] == 'S')
          expected_ = size_t(bytes_[4]) | size_t(bytes_[5]) << 8 | size_t(bytes_[6]) << 16 |
                      size_t(bytes_[7]) << 24;
        expected = expected_;
      }
      if (progress_) progress_(total, expected);
      return S_OK;
    });
  }
  STDMETHODIMP OnObjectAvailable(REFIID, IUnknown*) override { return S_OK; }

  // IHttpNegotiate
  STDMETHODIMP BeginningTransaction(LPCWSTR, LPCWSTR, DWORD, LPWSTR* additional) override {
    if (additional) *additional = nullptr;
    return S_OK;
  }
  STDMETHODIMP OnResponse(DWORD code, LPCWSTR headers, LPCWSTR, LPWSTR* additional) override {
    return Guard([&] {
      if (additional) *additional = nullptr;
      Log(L"OnResponse(" + std::to_wstring(code) + L")");
      Lock lock(cs_);
      responseCode_ = long(code);
      header_ = headers ? headers : L"";
      size_t at = header_.find(L"Content-Length:");
      if (at != std::wstring::npos) {
        long length = wcstol(header_.c_str() + at + 15, nullptr, 10);
        if (length > 0) expected_ = size_t(length);
      }
      return S_OK;
    });
  }

  void Abort() {
    ComPtr<IBinding> binding;
    {
      Lock lock(cs_);
      binding = binding_;
    }
    if (binding) binding->Abort();
  }

  // Called by the fetching thread once the bind is over; the callback may still be referenced.
  void TakeResult(FetchResult& out) {
    Lock lock(cs_);
    out.stopped = stopped_;
    out.stopResult = stopResult_;
    out.responseCode = responseCode_;
    out.header = header_;
    out.sequence = sequence_;
    out.bytes = std::move(bytes_);
    out.tooLarge = tooLarge_;
  }

  // Since the bind started or its last data came.
  DWORD MsSinceData() const { return GetTickCount() - lastData_; }

  // Data a synchronous bind handed back directly.
  void AppendFromStream(IStream* stream) {
    Lock lock(cs_);
    ReadAvailable(stream);
  }

 private:
  ~BindCallback() override = default;
  // Appends what the stream holds now; called with the lock held.
  void ReadAvailable(IStream* stream) {
    uint8_t buffer[8192];
    while (!tooLarge_) {
      ULONG read = 0;
      HRESULT hr = stream->Read(buffer, sizeof buffer, &read);
      if (read > kMaxFetchBytes - bytes_.size()) {
        // The fetching thread aborts the bind; nothing more is kept.
        tooLarge_ = true;
        SetEvent(done_.get());
        break;
      }
      if (read > 0) bytes_.insert(bytes_.end(), buffer, buffer + read);
      if (hr != S_OK || read == 0) break;
    }
  }
  void Log(const std::wstring& entry) {
    Lock lock(cs_);
    sequence_.Add(entry);
  }

  std::function<void(size_t, size_t)> progress_;
  size_t expected_ = 0;
  ScopedHandle done_;
  CriticalSection cs_;
  ComPtr<IBinding> binding_;
  bool stopped_ = false;
  HRESULT stopResult_ = E_FAIL;
  long responseCode_ = 0;
  std::wstring header_;
  BoundedLog sequence_;  // a source may deliver its data in any number of pieces
  std::vector<uint8_t> bytes_;
  bool tooLarge_ = false;
  volatile DWORD lastData_ = GetTickCount();
};

}  // namespace

FetchResult FetchUrl(const std::wstring& url, HANDLE cancel, DWORD timeoutMs,
                     const std::function<void(size_t, size_t)>& progress) {
  FetchResult result;
  ComPtr<BindCallback> callback = Adopt(new BindCallback(progress));

  ComPtr<IMoniker> moniker;
  HRESULT hr = CreateURLMoniker(nullptr, url.c_str(), &moniker);
  if (FAILED(hr) || !moniker) {
    result.bindResult = FAILED(hr) ? hr : E_FAIL;
    return result;
  }
  ComPtr<IBindCtx> context;
  hr = CreateBindCtx(0, &context);
  if (FAILED(hr)) {
    result.bindResult = hr;
    return result;
  }
  ComPtr<IBindStatusCallback> previous;
  hr = RegisterBindStatusCallback(context.Get(), callback.Get(), &previous, 0);
  if (FAILED(hr)) {
    result.bindResult = hr;
    return result;
  }

  ComPtr<IStream> stream;
  hr = moniker->BindToStorage(context.Get(), nullptr, IID_IStream,
                              reinterpret_cast<void**>(stream.GetAddressOf()));
  result.bindResult = hr;
  if (hr == S_OK && stream) {
    // Bound synchronously: what the notifications did not already deliver is in the stream.
    callback->AppendFromStream(stream.Get());
    WaitPumping(callback->done(), 0);
    callback->TakeResult(result);
    if (!result.stopped) {
      result.stopped = true;
      result.stopResult = S_OK;
    }
  } else if (SUCCEEDED(hr)) {
    // Until stopped, cancelled, timed out, stalled or failed.
    HANDLE handles[2] = {callback->done(), cancel};
    const DWORD start = GetTickCount();
    bool stalled = false;
    for (;;) {
      const DWORD elapsed = GetTickCount() - start;
      if (timeoutMs != INFINITE && elapsed >= timeoutMs) break;
      const DWORD quiet = callback->MsSinceData();
      if (quiet >= FetchStallMs) {
        stalled = true;
        break;
      }
      DWORD wait = FetchStallMs - quiet;
      if (timeoutMs != INFINITE) wait = std::min(wait, timeoutMs - elapsed);
      if (WaitPumpingAny(handles, cancel ? 2 : 1, wait) != WAIT_TIMEOUT) break;
    }
    callback->TakeResult(result);
    if (stalled && !result.stopped) {
      result.stalled = true;
      result.stopResult = HRESULT_FROM_WIN32(ERROR_TIMEOUT);
    }
    if (!result.stopped || result.tooLarge) callback->Abort();
  } else {
    callback->TakeResult(result);
  }
  RevokeBindStatusCallback(context.Get(), callback.Get());
  return result;
}

}  // namespace standin
