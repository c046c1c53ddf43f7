#include "runtime/content_seam.h"

#include <utility>

#include "content/content_manager.h"
#include "content/my_moniker.h"
#include "content/urlmon_bindings.h"

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
std::shared_ptr<TStream> NoFakeHandleStream(HANDLE) { return nullptr; }
bool NoFakeHandle(HANDLE) { return false; }
HRESULT SystemURLMoniker(IMoniker* context, LPCWSTR url, IMoniker** result) {
  return BoundCreateURLMoniker(context, url, result);
}

// The same operations on the process's content manager.
HANDLE ManagerOpenFileW(LPCWSTR fileName, DWORD access, DWORD shareMode,
                        LPSECURITY_ATTRIBUTES security, DWORD creation, DWORD flags, HANDLE tmpl) {
  return ContentManager->OpenFileW(fileName, access, shareMode, security, creation, flags, tmpl);
}
HANDLE ManagerOpenFileA(LPCSTR fileName, DWORD access, DWORD shareMode,
                        LPSECURITY_ATTRIBUTES security, DWORD creation, DWORD flags, HANDLE tmpl) {
  return ContentManager->OpenFileA(fileName, access, shareMode, security, creation, flags, tmpl);
}
std::shared_ptr<TStream> ManagerFakeHandleStream(HANDLE handle) {
  return ContentManager->FindFakeHandleStream(handle);
}
bool ManagerReleaseFakeHandle(HANDLE handle) { return ContentManager->ReleaseFakeHandle(handle); }
HRESULT ContentMoniker(IMoniker* context, LPCWSTR url, IMoniker** result) {
  return CreateContentMoniker(context, url, result);
}

}  // namespace

TContentOperations SystemContentOperations() {
  return {&SystemOpenFileW, &SystemOpenFileA, &NoFakeHandleStream, &NoFakeHandle, &SystemURLMoniker};
}

// Constant-initialised: the table is usable before any dynamic initialisation runs.
TContentOperations ContentOperations = {&SystemOpenFileW, &SystemOpenFileA, &NoFakeHandleStream,
                                        &NoFakeHandle, &SystemURLMoniker};

void StartContentLayer() {
  ContentManager = new TContentManager();
  ContentManager->SetGlobalContentHandler(nullptr);  // the application-wide slot starts empty
  ContentOperations = {&ManagerOpenFileW, &ManagerOpenFileA, &ManagerFakeHandleStream,
                       &ManagerReleaseFakeHandle, &ContentMoniker};
}

void StopContentLayer() {
  // The runtime is unloaded by now; nothing calls through the table while it is switched back.
  ContentOperations = SystemContentOperations();
  delete std::exchange(ContentManager, nullptr);
}

}  // namespace pageturn
