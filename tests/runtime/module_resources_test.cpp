// Resource walk, version packing, volume stage and cursor cache: the portable decisions of the
// runtime's replaced imports.
#include "runtime/module_resources.h"

#include <gtest/gtest.h>

#include "runtime/interception_logic.h"
#include "tests/runtime/fake_module_system.h"
#include "tests/runtime/pe_builder.h"

namespace pageturn::test {
namespace {

// Maps a built image with the fake system and hands out a view of it.
struct TMapped {
  TFakeModuleSystem system;
  TDLLLoader loader{system};
  explicit TMapped(const Bytes& file) { loader.LoadFromBytes(file.data(), file.size()); }
  TCheckedBytes Image() const { return loader.Image(); }
  std::string Text(const TResourceData& d) const {
    return std::string(reinterpret_cast<const char*>(loader.Handle() + d.Rva), d.Size);
  }
};

Bytes Text(const std::string& s) { return Bytes(s.begin(), s.end()); }

Bytes ResourceImage() {
  TPEBuilder b;
  b.AddSection(Bytes(0x10, 0));
  b.Resources = {
      {RtMenu, std::uint16_t{100}, 0x0409, Text("menu-en")},
      {RtMenu, std::uint16_t{100}, 0x0407, Text("menu-de")},
      {RtMenu, std::uint16_t{100}, 0x0000, Text("menu-neutral")},
      {RtMenu, std::uint16_t{200}, 0x0409, Text("only-1033")},
      {RtMenu, std::u16string(u"MAINMENU"), 0x040C, Text("menu-fr")},
      {RtGroupCursor, std::uint16_t{100}, 0x0409, Text("not-a-menu")},
  };
  return b.Build();
}

TEST(FindModuleResource, WalksTypeNameAndLanguage) {
  TMapped m(ResourceImage());
  TResourceData d;
  ASSERT_TRUE(FindModuleResourceLang(m.Image(), RtMenu, OrdinalName(100), 0x0407, d));
  EXPECT_EQ(m.Text(d), "menu-de");
  ASSERT_TRUE(FindModuleResourceLang(m.Image(), RtMenu, "MAINMENU", 0x040C, d));
  EXPECT_EQ(m.Text(d), "menu-fr");
  EXPECT_FALSE(FindModuleResourceLang(m.Image(), RtMenu, "MainMenu", 0x040C, d)) << "case-sensitive";
  EXPECT_FALSE(FindModuleResourceLang(m.Image(), RtMenu, OrdinalName(100), 0x0411, d));
  EXPECT_FALSE(FindModuleResourceLang(m.Image(), RtCursor, OrdinalName(100), 0x0409, d));
  ASSERT_TRUE(FindModuleResourceLang(m.Image(), RtGroupCursor, OrdinalName(100), 0x0409, d));
  EXPECT_EQ(m.Text(d), "not-a-menu");
}

TEST(FindModuleResource, FallsBackThroughTheFiveLanguages) {
  TMapped m(ResourceImage());
  struct Case {
    TResourceLanguages languages;
    std::uint16_t id;
    const char* expected;
  };
  const Case cases[] = {
      {{0x0407, 0x0409, 0x0409}, 100, "menu-de"},       // thread locale
      {{0x0411, 0x0407, 0x0409}, 100, "menu-de"},       // system default
      {{0x0411, 0x0412, 0x0407}, 100, "menu-de"},       // user default
      {{0x0411, 0x0412, 0x0413}, 100, "menu-neutral"},  // neutral
      {{0x0411, 0x0412, 0x0413}, 200, "only-1033"},     // 1033 last
  };
  for (const Case& c : cases) {
    TResourceData d;
    ASSERT_TRUE(FindModuleResource(m.Image(), RtMenu, OrdinalName(c.id), c.languages, d)) << c.expected;
    EXPECT_EQ(m.Text(d), c.expected);
  }
}

TEST(FindModuleResource, DataOutsideTheImageIsNotFound) {
  TPEBuilder b;
  b.AddSection(Bytes(0x10, 0));
  b.Resources = {{RtMenu, std::uint16_t{1}, 0, Text("seven!!")}};
  Bytes file = b.Build();
  // Find the data entry (an RVA inside the section, then the size 7) and make its size huge.
  const std::uint32_t raw = Get32(file, b.SectionHeaderOffsets[1] + 20);
  const std::uint32_t size = Get32(file, b.SectionHeaderOffsets[1] + 8);
  bool patched = false;
  for (std::uint32_t at = raw + 4; at + 4 <= raw + size && !patched; at += 4) {
    const std::uint32_t rva = Get32(file, at - 4);
    if (Get32(file, at) == 7 && rva > b.ResourceRva && rva < b.ResourceRva + size)
      Put32(file, at, 0x7FFFFFFF), patched = true;
  }
  ASSERT_TRUE(patched);
  TMapped m(file);
  TResourceData d;
  EXPECT_FALSE(FindModuleResourceLang(m.Image(), RtMenu, OrdinalName(1), 0, d));
}

TEST(RuntimeVersion, PacksOneBytePerPartAndSpills) {
  EXPECT_EQ(PackRuntimeVersion(0x000A0003, 0x00B7000B), 0x0A03B70Bu);  // 10.3.183.11
  EXPECT_EQ(PackRuntimeVersion(0x000B0000, 0x0001012C), 0x0B00022Cu);  // 11.0.1.300
  EXPECT_EQ(PackRuntimeVersion(0x00090000, 0x001C0000), 0x09001C00u);  // 9.0.28.0
}

TEST(RuntimeVersion, ReadsTheFixedInfoAfterTheKeyAndPadding) {
  Bytes info(38 + 2, 0);  // header and key (content irrelevant), then one padding word
  Put16(info, 0, 0x1234);
  Append32(info, 0xFEEF04BD);  // VS_FIXEDFILEINFO signature
  Append32(info, 0x00010000);  // struct version
  Append32(info, 0);           // file version MS
  Append32(info, 0);           // file version LS
  Append32(info, 0x000A0003);  // product version MS
  Append32(info, 0x00B7000B);  // product version LS
  EXPECT_EQ(RuntimeVersionFromVersionInfo(info.data(), static_cast<std::uint32_t>(info.size())), 0x0A03B70Bu);
  // Too short to hold the product version, or all padding: 0, never a read past the data.
  EXPECT_EQ(RuntimeVersionFromVersionInfo(info.data(), static_cast<std::uint32_t>(info.size() - 1)), 0u);
  const Bytes zeros(64, 0);
  EXPECT_EQ(RuntimeVersionFromVersionInfo(zeros.data(), 64), 0u);
}

TEST(VolumeStage, ScalesKnownWidthsAndLeavesAnOddByte) {
  Bytes wave16 = {0x10, 0x00, 0xF0, 0xFF, 0x7F};  // 16, -16, odd byte
  ApplyVolumeStage(wave16.data(), 5, true, true, 2, 50);
  EXPECT_EQ(wave16, (Bytes{0x08, 0x00, 0xF8, 0xFF, 0x7F}));

  Bytes wave8 = {0x7F, 0x81, 0x03, 0xFD};  // 127, -127, 3, -3
  ApplyVolumeStage(wave8.data(), 4, true, true, 1, 50);
  EXPECT_EQ(wave8, (Bytes{63, static_cast<std::uint8_t>(-63), 1, static_cast<std::uint8_t>(-1)}));

  Bytes same = {1, 2, 3, 4};
  ApplyVolumeStage(same.data(), 4, true, true, 2, 100);
  ApplyVolumeStage(same.data(), 4, true, false, 2, 10);
  ApplyVolumeStage(same.data(), 4, true, true, 3, 10);
  EXPECT_EQ(same, (Bytes{1, 2, 3, 4}));

  ApplyVolumeStage(same.data(), 4, false, true, 2, 100);
  EXPECT_EQ(same, Bytes(4, 0));
}

TEST(SavedCursors, MatchesModuleAndKindOfName) {
  TSavedCursors cache;
  int moduleA, moduleB, c1, c2, c3;
  cache.AddCursor(&c1, &moduleA, OrdinalName(5));
  cache.AddCursor(&c2, &moduleA, "Hand");
  cache.AddCursor(&c3, &moduleA, OrdinalName(5));  // a later duplicate never wins
  EXPECT_EQ(cache.FindCursor(&moduleA, OrdinalName(5)), &c1);
  EXPECT_EQ(cache.FindCursor(&moduleA, "Hand"), &c2);
  EXPECT_EQ(cache.FindCursor(&moduleA, "hand"), nullptr);
  EXPECT_EQ(cache.FindCursor(&moduleB, OrdinalName(5)), nullptr);
  EXPECT_EQ(cache.FindCursor(&moduleA, OrdinalName(6)), nullptr);
}

TEST(FlashClassName, FormatsTheRequestedNameAndTheNumber) {
  EXPECT_EQ(FlashClassName("MacromediaFlashPlayerActiveX", -12345), "FlashPlayerControl_MacromediaFlashPlayerActiveX_-12345");
}

}  // namespace
}  // namespace pageturn::test
