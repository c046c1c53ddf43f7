// Control of the lookups' cache of parsed bundles (see bundle_lookup.cpp). The cache keeps, per
// bundle file, the checked trailer, the parsed index and the file itself, open for reading with
// only readers sharing it: on Windows nobody can change or lock a cached file; natively its
// identity (volume, file id, size, last-write and change times) is compared on every lookup.
#pragma once

namespace pageturn {

// Forgets every cached bundle.
void ClearBundleCache();
// With the cache off, every lookup re-reads the trailer and the index, as a fresh reader would.
// On by default.
void SetBundleCacheEnabled(bool enabled);

}  // namespace pageturn
