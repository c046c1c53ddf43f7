#include "runtime/dll_loader.h"

#include <algorithm>
#include <cstring>
#include <utility>

namespace pageturn {

namespace {

constexpr std::uint32_t OrdinalFlag32 = 0x80000000u;
constexpr std::uint32_t ImportDescriptorSize = 20;
// A stream longer than this cannot be a module image the loader would accept.
constexpr std::int64_t MaxFileImageSize = std::int64_t{TPEHeaders::MaxSizeOfImage} * 2;

std::uint32_t Address32(const void* p) {
  return static_cast<std::uint32_t>(reinterpret_cast<std::uintptr_t>(p));
}

// The DLL name without any leading path: the part after the last backslash or colon.
std::string WithoutPath(const char* name) {
  const std::string text(name);
  const auto cut = text.find_last_of("\\:");
  return cut == std::string::npos ? text : text.substr(cut + 1);
}

// Releases the block on every path out of a load that did not complete.
struct TBlockGuard {
  TModuleSystem& system;
  std::uint8_t* block;
  ~TBlockGuard() {
    if (block != nullptr) system.ReleaseImage(block);
  }
};

// Headers are read from a stream in one piece of this size, or of SizeOfHeaders when larger.
constexpr std::size_t FirstHeaderRead = 64 * 1024;

}  // namespace

class TImageSource {
 public:
  virtual ~TImageSource() = default;
  virtual std::uint64_t Size() const = 0;
  // Copies the `length` bytes at `offset`; raises, naming `what`, when they lie outside the file.
  virtual void Copy(std::uint8_t* target, std::uint64_t offset, std::uint64_t length,
                    const char* what) = 0;
};

namespace {

class TBytesSource final : public TImageSource {
 public:
  explicit TBytesSource(const TCheckedBytes& file) : file_(file) {}
  std::uint64_t Size() const override { return file_.Size(); }
  void Copy(std::uint8_t* target, std::uint64_t offset, std::uint64_t length,
            const char* what) override {
    std::memcpy(target, file_.At(offset, length, what), static_cast<std::size_t>(length));
  }

 private:
  TCheckedBytes file_;
};

class TStreamSource final : public TImageSource {
 public:
  TStreamSource(TStream& stream, std::uint64_t size) : stream_(stream), size_(size) {}
  std::uint64_t Size() const override { return size_; }
  void Copy(std::uint8_t* target, std::uint64_t offset, std::uint64_t length,
            const char* what) override {
    if (offset > size_ || length > size_ - offset)
      throw TImageFormatError(std::string(what) + " lies outside the image");
    stream_.Seek(static_cast<std::int64_t>(offset), TSeekOrigin::Beginning);
    stream_.ReadBuffer(target, static_cast<std::size_t>(length));
  }

