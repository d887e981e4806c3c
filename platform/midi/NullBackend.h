#pragma once

// The backend when no MIDI system could be reached: no ports, and every open or send says so.
// Its notices tell why a system that is there could not be used (a server that does not
// answer).

#include <string>
#include <utility>
#include <vector>

#include "MidiBackend.h"

namespace movrin {

class NullBackend final : public MidiBackend {
 public:
  explicit NullBackend(std::vector<std::string> problems = {}) : problems_(std::move(problems)) {}

  [[nodiscard]] std::vector<std::string> TakeNotices() override {
    return std::exchange(problems_, {});
  }
  [[nodiscard]] std::string ApiName() const override { return "none"; }
  [[nodiscard]] bool HasSystem() const override { return false; }
  [[nodiscard]] std::vector<MidiPortInfo> ListOutputs() override { return {}; }
  [[nodiscard]] std::vector<MidiPortInfo> ListInputs() override { return {}; }
  [[nodiscard]] OpenInputResult OpenInput(const MidiPortInfo& /*port*/,
                                          ShortMessageHandler /*handler*/) override {
    return {nullptr, MidiError::Unavailable};
  }
  [[nodiscard]] OpenInputResult OpenVirtualInput(const std::string& /*portName*/,
                                                 RawMessageHandler /*handler*/) override {
    return {nullptr, MidiError::Unavailable};
  }
  [[nodiscard]] OpenOutputResult OpenVirtualOutput(const std::string& /*portName*/) override {
    return {nullptr, MidiError::Unavailable};
  }
  [[nodiscard]] OpenOutputResult OpenOutput(const MidiPortInfo& /*port*/) override {
    return {nullptr, MidiError::Unavailable};
  }
  [[nodiscard]] MidiError SendSysEx(const MidiPortInfo& /*port*/,
                                    std::span<const std::uint8_t> /*message*/) override {
    return MidiError::Unavailable;
  }

 private:
  std::vector<std::string> problems_;
};

}  // namespace movrin
