// The one place that knows which MIDI systems there are. Another system (WinMM, CoreMIDI) is a
// back end of its own: a file pair with a static Create that returns null when the system is
// not there, its row in kSystems below (with its include and a MidiSystem value), and its block
// in platform/CMakeLists.txt, which defines MOVRIN_WITH_<SYSTEM> when the build has it.

#include <exception>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "MidiBackend.h"
#include "MidiSystems.h"
#include "NullBackend.h"
#ifdef MOVRIN_WITH_ALSA
#include "AlsaBackend.h"
#endif
#ifdef MOVRIN_WITH_JACK
#include "JackBackend.h"
#endif
#ifdef MOVRIN_WITH_USB
#include "UsbMidiBackend.h"
#endif
#ifdef MOVRIN_WITH_WINMM
#include "WinMmBackend.h"
#endif

namespace movrin {

namespace {

struct System {
  MidiSystem id;
  const char* name;
  std::unique_ptr<MidiBackend> (*create)(const std::string&, const MidiBackendOptions&);
};

// In the order they are tried. The sentinel keeps the array valid in a build without any.
constexpr System kSystems[] = {
#ifdef MOVRIN_WITH_ALSA
    {MidiSystem::Alsa, "ALSA", &AlsaBackend::Create},
#endif
#ifdef MOVRIN_WITH_JACK
    {MidiSystem::Jack, "JACK", &JackBackend::Create},
#endif
#ifdef MOVRIN_WITH_WINMM
    {MidiSystem::WinMm, "WinMM", &WinMmBackend::Create},
#endif
    {MidiSystem::Alsa, nullptr, nullptr},
};

// The first system there is, of all or of `only`; the backend with no ports when there is none.
std::unique_ptr<MidiBackend> FirstReachable(const std::string& clientName,
                                            std::optional<MidiSystem> only,
                                            const MidiBackendOptions& options) {
  std::vector<std::string> problems;
  for (const System& system : kSystems) {
    if (system.create && (!only || system.id == *only)) {
      try {
        if (auto backend = system.create(clientName, options)) {
          return backend;
        }
      } catch (const std::exception& e) {  // counts as not there, and the user hears why
        problems.emplace_back(e.what());
      }
    }
  }
  return std::make_unique<NullBackend>(std::move(problems));
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

std::vector<std::string> BuiltMidiSystems() {
  std::vector<std::string> names;
  for (const System& system : kSystems) {
    if (system.name) {
      names.emplace_back(system.name);
    }
  }
#ifdef MOVRIN_WITH_USB
  names.emplace_back("USB");
#endif
  return names;
}

std::string NoMidiSystemDetail() {
  const std::vector<std::string> names = BuiltMidiSystems();
  if (names.empty()) {
    return "this build has none";
  }
  std::string text = "tried " + names.front();
  for (std::size_t i = 1; i < names.size(); ++i) {
    text += (i + 1 == names.size() ? " and " : ", ") + names[i];
  }
  return text;
}

}  // namespace movrin
