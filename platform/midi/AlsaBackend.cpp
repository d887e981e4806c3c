#include "AlsaBackend.h"

#include <unistd.h>

#include <algorithm>
#include <utility>

#include "AlsaOutputPort.h"
#include "RtInputPort.h"

namespace movrin {

namespace {

constexpr const char* kSequencer = "/dev/snd/seq";

bool Compiled(RtMidi::Api api) {
  std::vector<RtMidi::Api> apis;
  RtMidi::getCompiledApi(apis);
  return std::find(apis.begin(), apis.end(), api) != apis.end();
}

}  // namespace

std::unique_ptr<MidiBackend> AlsaBackend::Create(const std::string& clientName,
                                                 const MidiBackendOptions& /*options*/) {
  // Without the device alsa-lib would print its own complaint before RtMidi throws.
  if (!Compiled(RtMidi::LINUX_ALSA) || access(kSequencer, R_OK | W_OK) != 0) {
    return nullptr;
  }
  SilenceAlsaLibrary();
  auto sources = MakeRt<RtMidiIn>(RtMidi::LINUX_ALSA, clientName);
  auto destinations = MakeRt<RtMidiOut>(RtMidi::LINUX_ALSA, clientName);
  if (sources == nullptr || destinations == nullptr) {
    return nullptr;
  }
  return std::unique_ptr<MidiBackend>(
      new AlsaBackend(clientName, std::move(sources), std::move(destinations)));
}

AlsaBackend::AlsaBackend(std::string clientName, std::unique_ptr<RtObject<RtMidiIn>> sources,
                         std::unique_ptr<RtObject<RtMidiOut>> destinations)
    : own_(std::move(clientName)),
      sources_(std::move(sources)),
      destinations_(std::move(destinations)) {}

std::vector<MidiPortInfo> AlsaBackend::ListOutputs() {
  return own_.Others(RtPortNames(*destinations_));
}

std::vector<MidiPortInfo> AlsaBackend::ListInputs() {
  return own_.Others(RtPortNames(*sources_));
}

std::unique_ptr<RtInputPort> AlsaBackend::NewInput(
    std::function<void(std::span<const std::uint8_t>)> deliver) const {
  // The port object comes first, so that RtMidi's thread starts after it exists.
  auto input = std::make_unique<RtInputPort>(std::move(deliver));
  auto rt = MakeRt<RtMidiIn>(RtMidi::LINUX_ALSA, own_.client());
  if (rt == nullptr) {
    return nullptr;
  }
  input->Attach(std::move(rt));
  return input;
}

OpenInputResult AlsaBackend::OpenInput(const MidiPortInfo& port, ShortMessageHandler handler) {
  // RtMidi opens by index in its own list, our ports included.
  const auto names = RtPortNames(*sources_);
  const auto found = std::find(names.begin(), names.end(), port.name);
  if (found == names.end() || own_.Owns(port.name)) {
    return {nullptr, MidiError::NoSuchPort};
  }
  const std::string portName = own_.Next("in");
  auto input = NewInput(ShortMessagesTo(std::move(handler)));
  if (input == nullptr) {
    return {nullptr, MidiError::Unavailable};
  }
  RtObject<RtMidiIn>& in = input->rt();
  try {
    in.midi->ignoreTypes(true, true, true);
    in.midi->openPort(static_cast<unsigned>(found - names.begin()), portName);
  } catch (const std::exception&) {
    return {nullptr, MidiError::OpenFailed};
  }
  if (in.sink.errors.load() != 0 || !in.midi->isPortOpen()) {
    return {nullptr, MidiError::OpenFailed};
  }
  return {std::move(input), MidiError::None};
}

OpenInputResult AlsaBackend::OpenVirtualInput(const std::string& portName,
                                              RawMessageHandler handler) {
  auto input = NewInput(std::move(handler));
  if (input == nullptr) {
    return {nullptr, MidiError::Unavailable};
  }
  RtObject<RtMidiIn>& in = input->rt();
  try {
    // Blocks are larger than RtMidi's default ALSA buffer of 1024 bytes.
    in.midi->setBufferSize(2048, 4);
    in.midi->ignoreTypes(false, true, true);
    in.midi->openVirtualPort(portName);
  } catch (const std::exception&) {
    return {nullptr, MidiError::OpenFailed};
  }
  // RtMidi never marks a virtual port as open; its errors are all there is to go by.
  if (in.sink.errors.load() != 0) {
    return {nullptr, MidiError::OpenFailed};
  }
  return {std::move(input), MidiError::None};
}

OpenOutputResult AlsaBackend::OpenVirtualOutput(const std::string& portName) {
  return AlsaOutputPort::Open(own_.client(), portName, "");
}

OpenOutputResult AlsaBackend::OpenOutput(const MidiPortInfo& port) {
  if (own_.Owns(port.name)) {
    return {nullptr, MidiError::NoSuchPort};
  }
  return AlsaOutputPort::Open(own_.client(), own_.Next("out"), port.name);
}

MidiError AlsaBackend::SendSysEx(const MidiPortInfo& port, std::span<const std::uint8_t> message) {
  if (message.empty()) {
    return MidiError::SendFailed;
  }
  if (own_.Owns(port.name)) {
    return MidiError::NoSuchPort;
  }
  // One port per message, closed again at once: some systems let only one client at a time
  // hold a device.
  auto opened = AlsaOutputPort::Open(own_.client(), "sysex-out", port.name);
  if (opened.error != MidiError::None) {
    return opened.error;
  }
  return opened.port->Send(message);
}

}  // namespace movrin
