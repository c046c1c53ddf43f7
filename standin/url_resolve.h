// How the stand-in runtime turns the URLs that movies ask for into the URLs it fetches:
// a relative request is joined to Base when set, otherwise to the requesting movie's own URL
// without its last segment. Portable (wide text), so it is tested natively.
#pragma once

#include <string>

namespace standin {

// A scheme URL ("file://...", "http://..."), a drive path ("Z:\..." or "Z:/...") or a UNC
// path ("\\server\..."). A single letter before ':' is a drive, not a scheme.
bool IsAbsoluteUrl(const std::wstring& url);

// base: the Base property (a folder) when set, itself joined to the movie's folder when relative
// ("." is that folder); otherwise movieUrl supplies the folder.
std::wstring ResolveUrl(const std::wstring& base, const std::wstring& movieUrl,
                        const std::wstring& relative);

// "file:///Z:/dir/a%20b.swf" -> "Z:\dir\a b.swf"; a plain path only has '/' turned into '\'.
// Percent escapes are decoded as UTF-8 bytes.
std::wstring UrlToFilePath(const std::wstring& url);

}  // namespace standin
