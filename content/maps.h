// Two small list maps used by the import interceptions: window class names (keys ignore letter
// case) and wave-output sample widths. Linear, append-only, first match wins.
#pragma once

#ifndef _WIN32
#error "content/maps.h is for the Windows build only"
#endif

#include <windows.h>

#include <string>
#include <vector>

namespace pageturn {

struct TStringPair {
  std::wstring key;
  std::wstring value;
};

class TMapString2String {
 public:
  // A key equal ignoring case gets the new value; otherwise a record is appended.
  void Set(const std::wstring& key, const std::wstring& value);
  bool Get(const std::wstring& key, std::wstring& value) const;

 private:
  std::vector<TStringPair> records_;
};

struct TCardinalPair {
  DWORD key;
  DWORD value;
};

class TMapCardinal2Cardinal {
 public:
  // Always appends, even for a key already present; Find sees the first.
  void Add(DWORD key, DWORD value);
  bool Find(DWORD key, DWORD& value) const;

 private:
  std::vector<TCardinalPair> records_;
};

}  // namespace pageturn
