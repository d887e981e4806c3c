#include "MidiBackend.h"

#include <algorithm>
#include <cctype>

#include "Protocol.h"

namespace movrin {

// A longer block would fail on some ports only, and only once a transfer is under way.
static_assert(kMaxBlockMessageSize <= kLargestMessageBytes,
              "the update protocol's largest message must fit every MIDI port");

std::string Describe(MidiError error) {
  switch (error) {
    case MidiError::None:
      return "no error";
    case MidiError::Unavailable:
      return "no MIDI system is available";
    case MidiError::NoSuchPort:
      return "the MIDI port does not exist";
    case MidiError::OpenFailed:
      return "the MIDI port could not be opened";
    case MidiError::SendFailed:
      return "the MIDI message could not be sent";
    case MidiError::DrainTimeout:
      return "the MIDI message was not played out in time";
    case MidiError::NoPermission:
      return "no permission to use the USB device: install the udev rule for USB MIDI "
             "interfaces (70-movrin-usb-midi.rules, see the README) and plug the device in again";
  }
  return "unknown MIDI error";
}

RawMessageHandler ShortMessagesTo(ShortMessageHandler handler) {
  return [handler = std::move(handler)](std::span<const std::uint8_t> message) {
    if (const auto value = ShortMessageValue(message)) {
      handler(*value);
    }
  };
}

std::optional<std::uint32_t> ShortMessageValue(std::span<const std::uint8_t> message) {
  if (message.empty() || message.size() > 3) {
    return std::nullopt;
  }
  const std::uint8_t status = message[0];
  const bool channel = status >= 0x80 && status <= 0xEF;
  // Song position, song select and tune request: the system-common messages that are not
  // System Exclusive or timing.
  const bool common = status == 0xF2 || status == 0xF3 || status == 0xF6;
  if (!channel && !common) {
    return std::nullopt;
  }
  std::uint32_t value = status;
  for (std::size_t i = 1; i < message.size(); ++i) {
    if (message[i] >= 0x80) {
      return std::nullopt;
    }
    value |= static_cast<std::uint32_t>(message[i]) << (8 * i);
  }
  return value;
}

bool IsThroughPort(const std::string& name) {
  static constexpr std::string_view kThrough = "midi through";
  const auto it =
      std::search(name.begin(), name.end(), kThrough.begin(), kThrough.end(),
                  [](char a, char b) { return std::tolower(static_cast<unsigned char>(a)) == b; });
  return it != name.end();
}

MidiPortInfo MidiBackend::DefaultOutput() {
  for (MidiPortInfo& port : ListOutputs()) {
    if (!IsThroughPort(port.name)) {
      return port;
    }
  }
  return {};
}

}  // namespace movrin
