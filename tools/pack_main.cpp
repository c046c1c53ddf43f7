// pageturn-pack: see tools/pack_command.h.
#include <cstdio>
#include <iostream>
#include <string>
#include <vector>

#ifdef _WIN32
#include <io.h>
#define isatty _isatty
#define fileno _fileno
#else
#include <unistd.h>
#endif

#include "tools/pack_command.h"

int main(int argc, char** argv) {
  const std::vector<std::string> args(argv + 1, argv + argc);
  const bool interactive = isatty(fileno(stdout)) != 0;
  try {
    return pageturn::RunPackCommand(args, std::cout, std::cerr, interactive);
  } catch (...) {  // nothing escapes as a crash, not even an allocation failure
    std::cerr << "pageturn-pack: unexpected failure\n";
    return pageturn::kPackBadBook;
  }
}
