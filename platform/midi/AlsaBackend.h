#pragma once

// MIDI over the ALSA sequencer: RtMidi for listing and input, our own ports for output (RtMidi's
// ALSA output runs SysEx through a byte-stream parser that splits it). Call it from one thread;
// input handlers run on RtMidi's thread.

#include <cstdint>
#include <functional>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "MidiBackend.h"
#include "MidiSystems.h"
#include "OwnPorts.h"
#include "RtObject.h"

namespace movrin {

class RtInputPort;

class AlsaBackend final : public MidiBackend {
 public:
  // Null when the sequencer cannot be used.
  [[nodiscard]] static std::unique_ptr<MidiBackend> Create(const std::string& clientName,
                                                           const MidiBackendOptions& options);

  [[nodiscard]] std::string ApiName() const override { return "ALSA"; }
  [[nodiscard]] std::vector<MidiPortInfo> ListOutputs() override;
  [[nodiscard]] std::vector<MidiPortInfo> ListInputs() override;
  [[nodiscard]] OpenInputResult OpenInput(const MidiPortInfo& port,
                                          ShortMessageHandler handler) override;
  [[nodiscard]] OpenInputResult OpenVirtualInput(const std::string& portName,
                                                 RawMessageHandler handler) override;
  [[nodiscard]] OpenOutputResult OpenVirtualOutput(const std::string& portName) override;
  [[nodiscard]] OpenOutputResult OpenOutput(const MidiPortInfo& port) override;
  [[nodiscard]] MidiError SendSysEx(const MidiPortInfo& port,
                                    std::span<const std::uint8_t> message) override;

 private:
  AlsaBackend(std::string clientName, std::unique_ptr<RtObject<RtMidiIn>> sources,
              std::unique_ptr<RtObject<RtMidiOut>> destinations);

  // An input on a fresh RtMidi client, not yet opened; null when no client could be made.
  [[nodiscard]] std::unique_ptr<RtInputPort> NewInput(
      std::function<void(std::span<const std::uint8_t>)> deliver) const;

  OwnPorts own_;
  std::unique_ptr<RtObject<RtMidiIn>> sources_;
  std::unique_ptr<RtObject<RtMidiOut>> destinations_;  // listing only: sends are our own
};

}  // namespace movrin
