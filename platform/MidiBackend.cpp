#include "MidiBackend.h"

#include <algorithm>
#include <cctype>

namespace movrin {

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
  }
  return "unknown MIDI error";
}

bool IsThroughPort(const std::string& name) {
  static constexpr std::string_view kThrough = "midi through";
  const auto it =
      std::search(name.begin(), name.end(), kThrough.begin(), kThrough.end(),
                  [](char a, char b) { return std::tolower(static_cast<unsigned char>(a)) == b; });
  return it != name.end();
}

}  // namespace movrin