 private:
  TStream& stream_;
  std::uint64_t size_;
};

}  // namespace

TDLLLoader::TDLLLoader(TModuleSystem& system) : system_(system) {}

TDLLLoader::~TDLLLoader() { Unload(); }

void TDLLLoader::Unload() {
  importedFunctions_.reset();
  if (handle_ == nullptr) return;
  if (entryPoint_ != 0) system_.CallEntryPoint(handle_ + entryPoint_, handle_, DllProcessDetach);
  FreeDependencies();
  system_.ReleaseImage(std::exchange(handle_, nullptr));
}

void TDLLLoader::FreeDependencies() {
  for (void* module : modules_) system_.FreeDependency(module);
  modules_.clear();
}

void TDLLLoader::LoadFromStream(TStream& stream) {
  // A memory stream is read in place (it is never written).
  if (auto* memory = dynamic_cast<TMemoryStream*>(&stream)) {
    LoadFromBytes(memory->Memory(), static_cast<std::size_t>(memory->Size()));
    return;
  }
  // Any other stream: the headers into a buffer of their own, the rest straight into the image,
  // so that a load from a file needs little more memory than the image itself.
  if (handle_ != nullptr) throw Error("Module already loaded");
  stream.SetPosition(0);
  const std::int64_t size = stream.Size();
  if (size < 0 || size > MaxFileImageSize) throw TImageFormatError("file image too large");
  const auto fileSize = static_cast<std::uint64_t>(size);
  std::vector<std::uint8_t> headerBytes(static_cast<std::size_t>(std::min<std::uint64_t>(fileSize, FirstHeaderRead)));
  stream.ReadBuffer(headerBytes.data(), headerBytes.size());
  const TPEHeaders headers = TPEHeaders::Parse(TCheckedBytes(headerBytes.data(), headerBytes.size()));
  if (headers.SizeOfHeaders > headerBytes.size() && headers.SizeOfHeaders <= fileSize) {
    const std::size_t had = headerBytes.size();
    headerBytes.resize(headers.SizeOfHeaders);
    stream.ReadBuffer(headerBytes.data() + had, headerBytes.size() - had);
  }
  TStreamSource file(stream, fileSize);
  Load(file, TCheckedBytes(headerBytes.data(), headerBytes.size()));
}

void TDLLLoader::LoadFromBytes(const std::uint8_t* data, std::size_t size) {
  // The reader never writes through the file view.
  const TCheckedBytes view(const_cast<std::uint8_t*>(data), size);
  TBytesSource file(view);
  Load(file, view);
}

void TDLLLoader::Load(TImageSource& file, const TCheckedBytes& headerBytes) {
  if (handle_ != nullptr) throw Error("Module already loaded");
  modules_.clear();
  importedFunctions_ = std::make_unique<TImportedFunctions>();

  const TPEHeaders headers = TPEHeaders::Parse(headerBytes);
  if (headers.SizeOfHeaders > file.Size()) throw TImageFormatError("headers lie outside the file");

  TBlockGuard guard{system_, system_.AllocateImage(headers.SizeOfImage)};
  const TCheckedBytes block(guard.block, headers.SizeOfImage);
  try {
    file.Copy(block.Data(), 0, headers.SizeOfHeaders, "headers");
    MapSections(file, headerBytes, headers, block);
    Relocate(headers, block);
    ResolveImports(headers, block);
  } catch (...) {
    FreeDependencies();
    importedFunctions_ = std::make_unique<TImportedFunctions>();
    throw;
  }
  system_.FlushCode(block.Data(), headers.SizeOfImage);

  entryPoint_ = headers.AddressOfEntryPoint;
  imageSize_ = headers.SizeOfImage;
  std::uint8_t* const mapped = std::exchange(guard.block, nullptr);
  if (entryPoint_ != 0) {
    // Results ignored: an entry point that reports failure still leaves the module loaded.
    system_.CallEntryPoint(mapped + entryPoint_, mapped, DllProcessAttach);
    system_.CallEntryPoint(mapped + entryPoint_, mapped, DllThreadAttach);
  }
  handle_ = mapped;
}

void TDLLLoader::MapSections(TImageSource& file, const TCheckedBytes& headerBytes,
                             const TPEHeaders& headers, const TCheckedBytes& block) {
  for (unsigned i = 0; i < headers.NumberOfSections; ++i) {
    const TSectionHeader s = headers.Section(headerBytes, i);
    // VirtualSize alone decides how much of a section exists.
    std::uint8_t* target = block.At(s.VirtualAddress, s.VirtualSize, "section");
    const std::uint32_t raw = std::min(s.VirtualSize, s.SizeOfRawData);
    if (raw > 0) file.Copy(target, s.PointerToRawData, raw, "section data");
    std::memset(target + raw, 0, s.VirtualSize - raw);
  }
}

void TDLLLoader::Relocate(const TPEHeaders& headers, const TCheckedBytes& block) {
  const TDataDirectory dir = headers.Directories[BaseRelocationDirectory];
  const std::uint32_t delta = Address32(block.Data()) - headers.ImageBase;  // wraps around
  const std::uint64_t end = std::uint64_t{dir.VirtualAddress} + dir.Size;
  std::uint64_t at = dir.VirtualAddress;
  while (at < end) {
    const std::uint32_t page = block.U32(at, "relocation block");
    const std::uint32_t sizeOfBlock = block.U32(at + 4, "relocation block");
    // A block smaller than its own header would never let the walk move on.
    if (sizeOfBlock < 8) throw TImageFormatError("relocation block too small");
    const std::uint32_t count = (sizeOfBlock - 8) / 2;
    const std::uint8_t* entries = block.At(at + 8, std::uint64_t{count} * 2, "relocation entries");
    for (std::uint32_t i = 0; i < count; ++i) {
      std::uint16_t entry;
      std::memcpy(&entry, entries + 2 * i, 2);
      if ((entry >> 12) == 0) continue;  // IMAGE_REL_BASED_ABSOLUTE: padding
      // Every other type is applied as HIGHLOW, a full 32-bit addition.
      const std::uint64_t target = std::uint64_t{page} + (entry & 0x0FFF);
      block.PutU32(target, block.U32(target, "relocation target") + delta, "relocation target");
    }
    at += 8 + std::uint64_t{count} * 2;
  }
}

void TDLLLoader::ResolveImports(const TPEHeaders& headers, const TCheckedBytes& block) {
  const TDataDirectory dir = headers.Directories[ImportDirectory];
  if (dir.VirtualAddress == 0) return;  // no imports at all
  for (std::uint64_t d = dir.VirtualAddress;; d += ImportDescriptorSize) {
    const std::uint32_t originalFirstThunk = block.U32(d, "import descriptor");
    const std::uint32_t timeDateStamp = block.U32(d + 4, "import descriptor");
    const std::uint32_t name = block.U32(d + 12, "import descriptor");
    const std::uint32_t firstThunk = block.U32(d + 16, "import descriptor");
    if (name == 0) break;
    const char* dllName = block.CString(name, "import DLL name");

    void* module = system_.LoadDependency(dllName);
    if (module != nullptr) modules_.push_back(module);
    const std::string shortName = WithoutPath(dllName);

    // A bound descriptor's FirstThunk holds pre-bound addresses, so its names are read from
    // OriginalFirstThunk; without one there is nowhere else to read them from.
    const std::uint32_t names =
        (timeDateStamp != 0 && originalFirstThunk != 0) ? originalFirstThunk : firstThunk;
    for (std::uint64_t i = 0;; ++i) {
      const std::uint32_t thunk = block.U32(names + 4 * i, "import thunk");
      if (thunk == 0) break;
      const std::uint64_t slotOffset = firstThunk + 4 * i;
      auto* slot = reinterpret_cast<std::uint32_t*>(block.At(slotOffset, 4, "import slot"));
      const char* key;
      if (thunk & OrdinalFlag32) {
        key = OrdinalName(static_cast<std::uint16_t>(thunk & 0xFFFF));
      } else {
        key = block.CString(std::uint64_t{thunk} + 2, "import name");
        importedFunctions_->Add(shortName, key, slot);
      }
      void* replacement = GetImportReplacement(dllName, key);
      const std::uint32_t address =
          replacement != nullptr ? Address32(replacement) : system_.ResolveImport(module, key);
      block.PutU32(slotOffset, address, "import slot");
    }
  }
}

void* TDLLLoader::GetExportAddress(const char* name) const {
  if (handle_ == nullptr || name == nullptr || IsOrdinalName(name)) return nullptr;
  try {
    const TCheckedBytes image = Image();
    const TPEHeaders headers = TPEHeaders::Parse(image);
    const std::uint32_t dir = headers.Directories[ExportDirectory].VirtualAddress;
    if (dir == 0) return nullptr;
    const std::uint32_t numberOfFunctions = image.U32(dir + 20, "export directory");
    const std::uint32_t numberOfNames = image.U32(dir + 24, "export directory");
    const std::uint32_t functions = image.U32(dir + 28, "export directory");
    const std::uint32_t names = image.U32(dir + 32, "export directory");
    const std::uint32_t ordinals = image.U32(dir + 36, "export directory");
    for (std::uint64_t i = 0; i < numberOfNames; ++i) {
      const char* exportName = image.CString(image.U32(names + 4 * i, "export names"), "export name");
      // Exact and case-sensitive, as lstrcmpA's equality.
      if (std::strcmp(exportName, name) != 0) continue;
      // The index is used as it is stored; the directory's Base is not involved.
      const std::uint16_t index = image.U16(ordinals + 2 * i, "export ordinals");
      if (index >= numberOfFunctions) return nullptr;
      const std::uint32_t rva = image.U32(functions + 4 * std::uint64_t{index}, "export functions");
      if (rva == 0 || rva >= imageSize_) return nullptr;
      return handle_ + rva;
    }
  } catch (const TImageFormatError&) {
  }
  return nullptr;
}

}  // namespace pageturn
