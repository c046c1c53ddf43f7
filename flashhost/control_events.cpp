#include <ole2.h>
#include <olectl.h>

#include <exception>

#include "core/com.h"
#include "core/text.h"
#include "flashhost/flash_player_control.h"

namespace pageturn {

namespace {

// An argument of an event by its slot: the runtime passes them in reverse declaration order.
// A slot the runtime did not send reads as empty or 0; an integer is the 32-bit payload of
// whatever variant came.
const VARIANT* Argument(const DISPPARAMS* params, UINT slot) {
  if (!params || !params->rgvarg || slot >= params->cArgs) return nullptr;
  return &params->rgvarg[slot];
}
int IntegerArgument(const DISPPARAMS* params, UINT slot) {
  const VARIANT* v = Argument(params, slot);
  return v ? static_cast<int>(v->lVal) : 0;
}
// Only a string variant is read as one: any other payload taken for a BSTR would be a wild
// pointer.
std::wstring StringArgument(const DISPPARAMS* params, UINT slot) {
  const VARIANT* v = Argument(params, slot);
  if (!v || v->vt != VT_BSTR || !v->bstrVal) return std::wstring();
  return std::wstring(v->bstrVal);  // up to the first NUL
}

// What a caller of a failed event learns: the control as the source and the handler's reason.
void FillException(EXCEPINFO* exception, const char* reason) noexcept {
  if (!exception) return;
  *exception = EXCEPINFO{};
  exception->scode = E_FAIL;
  try {
    const std::wstring description = SystemToWide(reason);
    exception->bstrSource = ::SysAllocString(L"TFlashPlayerControl");
    exception->bstrDescription =
        ::SysAllocStringLen(description.data(), static_cast<UINT>(description.size()));
  } catch (...) {
  }
}

}  // namespace

// ---- IDispatch: the runtime's events and the ambient properties

HRESULT STDMETHODCALLTYPE TFlashPlayerControl::GetTypeInfoCount(UINT* count) {
  if (count) *count = 0;
  return S_OK;
}
HRESULT STDMETHODCALLTYPE TFlashPlayerControl::GetTypeInfo(UINT, LCID, ITypeInfo** info) {
  if (info) *info = nullptr;
  return E_NOTIMPL;
}
HRESULT STDMETHODCALLTYPE TFlashPlayerControl::GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID,
                                                             DISPID*) {
  return E_NOTIMPL;
}

HRESULT STDMETHODCALLTYPE TFlashPlayerControl::Invoke(DISPID id, REFIID, LCID, WORD flags,
                                                      DISPPARAMS* params, VARIANT* result,
                                                      EXCEPINFO* exception, UINT*) {
  // A handler that fails is reported to the runtime as a failed call with its reason, never
  // thrown into it.
  try {
    switch (id) {
      case DISPID_FlashReadyStateChange:
        if (OnReadyStateChange) OnReadyStateChange(this, IntegerArgument(params, 0));
        return S_OK;
      case DISPID_FlashFSCommand:
        if (OnFSCommand) OnFSCommand(this, StringArgument(params, 1), StringArgument(params, 0));
        return S_OK;
      case DISPID_FlashFlashCall:
        if (OnFlashCall) {
          const std::wstring request = StringArgument(params, 0);
          if (request.find(HostProbeId) != std::wstring::npos)
            AnswerHostProbe();
          else
            OnFlashCall(this, request);
        }
        return S_OK;
      case DISPID_FlashProgress:
        if (OnProgress) OnProgress(this, IntegerArgument(params, 0));
        return S_OK;
      default:
        if (!(flags & DISPATCH_PROPERTYGET) || !result) return DISP_E_MEMBERNOTFOUND;
        return AmbientProperty(id, result);
    }
  } catch (const std::exception& e) {
    FillException(exception, e.what());
    return DISP_E_EXCEPTION;
  } catch (...) {
    FillException(exception, "Unexpected failure");
    return DISP_E_EXCEPTION;
  }
}

// The probe is the control's own business: a runtime that refuses the answer fails nothing
// of the event.
void TFlashPlayerControl::AnswerHostProbe() noexcept {
  try {
    SetReturnValue(HostProbeAnswer);
  } catch (...) {
  }
}

}  // namespace pageturn
