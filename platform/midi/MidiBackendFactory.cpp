// The one place that knows which MIDI systems there are. Another system (WinMM, CoreMIDI) is a
// back end of its own: a file pair with a static Create that returns null when the system is
// not there, its row in kSystems below (with its include and a MidiSystem value), and its file
// in platform/CMakeLists.txt.

#include <exception>
#include <memory>
#include <optional>
#include <string>

#include "AlsaBackend.h"
#include "JackBackend.h"
#include "MidiBackend.h"
#include "NullBackend.h"
#ifdef MOVRIN_WITH_USB
#include "UsbMidiBackend.h"
#endif

namespace movrin {

namespace {

struct System {
  MidiSystem id;
  std::unique_ptr<MidiBackend> (*create)(const std::string&, const MidiBackendOptions&);
};

// In the order they are tried.
constexpr System kSystems[] = {
    {MidiSystem::Alsa, &AlsaBackend::Create},
    {MidiSystem::Jack, &JackBackend::Create},
};

// The first system there is, of all or of `only`; the backend with no ports when there is none.
std::unique_ptr<MidiBackend> FirstReachable(const std::string& clientName,
                                            std::optional<MidiSystem> only,
                                            const MidiBackendOptions& options) {
  for (const System& system : kSystems) {
    if (!only || system.id == *only) {
      try {
        if (auto backend = system.create(clientName, options)) {
          return backend;
        }
      } catch (const std::exception&) {  // a system that throws counts as not there
      }
    }
  }
  return std::make_unique<NullBackend>();
}

// USB MIDI interfaces beside the system's ports, where the build and the machine have libusb.
std::unique_ptr<MidiBackend> WithUsb(std::unique_ptr<MidiBackend> system) {
#ifdef MOVRIN_WITH_USB
  return UsbMidiBackend::Create(std::move(system));
#else
  return system;
#endif
}

}  // namespace

std::unique_ptr<MidiBackend> CreateSystemMidiBackend(const std::string& clientName) {
  return WithUsb(FirstReachable(clientName, std::nullopt, {}));
}

std::unique_ptr<MidiBackend> CreateMidiBackend(const std::string& clientName, MidiSystem system,
                                               MidiBackendOptions options) {
  return FirstReachable(clientName, system, options);
}

}  // namespace movrin
