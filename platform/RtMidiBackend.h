#pragma once

// The system's MIDI on Linux: the ALSA sequencer or a running JACK server (RtMidi for ALSA
// listing and input, our own JACK input and our own outputs on both), or nothing at all. Call it
// from one thread; input handlers run on RtMidi's thread (ALSA) or our delivery thread (JACK).

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "MidiBackend.h"

namespace movrin {

class JackClient;
class JackOutputPort;

class RtMidiBackend final : public MidiBackend {
 public:
  enum class Api { None, Alsa, Jack };

  // Probes ALSA, then a running JACK server; without either the backend has no ports.
  [[nodiscard]] static std::unique_ptr<RtMidiBackend> Create(const std::string& clientName);
  // One API only, or the backend with no ports when that API is not there.
  [[nodiscard]] static std::unique_ptr<RtMidiBackend> Create(const std::string& clientName,
                                                             Api api);

  ~RtMidiBackend() override;
  RtMidiBackend(const RtMidiBackend&) = delete;
  RtMidiBackend& operator=(const RtMidiBackend&) = delete;

  [[nodiscard]] Api api() const { return api_; }
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
  [[nodiscard]] std::uint64_t XrunCount() const override;

  // On JACK the send port stays connected between SysEx sends (the default): registering a
  // port per message reorders the whole graph each time, which makes each send about five times
  // slower and, on a loaded machine, loses messages. Off: one port per message, as on ALSA.
  void KeepJackOutputOpen(bool keep);

 private:
  struct AlsaObjects;

  RtMidiBackend(Api api, std::string clientName);

  [[nodiscard]] bool IsOwnPort(const std::string& fullName) const;
  [[nodiscard]] bool Reachable() const;
  // Every port of the system in its own order, ours included: RtMidi opens by this index.
  [[nodiscard]] std::vector<std::string> SystemPorts(bool destinations);
  [[nodiscard]] std::vector<MidiPortInfo> ListPorts(bool destinations);
  [[nodiscard]] MidiError SendSysExAlsa(const MidiPortInfo& port,
                                        std::span<const std::uint8_t> message);
  [[nodiscard]] MidiError SendSysExJack(const MidiPortInfo& port,
                                        std::span<const std::uint8_t> message);
  [[nodiscard]] std::string NextPortName(const char* stem);

  Api api_;
  std::string clientName_;
  std::uint64_t portsMade_ = 0;
  std::unique_ptr<JackClient> jack_;            // JACK: listing and checks
  std::unique_ptr<JackOutputPort> jackSender_;  // JACK: the SysEx port kept open
  bool keepJackOutputOpen_ = true;
  std::unique_ptr<AlsaObjects> alsa_;  // ALSA: listing and the one-shot sender
};

}  // namespace movrin
