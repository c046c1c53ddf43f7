// Builds small i386 PE32 DLL images in memory for the portable loader tests and the fuzzer's
// seed: sections, base relocations, imports (by name, by ordinal, bound), exports, resources.
// It records where it put things so that tests can corrupt exactly one field.
#pragma once

#include <cstdint>
#include <cstring>
#include <map>
#include <string>
#include <variant>
#include <vector>

namespace pageturn::test {

using Bytes = std::vector<std::uint8_t>;

inline void Put16(Bytes& b, std::size_t at, std::uint16_t v) { std::memcpy(&b[at], &v, 2); }
inline void Put32(Bytes& b, std::size_t at, std::uint32_t v) { std::memcpy(&b[at], &v, 4); }
inline std::uint32_t Get32(const Bytes& b, std::size_t at) {
  std::uint32_t v;
  std::memcpy(&v, &b[at], 4);
  return v;
}
inline void Append16(Bytes& b, std::uint16_t v) { b.push_back(v & 0xFF); b.push_back(v >> 8); }
inline void Append32(Bytes& b, std::uint32_t v) {
  for (int i = 0; i < 4; ++i) b.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
}
inline void AppendString(Bytes& b, const std::string& s) {
  b.insert(b.end(), s.begin(), s.end());
  b.push_back(0);
}

struct TTestImport {
  std::string Dll;
  std::vector<std::variant<std::string, std::uint16_t>> Functions;  // name or ordinal
  bool Bound = false;  // TimeDateStamp non-zero: names only in OriginalFirstThunk
};

struct TTestResource {
  std::uint16_t Type;
  std::variant<std::uint16_t, std::u16string> Name;
  std::uint16_t Language;
  Bytes Data;
};

class TPEBuilder {
 public:
  static constexpr std::uint32_t NtOffset = 0x40;
  static constexpr std::uint32_t OptOffset = NtOffset + 24;
  static constexpr std::uint32_t SectionTable = OptOffset + 224;
  static constexpr std::uint32_t HeadersSize = 0x400;
  static constexpr std::uint32_t SectionAlign = 0x1000;
  static constexpr std::uint32_t FileAlign = 0x200;

  std::uint32_t ImageBase = 0x10000000;
  std::uint32_t EntryPoint = 0;
  bool WithRelocations = true;
  std::vector<std::uint32_t> Relocations;  // RVAs of 32-bit absolute addresses (HIGHLOW)
  Bytes RawRelocations;                    // appended after the generated blocks, as given
  std::vector<TTestImport> Imports;
  std::vector<std::pair<std::string, std::uint32_t>> Exports;  // name, RVA
  std::vector<TTestResource> Resources;

  // A data section; its RVA is returned (sections are laid out in call order).
  std::uint32_t AddSection(Bytes data, std::uint32_t virtualSize = 0) {
    const std::uint32_t rva = NextRva();
    sections_.push_back({std::move(data), virtualSize, rva});
    return rva;
  }
  // RVA the next section would get.
  std::uint32_t NextRva() const {
    std::uint32_t rva = SectionAlign;
    for (const auto& s : sections_) rva += Align(std::max<std::size_t>(Extent(s), 1), SectionAlign);
    return rva;
  }

  // Filled by Build.
  std::uint32_t ImportDirectoryRva = 0, RelocationRva = 0, ExportRva = 0, ResourceRva = 0;
  std::map<std::pair<int, int>, std::uint32_t> SlotRva;  // (import, function) -> FirstThunk entry
  std::vector<std::uint32_t> SectionHeaderOffsets;       // file offsets of the section headers
  std::uint32_t SizeOfImage = 0;

