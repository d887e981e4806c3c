#pragma once

// The system's MIDI through RtMidi: the ALSA sequencer, or JACK, or nothing at all.

#include <memory>
#include <string>

#include "MidiBackend.h"

namespace movrin {

class RtMidiBackend final : public MidiBackend {
 public:
  enum class Api { None, Alsa, Jack };

  // Probes ALSA, then a running JACK server; without either the backend has no ports.
  [[nodiscard]] static std::unique_ptr<RtMidiBackend> Create(const std::string& clientName);

  RtMidiBackend(Api api, std::string clientName);
  ~RtMidiBackend() override;

  [[nodiscard]] std::string ApiName() const override;
  [[nodiscard]] std::vector<MidiPortInfo> ListOutputs() override;
  [[nodiscard]] std::vector<MidiPortInfo> ListInputs() override;
  [[nodiscard]] MidiPortInfo DefaultOutput() override;
  [[nodiscard]] OpenInputResult OpenInput(const MidiPortInfo& port,
                                          ShortMessageHandler handler) override;
  [[nodiscard]] OpenInputResult OpenVirtualInput(const std::string& portName,
                                                 RawMessageHandler handler) override;
  [[nodiscard]] OpenOutputResult OpenVirtualOutput(const std::string& portName) override;
  [[nodiscard]] OpenOutputResult OpenOutput(const MidiPortInfo& port) override;
  [[nodiscard]] MidiError SendSysEx(const MidiPortInfo& port,
                                    std::span<const std::uint8_t> message) override;

 private:
  Api api_;
  std::string clientName_;
};

}  // namespace movrin
