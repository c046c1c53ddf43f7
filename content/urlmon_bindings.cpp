#include "content/urlmon_bindings.h"

namespace pageturn {

TCreateURLMonikerProc SystemCreateURLMoniker = nullptr;
TRegisterBindStatusCallbackProc SystemRegisterBindStatusCallback = nullptr;

HRESULT BoundCreateURLMoniker(IMoniker* context, LPCWSTR url, IMoniker** result) {
  if (SystemCreateURLMoniker == nullptr) {
    if (result) *result = nullptr;
    return E_FAIL;
  }
  return SystemCreateURLMoniker(context, url, result);
}

HRESULT BoundRegisterBindStatusCallback(IBindCtx* context, IBindStatusCallback* callback,
                                        IBindStatusCallback** previous, DWORD reserved) {
  if (SystemRegisterBindStatusCallback == nullptr) {
    if (previous) *previous = nullptr;
    return E_FAIL;
  }
  return SystemRegisterBindStatusCallback(context, callback, previous, reserved);
}

}  // namespace pageturn