  Bytes Build() {
    std::vector<TSection> all = sections_;
    auto addSpecial = [&](Bytes data, std::uint32_t& rva) {
      rva = NextRvaOf(all);
      all.push_back({std::move(data), 0, rva});
    };
    if (!Imports.empty()) {
      const std::uint32_t rva = NextRvaOf(all);
      Bytes idata = BuildImports(rva);
      addSpecial(std::move(idata), ImportDirectoryRva);
    }
    if (!Exports.empty()) {
      const std::uint32_t rva = NextRvaOf(all);
      addSpecial(BuildExports(rva), ExportRva);
    }
    if (!Resources.empty()) {
      const std::uint32_t rva = NextRvaOf(all);
      addSpecial(BuildResources(rva), ResourceRva);
    }
    Bytes reloc;
    if (WithRelocations) {
      reloc = BuildRelocations();
      if (!reloc.empty()) addSpecial(reloc, RelocationRva);
    }
    SizeOfImage = NextRvaOf(all);

    Bytes file(HeadersSize, 0);
    Put16(file, 0, 0x5A4D);
    Put32(file, 0x3C, NtOffset);
    Put32(file, NtOffset, 0x00004550);
    Put16(file, NtOffset + 4, 0x014C);
    Put16(file, NtOffset + 6, static_cast<std::uint16_t>(all.size()));
    Put16(file, NtOffset + 20, 224);
    Put16(file, NtOffset + 22, 0x2102);  // executable, 32-bit, DLL
    Put16(file, OptOffset, 0x010B);
    Put32(file, OptOffset + 16, EntryPoint);
    Put32(file, OptOffset + 28, ImageBase);
    Put32(file, OptOffset + 32, SectionAlign);
    Put32(file, OptOffset + 36, FileAlign);
    Put32(file, OptOffset + 56, SizeOfImage);
    Put32(file, OptOffset + 60, HeadersSize);
    Put32(file, OptOffset + 92, 16);
    auto directory = [&](int i, std::uint32_t rva, std::uint32_t size) {
      Put32(file, OptOffset + 96 + 8 * i, rva);
      Put32(file, OptOffset + 100 + 8 * i, size);
    };
    SectionHeaderOffsets.clear();
    for (std::size_t i = 0; i < all.size(); ++i) {
      const TSection& s = all[i];
      const std::uint32_t header = SectionTable + 40 * static_cast<std::uint32_t>(i);
      SectionHeaderOffsets.push_back(header);
      const std::uint32_t raw = static_cast<std::uint32_t>(file.size());
      const std::uint32_t rawSize = Align(s.Data.size(), FileAlign);
      std::memcpy(&file[header], ".sect", 5);
      Put32(file, header + 8, s.VirtualSize ? s.VirtualSize : static_cast<std::uint32_t>(s.Data.size()));
      Put32(file, header + 12, s.Rva);
      Put32(file, header + 16, rawSize);
      Put32(file, header + 20, raw);
      Put32(file, header + 36, 0xE0000060);
      file.resize(raw + rawSize, 0);
      if (!s.Data.empty()) std::memcpy(&file[raw], s.Data.data(), s.Data.size());
    }
    if (ExportRva) directory(0, ExportRva, exportSize_);
    if (ImportDirectoryRva) directory(1, ImportDirectoryRva, 20 * static_cast<std::uint32_t>(Imports.size() + 1));
    if (ResourceRva) directory(2, ResourceRva, resourceSize_);
    if (RelocationRva) directory(5, RelocationRva, static_cast<std::uint32_t>(reloc.size()));
    return file;
  }

 private:
  struct TSection {
    Bytes Data;
    std::uint32_t VirtualSize;
    std::uint32_t Rva;
  };
  static std::uint32_t Align(std::size_t v, std::uint32_t a) {
    return static_cast<std::uint32_t>((v + a - 1) / a * a);
  }
  static std::size_t Extent(const TSection& s) { return std::max<std::size_t>(s.Data.size(), s.VirtualSize); }
  static std::uint32_t NextRvaOf(const std::vector<TSection>& all) {
    std::uint32_t rva = SectionAlign;
    for (const auto& s : all) rva += Align(std::max<std::size_t>(Extent(s), 1), SectionAlign);
    return rva;
  }

