#pragma once

// Runs a built program as a user would, capturing its output. A program that hangs is killed
// by an alarm set before exec, so a test never waits longer than the watchdog.

#include <string>
#include <vector>

namespace movrin::test {

struct ProgramResult {
  int exitCode = -1;  // -1 when it did not exit normally
  int signal = 0;     // the signal that ended it, if any
  std::string out;
  std::string err;
};

[[nodiscard]] ProgramResult RunProgram(const std::string& path,
                                       const std::vector<std::string>& args,
                                       const std::string& workingDirectory = {},
                                       unsigned watchdogSeconds = 30);

}  // namespace movrin::test
