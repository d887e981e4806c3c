#include "UsbMidiPackets.h"

#include <algorithm>

#include "Protocol.h"

namespace movrin {

namespace {

constexpr std::uint8_t kCinSysExContinues = 0x4;
constexpr std::uint8_t kCinSysExEndsWithOne = 0x5;  // also a one-byte system common message
constexpr std::uint8_t kCinTwoByteCommon = 0x2;
constexpr std::uint8_t kCinThreeByteCommon = 0x3;
constexpr std::uint8_t kCinSingleByte = 0xF;

// The length a short message with this status has, 0 when it is not one.
std::size_t ShortLength(std::uint8_t status) {
  if (status < 0x80 || status == kSysExStart || status == kSysExEnd) {
    return 0;
  }
  if (status < 0xF0) {
    const std::uint8_t kind = status & 0xF0;
    return kind == 0xC0 || kind == 0xD0 ? 2 : 3;
  }
  switch (status) {
    case 0xF1:
    case 0xF3:
      return 2;
    case 0xF2:
      return 3;
    default:
      return 1;  // tune request and real-time; the undefined ones as single bytes
  }
}

std::uint8_t ShortCin(std::uint8_t status, std::size_t length) {
  if (status < 0xF0) {
    return static_cast<std::uint8_t>(status >> 4);
  }
  if (status >= 0xF8) {
    return kCinSingleByte;
  }
  return length == 1 ? kCinSysExEndsWithOne
                     : (length == 2 ? kCinTwoByteCommon : kCinThreeByteCommon);
}

void Put(std::vector<std::uint8_t>& out, std::uint8_t cable, std::uint8_t cin,
         std::span<const std::uint8_t> bytes) {
  out.push_back(static_cast<std::uint8_t>(cable << 4 | cin));
  for (std::size_t i = 0; i < 3; ++i) {
    out.push_back(i < bytes.size() ? bytes[i] : 0);
  }
}

}  // namespace

std::vector<std::uint8_t> PackUsbMidi(std::span<const std::uint8_t> message, std::uint8_t cable) {
  std::vector<std::uint8_t> out;
  if (message.empty() || cable > 0x0F) {
    return out;
  }
  if (message.front() == kSysExStart) {
    if (message.size() < 2 || message.back() != kSysExEnd) {
      return out;
    }
    out.reserve((message.size() + 2) / 3 * kUsbMidiPacketSize);
    std::size_t at = 0;
    while (message.size() - at > 3) {
      Put(out, cable, kCinSysExContinues, message.subspan(at, 3));
      at += 3;
    }
    const auto last = message.subspan(at);
    Put(out, cable, static_cast<std::uint8_t>(kCinSysExEndsWithOne + last.size() - 1), last);
    return out;
  }
  const std::size_t length = ShortLength(message.front());
  if (length == 0 || message.size() != length ||
      std::any_of(message.begin() + 1, message.end(), [](std::uint8_t b) { return b >= 0x80; })) {
    return out;
  }
  Put(out, cable, ShortCin(message.front(), length), message);
  return out;
}

std::span<const std::uint8_t> UsbMidiPayload(std::span<const std::uint8_t, 4> packet) {
  static constexpr std::uint8_t kLength[16] = {0, 0, 2, 3, 3, 1, 2, 3, 3, 3, 3, 3, 2, 2, 3, 1};
  return std::span<const std::uint8_t>(packet).subspan(1, kLength[packet[0] & 0x0F]);
}

}  // namespace movrin
