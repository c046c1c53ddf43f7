// Resources and version of a mapped image, found by walking its resource directory ourselves:
// the system's resource functions cannot see an image that its own loader did not map.
#pragma once

#include <cstdint>

#include "runtime/pe_image.h"

namespace pageturn {

constexpr std::uint16_t RtCursor = 1, RtMenu = 4, RtGroupCursor = 12, RtVersion = 16;

struct TResourceData {
  std::uint32_t Rva = 0;   // of the data, relative to the module
  std::uint32_t Size = 0;
};

// Type, then name (numeric when IsOrdinalName, else compared exactly with the entry's name in
// `narrow` text), then the first entry of `language`. False when absent or malformed, or when
// the data does not lie inside the image.
bool FindModuleResourceLang(const TCheckedBytes& module, std::uint16_t type, const char* name,
                            std::uint16_t language, TResourceData& found);

// The five-language order: thread locale, system default, user default, neutral, 1033.
struct TResourceLanguages {
  std::uint16_t ThreadLocale, SystemDefault, UserDefault;
};
bool FindModuleResource(const TCheckedBytes& module, std::uint16_t type, const char* name,
                        const TResourceLanguages& languages, TResourceData& found);

// Packs a product version one byte per part, in 32-bit arithmetic: a part above 255 spills into
// the next higher byte (11.0.1.300 gives 0x0B00022C).
std::uint32_t PackRuntimeVersion(std::uint32_t productVersionMS, std::uint32_t productVersionLS);
// The packed product version of VS_VERSIONINFO data, 0 when it is too short to hold one.
std::uint32_t RuntimeVersionFromVersionInfo(const std::uint8_t* data, std::uint32_t size);

}  // namespace pageturn