  Bytes BuildImports(std::uint32_t base) {
    // Descriptors, then per import: OriginalFirstThunk array, FirstThunk array, names.
    Bytes b(20 * (Imports.size() + 1), 0);
    for (std::size_t d = 0; d < Imports.size(); ++d) {
      const TTestImport& imp = Imports[d];
      const std::size_t n = imp.Functions.size();
      const std::uint32_t oft = base + static_cast<std::uint32_t>(b.size());
      b.resize(b.size() + 4 * (n + 1), 0);
      const std::uint32_t ft = base + static_cast<std::uint32_t>(b.size());
      b.resize(b.size() + 4 * (n + 1), 0);
      const std::uint32_t dllName = base + static_cast<std::uint32_t>(b.size());
      AppendString(b, imp.Dll);
      // An unbound descriptor's OriginalFirstThunk names a decoy: the loader must not read it.
      const std::uint32_t decoy = base + static_cast<std::uint32_t>(b.size());
      Append16(b, 0);
      AppendString(b, "Decoy");
      for (std::size_t f = 0; f < n; ++f) {
        std::uint32_t thunk;
        if (const auto* ord = std::get_if<std::uint16_t>(&imp.Functions[f])) {
          thunk = 0x80000000u | *ord;
        } else {
          if (b.size() % 2) b.push_back(0);
          thunk = base + static_cast<std::uint32_t>(b.size());
          Append16(b, static_cast<std::uint16_t>(f));  // hint
          AppendString(b, std::get<std::string>(imp.Functions[f]));
        }
        Put32(b, oft - base + 4 * f, imp.Bound ? thunk : decoy);
        Put32(b, ft - base + 4 * f, imp.Bound ? 0x11111110u + static_cast<std::uint32_t>(f) : thunk);
        SlotRva[{static_cast<int>(d), static_cast<int>(f)}] = ft + 4 * static_cast<std::uint32_t>(f);
      }
      const std::size_t desc = 20 * d;
      Put32(b, desc + 0, oft);
      Put32(b, desc + 4, imp.Bound ? 0xFFFFFFFFu : 0);
      Put32(b, desc + 12, dllName);
      Put32(b, desc + 16, ft);
    }
    return b;
  }

  Bytes BuildExports(std::uint32_t base) {
    // Functions are stored in reverse order, so name i maps to function index n-1-i, and Base is
    // 5: a loader that used the name position or Base would find the wrong function.
    const std::uint32_t n = static_cast<std::uint32_t>(Exports.size());
    Bytes b(40, 0);
    const std::uint32_t functions = base + static_cast<std::uint32_t>(b.size());
    for (std::uint32_t i = 0; i < n; ++i) Append32(b, Exports[n - 1 - i].second);
    const std::uint32_t names = base + static_cast<std::uint32_t>(b.size());
    b.resize(b.size() + 4 * n, 0);
    const std::uint32_t ordinals = base + static_cast<std::uint32_t>(b.size());
    for (std::uint32_t i = 0; i < n; ++i) Append16(b, static_cast<std::uint16_t>(n - 1 - i));
    for (std::uint32_t i = 0; i < n; ++i) {
      Put32(b, names - base + 4 * i, base + static_cast<std::uint32_t>(b.size()));
      AppendString(b, Exports[i].first);
    }
    Put32(b, 16, 5);  // Base
    Put32(b, 20, n);
    Put32(b, 24, n);
    Put32(b, 28, functions);
    Put32(b, 32, names);
    Put32(b, 36, ordinals);
    exportSize_ = static_cast<std::uint32_t>(b.size());
    return b;
  }

  Bytes BuildRelocations() {
    std::map<std::uint32_t, std::vector<std::uint16_t>> pages;
    for (std::uint32_t rva : Relocations)
      pages[rva & ~0xFFFu].push_back(static_cast<std::uint16_t>(0x3000 | (rva & 0xFFF)));
    Bytes b;
    for (auto& [page, entries] : pages) {
      if (entries.size() % 2) entries.push_back(0);  // type-0 padding, as linkers write it
      Append32(b, page);
      Append32(b, 8 + 2 * static_cast<std::uint32_t>(entries.size()));
      for (std::uint16_t e : entries) Append16(b, e);
    }
    b.insert(b.end(), RawRelocations.begin(), RawRelocations.end());
    return b;
  }

