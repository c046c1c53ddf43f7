// Cost of one debug-log line as the log grows: the time per line for the first and the last
// thousand of 20,000 lines. Without the append shortcut the last thousand cost far more.
#include <chrono>
#include <cstdio>
#include <string>

#include "app/log4dp.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <unistd.h>
#endif

int main() {
  using Clock = std::chrono::steady_clock;
  constexpr int kLines = 20000, kWindow = 1000;
#ifdef _WIN32
  char tmp[MAX_PATH];
  ::GetTempPathA(MAX_PATH, tmp);
  const std::string file =
      std::string(tmp) + "pageturn_bench_log_" + std::to_string(::GetCurrentProcessId()) + ".txt";
#else
  const std::string file = "/tmp/pageturn_bench_log_" + std::to_string(::getpid()) + ".txt";
#endif
  std::remove(file.c_str());
  pageturn::DebugEnabled = true;
  pageturn::LogFileName = file;
  const std::string message = "To load url2[files/large/123.swf] with a realistic length of text";
  double firstUs = 0, lastUs = 0;
  Clock::time_point start = Clock::now();
  for (int i = 0; i < kLines; ++i) {
    if (i == kLines - kWindow) start = Clock::now();
    pageturn::TLog4DP::WriteLog(message);
    if (i == kWindow - 1)
      firstUs = std::chrono::duration<double, std::micro>(Clock::now() - start).count() / kWindow;
  }
  lastUs = std::chrono::duration<double, std::micro>(Clock::now() - start).count() / kWindow;
  std::printf("log lines: %d\n", kLines);
  std::printf("first %d lines: %.1f us/line\n", kWindow, firstUs);
  std::printf("last %d lines:  %.1f us/line\n", kWindow, lastUs);
  std::printf("ratio last/first: %.2f\n", lastUs / firstUs);
  std::remove(file.c_str());
  return 0;
}
