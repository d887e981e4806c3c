#pragma once

// Runs a built program as a user would, capturing its output. A program that hangs is killed
// by an alarm set before exec, so a test never waits longer than the watchdog.

#include <string>
#include <vector>

namespace movrin::test {

struct ProgramResult {
  int exitCode = -1;  // -1 when it did not exit normally
  std::string out;
  std::string err;
};

struct RunOptions {
  std::string workingDirectory{};
  bool permissionsBind = false;  // file permissions hold even for root (tests run as root in CI)
  bool terminalOut = false;      // standard output is a terminal, its text is not kept
  unsigned watchdogSeconds = 30;
};

[[nodiscard]] ProgramResult RunProgram(const std::string& path,
                                       const std::vector<std::string>& args,
                                       const RunOptions& options = {});

}  // namespace movrin::test
