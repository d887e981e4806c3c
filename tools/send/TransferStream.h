#pragma once

// The bytes of a whole transfer as they go out on the wire, announce first, produced by the
// same handshake engine that paces a live transfer.

#include <cstdint>
#include <span>
#include <vector>

namespace movrin {

// Empty when the image cannot be sent (see CheckImageLength).
[[nodiscard]] std::vector<std::uint8_t> TransferStream(std::span<const std::uint8_t> image);

}  // namespace movrin
