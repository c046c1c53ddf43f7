// Test doubles for the content tests: a bind-status callback and a control that record what is
// done to them, and a GUI-thread pump that runs a worker to its end.
#pragma once

#include <windows.h>
#include <objbase.h>
#include <urlmon.h>

#include <gtest/gtest.h>

#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "content/flash_player_control_base.h"
#include "content/live_count.h"
#include "core/com.h"
#include "core/stream.h"

namespace pageturn::testing_support {

std::string Narrow(const std::wstring& text);

// The runtime's side of a bind: records every call in order ("OnStartBinding", "OnData 5 30",
// ...) with the bytes delivered, and checks the FORMATETC/STGMEDIUM of every data notification.
class TRecordingCallback final : public IBindStatusCallback,
                                 public IHttpNegotiate,
                                 public TLiveCount<TRecordingCallback> {
 public:
  static ComPtr<TRecordingCallback> Create(bool withHttpNegotiate) {
    return Adopt(new TRecordingCallback(withHttpNegotiate));
  }

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** object) override;
  ULONG STDMETHODCALLTYPE AddRef() override { return InterlockedIncrement(&refs_); }
  ULONG STDMETHODCALLTYPE Release() override {
    const LONG n = InterlockedDecrement(&refs_);
    if (n == 0) delete this;
    return n;
  }

  HRESULT STDMETHODCALLTYPE OnStartBinding(DWORD reserved, IBinding* binding) override;
  HRESULT STDMETHODCALLTYPE GetPriority(LONG* priority) override;
  HRESULT STDMETHODCALLTYPE OnLowResource(DWORD) override { return S_OK; }
  HRESULT STDMETHODCALLTYPE OnProgress(ULONG, ULONG, ULONG statusCode, LPCWSTR) override;
  HRESULT STDMETHODCALLTYPE OnStopBinding(HRESULT result, LPCWSTR error) override;
  HRESULT STDMETHODCALLTYPE GetBindInfo(DWORD* flags, BINDINFO* info) override;
  HRESULT STDMETHODCALLTYPE OnDataAvailable(DWORD flags, DWORD size, FORMATETC* format,
                                            STGMEDIUM* medium) override;
  HRESULT STDMETHODCALLTYPE OnObjectAvailable(REFIID, IUnknown*) override { return S_OK; }

  HRESULT STDMETHODCALLTYPE BeginningTransaction(LPCWSTR, LPCWSTR, DWORD, LPWSTR*) override {
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE OnResponse(DWORD code, LPCWSTR responseHeaders, LPCWSTR requestHeaders,
                                       LPWSTR* additional) override;

  // The calls so far, without OnProgress and the bind-info queries of real monikers.
  std::vector<std::string> Calls();
  std::string Data();
  int StopCount();
  std::vector<DWORD> DataThreads();
  DWORD StopThread();
  HRESULT dataResult = S_OK;  // what OnDataAvailable answers
  bool asynchronous = false;  // asks real monikers for an asynchronous bind

 private:
  explicit TRecordingCallback(bool withHttpNegotiate) : negotiate_(withHttpNegotiate) {}
  ~TRecordingCallback() = default;
  void Record(std::string call);

  LONG refs_ = 1;
  bool negotiate_;
  std::mutex mutex_;
  std::vector<std::string> calls_;
  std::string data_;
  int stops_ = 0;
  std::vector<DWORD> dataThreads_;
  DWORD stopThread_ = 0;
};

// A host control as the content manager sees it. Each event runs its handler when one is set
// (S_OK), else answers S_FALSE; every call is recorded ("Ex files/a.swf", "SetMovieURL ...").
class TRecordingControl final : public IFlashPlayerControlBase,
                                public TLiveCount<TRecordingControl> {
 public:
  static ComPtr<TRecordingControl> Create() {
    return Adopt(new TRecordingControl);
  }

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** object) override;
  ULONG STDMETHODCALLTYPE AddRef() override { return InterlockedIncrement(&refs_); }
  ULONG STDMETHODCALLTYPE Release() override {
    const LONG n = InterlockedDecrement(&refs_);
    if (n == 0) delete this;
    return n;
  }

  HRESULT STDMETHODCALLTYPE SetMovieURL(LPCWSTR url) override;
  HRESULT STDMETHODCALLTYPE LoadMovieURL(int layer, LPCWSTR url) override;
  HRESULT STDMETHODCALLTYPE GetBaseURL(BSTR* baseURL) override;
  HRESULT STDMETHODCALLTYPE FireLoadExternalResource(LPCWSTR url, TStream* stream) override;
  HRESULT STDMETHODCALLTYPE FireLoadExternalResourceEx(LPCWSTR url, TStream* stream,
                                                       bool* handled) override;
  HRESULT STDMETHODCALLTYPE FireLoadExternalResourceAsync(LPCWSTR path, TStream** stream) override;
  HRESULT STDMETHODCALLTYPE FireUnloadExternalResourceAsync(TStream* stream) override;

  std::vector<std::string> Calls();

  std::wstring base;
  std::function<void(const std::wstring& url, TStream* stream)> onLoad;
  std::function<void(const std::wstring& url, TStream* stream, bool& handled)> onLoadEx;
  std::function<void(const std::wstring& path, TStream*& stream)> onLoadAsync;
  std::function<void(TStream* stream)> onUnloadAsync;
  std::function<void(const std::wstring& url)> onSetMovieURL;

 private:
  TRecordingControl() = default;
  ~TRecordingControl() = default;
  void Record(std::string call);

  LONG refs_ = 1;
  std::mutex mutex_;
  std::vector<std::string> calls_;
};

// Runs `body` on a new thread (COM initialised there) while this thread pumps its messages;
// fails the test if the worker does not end within `timeoutMs`. Exceptions of the body are
// reported as failures.
void RunWorkerWhilePumping(const std::function<void()>& body, DWORD timeoutMs = 20000);

// A bind as the runtime makes it: its own callback registered in a real bind context, a moniker
// from CreateContentMoniker (what the intercepted CreateURLMoniker returns), BindToStorage.
HRESULT Bind(const std::wstring& url, IBindStatusCallback* callback);

// Every object of the content layer and of the recording doubles is gone.
void ExpectNoLiveContentObjects();

// Pumps this thread's messages until `done` holds or the time is up; true when done.
bool PumpUntil(const std::function<bool()>& done, DWORD timeoutMs = 10000);

// COM on the test's main thread, once for the whole binary.
// Binds urlmon by name, as the control unit's start-up does (the content tests start none).
void BindUrlmon();

class ComEnvironment : public ::testing::Environment {
 public:
  void SetUp() override {
    ASSERT_TRUE(SUCCEEDED(::OleInitialize(nullptr)));
    BindUrlmon();
  }
  void TearDown() override { ::OleUninitialize(); }
};

}  // namespace pageturn::testing_support
