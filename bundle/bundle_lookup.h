// Bundle entries by name, through the index in entry 0. None of these ever raises: every
// failure reads as an absent entry. An empty bundle file name means the program's own file.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "core/stream.h"

namespace pageturn {

// The entry number for the name (case-insensitive, first index line wins), or 0 when absent,
// not a number, or anything fails. Negative numbers in the index are returned as they stand.
std::int32_t BundleEntryIndex(const std::string& name, const std::string& bundleFile = "");

// Appends the named entry to the destination at its current position; nothing when absent.
// False when the entry is absent or could not be copied whole (a failed read or write: the
// destination may then hold a part of it).
bool ExtractBundleEntry(const std::string& name, TStream& destination,
                        const std::string& bundleFile = "");

// A new stream holding exactly the entry's bytes, positioned at its end; empty when absent.
std::unique_ptr<TMemoryStream> LoadBundleEntry(const std::string& name,
                                               const std::string& bundleFile = "");

}  // namespace pageturn
