#include "Packing.h"

namespace movrin {

std::vector<std::uint8_t> PackImage(std::span<const std::uint8_t> image) {
  std::vector<std::uint8_t> packed(PackedLength(image.size()));
  const std::uint8_t* in = image.data();
  std::uint8_t* out = packed.data();
  std::size_t left = image.size();
  while (left > 0) {
    const std::size_t groupSize = left < 7 ? left : 7;
    std::uint8_t flags = 0;
    for (std::size_t j = 0; j < groupSize; ++j) {
      const std::uint8_t b = in[j];
      flags = static_cast<std::uint8_t>(flags | ((b >> 7) << (6 - j)));
      out[j + 1] = b & 0x7F;
    }
    out[0] = flags;
    in += groupSize;
    out += groupSize + 1;
    left -= groupSize;
  }
  return packed;
}

UnpackResult UnpackImage(std::span<const std::uint8_t> packed) {
  UnpackResult result;
  const std::size_t n = packed.size();
  result.image.reserve(n - n / 8);
  std::size_t pos = 0;
  while (pos < n) {
    const std::size_t groupSize = (n - pos) >= 8 ? 7 : (n - pos) - 1;
    const std::uint8_t flags = packed[pos];
    if (flags & 0x80) {
      result.error = UnpackError::HighBitSet;
      result.errorOffset = pos;
      break;
    }
    if (groupSize == 0) {
      result.error = UnpackError::LoneFlagByte;
      result.errorOffset = pos;
      break;
    }
    // Bits below the group's last byte must be clear.
    const std::uint8_t unusedBits = static_cast<std::uint8_t>((1u << (7 - groupSize)) - 1);
    if (flags & unusedBits) {
      result.error = UnpackError::FlagForMissingByte;
      result.errorOffset = pos;
      break;
    }
    for (std::size_t j = 0; j < groupSize; ++j) {
      const std::uint8_t b = packed[pos + 1 + j];
      if (b & 0x80) {
        result.error = UnpackError::HighBitSet;
        result.errorOffset = pos + 1 + j;
        break;
      }
      const std::uint8_t top = static_cast<std::uint8_t>(((flags >> (6 - j)) & 1) << 7);
      result.image.push_back(static_cast<std::uint8_t>(b | top));
    }
    if (!result.ok()) {
      break;
    }
    pos += groupSize + 1;
  }
  // A half-decoded image must never be mistaken for a good one.
  if (!result.ok()) {
    result.image.clear();
  }
  return result;
}

std::string Describe(UnpackError error) {
  switch (error) {
    case UnpackError::None:
      return "no error";
    case UnpackError::HighBitSet:
      return "packed byte of 0x80 or more";
    case UnpackError::FlagForMissingByte:
      return "flag bit set for a byte the last group does not have";
    case UnpackError::LoneFlagByte:
      return "last group is a flag byte with no data";
  }
  return "unknown error";
}

}  // namespace movrin
