#pragma once

// Runs a built program as a user would, capturing its output. A program that hangs is killed
// by an alarm set before exec, so a test never waits longer than the watchdog. And the images
// the tools' tests send.

#include <cstdint>
#include <string>
#include <vector>

namespace movrin::test {

using Bytes = std::vector<std::uint8_t>;

// An image of `n` bytes whose blocks all differ.
[[nodiscard]] inline Bytes Image(std::size_t n) {
  Bytes image(n);
  for (std::size_t i = 0; i < n; ++i) {
    image[i] = static_cast<std::uint8_t>((i * 131 + 7) ^ (i >> 8));
  }
  return image;
}

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
