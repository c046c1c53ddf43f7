// The module side of the stand-in runtime: its window class, its class factories and the
// test surface's entry.
#pragma once

#include <windows.h>

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
#endif

}  // namespace standin
