#pragma once

// Constants of the update protocol as they appear on the wire.

#include <cstddef>
#include <cstdint>

namespace movrin {

inline constexpr std::uint8_t kSysExStart = 0xF0;
inline constexpr std::uint8_t kSysExEnd = 0xF7;
inline constexpr std::uint8_t kManufacturerId[3] = {0x00, 0x20, 0x63};
inline constexpr std::uint8_t kHeaderMarker = 0x89;

// Bytes 5 and 7 tell the two messages apart.
inline constexpr std::uint8_t kAnnounceKind[2] = {0x04, 0x04};
inline constexpr std::uint8_t kBlockKind[2] = {0x01, 0x7F};

// Header before the count or index, and the bytes around a payload.
inline constexpr std::size_t kHeaderSize = 13;
inline constexpr std::size_t kAnnounceSize = 14;
inline constexpr std::size_t kBlockOverhead = 14;

// Packed bytes per block message.
inline constexpr std::int32_t UPDATE_BLOCK_SIZE = 1024;
inline constexpr std::size_t kMaxBlockMessageSize = UPDATE_BLOCK_SIZE + kBlockOverhead;

// The count and the index travel as 16 bits; anything larger would wrap on the device.
inline constexpr std::int32_t kMaxBlockCount = 0xFFFF;

// Device replies as the input port delivers them: status | data1 << 8 | data2 << 16.
inline constexpr std::uint32_t ReadyNote = 0x00113C90;
inline constexpr std::uint32_t NextNote = 0x00333C90;

[[nodiscard]] constexpr std::uint32_t ShortMessage(std::uint8_t status, std::uint8_t data1,
                                                   std::uint8_t data2) {
  return static_cast<std::uint32_t>(status) | static_cast<std::uint32_t>(data1) << 8 |
         static_cast<std::uint32_t>(data2) << 16;
}

}  // namespace movrin
