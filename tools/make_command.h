// pageturn-pack make: a complete book from a folder of page pictures.
#pragma once

#include <ostream>
#include <string>
#include <vector>

namespace pageturn {

// args are the words after "make". Prints its own usage and errors; returns the exit code
// (0 made, 1 bad input, 2 bad usage). Progress goes to `out` when `interactive`.
int RunMakeCommand(const std::vector<std::string>& args, std::ostream& out, std::ostream& err,
                   bool interactive);

// Where `make` looks for the player and the runtime when --player or --runtime is not given:
// beside the tool (an installed layout), then where the Windows build puts them relative to
// the Windows tool (build/windows/tools -> build/windows/app, build/windows/standin) and to the
// native tool (build/native/tools -> the same). The first that exists wins.
std::vector<std::string> DefaultPlayerPlaces(const std::string& toolFolder);
std::vector<std::string> DefaultRuntimePlaces(const std::string& toolFolder);

// The folder of the running program ("" when the platform will not tell).
std::string ToolFolder();

}  // namespace pageturn
