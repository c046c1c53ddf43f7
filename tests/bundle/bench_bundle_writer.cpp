// Adding entries to a bundle writer: 2,000 and 20,000 small entries named as a book's pages
// are, timed in one run. Linear adds take ten times as long for ten times the entries; a check
// of every pair would take a hundred. Prints figures; judges nothing.
#include <chrono>
#include <cstdio>
#include <string>

#include "bundle/bundle_writer.h"

namespace {

using Clock = std::chrono::steady_clock;

double SecondsToAdd(int count) {
  const Clock::time_point start = Clock::now();
  pageturn::TBundleWriter writer;
  for (int i = 1; i <= count; ++i)
    writer.AddEntry("files/large/" + std::to_string(i) + ".swf", "x");
  return std::chrono::duration<double>(Clock::now() - start).count();
}

}  // namespace

int main() {
  SecondsToAdd(200);  // warm-up
  const double small = SecondsToAdd(2000), large = SecondsToAdd(20000);
  std::printf(
      "bundle writer: 2,000 entries added in %.4f s, 20,000 in %.4f s (ratio %.1f; 10 is "
      "linear)\n",
      small, large, small > 0 ? large / small : 0.0);
  return 0;
}
