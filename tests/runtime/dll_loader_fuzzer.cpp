// Maps arbitrary bytes through the portable loader: it must fail cleanly or map, never touch
// memory outside the input copy and the block, and never ask for an image beyond a sane size.
#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "runtime/dll_loader.h"
#include "runtime/module_resources.h"
#include "tests/runtime/fake_module_system.h"

using namespace pageturn;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  test::TFakeModuleSystem system;
  system.MaxAllocation = 4u << 20;  // bigger claims end in bad_alloc, as a refused VirtualAlloc would
  try {
    TDLLLoader loader(system);
    loader.LoadFromBytes(data, size);
    loader.GetExportAddress("DllGetClassObject");
    TResourceData found;
    const TResourceLanguages languages{0x0409, 0x0407, 0x0000};
    if (FindModuleResource(loader.Image(), RtVersion, OrdinalName(1), languages, found))
      RuntimeVersionFromVersionInfo(loader.Handle() + found.Rva, found.Size);
    FindModuleResource(loader.Image(), RtMenu, "MENU", languages, found);
  } catch (const Error&) {
  } catch (const std::bad_alloc&) {
  }
  if (system.OutstandingBlocks != 0 || system.OutstandingModules != 0) std::abort();
  return 0;
}
