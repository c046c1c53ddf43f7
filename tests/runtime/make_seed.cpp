// Writes the fuzzer's seed image (one of the loader tests' built images) into a corpus folder.
#include <cstdio>
#include <string>

#include "tests/runtime/pe_builder.h"

int main(int argc, char** argv) {
  if (argc != 2) return 2;
  using namespace pageturn::test;
  TPEBuilder b;
  Bytes data(0x40, 0x11);
  const std::uint32_t rva = b.NextRva();
  Put32(data, 0x10, b.ImageBase + rva);
  b.AddSection(data, 0x80);
  b.Relocations = {rva + 0x10};
  b.EntryPoint = rva;
  b.Imports = {{"user32.dll", {std::string("LoadCursorA"), std::uint16_t{7}}},
               {"kernel32.dll", {std::string("ReadFile")}, true}};
  b.Exports = {{"DllGetClassObject", rva}};
  b.Resources = {{4, std::u16string(u"MENU"), 0x0409, Bytes(8, 1)},
                 {16, std::uint16_t{1}, 0, Bytes(92, 0)}};
  const Bytes file = b.Build();
  std::FILE* f = std::fopen((std::string(argv[1]) + "/seed.dll").c_str(), "wb");
  if (!f) return 1;
  std::fwrite(file.data(), 1, file.size(), f);
  return std::fclose(f) == 0 ? 0 : 1;
}
