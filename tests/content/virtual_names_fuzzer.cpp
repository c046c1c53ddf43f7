// ParseVirtualName and SameContentURL over arbitrary text: no crash, no exception, and the two
// agree with each other.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "content/virtual_names.h"

namespace {

// Bytes become characters; 0xFF stands for the whole marker so that the parser's deeper paths
// are reached, 0xFE splits the input into the two URLs of a comparison.
void Decode(const std::uint8_t* data, std::size_t size, std::wstring& first, std::wstring& second) {
  std::wstring* out = &first;
  for (std::size_t i = 0; i < size; ++i) {
    if (data[i] == 0xFF) {
      *out += pageturn::MemoryMarker;
    } else if (data[i] == 0xFE && out == &first) {
      out = &second;
    } else if (data[i] == 0xFD && i + 1 < size) {
      *out += static_cast<wchar_t>(0xD800 + data[++i]);  // lone surrogates and the like
    } else {
      *out += static_cast<wchar_t>(data[i]);
    }
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::wstring first, second;
  Decode(data, size, first, second);
  pageturn::TVirtualName a, b;
  const bool firstIsVirtual = pageturn::ParseVirtualName(first, a);
  const bool secondIsVirtual = pageturn::ParseVirtualName(second, b);
  if (firstIsVirtual && a.relativeName.size() >= first.size()) std::abort();
  if (!pageturn::SameContentURL(first, first)) std::abort();  // reflexive
  const bool same = pageturn::SameContentURL(first, second);
  if (same != pageturn::SameContentURL(second, first)) std::abort();  // symmetric
  if (same && firstIsVirtual != secondIsVirtual) std::abort();
  if (same && firstIsVirtual && (a.controlNumber != b.controlNumber || a.relativeName != b.relativeName))
    std::abort();
  return 0;
}