  // Three levels (type, name, language), each directory followed by its entries; then the
  // names, the data entries and the data.
  Bytes BuildResources(std::uint32_t base) {
    using NameKey = std::variant<std::uint16_t, std::u16string>;
    std::map<std::uint16_t, std::map<NameKey, std::vector<const TTestResource*>>> tree;
    for (const auto& r : Resources) tree[r.Type][r.Name].push_back(&r);
    Bytes b;
    auto directory = [&](std::uint16_t named, std::uint16_t ids) {
      const std::size_t at = b.size();
      b.resize(at + 16 + 8 * (named + ids), 0);
      Put16(b, at + 12, named);
      Put16(b, at + 14, ids);
      return at;
    };
    std::vector<std::pair<std::size_t, const TTestResource*>> dataEntries;  // entry field -> resource
    std::vector<std::pair<std::size_t, std::u16string>> nameFields;
    const std::size_t root = directory(0, static_cast<std::uint16_t>(tree.size()));
    std::size_t t = 0;
    for (auto& [type, names] : tree) {
      const std::size_t typeEntry = root + 16 + 8 * t++;
      Put32(b, typeEntry, type);
      std::uint16_t named = 0, ids = 0;
      for (auto& [key, _] : names) (key.index() == 1 ? named : ids)++;
      const std::size_t nameDir = directory(named, ids);
      Put32(b, typeEntry + 4, 0x80000000u | static_cast<std::uint32_t>(nameDir));
      // Named entries come first in a resource directory.
      std::size_t n = 0;
      for (int pass = 1; pass >= 0; --pass) {
        for (auto& [key, langs] : names) {
          if (static_cast<int>(key.index()) != pass) continue;
          const std::size_t nameEntry = nameDir + 16 + 8 * n++;
          if (pass == 1) nameFields.push_back({nameEntry, std::get<std::u16string>(key)});
          else Put32(b, nameEntry, std::get<std::uint16_t>(key));
          const std::size_t langDir = directory(0, static_cast<std::uint16_t>(langs.size()));
          Put32(b, nameEntry + 4, 0x80000000u | static_cast<std::uint32_t>(langDir));
          for (std::size_t l = 0; l < langs.size(); ++l) {
            Put32(b, langDir + 16 + 8 * l, langs[l]->Language);
            dataEntries.push_back({langDir + 16 + 8 * l + 4, langs[l]});
          }
        }
      }
    }
    for (auto& [field, text] : nameFields) {
      Put32(b, field, 0x80000000u | static_cast<std::uint32_t>(b.size()));
      Append16(b, static_cast<std::uint16_t>(text.size()));
      for (char16_t c : text) Append16(b, c);
    }
    std::vector<std::size_t> entryAt;
    for (auto& [field, res] : dataEntries) {
      if (b.size() % 4) b.resize(b.size() + 4 - b.size() % 4, 0);
      Put32(b, field, static_cast<std::uint32_t>(b.size()));
      entryAt.push_back(b.size());
      b.resize(b.size() + 16, 0);
    }
    for (std::size_t i = 0; i < dataEntries.size(); ++i) {
      if (b.size() % 4) b.resize(b.size() + 4 - b.size() % 4, 0);
      Put32(b, entryAt[i], base + static_cast<std::uint32_t>(b.size()));
      Put32(b, entryAt[i] + 4, static_cast<std::uint32_t>(dataEntries[i].second->Data.size()));
      b.insert(b.end(), dataEntries[i].second->Data.begin(), dataEntries[i].second->Data.end());
    }
    resourceSize_ = static_cast<std::uint32_t>(b.size());
    return b;
  }

  std::vector<TSection> sections_;
  std::uint32_t exportSize_ = 0, resourceSize_ = 0;
};

}  // namespace pageturn::test
