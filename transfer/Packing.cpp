#include "Packing.h"

#include <bit>
#include <cstring>

namespace movrin {

namespace {

// One group of up to seven bytes, byte by byte.
void PackGroup(const std::uint8_t* in, std::size_t groupSize, std::uint8_t* out) {
  std::uint8_t flags = 0;
  for (std::size_t j = 0; j < groupSize; ++j) {
    const std::uint8_t b = in[j];
    flags = static_cast<std::uint8_t>(flags | ((b >> 7) << (6 - j)));
    out[j + 1] = b & 0x7F;
  }
  out[0] = flags;
}

// A whole group as one 64-bit word: the top bit of byte k sits at bit 8k + 7 and belongs at
// flag bit 6 - k, a shift of 9k + 1. Reads and writes eight bytes; the caller makes sure the
// eighth exists on both sides (the written one is overwritten by the next flag byte).
void PackWholeGroupWide(const std::uint8_t* in, std::uint8_t* out) {
  std::uint64_t w = 0;
  std::memcpy(&w, in, 8);
  const std::uint64_t flags = ((w >> 1) & 0x40) | ((w >> 10) & 0x20) | ((w >> 19) & 0x10) |
                              ((w >> 28) & 0x08) | ((w >> 37) & 0x04) | ((w >> 46) & 0x02) |
                              ((w >> 55) & 0x01);
  const std::uint64_t low = (w & 0x007F7F7F7F7F7F7Full) << 8 | flags;
  std::memcpy(out, &low, 8);
}

void PackWholeGroup(const std::uint8_t* in, std::uint8_t* out) {
  std::uint64_t w = 0;
  std::memcpy(&w, in, 7);
  const std::uint64_t flags = ((w >> 1) & 0x40) | ((w >> 10) & 0x20) | ((w >> 19) & 0x10) |
                              ((w >> 28) & 0x08) | ((w >> 37) & 0x04) | ((w >> 46) & 0x02) |
                              ((w >> 55) & 0x01);
  const std::uint64_t low = w & 0x007F7F7F7F7F7F7Full;
  out[0] = static_cast<std::uint8_t>(flags);
  std::memcpy(out + 1, &low, 7);
}

}  // namespace

std::vector<std::uint8_t> PackImage(std::span<const std::uint8_t> image) {
  std::vector<std::uint8_t> packed(PackedLength(image.size()));
  const std::uint8_t* in = image.data();
  std::uint8_t* out = packed.data();
  const std::size_t wholeGroups = image.size() / 7;
  const std::size_t rest = image.size() % 7;
  if constexpr (std::endian::native == std::endian::little) {
    // All but the last whole group have an eighth byte to read beyond them.
    const std::size_t wide = wholeGroups > 0 && rest == 0 ? wholeGroups - 1 : wholeGroups;
    for (std::size_t g = 0; g < wide; ++g, in += 7, out += 8) {
      PackWholeGroupWide(in, out);
    }
    if (wide < wholeGroups) {
      PackWholeGroup(in, out);
      in += 7;
      out += 8;
    }
  } else {
    for (std::size_t g = 0; g < wholeGroups; ++g, in += 7, out += 8) {
      PackGroup(in, 7, out);
    }
  }
  if (rest != 0) {
    PackGroup(in, rest, out);
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
