#pragma once

// How the command-line tools report trouble: one line on stderr that starts with the program's
// name, as Unix tools do, and an exit code from the tool's own documented enum.

#include <string>
#include <string_view>

namespace movrin {

// Set once by main before anything is printed.
void SetProgramName(const char* name);

void PrintError(std::string_view message);

// Wrong usage: the fault and a pointer to --help, on one line; the whole help would bury it.
void PrintUsageError(std::string_view message);

// "movrin-send 1.0.0.1" on stdout.
void PrintVersion();

// "1 block", "2 blocks".
[[nodiscard]] std::string Counted(long long count, std::string_view noun);

template <typename Code>
[[nodiscard]] constexpr int Exit(Code code) {
  return static_cast<int>(code);
}

}  // namespace movrin
