#pragma once

// The two System Exclusive messages the program sends, and their parser for the device side.

#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace movrin {

// Only the low 16 bits of the count travel, as plain high and low bytes.
[[nodiscard]] std::vector<std::uint8_t> AnnounceMessage(std::int32_t blockCount);

// Carries `length` packed bytes starting at index * blockSize; the caller keeps that range
// inside `packed` (BlockPlan gives the lengths).
[[nodiscard]] std::vector<std::uint8_t> BlockMessage(std::span<const std::uint8_t> packed,
                                                     std::int32_t index, std::int32_t length,
                                                     std::int32_t blockSize);

enum class MessageKind { Announce, Block };

enum class ParseError {
  None,
  TooShort,
  NotSysEx,        // does not start with 0xF0
  Unterminated,    // does not end with 0xF7
  WrongHeader,     // manufacturer or fixed bytes differ
  UnknownKind,     // bytes 5 and 7 are neither announce nor block
  WrongLength,     // announce not 14 bytes, block payload empty or over a block
  PayloadHighBit,  // a payload byte of 0x80 or more
};

struct ParsedMessage {
  ParseError error = ParseError::None;
  MessageKind kind = MessageKind::Announce;
  std::uint16_t value = 0;                // block count or block index
  std::span<const std::uint8_t> payload;  // block payload, a view into the parsed bytes

  [[nodiscard]] bool ok() const { return error == ParseError::None; }
};

[[nodiscard]] ParsedMessage ParseUpdateMessage(std::span<const std::uint8_t> message);

[[nodiscard]] std::string Describe(ParseError error);

}  // namespace movrin
