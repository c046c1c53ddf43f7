// What the content manager holds of a TFlashPlayerControl instead of the control itself.
#pragma once

#include <string>
#include <utility>

#include "core/win32.h"
#include "flashhost/flash_player_control.h"

namespace pageturn {

// The content manager and its fake-handle records keep this object, not the control, and call
// it from binding threads, possibly after the control is gone. The control cuts it loose first
// thing on destruction; from then on every call answers as if no handler were assigned. A handler
// is copied under the lock and run outside it, so a handler that waits for the GUI thread never
// blocks the control's destruction, and the destroyed control itself is never reached.
class TFlashPlayerControlLink final : public IFlashPlayerControlBase {
 public:
  explicit TFlashPlayerControlLink(TFlashPlayerControl* control) : control_(control) {}

  void CutLoose() noexcept {
    TLock lock(lock_);
    control_ = nullptr;
  }

  // A part of the control, with a count of its own: every other interface, IUnknown too, is
  // the control's while the control lives, so the control has one identity from each of them.
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** object) override {
    if (!object) return E_POINTER;
    *object = nullptr;
    if (iid != IID_IFlashPlayerControlBase) {
      TLock lock(lock_);
      if (control_) return control_->QueryInterface(iid, object);
      if (iid != IID_IUnknown) return E_NOINTERFACE;
    }
    *object = static_cast<IFlashPlayerControlBase*>(this);
    AddRef();
    return S_OK;
  }
  ULONG STDMETHODCALLTYPE AddRef() override {
    return static_cast<ULONG>(InterlockedIncrement(&refs_));
  }
  ULONG STDMETHODCALLTYPE Release() override {
    const LONG n = InterlockedDecrement(&refs_);
    if (n == 0) delete this;
    return static_cast<ULONG>(n);
  }

  // The movie setters run on the GUI thread, where the control is also destroyed.
  HRESULT STDMETHODCALLTYPE SetMovieURL(LPCWSTR url) override {
    return ComBoundary([&] {
      if (TFlashPlayerControl* control = Control()) control->SetMovie(url ? url : L"");
      return S_OK;
    });
  }
  HRESULT STDMETHODCALLTYPE LoadMovieURL(int layer, LPCWSTR url) override {
    return ComBoundary([&] {
      if (TFlashPlayerControl* control = Control()) control->LoadMovie(layer, url ? url : L"");
      return S_OK;
    });
  }
  // The control's Base as the control last read it on the GUI thread; binding threads ask for
  // it, and must not call into the runtime object themselves.
  void KeepBase(std::wstring base) {
    TLock lock(lock_);
    base_ = std::move(base);
  }
  HRESULT STDMETHODCALLTYPE GetBaseURL(BSTR* baseURL) override {
    if (!baseURL) return E_POINTER;
    *baseURL = nullptr;
    return ComBoundary([&] {
      std::wstring base;
      {
        TLock lock(lock_);
        if (control_) base = base_;
      }
      if (!base.empty()) {
        *baseURL = ::SysAllocStringLen(base.data(), static_cast<UINT>(base.size()));
        if (!*baseURL) return E_OUTOFMEMORY;
      }
      return S_OK;
    });
  }

  // Handler failures are not caught: they reach the content manager, which contains them.
  HRESULT STDMETHODCALLTYPE FireLoadExternalResource(LPCWSTR url, TStream* stream) override {
    TWinControl* sender = nullptr;
    auto handler = Handler(&TFlashPlayerControl::OnLoadExternalResource, sender);
    if (!handler) return S_FALSE;
    handler(sender, url ? url : L"", stream);
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE FireLoadExternalResourceEx(LPCWSTR url, TStream* stream,
                                                       bool* handled) override {
    TWinControl* sender = nullptr;
    auto handler = Handler(&TFlashPlayerControl::OnLoadExternalResourceEx, sender);
    if (!handler || !handled) return S_FALSE;
    handler(sender, url ? url : L"", stream, *handled);
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE FireLoadExternalResourceAsync(LPCWSTR path, TStream** stream) override {
    TWinControl* sender = nullptr;
    auto handler = Handler(&TFlashPlayerControl::OnLoadExternalResourceAsync, sender);
    if (!handler || !stream) return S_FALSE;
    handler(sender, path ? path : L"", *stream);
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE FireUnloadExternalResourceAsync(TStream* stream) override {
    TWinControl* sender = nullptr;
    auto handler = Handler(&TFlashPlayerControl::OnUnloadExternalResourceAsync, sender);
    if (!handler) return S_FALSE;
    handler(sender, stream);
    return S_OK;
  }

 private:
  ~TFlashPlayerControlLink() = default;

  TFlashPlayerControl* Control() {
    TLock lock(lock_);
    return control_;
  }
  template <class Event>
  Event Handler(Event TFlashPlayerControl::*slot, TWinControl*& sender) {
    TLock lock(lock_);
    if (!control_) return Event();
    sender = control_;
    return control_->*slot;
  }

  LONG refs_ = 1;
  TCriticalSection lock_;
  TFlashPlayerControl* control_;
  std::wstring base_;
};

}  // namespace pageturn
