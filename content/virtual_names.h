// Virtual names: how movies held in memory are named for the runtime, and how its requests for
// those names (and for anything resolved against them) are recognised again. Portable.
#pragma once

#include <string>

namespace pageturn {

// A URL or path names served content only if it holds this marker, one separator character, a
// control number, a slash (or backslash) and a relative name.
inline constexpr wchar_t MemoryMarker[] = L"46A10F369771449587DE913EFC0A258C";
inline constexpr std::size_t MemoryMarkerLength = 32;
// Every movie loaded from memory goes by this one file name under its own control number.
inline constexpr wchar_t FixedMovieName[] = L"E4ED7C01D28A43418DBF2CB92CC35E56.swf";
// Drive and folder are fixed text; the path never exists on disk.
inline constexpr wchar_t VirtualMoviePathFormat[] = L"Z:\\FromMemory\\%s\\%d\\%s";
// Given to a control just before each new virtual movie path so that the runtime sees a change
// of movie even for the same path; it carries only 31 characters of the marker, so it is never
// recognised itself.
inline constexpr wchar_t ResetURL[] = L"file://46A10F369771449587DE913EFC0A258";

// Z:\FromMemory\<marker>\<counter>\<fixed movie name>
std::wstring FormatVirtualMoviePath(int counter);

struct TVirtualName {
  int controlNumber = 0;
  std::wstring relativeName;  // may be empty, may itself begin with '/'; case kept
};

// Recognises a served virtual name in a URL or path, whatever scheme, drive or separators come
// before the marker. A control number that is not plain decimal (or is empty) is not recognised.
bool ParseVirtualName(const std::wstring& url, TVirtualName& name);

// Whether a request names the same content as a registered URL: two virtual names compare by
// control number and case-sensitive relative name, two other URLs by their whole text.
bool SameContentURL(const std::wstring& registeredURL, const std::wstring& requestedURL);

}  // namespace pageturn
