// The four events of _IShockwaveFlashEvents, fired into the sinks of the events connection point.
#include "flash_object.h"

namespace standin {

// ---------------------------------------------------------------------------------------------
// Events

int FlashObject::FireEvent(DISPID id, const std::wstring& text1, const std::wstring& text2,
                           long number, HRESULT* lastResult, std::wstring* returnValue) {
  VARIANTARG args[2];
  for (auto& a : args) VariantInit(&a);
  UINT count = 0;
  std::wstring logged;
  // Arguments go in reverse declaration order: the last declared is rgvarg[0].
  if (id == kDispidReadyStateChange || id == kDispidProgress) {
    args[0].vt = VT_I4;
    args[0].lVal = number;
    count = 1;
    logged = std::to_wstring(number);
  } else if (id == kDispidFSCommand) {
    args[1].vt = VT_BSTR;
    args[1].bstrVal = SysAllocStringLen(text1.data(), UINT(text1.size()));
    args[0].vt = VT_BSTR;
    args[0].bstrVal = SysAllocStringLen(text2.data(), UINT(text2.size()));
    count = 2;
    logged = text1 + L"|" + text2;
  } else if (id == kDispidFlashCall) {
    args[0].vt = VT_BSTR;
    args[0].bstrVal = SysAllocStringLen(text1.data(), UINT(text1.size()));
    count = 1;
    logged = text1;
  } else {
    return 0;
  }
  eventLog_.Add(std::to_wstring(id) + L"(" + logged + L")");

  bool flashCall = id == kDispidFlashCall;
  bool outerCall = inFlashCall_;
  if (flashCall) {
    inFlashCall_ = true;
    returnValue_.clear();
  }
  int called = 0;
  if (freezeCount_ == 0) {
    DISPPARAMS params{args, nullptr, count, 0};
    // A copy: a handler may unadvise while it runs.
    for (const auto& sink : events_.Sinks()) {
      ComPtr<IDispatch> dispatch;
      if (FAILED(sink.As(&dispatch))) continue;
      HRESULT hr = dispatch->Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_METHOD, &params,
                                    nullptr, nullptr, nullptr);
      if (lastResult) *lastResult = hr;
      ++called;
    }
  }
  if (flashCall) {
    if (returnValue) *returnValue = returnValue_;
    inFlashCall_ = outerCall;
  }
  for (auto& a : args) VariantClear(&a);
  return called;
}

void FlashObject::OnReadyState(long state) {
  if (readyState_ == state) return;
  readyState_ = state;
  // Containers that watch properties learn of it the standard way as well.
  for (const auto& sink : propertyNotify_.Sinks()) {
    ComPtr<IPropertyNotifySink> notify;
    if (SUCCEEDED(sink.As(&notify))) notify->OnChanged(DISPID_READYSTATE);
  }
  FireEvent(kDispidReadyStateChange, L"", L"", state, nullptr, nullptr);
}

void FlashObject::OnProgress(long percent) {
  FireEvent(kDispidProgress, L"", L"", percent, nullptr, nullptr);
}

void FlashObject::OnFsCommand(const std::string& command, const std::string& args) {
  FireEvent(kDispidFSCommand, Utf8ToWide(command), Utf8ToWide(args), 0, nullptr, nullptr);
}

std::string FlashObject::OnExternalCall(const std::string& request) {
  std::wstring answer;
  FireEvent(kDispidFlashCall, Utf8ToWide(request), L"", 0, nullptr, &answer);
  return WideToUtf8(answer);
}

void FlashObject::OnNavigate(const std::wstring& url, const std::wstring& target) {
  // Navigation leaves the player to a browser; a stand-alone player has none.
  eventLog_.Add(L"GetURL(" + url + L"|" + target + L")");
}

}  // namespace standin
