#pragma once

// A MIDI backend in memory for tests: records every message sent, lets a test deliver replies
// to the open input port, and can be told to fail.

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "MidiBackend.h"

namespace movrin {

class InMemoryMidiBackend final : public MidiBackend {
 public:
  struct Sent {
    MidiPortInfo port;
    std::vector<std::uint8_t> bytes;
  };

  InMemoryMidiBackend(std::vector<MidiPortInfo> outputs, std::vector<MidiPortInfo> inputs);
  ~InMemoryMidiBackend() override;

  [[nodiscard]] std::string ApiName() const override { return "memory"; }
  [[nodiscard]] std::vector<MidiPortInfo> ListOutputs() override { return outputs_; }
  [[nodiscard]] std::vector<MidiPortInfo> ListInputs() override { return inputs_; }
  [[nodiscard]] OpenInputResult OpenInput(const MidiPortInfo& port,
                                          ShortMessageHandler handler) override;
  [[nodiscard]] MidiError SendSysEx(const MidiPortInfo& port,
                                    std::span<const std::uint8_t> message) override;
  // Virtual and kept-open ports are not simulated: they fail with Unavailable.
  [[nodiscard]] OpenInputResult OpenVirtualInput(const std::string& portName,
                                                 RawMessageHandler handler) override;
  [[nodiscard]] OpenOutputResult OpenVirtualOutput(const std::string& portName) override;
  [[nodiscard]] OpenOutputResult OpenOutput(const MidiPortInfo& port) override;

  // Calls the open input's handler on the calling thread; false when no input is open. With
  // several inputs open, the one opened last receives. The handler may close its own input.
  bool Deliver(std::uint32_t message);

  void SetOutputs(std::vector<MidiPortInfo> outputs) { outputs_ = std::move(outputs); }
  void SetInputs(std::vector<MidiPortInfo> inputs) { inputs_ = std::move(inputs); }

  // The next `count` sends fail with `error` (after `skip` sends that succeed). A failed send is
  // not recorded and does not run the OnSend hook: nothing reached the port.
  void FailSends(MidiError error, std::size_t count = 1, std::size_t skip = 0);
  // The next OpenInput fails with `error`.
  void FailNextOpen(MidiError error) { openFailure_ = error; }
  // A notice that TakeNotices hands out once the open input has closed, as a USB link's is.
  void NoticeOnClose(std::string notice) { closeNotice_ = std::move(notice); }
  [[nodiscard]] std::vector<std::string> TakeNotices() override;

  // Runs after each recorded send, before SendSysEx returns: lets a test act "during" a send.
  void OnSend(std::function<void(const Sent&)> hook) { sendHook_ = std::move(hook); }

  [[nodiscard]] const std::vector<Sent>& sent() const { return sent_; }
  void ClearSent() { sent_.clear(); }
  [[nodiscard]] bool inputOpen() const { return openInput_ != nullptr; }
  [[nodiscard]] std::size_t inputsOpened() const { return inputsOpened_; }
  [[nodiscard]] std::optional<MidiPortInfo> openInputPort() const;

 private:
  class Input;
  friend class Input;
  void Forget(Input* input);

  std::vector<MidiPortInfo> outputs_;
  std::vector<MidiPortInfo> inputs_;
  std::vector<Sent> sent_;
  Input* openInput_ = nullptr;
  std::vector<Input*> liveInputs_;  // detached when the backend goes first
  std::size_t inputsOpened_ = 0;
  MidiError openFailure_ = MidiError::None;
  MidiError sendFailure_ = MidiError::None;
  std::size_t sendFailuresLeft_ = 0;
  std::size_t sendSkipsLeft_ = 0;
  std::function<void(const Sent&)> sendHook_;
  std::string closeNotice_;
  std::vector<std::string> notices_;
};

}  // namespace movrin
