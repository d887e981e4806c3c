#include "JackSysExSender.h"

#include <chrono>

namespace movrin {

namespace {

// How long the server may run no cycle of the port before a send gives up: a 1038-byte block
// needs two cycle starts, and a stalled graph must still end the send.
constexpr std::chrono::milliseconds kDrainTimeout{2000};

}  // namespace

MidiError JackSysExSender::Send(const MidiPortInfo& port, std::span<const std::uint8_t> message) {
  if (port_ == nullptr || port_->destination() != port.name || !keepOpen_) {
    port_.reset();
    auto opened = JackOutputPort::Open(clientName_, "sysex-out", port.name, kDrainTimeout);
    if (opened.error != MidiError::None) {
      return opened.error;
    }
    port_ = std::move(opened.port);
  }
  const MidiError error = port_->Send(message);
  if (error == MidiError::DrainTimeout) {
    // The graph is stalled, and closing a client waits for the server: keep the port until
    // the next send. The message itself is already marked never to go out.
    return error;
  }
  if (error != MidiError::None || !keepOpen_) {
    port_.reset();
  }
  return error;
}

}  // namespace movrin
