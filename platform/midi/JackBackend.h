#pragma once

// MIDI over a running JACK server, all through our own ports (RtMidi's JACK output cannot tell
// when a message has left, and its input can crash when closed). Call it from one thread;
// input handlers run on the ports' delivery threads.

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "JackClient.h"
#include "JackSysExSender.h"
#include "MidiBackend.h"
#include "MidiSystems.h"
#include "OwnPorts.h"

namespace movrin {

class JackBackend final : public MidiBackend {
 public:
  // Null when no JACK server is running; never starts one. Throws std::runtime_error, saying
  // so, when the server runs but does not answer.
  [[nodiscard]] static std::unique_ptr<MidiBackend> Create(const std::string& clientName,
                                                           const MidiBackendOptions& options);

  [[nodiscard]] std::string ApiName() const override { return "JACK"; }
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
  [[nodiscard]] std::uint64_t XrunCount() const override { return control_->xruns(); }
  [[nodiscard]] bool SystemGone() const override { return !Reachable(); }
  [[nodiscard]] std::string SystemTrouble() const override;

 private:
  JackBackend(std::unique_ptr<JackClient> control, const std::string& clientName,
              const MidiBackendOptions& options);

  [[nodiscard]] bool Reachable() const { return !control_->serverGone(); }
  // `call`'s result while the server is there; once it has gone, every call fails alike
  // (Unavailable) before it touches libjack.
  template <typename Call>
  [[nodiscard]] auto WhileReachable(Call&& call) const -> decltype(call());
  // Every MIDI port of the graph, ours included. A destination is a port we write to: a JACK
  // input port.
  [[nodiscard]] std::vector<std::string> SystemPorts(bool destinations) const;
  [[nodiscard]] std::vector<MidiPortInfo> ListPorts(bool destinations);

  std::unique_ptr<JackClient> control_;  // listing and checks
  OwnPorts own_;
  JackSysExSender sender_;
};

}  // namespace movrin
