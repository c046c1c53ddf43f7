// The module side of the stand-in runtime: its window class, its class factories and the
// test surface's entry.
#pragma once

#include <windows.h>

#include <memory>

#include "standin_test_surface.h"

namespace standin {

class FlashObject;

// The real runtime's window class name.
inline constexpr wchar_t kPlayerWindowClass[] = L"MacromediaFlashPlayerActiveX";

// Registers the player's window class once per process (RegisterClassExW under our module
// handle, with the cursor from our resources). False when it could not be registered.
bool RegisterPlayerWindowClass();

#ifdef STANDIN_TEST_SURFACE
// A test surface bound to `bound` (may be null), asked for riid. Only the test variant of the
// module has one: the module that books carry answers no interface of its own making.
HRESULT CreateTestSurface(FlashObject* bound, REFIID riid, void** ppv);

// What the test variant takes from its environment, for tests of a host that starts it as a
// book would, where no test surface reaches it first:
//   STANDIN_TEST_FETCH_STALL_MS   how long a fetch waits without data (read when attached);
//   STANDIN_TEST_DETACH_REPORT    a file that the detach writes "com=1" into when COM is still
//                                 initialised on the detaching thread, "com=0" when not;
//   STANDIN_TEST_CLOSING_WORKER_URL  every object keeps a worker fetching that URL, over and
//                                 over, for as long as it lives; the object's destruction waits
//                                 for the worker without dispatching messages, as a runtime that
//                                 joins its threads on close does.
void TestVariantAttach();
void TestVariantDetach();
// The object's closing worker, or null when none is asked for; freeing it stops and joins it.
std::shared_ptr<void> StartClosingWorker();
#endif

}  // namespace standin
