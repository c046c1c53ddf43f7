// The portable loader on images built in memory, against a recording module system.
#include "runtime/dll_loader.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <functional>

#include "tests/runtime/fake_module_system.h"
#include "tests/runtime/pe_builder.h"

namespace pageturn::test {
namespace {

using ::testing::ElementsAre;
using ::testing::IsSupersetOf;
using ::testing::Not;
using ::testing::Contains;
using ::testing::HasSubstr;

std::uint32_t Address32(const void* p) {
  return static_cast<std::uint32_t>(reinterpret_cast<std::uintptr_t>(p));
}

// A loader whose replacements are a fixed table, to see what the hook is asked.
class TReplacingLoader : public TDLLLoader {
 public:
  using TDLLLoader::TDLLLoader;
  std::map<std::string, std::uintptr_t> Table;
  std::vector<std::string> Asked;
  void* GetImportReplacement(const char* dllName, const char* functionName) override {
    if (IsOrdinalName(functionName)) {
      Asked.push_back(std::string(dllName) + "!#" +
                      std::to_string(reinterpret_cast<std::uintptr_t>(functionName)));
      return nullptr;
    }
    Asked.push_back(std::string(dllName) + "!" + functionName);
    auto it = Table.find(functionName);
    return it == Table.end() ? nullptr : reinterpret_cast<void*>(it->second);
  }
};

// Two pointers into its own data, a code byte for the entry point and a tail that only the
// VirtualSize shows.
struct TSampleImage {
  TPEBuilder builder;
  std::uint32_t dataRva = 0;
  Bytes file;

