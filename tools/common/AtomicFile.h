#pragma once

// Writes a whole file or nothing: the bytes go to a temporary file beside the target, which is
// renamed over it only once everything is on disk. A failed write leaves no file behind.

#include <cstdint>
#include <filesystem>
#include <span>
#include <string>

namespace movrin {

struct WriteFileResult {
  bool ok = false;
  std::string detail;  // the system's reason when !ok
};

[[nodiscard]] WriteFileResult WriteFileAtomically(const std::filesystem::path& path,
                                                  std::span<const std::uint8_t> bytes);

}  // namespace movrin
