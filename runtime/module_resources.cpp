#include "runtime/module_resources.h"

#include <cstring>
#include <string>

#include "core/text.h"

namespace pageturn {

namespace {

constexpr std::uint32_t HighBit = 0x80000000u;

struct TDirectoryWalk {
  const TCheckedBytes& module;
  std::uint32_t root;  // RVA of the root directory

  // The OffsetToData of the first entry of the directory at `dir` (root-relative) that matches.
  template <class Match>
  bool Find(std::uint32_t dir, Match&& match, std::uint32_t& offsetToData) const {
    const std::uint64_t at = std::uint64_t{root} + dir;
    const std::uint32_t count = std::uint32_t{module.U16(at + 12, "resource directory")} +
                                module.U16(at + 14, "resource directory");
    for (std::uint32_t i = 0; i < count; ++i) {
      const std::uint64_t entry = at + 16 + 8 * std::uint64_t{i};
      const std::uint32_t name = module.U32(entry, "resource entry");
      if (match(name)) {
        offsetToData = module.U32(entry + 4, "resource entry");
        return true;
      }
    }
    return false;
  }

  // The directory string at `offset`, a 16-bit length and that many UTF-16 units, as narrow text.
  std::string NameText(std::uint32_t offset) const {
    const std::uint64_t at = std::uint64_t{root} + offset;
    const std::uint16_t length = module.U16(at, "resource name");
    const std::uint8_t* units = module.At(at + 2, std::uint64_t{length} * 2, "resource name");
    std::wstring wide;
    for (std::uint16_t i = 0; i < length; ++i) {
      std::uint16_t unit;
      std::memcpy(&unit, units + 2 * i, 2);
      wide += static_cast<wchar_t>(unit);
    }
    return WideToSystem(wide);
  }
};

bool IsSubdirectory(std::uint32_t offsetToData) { return (offsetToData & HighBit) != 0; }

}  // namespace

bool FindModuleResourceLang(const TCheckedBytes& module, std::uint16_t type, const char* name,
                            std::uint16_t language, TResourceData& found) {
  try {
    const TPEHeaders headers = TPEHeaders::Parse(module);
    const std::uint32_t root = headers.Directories[ResourceDirectory].VirtualAddress;
    if (root == 0) return false;
    const TDirectoryWalk walk{module, root};

    std::uint32_t typeDir, nameDir, dataEntry;
    if (!walk.Find(0, [&](std::uint32_t n) { return !(n & HighBit) && (n & 0xFFFF) == type; }, typeDir) ||
        !IsSubdirectory(typeDir))
      return false;
    bool named;
    if (IsOrdinalName(name)) {
      const auto id = static_cast<std::uint16_t>(reinterpret_cast<std::uintptr_t>(name));
      named = walk.Find(typeDir & ~HighBit,
                        [&](std::uint32_t n) { return !(n & HighBit) && (n & 0xFFFF) == id; }, nameDir);
    } else {
      named = walk.Find(typeDir & ~HighBit, [&](std::uint32_t n) {
        return (n & HighBit) && std::strcmp(walk.NameText(n & ~HighBit).c_str(), name) == 0;
      }, nameDir);
    }
    if (!named || !IsSubdirectory(nameDir)) return false;
    if (!walk.Find(nameDir & ~HighBit, [&](std::uint32_t n) { return (n & 0xFFFF) == language; },
                   dataEntry) ||
        IsSubdirectory(dataEntry))
      return false;

    const std::uint64_t entry = std::uint64_t{root} + dataEntry;
    found.Rva = module.U32(entry, "resource data entry");
    found.Size = module.U32(entry + 4, "resource data entry");
    // Callers read the data straight from the module: it must lie inside it.
    return module.Contains(found.Rva, found.Size);
  } catch (const TImageFormatError&) {
    return false;
  }
}

bool FindModuleResource(const TCheckedBytes& module, std::uint16_t type, const char* name,
                        const TResourceLanguages& languages, TResourceData& found) {
  const std::uint16_t order[] = {languages.ThreadLocale, languages.SystemDefault,
                                 languages.UserDefault, 0, 1033};
  for (std::uint16_t language : order)
    if (FindModuleResourceLang(module, type, name, language, found)) return true;
  return false;
}

std::uint32_t PackRuntimeVersion(std::uint32_t ms, std::uint32_t ls) {
  std::uint32_t v = ms >> 16;
  v = v * 256 + (ms & 0xFFFF);
  v = v * 256 + (ls >> 16);
  v = v * 256 + (ls & 0xFFFF);
  return v;
}

std::uint32_t RuntimeVersionFromVersionInfo(const std::uint8_t* data, std::uint32_t size) {
  try {
    const TCheckedBytes info(const_cast<std::uint8_t*>(data), size);
    // wLength, wValueLength, wType and the key "VS_VERSION_INFO" with its zero, then padding.
    std::uint64_t at = 38;
    while (info.U16(at, "version info") == 0) at += 2;
    return PackRuntimeVersion(info.U32(at + 16, "version info"), info.U32(at + 20, "version info"));
  } catch (const TImageFormatError&) {
    return 0;
  }
}

}  // namespace pageturn
