#include "bundle/bundle_names.h"

#include <algorithm>

#include "core/text.h"

namespace pageturn {

bool BundleNameLess(const std::string& a, const std::string& b) {
  const std::string la = LowerAscii(a), lb = LowerAscii(b);
  return la != lb ? la < lb : a < b;
}

std::vector<TBundleIndexLine> ParseBundleIndex(const std::string& text) {
  std::vector<TBundleIndexLine> lines;
  const std::size_t end = std::min(text.find('\0'), text.size());
  std::size_t start = 0;
  while (start < end) {
    std::size_t stop = start;
    while (stop < end && text[stop] != '\r' && text[stop] != '\n') ++stop;
    const std::string line = text.substr(start, stop - start);
    const std::size_t equals = line.find('=');
    if (equals != std::string::npos)
      lines.push_back({line.substr(0, equals), line.substr(equals + 1)});
    if (stop < end && text[stop] == '\r' && stop + 1 < end && text[stop + 1] == '\n') ++stop;
    start = stop + 1;
  }
  return lines;
}

std::int32_t BundleIndexNumber(const std::string& value) {
  int number = 0;
  return TryParseInt32(value, number) ? number : 0;
}

}  // namespace pageturn
