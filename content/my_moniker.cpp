#include "content/my_moniker.h"

#include "content/content_manager.h"
#include "content/urlmon_bindings.h"

namespace pageturn {

HRESULT CreateContentMoniker(IMoniker* context, LPCWSTR url, IMoniker** result) noexcept {
  return ComBoundary([&] {
    if (!result) return E_POINTER;
    *result = nullptr;
    *result = new TMyMoniker(context, url);  // its one reference is the caller's
    return S_OK;
  });
}

// ---- TMyMoniker ----

TMyMoniker::TMyMoniker(IMoniker* context, LPCWSTR url)
    : url_(url ? url : L""), contextMoniker_(context) {
  // The real system moniker; without one only BindToStorage works.
  if (FAILED(BoundCreateURLMoniker(context, url, &innerMoniker_))) innerMoniker_.Reset();
}

HRESULT TMyMoniker::QueryInterface(REFIID iid, void** object) {
  if (!object) return E_POINTER;
  if (iid == IID_IUnknown || iid == IID_IMoniker) {
    *object = static_cast<IMoniker*>(this);
  } else if (iid == IID_IBinding) {
    *object = static_cast<IBinding*>(this);
  } else {
    *object = nullptr;
    return E_NOINTERFACE;
  }
  AddRef();
  return S_OK;
}

ULONG TMyMoniker::AddRef() { return AddRefCount(); }
ULONG TMyMoniker::Release() { return ReleaseCount(); }

// A forwarded operation: the same call on the inner moniker, or E_FAIL without one.
#define FORWARD_TO_INNER(call) return innerMoniker_ ? innerMoniker_->call : E_FAIL

HRESULT TMyMoniker::GetClassID(CLSID* classId) { FORWARD_TO_INNER(GetClassID(classId)); }
HRESULT TMyMoniker::IsDirty() { FORWARD_TO_INNER(IsDirty()); }
HRESULT TMyMoniker::Load(IStream* stream) { FORWARD_TO_INNER(Load(stream)); }
HRESULT TMyMoniker::Save(IStream* stream, BOOL clearDirty) {
  FORWARD_TO_INNER(Save(stream, clearDirty));
}
HRESULT TMyMoniker::GetSizeMax(ULARGE_INTEGER* size) { FORWARD_TO_INNER(GetSizeMax(size)); }

HRESULT TMyMoniker::BindToObject(IBindCtx* bindContext, IMoniker* toLeft, REFIID iid,
                                 void** object) {
  FORWARD_TO_INNER(BindToObject(bindContext, toLeft, iid, object));
}

HRESULT TMyMoniker::BindToStorage(IBindCtx* bindContext, IMoniker* toLeft, REFIID iid,
                                  void** object) {
  return ComBoundary(
      [&] {
        if (!ContentManager) FORWARD_TO_INNER(BindToStorage(bindContext, toLeft, iid, object));
        // Our callback takes the runtime's place in the bind context and passes everything on
        // to it; a real moniker bound as a fallback with this context reports to it as well.
        ComPtr<TMyBindStatusCallback> callback = Adopt(new TMyBindStatusCallback);
        ComPtr<IBindStatusCallback> previous;
        BoundRegisterBindStatusCallback(bindContext, callback.Get(), &previous, 0);
        callback->SetInnerCallback(previous.Get());
        return ContentManager->BindContentToStorage(bindContext, toLeft, iid,
                                                    contextMoniker_.Get(), callback.Get(),
                                                    url_.c_str(), object);
      },
      MK_E_NOSTORAGE);
}

HRESULT TMyMoniker::Reduce(IBindCtx* bindContext, DWORD howFar, IMoniker** toLeft,
                           IMoniker** reduced) {
  if (reduced) *reduced = nullptr;
  FORWARD_TO_INNER(Reduce(bindContext, howFar, toLeft, reduced));
}

HRESULT TMyMoniker::ComposeWith(IMoniker* right, BOOL onlyIfNotGeneric, IMoniker** composite) {
  if (composite) *composite = nullptr;
  FORWARD_TO_INNER(ComposeWith(right, onlyIfNotGeneric, composite));
}

HRESULT TMyMoniker::Enum(BOOL forward, IEnumMoniker** enumerator) {
  if (enumerator) *enumerator = nullptr;
  FORWARD_TO_INNER(Enum(forward, enumerator));
}

HRESULT TMyMoniker::IsEqual(IMoniker* other) { FORWARD_TO_INNER(IsEqual(other)); }
HRESULT TMyMoniker::Hash(DWORD* hash) { FORWARD_TO_INNER(Hash(hash)); }

HRESULT TMyMoniker::IsRunning(IBindCtx* bindContext, IMoniker* toLeft, IMoniker* newlyRunning) {
  FORWARD_TO_INNER(IsRunning(bindContext, toLeft, newlyRunning));
}

HRESULT TMyMoniker::GetTimeOfLastChange(IBindCtx* bindContext, IMoniker* toLeft, FILETIME* time) {
  FORWARD_TO_INNER(GetTimeOfLastChange(bindContext, toLeft, time));
}

HRESULT TMyMoniker::Inverse(IMoniker** inverse) {
  if (inverse) *inverse = nullptr;
  FORWARD_TO_INNER(Inverse(inverse));
}

HRESULT TMyMoniker::CommonPrefixWith(IMoniker* other, IMoniker** prefix) {
  if (prefix) *prefix = nullptr;
  FORWARD_TO_INNER(CommonPrefixWith(other, prefix));
}

HRESULT TMyMoniker::RelativePathTo(IMoniker* other, IMoniker** relativePath) {
  if (relativePath) *relativePath = nullptr;
  FORWARD_TO_INNER(RelativePathTo(other, relativePath));
}

HRESULT TMyMoniker::GetDisplayName(IBindCtx* bindContext, IMoniker* toLeft,
                                   LPOLESTR* displayName) {
  FORWARD_TO_INNER(GetDisplayName(bindContext, toLeft, displayName));
}

HRESULT TMyMoniker::ParseDisplayName(IBindCtx* bindContext, IMoniker* toLeft,
                                     LPOLESTR displayName, ULONG* eaten, IMoniker** result) {
  if (result) *result = nullptr;
  FORWARD_TO_INNER(ParseDisplayName(bindContext, toLeft, displayName, eaten, result));
}

HRESULT TMyMoniker::IsSystemMoniker(DWORD* kind) { FORWARD_TO_INNER(IsSystemMoniker(kind)); }

#undef FORWARD_TO_INNER

HRESULT TMyMoniker::Abort() { return E_FAIL; }
HRESULT TMyMoniker::Suspend() { return E_FAIL; }
HRESULT TMyMoniker::Resume() { return E_FAIL; }
HRESULT TMyMoniker::SetPriority(LONG) { return E_FAIL; }
HRESULT TMyMoniker::GetPriority(LONG*) { return E_FAIL; }
HRESULT TMyMoniker::GetBindResult(CLSID*, DWORD*, LPOLESTR*, DWORD*) { return E_FAIL; }

// ---- TMyBindStatusCallback ----

HRESULT TMyBindStatusCallback::QueryInterface(REFIID iid, void** object) {
  if (!object) return E_POINTER;
  if (iid == IID_IUnknown || iid == IID_IBindStatusCallback) {
    *object = static_cast<IBindStatusCallback*>(this);
    AddRef();
    return S_OK;
  }
  // IHttpNegotiate and the like: the runtime's callback answers for us.
  if (inner_) return inner_->QueryInterface(iid, object);
  *object = nullptr;
  return E_NOINTERFACE;
}

ULONG TMyBindStatusCallback::AddRef() { return AddRefCount(); }
ULONG TMyBindStatusCallback::Release() { return ReleaseCount(); }

#define FORWARD_TO_INNER(call) return inner_ ? inner_->call : E_NOTIMPL

HRESULT TMyBindStatusCallback::OnStartBinding(DWORD reserved, IBinding* binding) {
  ComPtr<IBinding> held(binding);  // kept alive across the call
  FORWARD_TO_INNER(OnStartBinding(reserved, binding));
}
HRESULT TMyBindStatusCallback::GetPriority(LONG* priority) {
  FORWARD_TO_INNER(GetPriority(priority));
}
HRESULT TMyBindStatusCallback::OnLowResource(DWORD reserved) {
  FORWARD_TO_INNER(OnLowResource(reserved));
}
HRESULT TMyBindStatusCallback::OnProgress(ULONG progress, ULONG progressMax, ULONG statusCode,
                                          LPCWSTR statusText) {
  FORWARD_TO_INNER(OnProgress(progress, progressMax, statusCode, statusText));
}
HRESULT TMyBindStatusCallback::OnStopBinding(HRESULT result, LPCWSTR error) {
  FORWARD_TO_INNER(OnStopBinding(result, error));
}
HRESULT TMyBindStatusCallback::GetBindInfo(DWORD* flags, BINDINFO* info) {
  FORWARD_TO_INNER(GetBindInfo(flags, info));
}
HRESULT TMyBindStatusCallback::OnDataAvailable(DWORD flags, DWORD size, FORMATETC* format,
                                               STGMEDIUM* medium) {
  FORWARD_TO_INNER(OnDataAvailable(flags, size, format, medium));
}
HRESULT TMyBindStatusCallback::OnObjectAvailable(REFIID iid, IUnknown* object) {
  ComPtr<IUnknown> held(object);
  FORWARD_TO_INNER(OnObjectAvailable(iid, object));
}

#undef FORWARD_TO_INNER

}  // namespace pageturn
