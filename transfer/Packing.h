#pragma once

// 7-in-8 packing: every run of seven image bytes becomes a flag byte holding their top bits
// (0x40 for the first down to 0x01 for the seventh) followed by the seven bytes with the top
// bit cleared. A short last group is not padded.

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace movrin {

[[nodiscard]] constexpr std::size_t PackedLength(std::size_t imageLength) {
  return imageLength + imageLength / 7 + (imageLength % 7 != 0 ? 1 : 0);
}

[[nodiscard]] std::vector<std::uint8_t> PackImage(std::span<const std::uint8_t> image);

enum class UnpackError {
  None,
  HighBitSet,          // a byte of 0x80 or more
  FlagForMissingByte,  // a short group's flag names a byte the group does not have
  LoneFlagByte,        // a trailing group of a flag byte and no data
};

struct UnpackResult {
  std::vector<std::uint8_t> image;
  UnpackError error = UnpackError::None;
  std::size_t errorOffset = 0;  // offset into the packed data where the fault was found

  [[nodiscard]] bool ok() const { return error == UnpackError::None; }
};

// The device side: refuses malformed input instead of guessing.
[[nodiscard]] UnpackResult UnpackImage(std::span<const std::uint8_t> packed);

[[nodiscard]] std::string Describe(UnpackError error);

}  // namespace movrin
