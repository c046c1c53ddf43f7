// A diagnostic list that keeps its newest entries only: a movie that fires events or requests
// without end must not grow the process with them.
#pragma once

#include <deque>
#include <string>

namespace standin {

class BoundedLog {
 public:
  static constexpr size_t kMaxEntries = 256;
  static constexpr size_t kMaxEntryLength = 1024;

  void Add(std::wstring entry) {
    if (entry.size() > kMaxEntryLength) entry.resize(kMaxEntryLength);
    if (entries_.size() == kMaxEntries) {
      entries_.pop_front();
      ++dropped_;
    }
    entries_.push_back(std::move(entry));
  }
  void Clear() { entries_.clear(); }
  size_t size() const { return entries_.size(); }
  size_t dropped() const { return dropped_; }
  std::wstring Join(const wchar_t* separator) const {
    std::wstring out;
    bool first = true;
    for (const auto& e : entries_) {
      if (!first) out += separator;
      out += e;
      first = false;
    }
    return out;
  }

 private:
  std::deque<std::wstring> entries_;
  size_t dropped_ = 0;
};

}  // namespace standin
