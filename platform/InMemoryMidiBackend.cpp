#include "InMemoryMidiBackend.h"

#include <algorithm>
#include <utility>

namespace movrin {

class InMemoryMidiBackend::Input final : public MidiInput {
 public:
  Input(InMemoryMidiBackend* backend, MidiPortInfo port, ShortMessageHandler handler)
      : backend_(backend), port_(std::move(port)), handler_(std::move(handler)) {}

  ~Input() override {
    if (backend_ != nullptr) {
      backend_->Forget(this);
    }
  }

  void Detach() { backend_ = nullptr; }
  [[nodiscard]] const MidiPortInfo& port() const { return port_; }
  [[nodiscard]] const ShortMessageHandler& handler() const { return handler_; }

 private:
  InMemoryMidiBackend* backend_;
  MidiPortInfo port_;
  ShortMessageHandler handler_;
};

namespace {

bool Contains(const std::vector<MidiPortInfo>& ports, const MidiPortInfo& port) {
  return std::find(ports.begin(), ports.end(), port) != ports.end();
}

}  // namespace

InMemoryMidiBackend::InMemoryMidiBackend(std::vector<MidiPortInfo> outputs,
                                         std::vector<MidiPortInfo> inputs)
    : outputs_(std::move(outputs)), inputs_(std::move(inputs)) {}

InMemoryMidiBackend::~InMemoryMidiBackend() {
  for (Input* input : liveInputs_) {
    input->Detach();
  }
}

OpenInputResult InMemoryMidiBackend::OpenInput(const MidiPortInfo& port,
                                               ShortMessageHandler handler) {
  if (openFailure_ != MidiError::None) {
    const MidiError error = openFailure_;
    openFailure_ = MidiError::None;
    return {nullptr, error};
  }
  if (!Contains(inputs_, port)) {
    return {nullptr, MidiError::NoSuchPort};
  }
  auto input = std::make_unique<Input>(this, port, std::move(handler));
  liveInputs_.push_back(input.get());
  openInput_ = input.get();
  ++inputsOpened_;
  return {std::move(input), MidiError::None};
}

MidiError InMemoryMidiBackend::SendSysEx(const MidiPortInfo& port,
                                         std::span<const std::uint8_t> message) {
  if (sendSkipsLeft_ > 0) {
    --sendSkipsLeft_;
  } else if (sendFailuresLeft_ > 0) {
    --sendFailuresLeft_;
    return sendFailure_;
  }
  if (!Contains(outputs_, port)) {
    return MidiError::NoSuchPort;
  }
  if (message.empty()) {
    return MidiError::SendFailed;
  }
  sent_.push_back(Sent{port, {message.begin(), message.end()}});
  if (sendHook_) {
    // A copy: the hook may send again and grow sent_.
    const Sent last = sent_.back();
    sendHook_(last);
  }
  return MidiError::None;
}

OpenInputResult InMemoryMidiBackend::OpenVirtualInput(const std::string& /*portName*/,
                                                      RawMessageHandler /*handler*/) {
  return {nullptr, MidiError::Unavailable};
}

OpenOutputResult InMemoryMidiBackend::OpenVirtualOutput(const std::string& /*portName*/) {
  return {nullptr, MidiError::Unavailable};
}

OpenOutputResult InMemoryMidiBackend::OpenOutput(const MidiPortInfo& /*port*/) {
  return {nullptr, MidiError::Unavailable};
}

bool InMemoryMidiBackend::Deliver(std::uint32_t message) {
  if (openInput_ == nullptr) {
    return false;
  }
  // A copy, so that a handler that closes its own input does not destroy itself mid-call.
  const ShortMessageHandler handler = openInput_->handler();
  if (handler) {
    handler(message);
  }
  return true;
}

void InMemoryMidiBackend::FailSends(MidiError error, std::size_t count, std::size_t skip) {
  sendFailure_ = error;
  sendFailuresLeft_ = count;
  sendSkipsLeft_ = skip;
}

std::optional<MidiPortInfo> InMemoryMidiBackend::openInputPort() const {
  if (openInput_ == nullptr) {
    return std::nullopt;
  }
  return openInput_->port();
}

void InMemoryMidiBackend::Forget(Input* input) {
  std::erase(liveInputs_, input);
  if (openInput_ == input) {
    openInput_ = liveInputs_.empty() ? nullptr : liveInputs_.back();
  }
  if (!closeNotice_.empty()) {
    notices_.push_back(std::exchange(closeNotice_, {}));
  }
}

std::vector<std::string> InMemoryMidiBackend::TakeNotices() {
  return std::exchange(notices_, {});
}

}  // namespace movrin
