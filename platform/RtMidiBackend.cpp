#include "RtMidiBackend.h"

namespace movrin {

std::unique_ptr<RtMidiBackend> RtMidiBackend::Create(const std::string& clientName) {
  return std::make_unique<RtMidiBackend>(Api::None, clientName);
}

RtMidiBackend::RtMidiBackend(Api api, std::string clientName)
    : api_(api), clientName_(std::move(clientName)) {}

RtMidiBackend::~RtMidiBackend() = default;

std::string RtMidiBackend::ApiName() const {
  return "none";
}
std::vector<MidiPortInfo> RtMidiBackend::ListOutputs() {
  return {};
}
std::vector<MidiPortInfo> RtMidiBackend::ListInputs() {
  return {};
}
MidiPortInfo RtMidiBackend::DefaultOutput() {
  return {};
}
OpenInputResult RtMidiBackend::OpenInput(const MidiPortInfo&, ShortMessageHandler) {
  return {nullptr, MidiError::Unavailable};
}
OpenInputResult RtMidiBackend::OpenVirtualInput(const std::string&, RawMessageHandler) {
  return {nullptr, MidiError::Unavailable};
}
OpenOutputResult RtMidiBackend::OpenVirtualOutput(const std::string&) {
  return {nullptr, MidiError::Unavailable};
}
OpenOutputResult RtMidiBackend::OpenOutput(const MidiPortInfo&) {
  return {nullptr, MidiError::Unavailable};
}
MidiError RtMidiBackend::SendSysEx(const MidiPortInfo&, std::span<const std::uint8_t>) {
  return MidiError::Unavailable;
}

std::unique_ptr<MidiBackend> CreateSystemMidiBackend(const std::string& clientName) {
  return RtMidiBackend::Create(clientName);
}

}  // namespace movrin
