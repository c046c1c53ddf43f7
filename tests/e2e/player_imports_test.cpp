// What the system loader must find before the player runs at all: the DLLs its file imports.
// urlmon.dll is not among them: the control unit binds it by name and reports it missing itself.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "core/text.h"
#include "runtime/pe_image.h"

namespace pageturn {
namespace {

// The names of the import descriptors of a PE file, read from its sections on disk.
std::vector<std::string> ImportedDlls(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::vector<std::uint8_t> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  const TCheckedBytes file(bytes.data(), bytes.size());
  const TPEHeaders headers = TPEHeaders::Parse(file);
  auto offsetOf = [&](std::uint32_t rva) -> std::uint64_t {
    for (unsigned i = 0; i < headers.NumberOfSections; ++i) {
      const TSectionHeader s = headers.Section(file, i);
      if (rva >= s.VirtualAddress && rva - s.VirtualAddress < s.SizeOfRawData)
        return std::uint64_t{s.PointerToRawData} + (rva - s.VirtualAddress);
    }
    throw TImageFormatError("RVA outside every section");
  };
  std::vector<std::string> names;
  const std::uint32_t directory = headers.Directories[ImportDirectory].VirtualAddress;
  for (std::uint64_t d = offsetOf(directory);; d += 20) {
    const std::uint32_t name = file.U32(d + 12, "import descriptor");
    if (name == 0) break;
    names.push_back(LowerAscii(file.CString(offsetOf(name), "import name")));
  }
  return names;
}

TEST(PlayerImports, UrlmonIsBoundByNameNotImported) {
  const std::vector<std::string> dlls = ImportedDlls(PAGETURN_PLAYER_EXE);
  EXPECT_THAT(dlls, ::testing::Contains("kernel32.dll")) << "the walk found the imports";
  EXPECT_THAT(dlls, ::testing::Not(::testing::Contains("urlmon.dll")));
}

}  // namespace
}  // namespace pageturn
