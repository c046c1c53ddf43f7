// pageturn-pack rescue: an older book made into one of ours, from the pictures of its pages.
#pragma once

#include <ostream>
#include <string>
#include <vector>

namespace pageturn {

// args are the words after "rescue". Prints its own usage and errors; returns the exit code
// (0 made, 1 bad book, 2 bad usage). Progress goes to `out` when `interactive`.
int RunRescueCommand(const std::vector<std::string>& args, std::ostream& out, std::ostream& err,
                     bool interactive);

}  // namespace pageturn
