#include "AlsaEvents.h"

#include <algorithm>
#include <charconv>
#include <memory>

#include "Protocol.h"

namespace movrin {

namespace {

struct CoderDeleter {
  void operator()(snd_midi_event_t* coder) const { snd_midi_event_free(coder); }
};
using Coder = std::unique_ptr<snd_midi_event_t, CoderDeleter>;

// Bytes a short message has in all, by its status byte; 0 for statuses that do not start one.
std::size_t ShortLength(std::uint8_t status) {
  if (status < 0x80) {
    return 0;
  }
  if (status < 0xF0) {
    const std::uint8_t kind = status & 0xF0;
    return kind == 0xC0 || kind == 0xD0 ? 2 : 3;
  }
  switch (status) {
    case 0xF1:  // time code quarter frame
    case 0xF3:  // song select
      return 2;
    case 0xF2:  // song position
      return 3;
    case 0xF6:  // tune request
    case 0xF8:  // real-time: clock, start, continue, stop, active sensing, reset
    case 0xFA:
    case 0xFB:
    case 0xFC:
    case 0xFE:
    case 0xFF:
      return 1;
    default:
      return 0;
  }
}

}  // namespace

std::optional<snd_seq_event_t> AlsaEventFor(std::span<const std::uint8_t> message) {
  snd_seq_event_t event;
  snd_seq_ev_clear(&event);
  if (message.size() >= 2 && message.front() == kSysExStart && message.back() == kSysExEnd) {
    // alsa-lib only reads through the pointer when it copies the event out.
    snd_seq_ev_set_sysex(&event, static_cast<unsigned>(message.size()),
                         const_cast<std::uint8_t*>(message.data()));
    return event;
  }
  if (message.empty() || ShortLength(message.front()) != message.size() ||
      std::any_of(message.begin() + 1, message.end(), [](std::uint8_t b) { return b >= 0x80; })) {
    return std::nullopt;
  }
  // For a whole, well-formed short message the encoder is exact; a fresh one keeps no running
  // status from an earlier message.
  snd_midi_event_t* raw = nullptr;
  if (snd_midi_event_new(message.size(), &raw) < 0) {
    return std::nullopt;
  }
  const Coder coder(raw);
  const long used =
      snd_midi_event_encode(coder.get(), message.data(), static_cast<long>(message.size()), &event);
  if (used != static_cast<long>(message.size()) || event.type == SND_SEQ_EVENT_NONE) {
    return std::nullopt;
  }
  return event;
}

std::optional<AlsaAddress> AlsaAddressInName(const std::string& name) {
  const auto space = name.rfind(' ');
  const auto colon = name.rfind(':');
  if (space == std::string::npos || colon == std::string::npos || colon < space) {
    return std::nullopt;
  }
  // Each number in 0..255, digits only.
  const auto number = [&name](std::size_t from, std::size_t to) -> std::optional<int> {
    if (from >= to || to - from > 3 ||
        !std::all_of(name.begin() + static_cast<std::ptrdiff_t>(from),
                     name.begin() + static_cast<std::ptrdiff_t>(to),
                     [](char c) { return c >= '0' && c <= '9'; })) {
      return std::nullopt;
    }
    int value = 0;
    const auto [end, error] = std::from_chars(name.data() + from, name.data() + to, value);
    if (error != std::errc{} || end != name.data() + to || value > 255) {
      return std::nullopt;
    }
    return value;
  };
  const auto client = number(space + 1, colon);
  const auto port = number(colon + 1, name.size());
  if (!client || !port) {
    return std::nullopt;
  }
  return AlsaAddress{*client, *port};
}

std::string AlsaPortName(const std::string& clientName, const std::string& portName,
                         AlsaAddress address) {
  return clientName + ":" + portName + " " + std::to_string(address.client) + ":" +
         std::to_string(address.port);
}

}  // namespace movrin
