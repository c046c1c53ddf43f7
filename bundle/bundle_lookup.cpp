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

// One version of one bundle file: its reader and its index, read once.
struct TBundleSnapshot {
  bundle_platform::TFileIdentity identity;
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
};
using TSnapshotPtr = std::shared_ptr<const TBundleSnapshot>;

// The book serves hundreds of files from one bundle; a handful of slots covers every caller.
constexpr std::size_t kCachedBundles = 8;

std::atomic<bool> cacheEnabled{true};
std::mutex cacheLock;
std::vector<std::pair<std::string, TSnapshotPtr>> cache;  // oldest first

// Reads trailer and index. Null when the file could not be opened at all: that may pass, so it
// is never cached. A file that opened but holds no readable bundle gives a snapshot without
// reader, so a bad digest is checked once per version of the file, not on every call.
std::shared_ptr<TBundleSnapshot> ReadSnapshot(const std::string& path,
                                              const bundle_platform::TFileIdentity& identity) {
  auto snapshot = std::make_shared<TBundleSnapshot>();
  snapshot->identity = identity;
  try {
    snapshot->reader = std::make_unique<TExeExtReader>(path);
  } catch (const Error&) {
    return snapshot;
  }
  const TExeExtReader& reader = *snapshot->reader;
  if (reader.SectionSize() == 0) return nullptr;  // not opened within the retry time
  if (reader.EntryCount() == 0) return snapshot;
  snapshot->lines = ParseBundleIndex(reader.ReadEntryText(0));
  for (const TBundleIndexLine& line : snapshot->lines) {
    snapshot->numbers.emplace(BundleNameKey(line.name), BundleIndexNumber(line.value));
  }
  return snapshot;
}

// The bundle as it is on disk now; null when the file is missing or could not be opened.
TSnapshotPtr Snapshot(const std::string& bundleFile) {
  const std::string path = BundleFileName(bundleFile);
  // The identity is taken before anything is read: a change after this point gives another
  // identity on the next call, so a stale snapshot can never outlive the version it was read as.
  bundle_platform::TFileIdentity identity;
  if (!bundle_platform::TryGetFileIdentity(path, identity)) return nullptr;
  if (!cacheEnabled) return ReadSnapshot(path, identity);
  {
    const std::lock_guard<std::mutex> lock(cacheLock);
    for (const auto& [cachedPath, snapshot] : cache) {
      if (cachedPath == path && snapshot->identity == identity) return snapshot;
    }
  }
  TSnapshotPtr snapshot = ReadSnapshot(path, identity);
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

void ExtractBundleEntry(const std::string& name, TStream& destination,
                        const std::string& bundleFile) {
  Silently<bool>(false, [&] {
    const TSnapshotPtr snapshot = Snapshot(bundleFile);
    if (!snapshot || !snapshot->reader) return false;
    const std::int32_t number = snapshot->NumberOf(name, cacheEnabled);
    if (number != 0) snapshot->reader->ReadEntry(number, destination);
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
    snapshot->reader->ReadEntry(number, *stream);
    return stream;
  });
}

}  // namespace pageturn
