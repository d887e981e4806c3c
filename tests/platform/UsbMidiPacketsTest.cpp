#include <gtest/gtest.h>

#include <cstdint>
#include <random>
#include <vector>

#include "UsbCable.h"
#include "UsbMidiPackets.h"

namespace movrin {
namespace {

using Bytes = std::vector<std::uint8_t>;

Bytes Unpack(const Bytes& packets, std::uint8_t cable) {
  Bytes bytes;
  for (std::size_t at = 0; at + 4 <= packets.size(); at += 4) {
    const std::span<const std::uint8_t, 4> packet(packets.data() + at, 4);
    EXPECT_EQ(UsbMidiCable(packet), cable);
    const auto payload = UsbMidiPayload(packet);
    bytes.insert(bytes.end(), payload.begin(), payload.end());
  }
  return bytes;
}

// The announce carries 0x89 inside: it must go by position, with the F7 in the last packet.
TEST(UsbMidiPackets, SysExGoesByPositionWhateverItsBytes) {
  const Bytes announce{0xF0, 0x00, 0x20, 0x63, 0x00, 0x04, 0x00,
                       0x04, 0x00, 0x18, 0x00, 0x04, 0x89, 0xF7};
  EXPECT_EQ(PackUsbMidi(announce, 1),
            (Bytes{0x14, 0xF0, 0x00, 0x20, 0x14, 0x63, 0x00, 0x04, 0x14, 0x00,
                   0x04, 0x00, 0x14, 0x18, 0x00, 0x04, 0x16, 0x89, 0xF7, 0x00}));
  // The last packet's CIN says how many of its bytes count: one, two or three.
  EXPECT_EQ(PackUsbMidi(Bytes{0xF0, 0xF7}, 0), (Bytes{0x06, 0xF0, 0xF7, 0x00}));
  EXPECT_EQ(PackUsbMidi(Bytes{0xF0, 0x01, 0xF7}, 0), (Bytes{0x07, 0xF0, 0x01, 0xF7}));
  EXPECT_EQ(PackUsbMidi(Bytes{0xF0, 0x01, 0x02, 0xF7}, 15),
            (Bytes{0xF4, 0xF0, 0x01, 0x02, 0xF5, 0xF7, 0x00, 0x00}));

  std::mt19937 random(7);
  for (std::size_t length = 2; length < 40; ++length) {
    Bytes message(length);
    for (auto& byte : message) {
      byte = static_cast<std::uint8_t>(random());
    }
    message.front() = 0xF0;
    message.back() = 0xF7;
    const Bytes packets = PackUsbMidi(message, 3);
    EXPECT_EQ(packets.size(), (length + 2) / 3 * 4) << length;
    EXPECT_EQ(Unpack(packets, 3), message) << length;
  }
}

TEST(UsbMidiPackets, ShortMessagesByTheirStatus) {
  EXPECT_EQ(PackUsbMidi(Bytes{0x90, 0x3C, 0x11}, 0), (Bytes{0x09, 0x90, 0x3C, 0x11}));
  EXPECT_EQ(PackUsbMidi(Bytes{0xC2, 0x05}, 2), (Bytes{0x2C, 0xC2, 0x05, 0x00}));
  EXPECT_EQ(PackUsbMidi(Bytes{0xF2, 0x01, 0x02}, 0), (Bytes{0x03, 0xF2, 0x01, 0x02}));
  EXPECT_EQ(PackUsbMidi(Bytes{0xF3, 0x01}, 0), (Bytes{0x02, 0xF3, 0x01, 0x00}));
  EXPECT_EQ(PackUsbMidi(Bytes{0xF6}, 0), (Bytes{0x05, 0xF6, 0x00, 0x00}));
  EXPECT_EQ(PackUsbMidi(Bytes{0xF8}, 0), (Bytes{0x0F, 0xF8, 0x00, 0x00}));
  // What is no whole message is not sent at all.
  for (const Bytes& bad : {Bytes{}, Bytes{0x3C}, Bytes{0x90, 0x3C}, Bytes{0x90, 0x3C, 0x91},
                           Bytes{0xC0, 0x01, 0x02}, Bytes{0xF0, 0x01}, Bytes{0xF0}}) {
    EXPECT_TRUE(PackUsbMidi(bad, 0).empty()) << bad.size();
  }
  EXPECT_TRUE(PackUsbMidi(Bytes{0x90, 0x3C, 0x11}, 16).empty());
}

TEST(UsbMidiPackets, PayloadByCin) {
  const std::uint8_t reserved[4] = {0x01, 0x90, 0x3C, 0x11};
  EXPECT_TRUE(UsbMidiPayload(reserved).empty());
  const std::uint8_t padding[4] = {};
  EXPECT_TRUE(UsbMidiPayload(padding).empty());
  const std::uint8_t aftertouch[4] = {0x2D, 0xD1, 0x40, 0x7F};
  EXPECT_EQ(UsbMidiPayload(aftertouch).size(), 2U);
  EXPECT_EQ(UsbMidiCable(aftertouch), 2);
}

// Two of the same product must each be pickable by name; a lone device keeps the kernel's name.
TEST(UsbCableNames, TwinDevicesSayWhereTheyArePluggedIn) {
  const auto cable = [](const char* product, const char* location, int number) {
    UsbCable made;
    made.product = product;
    made.location = location;
    made.number = number;
    return made;
  };
  std::vector<UsbCable> cables{cable("Synth", "1-1", 1), cable("Synth", "1-1", 2),
                               cable("Synth", "1-2", 1), cable("Cable", "1-3", 1)};
  NameUsbCables(cables);
  EXPECT_EQ(cables[0].name, "Synth MIDI 1 (USB 1-1)");
  EXPECT_EQ(cables[1].name, "Synth MIDI 2 (USB 1-1)");
  EXPECT_EQ(cables[2].name, "Synth MIDI 1 (USB 1-2)");
  EXPECT_EQ(cables[3].name, "Cable MIDI 1 (USB)");
}

}  // namespace
}  // namespace movrin
