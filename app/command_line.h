// The program's command line, split the way the shell has always split it, and the rules that
// read the debug-log switches and the screen-saver preview argument from it.
#pragma once

#include <string>
#include <vector>

namespace pageturn {

// Every parameter of a command line, the program's own name first. Blanks and control
// characters separate parameters; double quotes group blanks into one and are dropped.
std::vector<std::string> SplitCommandLine(const std::string& commandLine);

// The debug-log settings from the arguments (the program's name excluded): "-D..." (any case)
// switches the log on, "-F<name>" names its file, the last one winning.
void ParseLogSwitches(const std::vector<std::string>& arguments, bool& debugEnabled,
                      std::string& logFileName);

// True when the first argument, lower-cased and trimmed, occurs within "/p,-p": the screen-saver
// preview request, which ends the program once start-up completes.
bool IsPreviewArgument(const std::string& firstArgument);

#ifdef _WIN32
// The running program's arguments, without its own name.
std::vector<std::string> ProgramArguments();
#endif

}  // namespace pageturn
