// pageturn-pack pages: the page pictures of an older book, taken out of its page movies.
#pragma once

#include <ostream>
#include <string>
#include <vector>

namespace pageturn {

// args are the words after "pages". Prints its own usage and errors; returns the exit code
// (0 written, 1 bad book, 2 bad usage).
int RunPagesCommand(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);

}  // namespace pageturn
