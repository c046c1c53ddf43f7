#include "content/maps.h"

namespace pageturn {

void TMapString2String::Set(const std::wstring& key, const std::wstring& value) {
  for (auto& record : records_) {
    if (::lstrcmpiW(record.key.c_str(), key.c_str()) == 0) {
      record.value = value;
      return;
    }
  }
  records_.push_back({key, value});
}

bool TMapString2String::Get(const std::wstring& key, std::wstring& value) const {
  for (const auto& record : records_) {
    if (::lstrcmpiW(record.key.c_str(), key.c_str()) == 0) {
      value = record.value;
      return true;
    }
  }
  return false;
}

void TMapCardinal2Cardinal::Add(DWORD key, DWORD value) { records_.push_back({key, value}); }

bool TMapCardinal2Cardinal::Find(DWORD key, DWORD& value) const {
  for (const auto& record : records_) {
    if (record.key == key) {
      value = record.value;
      return true;
    }
  }
  return false;
}

}  // namespace pageturn
