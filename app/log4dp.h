// The debug log: a plain-text trace, off unless the command line switches it on. WriteLog never
// reports a failure and never disturbs its caller.
#pragma once

#include <string>

namespace pageturn {

// Set by ParseCommandLine only. WriteLog replaces a bare LogFileName by the absolute name in the
// program's folder and keeps the replacement. Read and written under the log's own lock.
extern bool DebugEnabled;
extern std::string LogFileName;

class TLog4DP {
 public:
  TLog4DP() = delete;
  // Appends "yyyy-mm-dd hh:mm:ss: message" and CR LF to the log file, and ends every earlier
  // line of the file with CR LF as well. Safe to call from any thread; never raises.
  static void WriteLog(const std::string& message) noexcept;
};

// The local time as "yyyy-mm-dd hh:mm:ss", the last three joined by the system's time separator.
std::string FormatLogTimeStamp();

}  // namespace pageturn
