#include "runtime/pe_image.h"

#include <algorithm>

namespace pageturn {

namespace {
constexpr std::uint16_t DosSignature = 0x5A4D;      // "MZ"
constexpr std::uint32_t NtSignature = 0x00004550;   // "PE\0\0"
constexpr std::uint16_t MachineI386 = 0x014C;
constexpr std::uint16_t OptionalHeaderMagic32 = 0x010B;
constexpr std::uint32_t FileHeaderSize = 20;
constexpr std::uint32_t SectionHeaderSize = 40;
constexpr std::uint32_t DirectoriesOffset = 96;  // within the optional header
}  // namespace

TPEHeaders TPEHeaders::Parse(const TCheckedBytes& image) {
  TPEHeaders h;
  if (image.U16(0, "DOS header") != DosSignature) throw TImageFormatError("no DOS signature");
  h.NtHeadersOffset = image.U32(0x3C, "DOS header");
  const std::uint64_t nt = h.NtHeadersOffset;
  if (image.U32(nt, "NT headers") != NtSignature) throw TImageFormatError("no NT signature");
  if (image.U16(nt + 4, "file header") != MachineI386) throw TImageFormatError("machine is not i386");
  h.NumberOfSections = image.U16(nt + 6, "file header");
  const std::uint16_t sizeOfOptionalHeader = image.U16(nt + 20, "file header");

  // Is the optional header a PE32 one, and does all of it (as claimed) fit in the image?
  const std::uint64_t opt = nt + 4 + FileHeaderSize;
  if (sizeOfOptionalHeader < DirectoriesOffset) throw TImageFormatError("optional header too small");
  image.At(opt, sizeOfOptionalHeader, "optional header");
  if (image.U16(opt, "optional header") != OptionalHeaderMagic32)
    throw TImageFormatError("optional header is not PE32");
  h.AddressOfEntryPoint = image.U32(opt + 16, "optional header");
  h.ImageBase = image.U32(opt + 28, "optional header");
  h.SizeOfImage = image.U32(opt + 56, "optional header");
  h.SizeOfHeaders = image.U32(opt + 60, "optional header");

  // Only the directories both counted and present in the optional header exist; the rest are empty.
  const std::uint32_t counted = image.U32(opt + 92, "optional header");
  const std::uint32_t present = (sizeOfOptionalHeader - DirectoriesOffset) / 8;
  const std::uint32_t directories = std::min<std::uint32_t>({counted, present, 16u});
  for (std::uint32_t i = 0; i < directories; ++i) {
    h.Directories[i].VirtualAddress = image.U32(opt + DirectoriesOffset + 8 * i, "data directory");
    h.Directories[i].Size = image.U32(opt + DirectoriesOffset + 8 * i + 4, "data directory");
  }

  // Does the image claim a sane size, with room for its own headers?
  if (h.SizeOfImage == 0 || h.SizeOfImage > MaxSizeOfImage)
    throw TImageFormatError("SizeOfImage out of range");
  if (h.SizeOfHeaders > h.SizeOfImage) throw TImageFormatError("headers larger than the image");
  // The mapped copy of the headers must hold the whole optional header: exports and resources
  // are found through it after mapping.
  if (opt + sizeOfOptionalHeader > h.SizeOfHeaders)
    throw TImageFormatError("SizeOfHeaders does not cover the NT headers");
  if (h.AddressOfEntryPoint >= h.SizeOfImage) throw TImageFormatError("entry point outside the image");

  h.SectionTableOffset = static_cast<std::uint32_t>(opt + sizeOfOptionalHeader);
  image.At(h.SectionTableOffset, std::uint64_t{SectionHeaderSize} * h.NumberOfSections, "section table");
  return h;
}

TSectionHeader TPEHeaders::Section(const TCheckedBytes& image, unsigned index) const {
  const std::uint64_t at = SectionTableOffset + std::uint64_t{SectionHeaderSize} * index;
  return TSectionHeader{image.U32(at + 8, "section header"), image.U32(at + 12, "section header"),
                        image.U32(at + 16, "section header"), image.U32(at + 20, "section header")};
}

}  // namespace pageturn
