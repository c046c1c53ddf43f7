// The loader on a real DLL built by our toolchain, with the system's own memory and modules.
#include <windows.h>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstring>

#include "runtime/interception.h"
#include "tests/runtime/win_fixture.h"

namespace pageturn::test {
namespace {

using ::testing::ElementsAre;
using ::testing::Contains;
using ::testing::Not;

constexpr std::uint32_t FixtureImageBase = 0x10000000;

void* Replacement(const char* name) { return TFlashOCXLoader().GetImportReplacement("x.dll", name); }

struct TFixture {
  explicit TFixture(TDLLLoader& loader) : loader(loader) {}
  TDLLLoader& loader;
  template <class F>
  F Export(const char* name) const {
    void* p = loader.GetExportAddress(name);
    if (p == nullptr) throw std::runtime_error(name);
    return reinterpret_cast<F>(p);
  }
  void* Slot(int which) const { return Export<void* (*)(int)>("FixtureImportSlot")(which); }
};

TEST(MappedFixture, IsRelocatedAttachedAndDetached) {
  TDep dep;
  auto image = ReadFixture("fixture_main.dll");
  {
    TFlashOCXLoader first, second;
    first.LoadFromStream(*image);
    second.LoadFromStream(*image);
    for (TDLLLoader* loader : {&first, &second}) {
      const TFixture f(*loader);
      ASSERT_NE(loader->Handle(), nullptr);
      EXPECT_NE(reinterpret_cast<std::uintptr_t>(loader->Handle()), FixtureImageBase);
      int* target = f.Export<int*>("FixtureTarget");
      EXPECT_EQ(*target, 0x5EED);
      EXPECT_EQ(*f.Export<int**>("FixturePointer"), target) << "the fix-up moved with the image";
      EXPECT_EQ(f.Export<HINSTANCE (*)()>("FixtureInstance")(), reinterpret_cast<HINSTANCE>(loader->Handle()));
    }
    EXPECT_NE(first.Handle(), second.Handle());
    EXPECT_THAT(dep.Reasons(), ElementsAre(1, 2, 1, 2));
    EXPECT_EQ(first.Modules().size(), 3u);
  }
  EXPECT_THAT(dep.Reasons(), ElementsAre(1, 2, 1, 2, 0, 0)) << "one detach each, no thread detach";
}

TEST(MappedFixture, ImportsGetReplacementsByNameFromAnyDllButNotByOrdinal) {
  TDep dep;
  auto image = ReadFixture("fixture_main.dll");
  TFlashOCXLoader loader;
  loader.LoadFromStream(*image);
  const TFixture f(loader);
  HMODULE user32 = ::GetModuleHandleA("user32.dll");
  HMODULE kernel32 = ::GetModuleHandleA("kernel32.dll");

  EXPECT_EQ(f.Slot(0), Replacement("ReadFile"));
  EXPECT_EQ(f.Slot(1), Replacement("CreateFileW")) << "from kernel32";
  EXPECT_EQ(f.Slot(2), Replacement("CreateFileW")) << "from fixture_dep.dll";
  EXPECT_EQ(f.Slot(3), reinterpret_cast<void*>(::GetProcAddress(dep.Module(), MAKEINTRESOURCEA(7))));
  EXPECT_EQ(f.Export<int (*)()>("FixtureCallOrdinalImport")(), 7);
  EXPECT_EQ(f.Slot(4), Replacement("GetProcAddress"));
  EXPECT_EQ(f.Slot(5), reinterpret_cast<void*>(::GetProcAddress(user32, "DefWindowProcA")));
  EXPECT_EQ(f.Slot(6), Replacement("LoadCursorA"));
  EXPECT_EQ(f.Slot(7), reinterpret_cast<void*>(::GetProcAddress(kernel32, "GetTickCount")));

  std::vector<std::string> records;
  for (const auto& r : loader.ImportedFunctions()->Records()) records.push_back(r.DllName + "!" + r.FunctionName);
  EXPECT_THAT(records, Contains("fixture_dep.dll!CreateFileW"));
  EXPECT_THAT(records, Contains("KERNEL32.dll!ReadFile"));
  EXPECT_EQ(records.size(), 13u) << "every import by name, the ordinal one excepted";
}

TEST(MappedFixture, ThePlainLoaderReplacesNothing) {
  TDep dep;
  auto image = ReadFixture("fixture_main.dll");
  TDLLLoader loader;
  loader.LoadFromStream(*image);
  EXPECT_EQ(TFixture(loader).Slot(0), reinterpret_cast<void*>(&::ReadFile));
}

TEST(MappedFixture, AnEntryPointReportingFailureStillLoads) {
  TDep dep;
  dep.SetEntryResult(FALSE);
  auto image = ReadFixture("fixture_main.dll");
  TDLLLoader loader;
  loader.LoadFromStream(*image);
  EXPECT_NE(loader.Handle(), nullptr);
  EXPECT_THAT(dep.Reasons(), ElementsAre(1, 2));
}

TEST(MappedFixture, ExportsByExactNameOnly) {
  TDep dep;
  auto image = ReadFixture("fixture_main.dll");
  TDLLLoader loader;
  EXPECT_EQ(loader.GetExportAddress("DllGetClassObject"), nullptr) << "before loading";
  loader.LoadFromStream(*image);
  EXPECT_NE(loader.GetExportAddress("DllGetClassObject"), nullptr);
  EXPECT_EQ(loader.GetExportAddress("DllGetClassObjecT"), nullptr);
  EXPECT_EQ(loader.GetExportAddress("dllgetclassobject"), nullptr);
}

TEST(PatchedFixture, WithoutRelocationsNothingIsFixedUp) {
  TDep dep;
  auto image = ReadFixture("fixture_main.dll");
  TCheckedBytes bytes(image->Memory(), static_cast<std::size_t>(image->Size()));
  const TPEHeaders h = TPEHeaders::Parse(bytes);
  const std::uint32_t opt = h.NtHeadersOffset + 24;
  bytes.PutU32(opt + 96 + 8 * 5, 0, "test");
  bytes.PutU32(opt + 96 + 8 * 5 + 4, 0, "test");
  bytes.PutU32(opt + 16, 0, "test");  // unrelocated code must not run
  TDLLLoader loader;
  loader.LoadFromStream(*image);
  const auto* target = static_cast<std::uint8_t*>(loader.GetExportAddress("FixtureTarget"));
  const std::uint32_t targetRva = static_cast<std::uint32_t>(target - loader.Handle());
  EXPECT_EQ(*static_cast<std::uint32_t*>(loader.GetExportAddress("FixturePointer")), FixtureImageBase + targetRva);
  EXPECT_TRUE(dep.Reasons().empty());
}

TEST(PatchedFixture, ABoundDescriptorIsReadThroughOriginalFirstThunk) {
  TDep dep;
  auto image = ReadFixture("fixture_main.dll");
  TCheckedBytes bytes(image->Memory(), static_cast<std::size_t>(image->Size()));
  const TPEHeaders h = TPEHeaders::Parse(bytes);
  // Bind every descriptor: a time stamp, and pre-bound garbage in FirstThunk.
  for (std::uint32_t d = FileOffsetOf(*image, h.Directories[ImportDirectory].VirtualAddress);
       bytes.U32(d + 12, "test") != 0; d += 20) {
    bytes.PutU32(d + 4, 0xFFFFFFFF, "test");
    for (std::uint32_t t = FileOffsetOf(*image, bytes.U32(d + 16, "test")); bytes.U32(t, "test") != 0; t += 4)
      bytes.PutU32(t, 0x7EADBEEF, "test");
  }
  TFlashOCXLoader loader;
  loader.LoadFromStream(*image);
  const TFixture f(loader);
  EXPECT_EQ(f.Slot(5), reinterpret_cast<void*>(::GetProcAddress(::GetModuleHandleA("user32.dll"), "DefWindowProcA")));
  EXPECT_EQ(f.Slot(0), Replacement("ReadFile"));
  EXPECT_EQ(f.Export<int (*)()>("FixtureCallOrdinalImport")(), 7);
}

TEST(PatchedFixture, AFailedLoadCallsNoEntryPointAndReleasesEverything) {
  TDep dep;
  auto image = ReadFixture("fixture_main.dll");
  TCheckedBytes bytes(image->Memory(), static_cast<std::size_t>(image->Size()));
  const TPEHeaders h = TPEHeaders::Parse(bytes);
  // The last descriptor (fixture_dep.dll) names a function outside the image.
  std::uint32_t d = FileOffsetOf(*image, h.Directories[ImportDirectory].VirtualAddress);
  while (bytes.U32(d + 20 + 12, "test") != 0) d += 20;
  bytes.PutU32(FileOffsetOf(*image, bytes.U32(d + 16, "test")), 0x7FFFFFF0, "test");

  {
    TFlashOCXLoader loader;
    EXPECT_THROW(loader.LoadFromStream(*image), TImageFormatError);
    EXPECT_EQ(loader.Handle(), nullptr);
    EXPECT_TRUE(loader.Modules().empty());
  }
  EXPECT_TRUE(dep.Reasons().empty());
}

}  // namespace
}  // namespace pageturn::test
