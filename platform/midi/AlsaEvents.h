#pragma once

// What the ALSA sequencer is given for one outgoing message. alsa-lib's byte-stream encoder
// (snd_midi_event_encode, which RtMidi's ALSA output uses) reads a System Exclusive message as a
// MIDI stream: a data byte of 0xF7 ends it early, 0xF8-0xFF leave it as real-time events, and
// older alsa-lib versions start a new channel message at any byte of 0x80 or more. Our messages
// carry such bytes in their header, so a SysEx message goes out as one variable-length event
// holding every byte unchanged.

#include <alsa/asoundlib.h>

#include <cstdint>
#include <optional>
#include <span>
#include <string>

namespace movrin {

// A message framed F0 ... F7 becomes one SND_SEQ_EVENT_SYSEX event whose data points into
// `message` (keep it alive until the event is written). One complete short message (status
// byte first, the data bytes its status asks for) becomes its decoded event. Anything else -
// an unterminated SysEx, running status, stray or high data bytes, two messages at once - gives
// nothing. Source, destination and timing are left to the sender.
[[nodiscard]] std::optional<snd_seq_event_t> AlsaEventFor(std::span<const std::uint8_t> message);

struct AlsaAddress {
  int client = 0;
  int port = 0;

  friend bool operator==(const AlsaAddress&, const AlsaAddress&) = default;
};

// The address at the end of a port name as listed on ALSA ("<client>:<port> 20:0").
[[nodiscard]] std::optional<AlsaAddress> AlsaAddressInName(const std::string& name);

// The name a port is listed under: "<client name>:<port name> <client>:<port>".
[[nodiscard]] std::string AlsaPortName(const std::string& clientName, const std::string& portName,
                                       AlsaAddress address);

}  // namespace movrin
