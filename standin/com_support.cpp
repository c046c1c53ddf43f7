#include "com_support.h"

#include <memory>

namespace standin {

std::wstring Utf8ToWide(const std::string& s) {
  if (s.empty()) return {};
  int n = MultiByteToWideChar(CP_UTF8, 0, s.data(), int(s.size()), nullptr, 0);
  std::wstring out(n, L'\0');
  MultiByteToWideChar(CP_UTF8, 0, s.data(), int(s.size()), out.data(), n);
  return out;
}

std::string WideToUtf8(const std::wstring& s) {
  if (s.empty()) return {};
  int n = WideCharToMultiByte(CP_UTF8, 0, s.data(), int(s.size()), nullptr, 0, nullptr, nullptr);
  std::string out(n, '\0');
  WideCharToMultiByte(CP_UTF8, 0, s.data(), int(s.size()), out.data(), n, nullptr, nullptr);
  return out;
}

std::wstring Hex(unsigned long value) {
  wchar_t buf[16];
  wsprintfW(buf, L"0x%08lx", value);
  return buf;
}

std::wstring Join(const std::vector<std::wstring>& items, const wchar_t* separator) {
  std::wstring out;
  for (size_t i = 0; i < items.size(); ++i) out += (i ? separator : L"") + items[i];
  return out;
}

std::wstring EscapeLineBreaks(const std::wstring& s) {
  std::wstring out;
  for (wchar_t c : s) {
    if (c == L'\r') out += L"\\r";
    else if (c == L'\n') out += L"\\n";
    else out += c;
  }
  return out;
}

DWORD WaitPumpingAny(const HANDLE* handles, DWORD count, DWORD timeoutMs) {
  DWORD start = GetTickCount();
  for (;;) {
    DWORD elapsed = GetTickCount() - start;
    DWORD remaining = timeoutMs == INFINITE ? INFINITE
                      : elapsed >= timeoutMs ? 0
                                             : timeoutMs - elapsed;
    DWORD rc = MsgWaitForMultipleObjects(count, handles, FALSE, remaining, QS_ALLINPUT);
    if (rc != WAIT_OBJECT_0 + count) return rc;  // signalled, timed out or failed
    MSG msg;
    while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
      TranslateMessage(&msg);
      DispatchMessageW(&msg);
    }
  }
}

namespace {

struct WorkerCall {
  std::function<HRESULT()> work;
  HRESULT result = E_FAIL;
};

DWORD WINAPI WorkerEntry(void* param) {
  auto* call = static_cast<WorkerCall*>(param);
  HRESULT init = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
  call->result = Guard([&] { return call->work(); });
  if (SUCCEEDED(init)) CoUninitialize();
  ModuleRelease();
  return 0;
}

}  // namespace

HRESULT RunOnWorker(const std::function<HRESULT()>& work) {
  auto call = std::make_unique<WorkerCall>();
  call->work = work;
  ModuleAddRef();
  ScopedHandle thread(CreateThread(nullptr, 0, WorkerEntry, call.get(), 0, nullptr));
  if (!thread) {
    ModuleRelease();
    return E_FAIL;
  }
  WaitPumping(thread.get(), INFINITE);
  return call->result;
}

}  // namespace standin
