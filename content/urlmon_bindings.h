// The system's urlmon functions that the content layer and the runtime glue call, bound by name
// at the control unit's start-up (LoadLibrary and GetProcAddress), so that the program does not
// import urlmon.dll and can report a missing one itself. Unbound, the calls fail with E_FAIL.
#pragma once

#ifndef _WIN32
#error "content/urlmon_bindings.h is for the Windows build only"
#endif

#include <windows.h>
#include <objbase.h>
#include <urlmon.h>

namespace pageturn {

using TCreateURLMonikerProc = HRESULT(WINAPI*)(IMoniker*, LPCWSTR, IMoniker**);
using TRegisterBindStatusCallbackProc = HRESULT(WINAPI*)(IBindCtx*, IBindStatusCallback*,
                                                         IBindStatusCallback**, DWORD);
// Never the runtime's replacements: these are the system's own.
extern TCreateURLMonikerProc SystemCreateURLMoniker;
extern TRegisterBindStatusCallbackProc SystemRegisterBindStatusCallback;

// The calls through the bindings; E_FAIL (and a cleared result) while unbound.
HRESULT BoundCreateURLMoniker(IMoniker* context, LPCWSTR url, IMoniker** result);
HRESULT BoundRegisterBindStatusCallback(IBindCtx* context, IBindStatusCallback* callback,
                                        IBindStatusCallback** previous, DWORD reserved);

}  // namespace pageturn
