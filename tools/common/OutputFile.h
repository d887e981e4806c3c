#pragma once

// Where a tool writes what it made. A regular file (or a new name) is written whole or not at
// all: a temporary beside it is renamed over it once everything is on disk. A character device
// or a pipe is written into as it is and never replaced; a failed or short write there is a
// failure too. "-" is standard output. A terminal, a directory and the tool's own input file are
// refused before anything is written.

#include <cstdint>
#include <span>
#include <string>

namespace movrin {

struct WriteFileResult {
  bool ok = false;
  std::string error;  // one line naming the output and the reason, when !ok
};

// `input` names a file the tool read and must not destroy; empty when there is none.
[[nodiscard]] WriteFileResult WriteOutputFile(const std::string& name,
                                              std::span<const std::uint8_t> bytes,
                                              const std::string& input = {});

// Whether `name` is where standard output already goes ("-", or the same file or pipe), so
// that nothing else may be printed there.
[[nodiscard]] bool IsStandardOutput(const std::string& name);

// Whether standard output is a terminal (a console on Windows), for output that redraws lines.
[[nodiscard]] bool StandardOutputIsTerminal();

}  // namespace movrin
