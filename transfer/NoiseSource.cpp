#include "NoiseSource.h"

#include "Protocol.h"

namespace movrin {
namespace {

std::vector<std::uint8_t> Bytes(std::uint32_t shortMessage) {
  return {static_cast<std::uint8_t>(shortMessage), static_cast<std::uint8_t>(shortMessage >> 8),
          static_cast<std::uint8_t>(shortMessage >> 16)};
}

}  // namespace

int NoiseSource::Pick(int low, int high) {
  return std::uniform_int_distribution<int>(low, high)(random_);
}

std::vector<std::uint8_t> NoiseSource::StrayMessage() {
  constexpr std::uint8_t kNoteOn = 0x90;
  constexpr std::uint8_t kKey = 0x3C;
  switch (Pick(0, 5)) {
    case 0:  // the reply notes on another channel
      return {static_cast<std::uint8_t>(kNoteOn | Pick(1, 15)), kKey,
              static_cast<std::uint8_t>(Pick(0, 1) == 0 ? 0x11 : 0x33)};
    case 1:  // another key
      return {kNoteOn, static_cast<std::uint8_t>(kKey + Pick(1, 60)),
              static_cast<std::uint8_t>(Pick(0, 1) == 0 ? 0x11 : 0x33)};
    case 2: {  // the right key with another velocity
      std::uint8_t velocity = 0;
      do {
        velocity = static_cast<std::uint8_t>(Pick(0, 127));
      } while (velocity == 0x11 || velocity == 0x33);
      return {kNoteOn, kKey, velocity};
    }
    case 3:  // note off with the reply's bytes
      return {0x80, kKey, static_cast<std::uint8_t>(Pick(0, 1) == 0 ? 0x11 : 0x33)};
    case 4:  // a program change: two bytes
      return {static_cast<std::uint8_t>(0xC0 | Pick(0, 15)),
              static_cast<std::uint8_t>(Pick(0, 127))};
    default: {  // any other three-byte channel message
      constexpr std::uint8_t kinds[] = {0xA0, 0xB0, 0xE0};
      return {static_cast<std::uint8_t>(kinds[Pick(0, 2)] | Pick(0, 15)),
              static_cast<std::uint8_t>(Pick(0, 127)), static_cast<std::uint8_t>(Pick(0, 127))};
    }
  }
}

std::vector<std::vector<std::uint8_t>> NoiseSource::Burst(bool sending) {
  std::vector<std::vector<std::uint8_t>> burst;
  const int count = Pick(0, 3);
  for (int i = 0; i < count; ++i) {
    if (Pick(0, 3) == 0) {
      burst.push_back(Bytes(sending ? ReadyNote : NextNote));
    } else {
      burst.push_back(StrayMessage());
    }
  }
  return burst;
}

}  // namespace movrin
