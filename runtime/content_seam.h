// What the runtime's file and URL replacements ask of the content layer, as one table of plain
// functions. The control unit's start-up creates the content manager and points the table at it
// and at CreateContentMoniker; tests may point it at fakes.
#pragma once

#ifndef _WIN32
#error "runtime/content_seam.h is for the Windows build only"
#endif

#include <windows.h>
#include <objbase.h>
#include <urlmon.h>

#include <memory>

#include "core/stream.h"

namespace pageturn {

struct TContentOperations {
  HANDLE (*OpenFileW)(LPCWSTR fileName, DWORD access, DWORD shareMode,
                      LPSECURITY_ATTRIBUTES security, DWORD creation, DWORD flags, HANDLE tmpl);
  HANDLE (*OpenFileA)(LPCSTR fileName, DWORD access, DWORD shareMode,
                      LPSECURITY_ATTRIBUTES security, DWORD creation, DWORD flags, HANDLE tmpl);
  // The stream behind a fake handle, or null for every other handle; held, it stays alive.
  std::shared_ptr<TStream> (*FindFakeHandleStream)(HANDLE handle);
  // True when `handle` was fake; it is released then.
  bool (*ReleaseFakeHandle)(HANDLE handle);
  HRESULT (*CreateContentMoniker)(IMoniker* context, LPCWSTR url, IMoniker** result);
};

// Outside start-up and shut-down, the table opens real files and real URL monikers and knows no
// fake handles.
extern TContentOperations ContentOperations;
TContentOperations SystemContentOperations();

// The control unit's steps for the content layer: create the content manager with its global
// handler slot empty and route the table to it; and free it, routing the table back.
void StartContentLayer();
void StopContentLayer();

}  // namespace pageturn
