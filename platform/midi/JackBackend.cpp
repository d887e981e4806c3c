#include "JackBackend.h"

#include <algorithm>
#include <cstdlib>
#include <stdexcept>
#include <string>
#include <type_traits>
#include <utility>

#include "JackCalls.h"
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

// The server the way its user named it.
std::string ServerNamed() {
  const char* server = std::getenv("JACK_DEFAULT_SERVER");
  return "the JACK server \"" +
         std::string(server != nullptr && *server != 0 ? server : "default") + "\"";
}

}  // namespace

std::unique_ptr<MidiBackend> JackBackend::Create(const std::string& clientName,
                                                 const MidiBackendOptions& options) {
  // A port-less client of its own, so that the ports' client keeps the plain name.
  JackClient::Opened opened = JackClient::OpenControl(clientName + "-ctl");
  if (opened.unanswered) {
    throw std::runtime_error(ServerNamed() + " does not answer (given up after " +
                             std::to_string(kServerAnswerLimit.count()) + " s)");
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

template <typename Call>
auto JackBackend::WhileReachable(Call&& call) const -> decltype(call()) {
  if (!Reachable()) {
    if constexpr (std::is_same_v<decltype(call()), MidiError>) {
      return MidiError::Unavailable;
    } else {
      return {nullptr, MidiError::Unavailable};
    }
  }
  return call();
}

std::string JackBackend::SystemTrouble() const {
  if (!Reachable()) {
    return ServerNamed() + " went away";
  }
  return jack_calls::Stalled() ? ServerNamed() + " does not answer" : std::string();
}

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
  return WhileReachable([&]() -> OpenInputResult {
    const auto ports = SystemPorts(false);
    if (std::find(ports.begin(), ports.end(), port.name) == ports.end() || own_.Owns(port.name)) {
      return {nullptr, MidiError::NoSuchPort};
    }
    return JackInputPort::Open(own_.client(), own_.Next("in"), port.name,
                               ShortMessagesTo(std::move(handler)));
  });
}

OpenInputResult JackBackend::OpenVirtualInput(const std::string& portName,
                                              RawMessageHandler handler) {
  return WhileReachable([&]() -> OpenInputResult {
    return JackInputPort::Open(
        own_.client(), portName, "",
        [handler = std::move(handler)](std::span<const std::uint8_t> message) {
          if (KeptOnVirtualInput(message)) {
            handler(message);
          }
        });
  });
}

OpenOutputResult JackBackend::OpenVirtualOutput(const std::string& portName) {
  return WhileReachable(
      [&]() -> OpenOutputResult { return JackOutputPort::Open(own_.client(), portName, ""); });
}

OpenOutputResult JackBackend::OpenOutput(const MidiPortInfo& port) {
  return WhileReachable([&]() -> OpenOutputResult {
    if (own_.Owns(port.name)) {
      return {nullptr, MidiError::NoSuchPort};
    }
    return JackOutputPort::Open(own_.client(), own_.Next("out"), port.name);
  });
}

MidiError JackBackend::SendSysEx(const MidiPortInfo& port, std::span<const std::uint8_t> message) {
  return WhileReachable([&] {
    if (message.empty()) {
      return MidiError::SendFailed;
    }
    if (own_.Owns(port.name)) {
      return MidiError::NoSuchPort;
    }
    return sender_.Send(port, message);
  });
}

}  // namespace movrin
