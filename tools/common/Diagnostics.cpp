#include "Diagnostics.h"

#include <cstdio>

namespace movrin {
namespace {

const char* gProgram = "movrin";

}  // namespace

void SetProgramName(const char* name) {
  gProgram = name;
}

void PrintError(std::string_view message) {
  std::fprintf(stderr, "%s: %.*s\n", gProgram, static_cast<int>(message.size()), message.data());
}

void PrintUsageError(std::string_view message) {
  std::fprintf(stderr, "%s: %.*s; see %s --help\n", gProgram, static_cast<int>(message.size()),
               message.data(), gProgram);
}

void PrintVersion() {
  std::printf("%s %s\n", gProgram, MOVRIN_VERSION);
}

std::string Counted(long long count, std::string_view noun) {
  return std::to_string(count) + " " + std::string(noun) + (count == 1 ? "" : "s");
}

}  // namespace movrin
