// The command line comes from whoever starts the book: split it and read the switches from it,
// and check what the splitting promises.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "app/command_line.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string line(reinterpret_cast<const char*>(data), size);
  const std::vector<std::string> params = pageturn::SplitCommandLine(line);
  std::size_t total = 0;
  for (const std::string& param : params) {
    // Quotes are always taken out, and no parameter is longer than the line it came from.
    if (param.find('"') != std::string::npos) std::abort();
    total += param.size();
  }
  if (total > line.size()) std::abort();
  bool debug = false;
  std::string file;
  pageturn::ParseLogSwitches(params, debug, file);
  if (!params.empty()) pageturn::IsPreviewArgument(params.front());
  return 0;
}
