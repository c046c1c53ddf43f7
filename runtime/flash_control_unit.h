// Start-up and shut-down of the control unit: the code provider, the interception state, the
// content manager, the urlmon bindings and the working-set timer, in fixed orders. Both run on the
// main thread, the start-up before the main window's unit and the shut-down after it.
#pragma once

#ifndef _WIN32
#error "runtime/flash_control_unit.h is for the Windows build only"
#endif

#include <windows.h>
#include <objbase.h>
#include <urlmon.h>

#include "content/urlmon_bindings.h"  // SystemCreateURLMoniker, bound here at start-up
#include "core/error.h"

namespace pageturn {

// A start-up that cannot go on: the program must show the message as a fatal start-up error and
// exit before any window is created. What had been set up is already shut down when it is raised.
class TFatalStartupError : public Error {
 public:
  using Error::Error;
};

// Raises TFatalStartupError with "LoadLibrary(urlmon.dll) failed",
// "GetProcAddress(CreateURLMoniker) failed", "GetProcAddress(RegisterBindStatusCallback) failed"
// or "LoadLibrary(user32.dll) failed".
void FlashControlUnitStartup();
// Frees what exists; safe to call after a failed start-up or twice.
void FlashControlUnitShutdown();

namespace detail {
// The start-up with other library names, so that tests can make the bindings fail.
void FlashControlUnitStartupWith(const char* urlmonName, const char* user32Name);
}  // namespace detail

}  // namespace pageturn
