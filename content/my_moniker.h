// The URL monikers the runtime creates: each wraps a real system URL moniker and forwards all to
// it but BindToStorage, which the content manager serves through a bind-status callback that
// passes everything on to the callback the runtime registered.
#pragma once

#ifndef _WIN32
#error "content/my_moniker.h is for the Windows build only"
#endif

#include <windows.h>
#include <objbase.h>
#include <urlmon.h>

#include <string>

#include "content/live_count.h"
#include "core/com.h"

namespace pageturn {

// The shape of urlmon's CreateURLMoniker: a TMyMoniker for every URL, S_OK. Never throws.
HRESULT CreateContentMoniker(IMoniker* context, LPCWSTR url, IMoniker** result) noexcept;

class TMyMoniker final : public IMoniker,
                         public IBinding,
                         private TComRefCount,
                         public TLiveCount<TMyMoniker> {
 public:
  TMyMoniker(IMoniker* context, LPCWSTR url);

  // IUnknown (on the IMoniker table)
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** object) override;
  ULONG STDMETHODCALLTYPE AddRef() override;
  ULONG STDMETHODCALLTYPE Release() override;
  // IPersist, IPersistStream
  HRESULT STDMETHODCALLTYPE GetClassID(CLSID* classId) override;
  HRESULT STDMETHODCALLTYPE IsDirty() override;
  HRESULT STDMETHODCALLTYPE Load(IStream* stream) override;
  HRESULT STDMETHODCALLTYPE Save(IStream* stream, BOOL clearDirty) override;
  HRESULT STDMETHODCALLTYPE GetSizeMax(ULARGE_INTEGER* size) override;
  // IMoniker
  HRESULT STDMETHODCALLTYPE BindToObject(IBindCtx* bindContext, IMoniker* toLeft, REFIID iid,
                                         void** object) override;
  HRESULT STDMETHODCALLTYPE BindToStorage(IBindCtx* bindContext, IMoniker* toLeft, REFIID iid,
                                          void** object) override;
  HRESULT STDMETHODCALLTYPE Reduce(IBindCtx* bindContext, DWORD howFar, IMoniker** toLeft,
                                   IMoniker** reduced) override;
  HRESULT STDMETHODCALLTYPE ComposeWith(IMoniker* right, BOOL onlyIfNotGeneric,
                                        IMoniker** composite) override;
  HRESULT STDMETHODCALLTYPE Enum(BOOL forward, IEnumMoniker** enumerator) override;
  HRESULT STDMETHODCALLTYPE IsEqual(IMoniker* other) override;
  HRESULT STDMETHODCALLTYPE Hash(DWORD* hash) override;
  HRESULT STDMETHODCALLTYPE IsRunning(IBindCtx* bindContext, IMoniker* toLeft,
                                      IMoniker* newlyRunning) override;
  HRESULT STDMETHODCALLTYPE GetTimeOfLastChange(IBindCtx* bindContext, IMoniker* toLeft,
                                                FILETIME* time) override;
  HRESULT STDMETHODCALLTYPE Inverse(IMoniker** inverse) override;
  HRESULT STDMETHODCALLTYPE CommonPrefixWith(IMoniker* other, IMoniker** prefix) override;
  HRESULT STDMETHODCALLTYPE RelativePathTo(IMoniker* other, IMoniker** relativePath) override;
  HRESULT STDMETHODCALLTYPE GetDisplayName(IBindCtx* bindContext, IMoniker* toLeft,
                                           LPOLESTR* displayName) override;
  HRESULT STDMETHODCALLTYPE ParseDisplayName(IBindCtx* bindContext, IMoniker* toLeft,
                                             LPOLESTR displayName, ULONG* eaten,
                                             IMoniker** result) override;
  HRESULT STDMETHODCALLTYPE IsSystemMoniker(DWORD* kind) override;
  // IBinding: the moniker is no binding of its own; every operation fails.
  HRESULT STDMETHODCALLTYPE Abort() override;
  HRESULT STDMETHODCALLTYPE Suspend() override;
  HRESULT STDMETHODCALLTYPE Resume() override;
  HRESULT STDMETHODCALLTYPE SetPriority(LONG priority) override;
  HRESULT STDMETHODCALLTYPE GetPriority(LONG* priority) override;
  HRESULT STDMETHODCALLTYPE GetBindResult(CLSID* protocol, DWORD* result, LPOLESTR* text,
                                          DWORD* reserved) override;

  const std::wstring& URL() const { return url_; }

 private:
  ~TMyMoniker() override = default;

  std::wstring url_;
  ComPtr<IMoniker> contextMoniker_;
  ComPtr<IMoniker> innerMoniker_;  // none when the system could not make one
};

// Forwards every notification to the callback the runtime had registered in the bind context
// (the inner callback); interfaces it lacks itself (IHttpNegotiate) are asked of the inner one.
class TMyBindStatusCallback final : public IBindStatusCallback,
                                    private TComRefCount,
                                    public TLiveCount<TMyBindStatusCallback> {
 public:
  TMyBindStatusCallback() = default;
  void SetInnerCallback(IBindStatusCallback* inner) { inner_ = inner; }

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** object) override;
  ULONG STDMETHODCALLTYPE AddRef() override;
  ULONG STDMETHODCALLTYPE Release() override;

  HRESULT STDMETHODCALLTYPE OnStartBinding(DWORD reserved, IBinding* binding) override;
  HRESULT STDMETHODCALLTYPE GetPriority(LONG* priority) override;
  HRESULT STDMETHODCALLTYPE OnLowResource(DWORD reserved) override;
  HRESULT STDMETHODCALLTYPE OnProgress(ULONG progress, ULONG progressMax, ULONG statusCode,
                                       LPCWSTR statusText) override;
  HRESULT STDMETHODCALLTYPE OnStopBinding(HRESULT result, LPCWSTR error) override;
  HRESULT STDMETHODCALLTYPE GetBindInfo(DWORD* flags, BINDINFO* info) override;
  HRESULT STDMETHODCALLTYPE OnDataAvailable(DWORD flags, DWORD size, FORMATETC* format,
                                            STGMEDIUM* medium) override;
  HRESULT STDMETHODCALLTYPE OnObjectAvailable(REFIID iid, IUnknown* object) override;

 private:
  ~TMyBindStatusCallback() override = default;
  ComPtr<IBindStatusCallback> inner_;
};

}  // namespace pageturn
