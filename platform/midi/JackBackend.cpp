#include "JackBackend.h"

#include <algorithm>
#include <cstdlib>
#include <stdexcept>
#include <string>
#include <utility>

#include "JackInputPort.h"
#include "JackOutputPort.h"

namespace movrin {

namespace {

// What RtMidi's ignoreTypes(false, true, true) lets through on a virtual input, kept the same on
// every system: everything but timing (MTC quarter frame, clock) and active sensing.
bool KeptOnVirtualInput(std::span<const std::uint8_t> message) {
  const std::uint8_t status = message.front();
  return status != 0xF1 && status != 0xF8 && status != 0xFE;
}

}  // namespace

std::unique_ptr<MidiBackend> JackBackend::Create(const std::string& clientName,
                                                 const MidiBackendOptions& options) {
  // A port-less client of its own, so that the ports' client keeps the plain name.
  JackClient::Opened opened = JackClient::OpenControl(clientName + "-ctl");
  if (opened.unanswered) {
    const char* server = std::getenv("JACK_DEFAULT_SERVER");
    throw std::runtime_error(
        "the JACK server \"" + std::string(server != nullptr && *server != 0 ? server : "default") +
        "\" does not answer (given up after " + std::to_string(kServerAnswerLimit.count()) + " s)");
  }
  auto control = std::move(opened.client);
  if (control == nullptr) {
    return nullptr;
  }
  return std::unique_ptr<MidiBackend>(new JackBackend(std::move(control), clientName, options));
}

JackBackend::JackBackend(std::unique_ptr<JackClient> control, const std::string& clientName,
                         const MidiBackendOptions& options)
    : control_(std::move(control)),
      own_(clientName),
      sender_(clientName, options.keepJackOutputOpen) {}

std::vector<std::string> JackBackend::SystemPorts(bool destinations) const {
  std::vector<std::string> names;
  if (!Reachable()) {
    return names;
  }
  const char** ports = jack_get_ports(control_->get(), nullptr, JACK_DEFAULT_MIDI_TYPE,
                                      destinations ? JackPortIsInput : JackPortIsOutput);
  if (ports != nullptr) {
    for (const char** it = ports; *it != nullptr; ++it) {
      names.emplace_back(*it);
    }
    jack_free(static_cast<void*>(ports));
  }
  return names;
}

std::vector<MidiPortInfo> JackBackend::ListPorts(bool destinations) {
  std::vector<MidiPortInfo> ports = own_.Others(SystemPorts(destinations));
  // JACK hands out ports in slot order, and slots are reused: sort so the list reads the same
  // whichever programs came and went in between.
  std::sort(ports.begin(), ports.end(),
            [](const MidiPortInfo& a, const MidiPortInfo& b) { return a.name < b.name; });
  return ports;
}

std::vector<MidiPortInfo> JackBackend::ListOutputs() {
  return ListPorts(true);
}

std::vector<MidiPortInfo> JackBackend::ListInputs() {
  return ListPorts(false);
}

OpenInputResult JackBackend::OpenInput(const MidiPortInfo& port, ShortMessageHandler handler) {
  if (!Reachable()) {
    return {nullptr, MidiError::Unavailable};
  }
  const auto ports = SystemPorts(false);
  if (std::find(ports.begin(), ports.end(), port.name) == ports.end() || own_.Owns(port.name)) {
    return {nullptr, MidiError::NoSuchPort};
  }
  return JackInputPort::Open(own_.client(), own_.Next("in"), port.name,
                             ShortMessagesTo(std::move(handler)));
}

OpenInputResult JackBackend::OpenVirtualInput(const std::string& portName,
                                              RawMessageHandler handler) {
  if (!Reachable()) {
    return {nullptr, MidiError::Unavailable};
  }
  return JackInputPort::Open(own_.client(), portName, "",
                             [handler = std::move(handler)](std::span<const std::uint8_t> message) {
                               if (KeptOnVirtualInput(message)) {
                                 handler(message);
                               }
                             });
}

OpenOutputResult JackBackend::OpenVirtualOutput(const std::string& portName) {
  if (!Reachable()) {
    return {nullptr, MidiError::Unavailable};
  }
  return JackOutputPort::Open(own_.client(), portName, "");
}

OpenOutputResult JackBackend::OpenOutput(const MidiPortInfo& port) {
  if (!Reachable()) {
    return {nullptr, MidiError::Unavailable};
  }
  if (own_.Owns(port.name)) {
    return {nullptr, MidiError::NoSuchPort};
  }
  return JackOutputPort::Open(own_.client(), own_.Next("out"), port.name);
}

MidiError JackBackend::SendSysEx(const MidiPortInfo& port, std::span<const std::uint8_t> message) {
  if (!Reachable()) {
    return MidiError::Unavailable;
  }
  if (message.empty()) {
    return MidiError::SendFailed;
  }
  if (own_.Owns(port.name)) {
    return MidiError::NoSuchPort;
  }
  return sender_.Send(port, message);
}

}  // namespace movrin
