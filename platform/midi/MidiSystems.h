#pragma once

// One MIDI system on its own, for the tests of the MIDI layer and for the back ends' options.
// The programs take CreateSystemMidiBackend, which tries every system this build has.

#include <memory>
#include <string>

#include "MidiBackend.h"

namespace movrin {

// Every system there is a back end for; a build may lack some (see BuiltMidiSystems).
enum class MidiSystem { Alsa, Jack, WinMm };

struct MidiBackendOptions {
  // On JACK the SysEx send port stays connected between sends (the default): registering a port
  // per message reorders the whole graph each time, which makes each send about five times
  // slower and, on a loaded machine, loses messages. Off: one port per message, as on ALSA.
  bool keepJackOutputOpen = true;
};

// That system only, or the backend with no ports when it is not there or not built in.
[[nodiscard]] std::unique_ptr<MidiBackend> CreateMidiBackend(const std::string& clientName,
                                                             MidiSystem system,
                                                             MidiBackendOptions options = {});

}  // namespace movrin
