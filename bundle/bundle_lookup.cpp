#include "bundle/bundle_lookup.h"

#include <algorithm>
#include <atomic>
#include <mutex>
#include <unordered_map>
#include <utility>
#include <vector>

#include "bundle/bundle_cache.h"
#include "bundle/bundle_names.h"
#include "bundle/bundle_platform.h"
#include "bundle/exe_ext_reader.h"
#include "core/error.h"

namespace pageturn {

namespace {

// A view of an open file with a position of its own: threads that share one cached file read
// it through views, never moving each other's position.
class TFileView : public TStream {
 public:
  explicit TFileView(TFileStream& file) : file_(file) {}
  std::size_t Read(void* buffer, std::size_t count) override {
    const std::size_t got = file_.ReadAt(position_, buffer, count);
    position_ += static_cast<std::int64_t>(got);
    return got;
  }
  std::size_t Write(const void*, std::size_t) override { return 0; }
  std::int64_t Seek(std::int64_t offset, TSeekOrigin origin) override {
    const std::int64_t base = origin == TSeekOrigin::Beginning ? 0
                              : origin == TSeekOrigin::Current ? position_
                                                               : file_.Size();
    position_ = std::max<std::int64_t>(0, base + offset);
    return position_;
  }
  std::int64_t Size() override { return file_.Size(); }

 private:
  TFileStream& file_;
  std::int64_t position_ = 0;
};

// One version of one bundle file: its reader and its index, read once, and the file itself,
// held open for as long as the cache keeps the snapshot.
struct TBundleSnapshot {
  bundle_platform::TFileIdentity identity;
  std::unique_ptr<TFileStream> file;
  std::unique_ptr<TExeExtReader> reader;                  // null: the file is no readable bundle
  std::vector<TBundleIndexLine> lines;                    // kept for the uncached lookup
  std::unordered_map<std::string, std::int32_t> numbers;  // by BundleNameKey, first line wins

  std::int32_t NumberOf(const std::string& name, bool hashed) const {
    if (hashed) {
      const auto found = numbers.find(BundleNameKey(name));
      return found == numbers.end() ? 0 : found->second;
    }
    for (const TBundleIndexLine& line : lines) {
      if (SameBundleName(line.name, name)) return BundleIndexNumber(line.value);
    }
    return 0;
  }
  void ReadEntry(std::int32_t number, TStream& destination) const {
    TFileView view(*file);
    reader->ReadEntry(number, destination, view);
  }
};
using TSnapshotPtr = std::shared_ptr<const TBundleSnapshot>;

// The book serves hundreds of files from one bundle; a handful of slots covers every caller.
constexpr std::size_t kCachedBundles = 8;

std::atomic<bool> cacheEnabled{true};
std::mutex cacheLock;
std::vector<std::pair<std::string, TSnapshotPtr>> cache;  // oldest first

// Reads trailer and index from the open file, which the snapshot takes. A file that holds no
// readable bundle gives a snapshot without reader, so a bad digest is checked once per version
// of the file, not on every call.
std::shared_ptr<TBundleSnapshot> ReadSnapshot(const std::string& path,
                                              std::unique_ptr<TFileStream> file) {
  auto snapshot = std::make_shared<TBundleSnapshot>();
  snapshot->file = std::move(file);
  if (!bundle_platform::TryGetFileIdentity(*snapshot->file, snapshot->identity)) return nullptr;
  try {
    snapshot->reader = std::make_unique<TExeExtReader>(path, *snapshot->file);
  } catch (const Error&) {
    return snapshot;
  }
  const TExeExtReader& reader = *snapshot->reader;
  if (reader.EntryCount() == 0) return snapshot;
  TStringStream index;
  snapshot->ReadEntry(0, index);
  snapshot->lines = ParseBundleIndex(index.DataString());
  for (const TBundleIndexLine& line : snapshot->lines) {
    snapshot->numbers.emplace(BundleNameKey(line.name), BundleIndexNumber(line.value));
  }
  return snapshot;
}

// The bundle as it is on disk now; null when the file is missing or could not be opened.
//
// A cached snapshot holds its file open, sharing it with readers only: on Windows nobody can
// write, replace, delete or lock the file under the cache (for the running program's own file
// Windows refuses writers anyway), so the snapshot stays true without a look at the file.
// Natively an open file keeps nobody out, so the file's identity at the path is compared on
// every call. A file that cannot be held so (someone has it open for writing, or locked) is
// read as a fresh reader would, with the five-second retry, and that result is never cached.
TSnapshotPtr Snapshot(const std::string& bundleFile) {
  const std::string path = BundleFileName(bundleFile);
  if (cacheEnabled) {
    const std::lock_guard<std::mutex> lock(cacheLock);
    for (const auto& [cachedPath, snapshot] : cache) {
      if (cachedPath == path && bundle_platform::IsStillTheFileAt(path, snapshot->identity))
        return snapshot;
    }
  }
  if (!bundle_platform::FileExists(path)) return nullptr;
  std::unique_ptr<TFileStream> held =
      cacheEnabled ? TFileStream::TryOpen(path, TFileStream::Mode::OpenReadDenyWrite) : nullptr;
  if (!held) {
    std::unique_ptr<TFileStream> file = TExeExtReader::OpenBundleFile(path);
    return file ? ReadSnapshot(path, std::move(file)) : nullptr;
  }
  TSnapshotPtr snapshot = ReadSnapshot(path, std::move(held));
  if (!snapshot) return nullptr;
  const std::lock_guard<std::mutex> lock(cacheLock);
  std::erase_if(cache, [&](const auto& slot) { return slot.first == path; });
  if (cache.size() >= kCachedBundles) cache.erase(cache.begin());
  cache.emplace_back(path, snapshot);
  return snapshot;
}

// Every failure of a lookup reads as an absent entry.
template <class Result, class Body>
Result Silently(Result absent, Body&& body) {
  try {
    return body();
  } catch (...) {
    return absent;
  }
}

}  // namespace

void ClearBundleCache() {
  const std::lock_guard<std::mutex> lock(cacheLock);
  cache.clear();
}

void SetBundleCacheEnabled(bool enabled) {
  cacheEnabled = enabled;
  if (!enabled) ClearBundleCache();
}

std::int32_t BundleEntryIndex(const std::string& name, const std::string& bundleFile) {
  return Silently<std::int32_t>(0, [&] {
    const TSnapshotPtr snapshot = Snapshot(bundleFile);
    return snapshot ? snapshot->NumberOf(name, cacheEnabled) : 0;
  });
}

bool ExtractBundleEntry(const std::string& name, TStream& destination,
                        const std::string& bundleFile) {
  return Silently<bool>(false, [&] {
    const TSnapshotPtr snapshot = Snapshot(bundleFile);
    if (!snapshot || !snapshot->reader) return false;
    const std::int32_t number = snapshot->NumberOf(name, cacheEnabled);
    if (number == 0) return false;
    snapshot->ReadEntry(number, destination);
    return true;
  });
}

std::unique_ptr<TMemoryStream> LoadBundleEntry(const std::string& name,
                                               const std::string& bundleFile) {
  return Silently<std::unique_ptr<TMemoryStream>>(nullptr, [&]() -> std::unique_ptr<TMemoryStream> {
    const TSnapshotPtr snapshot = Snapshot(bundleFile);
    if (!snapshot || !snapshot->reader) return nullptr;
    const std::int32_t number = snapshot->NumberOf(name, cacheEnabled);
    if (number == 0) return nullptr;
    auto stream = std::make_unique<TMemoryStream>();
    snapshot->ReadEntry(number, *stream);
    return stream;
  });
}

}  // namespace pageturn
