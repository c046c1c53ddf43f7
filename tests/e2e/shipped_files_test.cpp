// The files that go into every book, looked at as files: the DLLs the player imports (urlmon.dll
// is not among them: the control unit binds it by name and reports it missing itself), and the
// debug information, which stays beside them instead of inside.
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

std::vector<std::uint8_t> FileBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::vector<std::uint8_t>((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

// The section names of a PE file; long ones ("/4") looked up in the COFF string table.
std::vector<std::string> SectionNames(const std::string& path) {
  std::vector<std::uint8_t> bytes = FileBytes(path);
  const TCheckedBytes file(bytes.data(), bytes.size());
  const TPEHeaders headers = TPEHeaders::Parse(file);
  const std::uint32_t symbols = file.U32(headers.NtHeadersOffset + 12, "file header");
  const std::uint32_t symbolCount = file.U32(headers.NtHeadersOffset + 16, "file header");
  std::vector<std::string> names;
  for (unsigned i = 0; i < headers.NumberOfSections; ++i) {
    const std::uint8_t* raw = file.At(headers.SectionTableOffset + 40 * i, 8, "section header");
    std::string name(reinterpret_cast<const char*>(raw), 8);
    name.resize(name.find('\0') == std::string::npos ? 8 : name.find('\0'));
    if (!name.empty() && name[0] == '/')
      name = file.CString(symbols + 18ull * symbolCount + std::stoul(name.substr(1)), "long name");
    names.push_back(name);
  }
  return names;
}

// The names of the import descriptors of a PE file, read from its sections on disk.
std::vector<std::string> ImportedDlls(const std::string& path) {
  std::vector<std::uint8_t> bytes = FileBytes(path);
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

TEST(ShippedFiles, ThePlayerBindsUrlmonByNameAndDoesNotImportIt) {
  const std::vector<std::string> dlls = ImportedDlls(PAGETURN_PLAYER_EXE);
  EXPECT_THAT(dlls, ::testing::Contains("kernel32.dll")) << "the walk found the imports";
  EXPECT_THAT(dlls, ::testing::Not(::testing::Contains("urlmon.dll")));
}

TEST(ShippedFiles, CarryNoDebugInformationButNameTheFileThatHasIt) {
  std::vector<std::string> files = {PAGETURN_PLAYER_EXE};
#ifdef STANDIN_FLASH_PATH
  files.push_back(STANDIN_FLASH_PATH);
#endif
  for (const std::string& path : files) {
    SCOPED_TRACE(path);
    const std::vector<std::string> names = SectionNames(path);
    EXPECT_THAT(names, ::testing::Contains(".text")) << "the walk found the sections";
    EXPECT_THAT(names, ::testing::Not(::testing::Contains(::testing::StartsWith(".debug"))));
    EXPECT_THAT(names, ::testing::Contains(".gnu_debuglink"));
    EXPECT_THAT(SectionNames(path + ".debug"), ::testing::Contains(".debug_info"));
  }
}

}  // namespace
}  // namespace pageturn
