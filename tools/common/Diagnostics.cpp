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

}  // namespace movrin
