#pragma once

#include <cstdint>
#include <cstdio>
#include <string>

namespace movrin {

// Eight lower-case hex digits, the way CRC-32 sums are usually written.
[[nodiscard]] inline std::string Hex32(std::uint32_t value) {
  char text[9];
  std::snprintf(text, sizeof text, "%08x", static_cast<unsigned>(value));
  return text;
}

}  // namespace movrin
