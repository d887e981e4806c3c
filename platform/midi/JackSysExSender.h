#pragma once

// SysEx sends over JACK, each returning once its message has been played out. The send port is
// either kept connected between sends, or opened for one message and closed again.

#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <utility>

#include "JackOutputPort.h"
#include "MidiBackend.h"

namespace movrin {

class JackSysExSender {
 public:
  JackSysExSender(std::string clientName, bool keepOpen)
      : clientName_(std::move(clientName)), keepOpen_(keepOpen) {}

  [[nodiscard]] MidiError Send(const MidiPortInfo& port, std::span<const std::uint8_t> message);

 private:
  std::string clientName_;
  bool keepOpen_;
  std::unique_ptr<JackOutputPort> port_;
};

}  // namespace movrin
