#include "UpdateMessages.h"

#include <algorithm>

#include "Protocol.h"

namespace movrin {
namespace {

void WriteHeader(std::uint8_t* out, const std::uint8_t (&kind)[2], std::int32_t value) {
  const auto v = static_cast<std::uint32_t>(value);
  out[0] = kSysExStart;
  out[1] = kManufacturerId[0];
  out[2] = kManufacturerId[1];
  out[3] = kManufacturerId[2];
  out[4] = 0x00;
  out[5] = kind[0];
  out[6] = 0x00;
  out[7] = kind[1];
  out[8] = 0x00;
  out[9] = 0x18;
  out[10] = static_cast<std::uint8_t>((v >> 8) & 0xFF);
  out[11] = static_cast<std::uint8_t>(v & 0xFF);
  out[12] = kHeaderMarker;
}

}  // namespace

std::vector<std::uint8_t> AnnounceMessage(std::int32_t blockCount) {
  std::vector<std::uint8_t> message(kAnnounceSize);
  WriteHeader(message.data(), kAnnounceKind, blockCount);
  message[13] = kSysExEnd;
  return message;
}

std::vector<std::uint8_t> BlockMessage(std::span<const std::uint8_t> packed, std::int32_t index,
                                       std::int32_t length, std::int32_t blockSize) {
  const auto offset = static_cast<std::size_t>(index) * static_cast<std::size_t>(blockSize);
  const auto size = static_cast<std::size_t>(length);
  std::vector<std::uint8_t> message(size + kBlockOverhead);
  WriteHeader(message.data(), kBlockKind, index);
  const auto payload = packed.subspan(offset, size);
  std::copy(payload.begin(), payload.end(), message.begin() + kHeaderSize);
  message.back() = kSysExEnd;
  return message;
}

ParsedMessage ParseUpdateMessage(std::span<const std::uint8_t> m) {
  ParsedMessage parsed;
  auto fail = [&parsed](ParseError error) {
    parsed.error = error;
    return parsed;
  };
  if (m.size() < kAnnounceSize) {
    return fail(m.empty() || m[0] == kSysExStart ? ParseError::TooShort : ParseError::NotSysEx);
  }
  if (m[0] != kSysExStart) {
    return fail(ParseError::NotSysEx);
  }
  if (m.back() != kSysExEnd) {
    return fail(ParseError::Unterminated);
  }
  if (m[1] != kManufacturerId[0] || m[2] != kManufacturerId[1] || m[3] != kManufacturerId[2] ||
      m[4] != 0x00 || m[6] != 0x00 || m[8] != 0x00 || m[9] != 0x18 || m[12] != kHeaderMarker) {
    return fail(ParseError::WrongHeader);
  }
  parsed.value = static_cast<std::uint16_t>(m[10] << 8 | m[11]);
  if (m[5] == kAnnounceKind[0] && m[7] == kAnnounceKind[1]) {
    parsed.kind = MessageKind::Announce;
    if (m.size() != kAnnounceSize) {
      return fail(ParseError::WrongLength);
    }
    return parsed;
  }
  if (m[5] != kBlockKind[0] || m[7] != kBlockKind[1]) {
    return fail(ParseError::UnknownKind);
  }
  parsed.kind = MessageKind::Block;
  if (m.size() == kBlockOverhead || m.size() > kMaxBlockMessageSize) {
    return fail(ParseError::WrongLength);
  }
  parsed.payload = m.subspan(kHeaderSize, m.size() - kBlockOverhead);
  if (std::any_of(parsed.payload.begin(), parsed.payload.end(),
                  [](std::uint8_t b) { return (b & 0x80) != 0; })) {
    parsed.payload = {};
    return fail(ParseError::PayloadHighBit);
  }
  return parsed;
}

std::string Describe(ParseError error) {
  switch (error) {
    case ParseError::None:
      return "no error";
    case ParseError::TooShort:
      return "message too short";
    case ParseError::NotSysEx:
      return "not a System Exclusive message";
    case ParseError::Unterminated:
      return "message does not end with 0xF7";
    case ParseError::WrongHeader:
      return "wrong manufacturer or header bytes";
    case ParseError::UnknownKind:
      return "neither an announce nor a block message";
    case ParseError::WrongLength:
      return "wrong message length";
    case ParseError::PayloadHighBit:
      return "payload byte of 0x80 or more";
  }
  return "unknown error";
}

}  // namespace movrin
