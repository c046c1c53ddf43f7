// Counts the live objects of one class, so that tests can prove every COM object and served
// stream of a run was freed again.
#pragma once

#include <atomic>

namespace pageturn {

template <class T>
class TLiveCount {
 public:
  TLiveCount() { ++count_; }
  TLiveCount(const TLiveCount&) { ++count_; }
  ~TLiveCount() { --count_; }
  static long Live() { return count_.load(); }

 private:
  static inline std::atomic<long> count_{0};
};

}  // namespace pageturn