  explicit TSampleImage(bool relocations = true) {
    Bytes data(0x40, 0);
    for (int i = 0; i < 0x40; ++i) data[i] = static_cast<std::uint8_t>(i + 1);
    dataRva = builder.NextRva();
    Put32(data, 0x10, builder.ImageBase + dataRva + 0x20);
    Put32(data, 0x14, builder.ImageBase + dataRva + 0x24);
    builder.AddSection(data, 0x80);  // 0x40 more bytes than the raw data: must be zeros
    builder.WithRelocations = relocations;
    builder.Relocations = {dataRva + 0x10, dataRva + 0x14};
    builder.EntryPoint = dataRva;  // never run by the fake
    builder.Imports = {
        {"C:\\system\\user32.dll", {std::string("LoadCursorA"), std::uint16_t{7}}},
        {"kernel32.dll", {std::string("CreateFileW"), std::string("ReadFile")}, /*Bound=*/true},
    };
    builder.Exports = {{"DllGetClassObject", dataRva + 0x30}, {"Other", dataRva + 0x34}};
    file = builder.Build();
  }
};

TEST(DLLLoader, MapsSectionsAndRelocatesForTheAddressItGot) {
  TSampleImage image;
  TFakeModuleSystem system;
  TDLLLoader first(system), second(system);
  first.LoadFromBytes(image.file.data(), image.file.size());
  second.LoadFromBytes(image.file.data(), image.file.size());
  ASSERT_NE(first.Handle(), nullptr);
  ASSERT_NE(first.Handle(), second.Handle());

  for (TDLLLoader* loader : {&first, &second}) {
    const std::uint8_t* data = loader->Handle() + image.dataRva;
    const std::uint32_t base = Address32(loader->Handle());
    EXPECT_EQ(Get32(Bytes(data, data + 0x80), 0x10), base + image.dataRva + 0x20);
    EXPECT_EQ(Get32(Bytes(data, data + 0x80), 0x14), base + image.dataRva + 0x24);
    EXPECT_EQ(data[0], 1);
    EXPECT_EQ(data[0x3F], 0x40);
    EXPECT_EQ(Bytes(data + 0x40, data + 0x80), Bytes(0x40, 0)) << "beyond the raw data";
    EXPECT_EQ(std::memcmp(loader->Handle(), image.file.data(), TPEBuilder::HeadersSize), 0);
  }
}

TEST(DLLLoader, WithoutRelocationDirectoryNothingIsFixedUp) {
  TSampleImage image(/*relocations=*/false);
  TFakeModuleSystem system;
  TDLLLoader loader(system);
  loader.LoadFromBytes(image.file.data(), image.file.size());
  const std::uint8_t* data = loader.Handle() + image.dataRva;
  EXPECT_EQ(Get32(Bytes(data, data + 0x20), 0x10), image.builder.ImageBase + image.dataRva + 0x20);
}

TEST(DLLLoader, PaddingOnlyAndEmptyBlocksChangeNothingAndTheWalkGoesOn) {
  TPEBuilder b;
  Bytes data(0x20, 0);
  const std::uint32_t rva = b.NextRva();
  Put32(data, 0, b.ImageBase + 0x100);
  Put32(data, 4, b.ImageBase + 0x200);
  b.AddSection(data);
  // A block of type-0 entries pointing at the first value, an empty block (SizeOfBlock 8),
  // then a real block for the second value.
  Append32(b.RawRelocations, rva);
  Append32(b.RawRelocations, 12);
  Append16(b.RawRelocations, 0x0000);
  Append16(b.RawRelocations, 0x0000);
  Append32(b.RawRelocations, rva);
  Append32(b.RawRelocations, 8);
  Append32(b.RawRelocations, rva);
  Append32(b.RawRelocations, 12);
  Append16(b.RawRelocations, 0x3004);
  Append16(b.RawRelocations, 0x0000);
  const Bytes file = b.Build();

  TFakeModuleSystem system;
  TDLLLoader loader(system);
  loader.LoadFromBytes(file.data(), file.size());
  const std::uint32_t delta = Address32(loader.Handle()) - b.ImageBase;
  std::uint32_t first, second;
  std::memcpy(&first, loader.Handle() + rva, 4);
  std::memcpy(&second, loader.Handle() + rva + 4, 4);
  EXPECT_EQ(first, b.ImageBase + 0x100);
  EXPECT_EQ(second, b.ImageBase + 0x200 + delta);
}

TEST(DLLLoader, ResolvesImportsThroughTheRightThunkArrays) {
  TSampleImage image;
  TFakeModuleSystem system;
  TReplacingLoader loader(system);
  loader.Table["ReadFile"] = 0x5EAD0000;
  loader.LoadFromBytes(image.file.data(), image.file.size());

  auto slot = [&](int d, int f) {
    std::uint32_t v;
    std::memcpy(&v, loader.Handle() + image.builder.SlotRva.at({d, f}), 4);
    return v;
  };
  const std::string user32 = "C:\\system\\user32.dll";
  // Unbound: names read from FirstThunk in place (the decoy in OriginalFirstThunk never shows).
  EXPECT_EQ(slot(0, 0), TFakeModuleSystem::AddressOf(user32 + "!LoadCursorA"));
  EXPECT_EQ(slot(0, 1), TFakeModuleSystem::AddressOf(user32 + "!#7"));
  // Bound: names from OriginalFirstThunk, addresses into FirstThunk.
  EXPECT_EQ(slot(1, 0), TFakeModuleSystem::AddressOf("kernel32.dll!CreateFileW"));
  EXPECT_EQ(slot(1, 1), 0x5EAD0000u);

  EXPECT_THAT(loader.Asked, ElementsAre(user32 + "!LoadCursorA", user32 + "!#7",
                                        "kernel32.dll!CreateFileW", "kernel32.dll!ReadFile"));
  // A replaced import never reaches GetProcAddress.
  EXPECT_THAT(system.Calls, Not(Contains("resolve kernel32.dll!ReadFile")));
  EXPECT_THAT(system.Calls, Not(Contains(HasSubstr("Decoy"))));

  // Records for imports by name only, with the DLL name stripped of its path.
  const auto& records = loader.ImportedFunctions()->Records();
  ASSERT_EQ(records.size(), 3u);
  const std::pair<std::string, std::pair<int, int>> expected[] = {
      {"user32.dll!LoadCursorA", {0, 0}}, {"kernel32.dll!CreateFileW", {1, 0}},
      {"kernel32.dll!ReadFile", {1, 1}}};
  for (std::size_t i = 0; i < 3; ++i) {
    EXPECT_EQ(records[i].DllName + "!" + records[i].FunctionName, expected[i].first);
    EXPECT_EQ(reinterpret_cast<std::uint8_t*>(records[i].Slot),
              loader.Handle() + image.builder.SlotRva.at(expected[i].second));
  }
  EXPECT_EQ(loader.Modules().size(), 2u);
}

TEST(DLLLoader, MissingDependencyIsResolvedAgainstTheNullModule) {
  TSampleImage image;
  TFakeModuleSystem system;
  system.MissingDlls = {"kernel32.dll"};
  TDLLLoader loader(system);
  loader.LoadFromBytes(image.file.data(), image.file.size());
  EXPECT_EQ(loader.Modules().size(), 1u);
  EXPECT_THAT(system.Calls, Contains("resolve (null)!CreateFileW"));
}

TEST(DLLLoader, EntryPointOrderOnLoadAndDestroy) {
  TSampleImage image;
  TFakeModuleSystem system;
  {
    TDLLLoader loader(system);
    loader.LoadFromBytes(image.file.data(), image.file.size());
    EXPECT_EQ(system.EntryAddress, loader.Handle() + image.dataRva);
    EXPECT_EQ(system.EntryInstance, loader.Handle());
    system.Calls.clear();
  }
  EXPECT_THAT(system.Calls, ElementsAre("entry 0", "free C:\\system\\user32.dll", "free kernel32.dll",
                                        "release"));
  EXPECT_EQ(system.OutstandingBlocks, 0);
}

TEST(DLLLoader, LoadOrderEndsWithFlushAndTwoAttachCalls) {
  TSampleImage image;
  TFakeModuleSystem system;
  TDLLLoader loader(system);
  loader.LoadFromBytes(image.file.data(), image.file.size());
  const auto flush = std::find(system.Calls.begin(), system.Calls.end(),
                               "flush " + std::to_string(image.builder.SizeOfImage));
  ASSERT_NE(flush, system.Calls.end());
  EXPECT_THAT(std::vector<std::string>(flush + 1, system.Calls.end()), ElementsAre("entry 1", "entry 2"));
}

TEST(DLLLoader, NoEntryPointMeansNoCalls) {
  TSampleImage image;
  image.builder.EntryPoint = 0;
  image.file = image.builder.Build();
  TFakeModuleSystem system;
  { TDLLLoader loader(system);
    loader.LoadFromBytes(image.file.data(), image.file.size()); }
  EXPECT_THAT(system.Calls, Not(Contains(HasSubstr("entry"))));
}

TEST(DLLLoader, GetExportAddressByExactName) {
  TSampleImage image;
  TFakeModuleSystem system;
  TDLLLoader loader(system);
  EXPECT_EQ(loader.GetExportAddress("DllGetClassObject"), nullptr) << "before loading";
  loader.LoadFromBytes(image.file.data(), image.file.size());
  EXPECT_EQ(loader.GetExportAddress("DllGetClassObject"), loader.Handle() + image.dataRva + 0x30);
  EXPECT_EQ(loader.GetExportAddress("Other"), loader.Handle() + image.dataRva + 0x34);
  EXPECT_EQ(loader.GetExportAddress("DllGetClassObjecT"), nullptr);
  EXPECT_EQ(loader.GetExportAddress("dllgetclassobject"), nullptr);
  EXPECT_EQ(loader.GetExportAddress("DllGetClass"), nullptr);
  EXPECT_EQ(loader.GetExportAddress(""), nullptr);
}

TEST(DLLLoader, GetExportAddressWithZeroNames) {
  TPEBuilder b;
  b.AddSection(Bytes(0x10, 0x90));
  b.Exports = {{"Only", 0x1000}};
  Bytes file = b.Build();
  // NumberOfNames 0 in the export directory: no pass at all.
  const std::uint32_t exportFile = Get32(file, b.SectionHeaderOffsets[1] + 20);
  Put32(file, exportFile + 24, 0);
  TFakeModuleSystem system;
  TDLLLoader loader(system);
  TMemoryStream stream;
  stream.WriteBuffer(file.data(), file.size());
  stream.SetPosition(17);  // the whole stream is read, whatever its position
  loader.LoadFromStream(stream);
  EXPECT_NE(loader.Handle(), nullptr);
  EXPECT_EQ(loader.GetExportAddress("Only"), nullptr);
}

TEST(DLLLoader, ReadsAnyStreamWholeWhateverItsPosition) {
  TSampleImage image;
  TFakeModuleSystem system;
  TStringStream copied(std::string(image.file.begin(), image.file.end()));
  copied.SetPosition(100);
  TDLLLoader fromCopy(system);
  fromCopy.LoadFromStream(copied);
  EXPECT_NE(fromCopy.GetExportAddress("DllGetClassObject"), nullptr);

  TStringStream truncated(std::string(image.file.begin(), image.file.begin() + 0x300));
  TDLLLoader failing(system);
  EXPECT_THROW(failing.LoadFromStream(truncated), TImageFormatError);
}

// A failed load leaves nothing behind and calls no entry point.
void ExpectCleanFailure(const Bytes& file, const std::string& why) {
  TFakeModuleSystem system;
  {
    TDLLLoader loader(system);
    EXPECT_THROW(loader.LoadFromBytes(file.data(), file.size()), Error) << why;
    EXPECT_EQ(loader.Handle(), nullptr) << why;
    EXPECT_EQ(loader.GetExportAddress("DllGetClassObject"), nullptr) << why;
  }
  EXPECT_EQ(system.OutstandingBlocks, 0) << why;
  EXPECT_EQ(system.OutstandingModules, 0) << why;
  EXPECT_THAT(system.Calls, Not(Contains(HasSubstr("entry")))) << why;
}

TEST(DLLLoader, EveryTruncationFailsCleanly) {
  TSampleImage image;
  // The last section (relocations) is followed by file alignment padding; cut only up to the
  // end of its data, which every shorter file misses.
  const std::uint32_t lastHeader = image.builder.SectionHeaderOffsets.back();
  const std::uint32_t needed = Get32(image.file, lastHeader + 20) + Get32(image.file, lastHeader + 8);
  // From bytes in place, and from a stream that is read piece by piece into the image.
  for (const bool fromStream : {false, true}) {
    for (std::size_t length = 0; length < needed; ++length) {
      const Bytes cut(image.file.begin(), image.file.begin() + length);
      TFakeModuleSystem system;
      {
        TDLLLoader loader(system);
        try {
          if (fromStream) {
            TStringStream stream(std::string(cut.begin(), cut.end()));
            loader.LoadFromStream(stream);
          } else {
            loader.LoadFromBytes(cut.data(), cut.size());
          }
          ADD_FAILURE() << "loaded a file cut at " << length << (fromStream ? " from a stream" : "");
        } catch (const TImageFormatError&) {
        } catch (const StreamReadError&) {
          ADD_FAILURE() << "read past the end of the stream cut at " << length;
        }
      }
      ASSERT_EQ(system.OutstandingBlocks, 0) << length;
      ASSERT_EQ(system.OutstandingModules, 0) << length;
    }
  }
}

TEST(DLLLoader, CorruptFieldsFailCleanly) {
  const TSampleImage image;
  const TPEBuilder& b = image.builder;
  const std::uint32_t opt = TPEBuilder::OptOffset;
  const std::uint32_t firstSection = b.SectionHeaderOffsets[0];
  const std::uint32_t sizeOfImage = b.SizeOfImage;
  // Offsets in the file of the mapped structures (file offset = raw pointer + rva - section rva).
  auto fileOffset = [&](std::uint32_t rva) {
    for (std::uint32_t h : b.SectionHeaderOffsets) {
      const std::uint32_t va = Get32(image.file, h + 12);
      if (rva >= va && rva < va + Get32(image.file, h + 8)) return Get32(image.file, h + 20) + rva - va;
    }
    throw std::logic_error("rva not in a section");
  };
  const std::uint32_t importDesc = fileOffset(b.ImportDirectoryRva);
  const std::uint32_t reloc = fileOffset(b.RelocationRva);
  const std::uint32_t firstThunk = fileOffset(b.SlotRva.at({0, 0}));

  const std::vector<std::pair<std::string, std::function<void(Bytes&)>>> cases = {
      {"DOS signature", [](Bytes& f) { f[0] = 'X'; }},
      {"e_lfanew past the end", [](Bytes& f) { Put32(f, 0x3C, 0xFFFFFFF0u); }},
      {"NT signature", [](Bytes& f) { f[TPEBuilder::NtOffset + 2] = 1; }},
      {"machine", [](Bytes& f) { Put16(f, TPEBuilder::NtOffset + 4, 0x8664); }},
      {"PE32+ magic", [&](Bytes& f) { Put16(f, opt, 0x020B); }},
      {"optional header too small", [](Bytes& f) { Put16(f, TPEBuilder::NtOffset + 20, 64); }},
      {"optional header past the end", [](Bytes& f) { Put16(f, TPEBuilder::NtOffset + 20, 0xFFFF); }},
      {"SizeOfImage 0", [&](Bytes& f) { Put32(f, opt + 56, 0); }},
      {"SizeOfImage huge", [&](Bytes& f) { Put32(f, opt + 56, 0xFFFFF000u); }},
      {"SizeOfHeaders beyond the image", [&](Bytes& f) { Put32(f, opt + 60, sizeOfImage + 1); }},
      {"SizeOfHeaders beyond the file", [&](Bytes& f) { Put32(f, opt + 60, sizeOfImage); }},
      {"SizeOfHeaders short of the NT headers", [&](Bytes& f) { Put32(f, opt + 60, 0x80); }},
      {"entry point outside", [&](Bytes& f) { Put32(f, opt + 16, sizeOfImage); }},
      {"too many sections", [](Bytes& f) { Put16(f, TPEBuilder::NtOffset + 6, 0xFFFF); }},
      {"section beyond the image", [&](Bytes& f) { Put32(f, firstSection + 12, sizeOfImage - 0x10); }},
      {"section size wraps", [&](Bytes& f) { Put32(f, firstSection + 8, 0xFFFFFFFFu); }},
      {"section data outside the file", [&](Bytes& f) { Put32(f, firstSection + 20, 0x7FFFFFFF); }},
      {"relocation block smaller than its header", [&](Bytes& f) { Put32(f, reloc + 4, 4); }},
      {"relocation block past the image", [&](Bytes& f) { Put32(f, reloc + 4, 0x7FFFFFF0); }},
      {"relocation target outside", [&](Bytes& f) { Put32(f, reloc, sizeOfImage - 2); }},
      {"relocation directory outside", [&](Bytes& f) { Put32(f, opt + 96 + 40, sizeOfImage + 8); }},
      {"import directory outside", [&](Bytes& f) { Put32(f, opt + 104, sizeOfImage - 4); }},
      {"import DLL name outside", [&](Bytes& f) { Put32(f, importDesc + 12, 0xFFFFFFFFu); }},
      {"import DLL name at the very end", [&](Bytes& f) { Put32(f, importDesc + 12, sizeOfImage); }},
      {"thunk array outside", [&](Bytes& f) { Put32(f, importDesc + 16, sizeOfImage); }},
      {"import name outside", [&](Bytes& f) { Put32(f, firstThunk, sizeOfImage - 1); }},
      {"bound names outside", [&](Bytes& f) { Put32(f, importDesc + 20, 0x7FFFFFF0); }},
  };
  for (const auto& [why, corrupt] : cases) {
    Bytes file = image.file;
    corrupt(file);
    ExpectCleanFailure(file, why);
  }
}

TEST(DLLLoader, FailureAfterDependenciesFreesThemInOrder) {
  TSampleImage image;
  Bytes file = image.file;
  // The second descriptor's name array points outside: the first DLL is loaded by then.
  const std::uint32_t secondDescriptor =
      Get32(file, image.builder.SectionHeaderOffsets[1] + 20) + 20;
  Put32(file, secondDescriptor, image.builder.SizeOfImage);
  TFakeModuleSystem system;
  TDLLLoader loader(system);
  EXPECT_THROW(loader.LoadFromBytes(file.data(), file.size()), TImageFormatError);
  EXPECT_THAT(system.Calls, IsSupersetOf({"load C:\\system\\user32.dll", "load kernel32.dll",
                                          "free C:\\system\\user32.dll", "free kernel32.dll",
                                          "release"}));
  EXPECT_TRUE(loader.Modules().empty());
  EXPECT_EQ(system.OutstandingModules, 0);
}

}  // namespace
}  // namespace pageturn::test
