#include "content/virtual_names.h"

#include <algorithm>

#include "core/text.h"

namespace pageturn {

std::wstring FormatVirtualMoviePath(int counter) {
  // The format's three fields, filled by hand: swprintf differs between the C libraries.
  return std::wstring(L"Z:\\FromMemory\\") + MemoryMarker + L"\\" + std::to_wstring(counter) +
         L"\\" + FixedMovieName;
}

bool ParseVirtualName(const std::wstring& url, TVirtualName& name) {
  std::wstring text = url;
  std::replace(text.begin(), text.end(), L'\\', L'/');
  const std::size_t marker = text.find(MemoryMarker);
  if (marker == std::wstring::npos) return false;
  // The one character after the marker is skipped whatever it is.
  const std::size_t tailStart = marker + MemoryMarkerLength + 1;
  if (tailStart >= text.size()) return false;
  const std::size_t slash = text.find(L'/', tailStart);
  if (slash == std::wstring::npos) return false;
  int number = 0;
  if (!TryParseInt32(text.substr(tailStart, slash - tailStart), number)) return false;
  name.controlNumber = number;
  name.relativeName = text.substr(slash + 1);
  return true;
}

bool SameContentURL(const std::wstring& registeredURL, const std::wstring& requestedURL) {
  TVirtualName registered, requested;
  const bool registeredIsVirtual = ParseVirtualName(registeredURL, registered);
  const bool requestedIsVirtual = ParseVirtualName(requestedURL, requested);
  if (registeredIsVirtual != requestedIsVirtual) return false;
  if (registeredIsVirtual)
    return registered.controlNumber == requested.controlNumber &&
           registered.relativeName == requested.relativeName;
  return registeredURL == requestedURL;
}

}  // namespace pageturn
