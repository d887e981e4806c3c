#pragma once

// How the command-line tools report trouble: one line on stderr that starts with the program's
// name, as Unix tools do, and an exit code from the tool's own documented enum.

#include <string_view>

namespace movrin {

// Set once by main before anything is printed.
void SetProgramName(const char* name);

void PrintError(std::string_view message);

template <typename Code>
[[nodiscard]] constexpr int Exit(Code code) {
  return static_cast<int>(code);
}

}  // namespace movrin
