// Entry names and the index text of entry 0: how names compare, and how index lines split.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace pageturn {

// Locale-aware, case-insensitive equality of two entry names: CompareStringA on the user's
// default locale ignoring case on Windows, Unicode case folding of UTF-8 text elsewhere.
bool SameBundleName(const std::string& a, const std::string& b);
// A key that is equal for two names exactly when SameBundleName holds, for hashed lookups.
std::string BundleNameKey(const std::string& name);
// The order of index lines in bundles we write: ASCII case ignored, then bytes, so the same
// book folder always gives the same bundle on every platform.
bool BundleNameLess(const std::string& a, const std::string& b);

struct TBundleIndexLine {
  std::string name;   // everything before the first '='
  std::string value;  // everything after it
};
// Lines end at CR LF, a lone CR or a lone LF; a zero byte ends the text. Lines without '='
// are dropped; the rest keep their order.
std::vector<TBundleIndexLine> ParseBundleIndex(const std::string& text);
// An index value as an entry number: plain decimal, anything else (empty included) is 0.
std::int32_t BundleIndexNumber(const std::string& value);

}  // namespace pageturn
