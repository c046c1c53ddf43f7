// Arbitrary file bytes through the reader and the lookups: no crash, no leak, no allocation
// beyond what the file holds (the fuzzer runs with a 256 MB malloc limit).
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <new>
#include <string>

#include "bundle/bundle_cache.h"
#include "bundle/bundle_lookup.h"
#include "bundle/bundle_names.h"
#include "bundle/exe_ext_reader.h"
#include "core/error.h"

namespace {

// While an input runs, no single allocation may be larger than the input itself, with some
// room for small fixed buffers: the reader must never trust the trailer's numbers.
thread_local std::size_t allocationLimit = 0;  // 0: not checking (libFuzzer's own work)

}  // namespace

void* operator new(std::size_t size) {
  if (allocationLimit != 0 && size > allocationLimit) {
    std::fprintf(stderr, "allocation of %zu bytes, limit %zu\n", size, allocationLimit);
    std::abort();
  }
  if (void* p = std::malloc(size ? size : 1)) return p;
  throw std::bad_alloc();
}
void* operator new[](std::size_t size) { return operator new(size); }
void* operator new(std::size_t size, const std::nothrow_t&) noexcept {
  try {
    return operator new(size);
  } catch (...) {
    return nullptr;
  }
}
void* operator new[](std::size_t size, const std::nothrow_t& tag) noexcept {
  return operator new(size, tag);
}
void operator delete(void* p, const std::nothrow_t&) noexcept { std::free(p); }
void operator delete[](void* p, const std::nothrow_t&) noexcept { std::free(p); }
void operator delete(void* p) noexcept { std::free(p); }
void operator delete[](void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }
void operator delete[](void* p, std::size_t) noexcept { std::free(p); }

namespace {

using namespace pageturn;

class TSink : public TStream {
 public:
  std::size_t Read(void*, std::size_t) override { return 0; }
  std::size_t Write(const void*, std::size_t count) override { return count; }
  std::int64_t Seek(std::int64_t, TSeekOrigin) override { return 0; }
};

// One file per fuzzing process, removed when the process ends.
struct TBookFile {
  std::string path = "/tmp/pageturn-fuzz-" + std::to_string(::getpid()) + ".exe";
  ~TBookFile() { std::remove(path.c_str()); }
};

const std::string& BookPath() {
  static const TBookFile file;
  return file.path;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string& path = BookPath();
  {
    std::FILE* file = std::fopen(path.c_str(), "wb");
    if (!file) return 0;
    std::fwrite(data, 1, size, file);
    std::fclose(file);
  }
  // The same path is rewritten within one clock tick: the identity alone cannot tell the
  // versions apart here, so the cache starts empty for every input.
  ClearBundleCache();
  allocationLimit = 2 * size + 4096;

  std::string index;
  try {
    const TExeExtReader reader(path);
    TSink sink;
    const std::int32_t count = reader.EntryCount();
    for (std::int32_t n = 0; n < count && n < 64; ++n) reader.ReadEntry(n, sink);
    if (count > 64) reader.ReadEntry(count - 1, sink);
    if (count > 0) index = reader.ReadEntryText(0);
  } catch (const Error&) {
  }

  std::vector<std::string> names = {"book.swf", "ExeConfig.xml", ""};
  for (const TBundleIndexLine& line : ParseBundleIndex(index)) {
    if (names.size() >= 8) break;
    names.push_back(line.name);
  }
  for (bool cached : {true, false}) {
    SetBundleCacheEnabled(cached);
    for (const std::string& name : names) {
      BundleEntryIndex(name, path);
      TMemoryStream stream;
      ExtractBundleEntry(name, stream, path);
      LoadBundleEntry(name, path);
    }
  }
  SetBundleCacheEnabled(true);
  allocationLimit = 0;
  return 0;
}
