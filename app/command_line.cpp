#include "app/command_line.h"

#ifdef _WIN32
#include <windows.h>
#endif

#include "core/text.h"

namespace pageturn {

namespace {

bool IsSeparator(char c) { return static_cast<unsigned char>(c) <= ' '; }

}  // namespace

std::vector<std::string> SplitCommandLine(const std::string& commandLine) {
  std::vector<std::string> params;
  const std::size_t n = commandLine.size();
  std::size_t i = 0;
  for (;;) {
    // Leading empty quote pairs never make a parameter of their own.
    for (;;) {
      while (i < n && IsSeparator(commandLine[i])) ++i;
      if (i + 1 < n && commandLine[i] == '"' && commandLine[i + 1] == '"')
        i += 2;
      else
        break;
    }
    if (i >= n) break;
    std::string param;
    while (i < n && !IsSeparator(commandLine[i])) {
      if (commandLine[i] == '"') {
        ++i;
        while (i < n && commandLine[i] != '"') param += commandLine[i++];
        if (i < n) ++i;
      } else {
        param += commandLine[i++];
      }
    }
    params.push_back(std::move(param));
  }
  return params;
}

void ParseLogSwitches(const std::vector<std::string>& arguments, bool& debugEnabled,
                      std::string& logFileName) {
  debugEnabled = false;
  logFileName.clear();
  for (const std::string& argument : arguments) {
    const std::string head = UpperAscii(argument.substr(0, 2));
    if (head == "-D") debugEnabled = true;
    if (head == "-F") logFileName = argument.substr(2);
  }
}

bool IsPreviewArgument(const std::string& firstArgument) {
  const std::string wanted = Trim(LowerAscii(firstArgument));
  return !wanted.empty() && std::string("/p,-p").find(wanted) != std::string::npos;
}

#ifdef _WIN32
std::vector<std::string> ProgramArguments() {
  std::vector<std::string> params = SplitCommandLine(::GetCommandLineA());
  if (!params.empty()) params.erase(params.begin());
  return params;
}
#endif

}  // namespace pageturn
