#pragma once

// The bytes of a whole transfer as they go out on the wire, announce first, produced by the
// same driver and engine as a live transfer, with a device that asks for every block.

#include <cstdint>
#include <span>
#include <vector>

namespace movrin {

// Empty when the image cannot be sent (see CheckImageLength).
[[nodiscard]] std::vector<std::uint8_t> TransferStream(std::span<const std::uint8_t> image);

}  // namespace movrin
