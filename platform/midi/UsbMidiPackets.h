#pragma once

// USB MIDI 1.0 event packets: four bytes, the cable number and the Code Index Number (CIN) in
// the first, up to three MIDI bytes after it. System Exclusive is packed by position, never by
// parsing its bytes, so the 0x80 and above that the update protocol puts inside a SysEx pass
// unchanged (the kernel's own packer takes them for status bytes and breaks the message).

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

namespace movrin {

inline constexpr std::size_t kUsbMidiPacketSize = 4;

// The packets for one whole message: a SysEx (F0 ... F7) as CIN 4 packets of three bytes and a
// last one of CIN 5, 6 or 7; any other message by its status byte. Empty for a message that is
// neither (no status byte first, a short message of the wrong length, a SysEx without its F7).
[[nodiscard]] std::vector<std::uint8_t> PackUsbMidi(std::span<const std::uint8_t> message,
                                                    std::uint8_t cable);

// The cable a packet belongs to.
[[nodiscard]] constexpr std::uint8_t UsbMidiCable(std::span<const std::uint8_t, 4> packet) {
  return static_cast<std::uint8_t>(packet[0] >> 4);
}

// The MIDI bytes one packet carries, by its CIN: empty for the reserved CINs 0 and 1 (and for
// the all-zero padding some devices send).
[[nodiscard]] std::span<const std::uint8_t> UsbMidiPayload(std::span<const std::uint8_t, 4> packet);

}  // namespace movrin
