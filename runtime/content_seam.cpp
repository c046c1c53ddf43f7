#include "runtime/content_seam.h"

namespace pageturn {

namespace {

HANDLE SystemOpenFileW(LPCWSTR fileName, DWORD access, DWORD shareMode,
                       LPSECURITY_ATTRIBUTES security, DWORD creation, DWORD flags, HANDLE tmpl) {
  return ::CreateFileW(fileName, access, shareMode, security, creation, flags, tmpl);
}
HANDLE SystemOpenFileA(LPCSTR fileName, DWORD access, DWORD shareMode,
                       LPSECURITY_ATTRIBUTES security, DWORD creation, DWORD flags, HANDLE tmpl) {
  return ::CreateFileA(fileName, access, shareMode, security, creation, flags, tmpl);
}
TStream* NoFakeHandleStream(HANDLE) { return nullptr; }
bool NoFakeHandle(HANDLE) { return false; }
HRESULT SystemURLMoniker(IMoniker* context, LPCWSTR url, IMoniker** result) {
  return ::CreateURLMoniker(context, url, result);
}

}  // namespace

TContentOperations SystemContentOperations() {
  return {&SystemOpenFileW, &SystemOpenFileA, &NoFakeHandleStream, &NoFakeHandle, &SystemURLMoniker};
}

// Constant-initialised: the table is usable before any dynamic initialisation runs.
TContentOperations ContentOperations = {&SystemOpenFileW, &SystemOpenFileA, &NoFakeHandleStream,
                                        &NoFakeHandle, &SystemURLMoniker};

void StartContentLayer() { ContentOperations = SystemContentOperations(); }
void StopContentLayer() { ContentOperations = SystemContentOperations(); }

}  // namespace pageturn
