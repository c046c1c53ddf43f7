// Control of the lookups' cache of parsed bundles (see bundle_lookup.cpp). The cache keeps, per
// bundle file, the checked trailer and the parsed index, and is keyed on the file's identity on
// disk (path, size, last-write time, and the inode where there is one), which every lookup
// compares again: a file that changed is read afresh.
#pragma once

namespace pageturn {

// Forgets every cached bundle.
void ClearBundleCache();
// With the cache off, every lookup re-reads the trailer and the index, as a fresh reader would.
// On by default.
void SetBundleCacheEnabled(bool enabled);

}  // namespace pageturn
