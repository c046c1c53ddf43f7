#include "url_resolve.h"

#include <cstdint>
#include <cwctype>
#include <string>

namespace standin {

namespace {

bool IsAsciiLetter(wchar_t c) { return (c >= L'A' && c <= L'Z') || (c >= L'a' && c <= L'z'); }

bool IsDrivePath(const std::wstring& s) {
  return s.size() >= 3 && IsAsciiLetter(s[0]) && s[1] == L':' && (s[2] == L'\\' || s[2] == L'/');
}

bool HasScheme(const std::wstring& s) {
  size_t i = 0;
  if (s.empty() || !IsAsciiLetter(s[0])) return false;
  while (i < s.size() && (IsAsciiLetter(s[i]) || (s[i] >= L'0' && s[i] <= L'9') || s[i] == L'+' ||
                          s[i] == L'-' || s[i] == L'.'))
    ++i;
  return i >= 2 && i < s.size() && s[i] == L':';
}

int HexValue(wchar_t c) {
  if (c >= L'0' && c <= L'9') return c - L'0';
  if (c >= L'a' && c <= L'f') return c - L'a' + 10;
  if (c >= L'A' && c <= L'F') return c - L'A' + 10;
  return -1;
}

// Decodes UTF-8 bytes; an invalid sequence keeps its bytes as Latin-1 code units.
std::wstring FromUtf8(const std::string& bytes) {
  std::wstring out;
  for (size_t i = 0; i < bytes.size();) {
    unsigned char c = bytes[i];
    int extra = c < 0x80 ? 0 : (c >> 5) == 6 ? 1 : (c >> 4) == 14 ? 2 : (c >> 3) == 30 ? 3 : -1;
    if (extra < 0 || i + extra >= bytes.size()) {
      out += wchar_t(c);
      ++i;
      continue;
    }
    uint32_t cp = extra == 0 ? c : c & (0x3F >> extra);
    bool ok = true;
    for (int k = 1; k <= extra; ++k) {
      unsigned char cc = bytes[i + k];
      if ((cc & 0xC0) != 0x80) ok = false;
      cp = (cp << 6) | (cc & 0x3F);
    }
    if (!ok) {
      out += wchar_t(c);
      ++i;
      continue;
    }
    if (cp >= 0x10000 && sizeof(wchar_t) == 2) {
      cp -= 0x10000;
      out += wchar_t(0xD800 + (cp >> 10));
      out += wchar_t(0xDC00 + (cp & 0x3FF));
    } else {
      out += wchar_t(cp);
    }
    i += extra + 1;
  }
  return out;
}

}  // namespace

bool IsAbsoluteUrl(const std::wstring& url) {
  if (IsDrivePath(url)) return true;
  if (url.size() >= 2 && (url[0] == L'\\' || url[0] == L'/') && url[0] == url[1]) return true;
  return HasScheme(url);
}

std::wstring ResolveUrl(const std::wstring& base, const std::wstring& movieUrl,
                        const std::wstring& relative) {
  if (relative.empty() || IsAbsoluteUrl(relative)) return relative;
  // The movie's folder, its last separator included ("" when it has none).
  size_t cut = movieUrl.find_last_of(L"/\\");
  std::wstring folder = cut == std::wstring::npos ? std::wstring() : movieUrl.substr(0, cut + 1);
  if (!base.empty()) {
    // A relative Base ("." or "pages") is itself relative to the movie's folder.
    if (!IsAbsoluteUrl(base)) folder += base == L"." || base == L"./" ? L"" : base;
    else folder = base;
  }
  if (folder.empty()) return relative;
  wchar_t last = folder.back();
  return folder + (last == L'/' || last == L'\\' ? L"" : L"/") + relative;
}

std::wstring UrlToFilePath(const std::wstring& url) {
  std::wstring rest = url;
  const std::wstring scheme = L"file:";
  bool isFileUrl = rest.size() >= scheme.size();
  for (size_t i = 0; isFileUrl && i < scheme.size(); ++i)
    if (wchar_t(towlower(rest[i])) != scheme[i]) isFileUrl = false;
  if (isFileUrl) {
    rest = rest.substr(scheme.size());
    size_t slashes = 0;
    while (slashes < rest.size() && rest[slashes] == L'/') ++slashes;
    // file:///Z:/x and file://Z:/x name a drive; file://server/share names a UNC path.
    std::wstring tail = rest.substr(slashes);
    if (IsDrivePath(tail) || (tail.size() == 2 && tail[1] == L':'))
      rest = tail;
    else if (slashes == 2)
      rest = L"\\\\" + tail;
    else
      rest = tail;
    std::string bytes;
    std::wstring decoded;
    auto flush = [&] {
      decoded += FromUtf8(bytes);
      bytes.clear();
    };
    for (size_t i = 0; i < rest.size(); ++i) {
      if (rest[i] == L'%' && i + 2 < rest.size() && HexValue(rest[i + 1]) >= 0 &&
          HexValue(rest[i + 2]) >= 0) {
        bytes += char(HexValue(rest[i + 1]) * 16 + HexValue(rest[i + 2]));
        i += 2;
      } else if (rest[i] < 0x80) {
        bytes += char(rest[i]);
      } else {
        flush();
        decoded += rest[i];
      }
    }
    flush();
    rest = decoded;
  }
  for (auto& c : rest)
    if (c == L'/') c = L'\\';
  return rest;
}

}  // namespace standin
