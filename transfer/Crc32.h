#pragma once

// CRC-32 as zip and PNG compute it, so a verdict can be checked with everyday tools.

#include <cstdint>
#include <span>

namespace movrin {

[[nodiscard]] std::uint32_t Crc32(std::span<const std::uint8_t> data, std::uint32_t crc = 0);

}  // namespace movrin
