// The control unit started with the stand-in runtime mapped from memory, as a book with a
// bundled flash.ocx starts. STANDIN_FLASH_PATH is defined by the test's CMake target.
#pragma once

#include "core/stream.h"
#include "runtime/code_provider.h"
#include "runtime/flash_control_unit.h"

namespace pageturn {

inline void StartControlUnitWithStandInRuntime() {
  FlashControlUnitStartup();
  TFileStream file(STANDIN_FLASH_PATH, TFileStream::Mode::OpenReadShareAll);
  TMemoryStream image;
  image.CopyFrom(file, 0);
  LoadRuntimeFromStream(&image);
}

}  // namespace pageturn
