#include "WinMmBackend.h"

#include "WinMmInputPort.h"

namespace movrin {
namespace {

template <typename Device, typename Caps>
std::vector<std::string> Names(UINT count, MMRESULT(WINAPI* caps)(Device, Caps*, UINT)) {
  std::vector<std::string> names;
  for (UINT id = 0; id < count; ++id) {
    Caps info{};
    names.push_back(caps(id, &info, sizeof info) == MMSYSERR_NOERROR
                        ? Utf8FromWide(info.szPname)
                        : "MIDI device " + std::to_string(id));
  }
  return names;
}

}  // namespace

std::unique_ptr<MidiBackend> WinMmBackend::Create(const std::string& /*clientName*/,
                                                  const MidiBackendOptions& /*options*/) {
  return std::make_unique<WinMmBackend>();
}

std::vector<WinMmBackend::Device> WinMmBackend::Outputs() {
  const UINT count = ::midiOutGetNumDevs();
  std::vector<std::string> names = Names(count, &::midiOutGetDevCapsW);
  std::vector<UINT> ids(count);
  for (UINT id = 0; id < count; ++id) {
    ids[id] = id;
  }
  // A mapper with no device behind it reaches nothing.
  MIDIOUTCAPSW mapper{};
  if (count > 0 && ::midiOutGetDevCapsW(MIDI_MAPPER, &mapper, sizeof mapper) == MMSYSERR_NOERROR) {
    names.insert(names.begin(), Utf8FromWide(mapper.szPname));
    ids.insert(ids.begin(), MIDI_MAPPER);
  }
  names = DistinctNames(std::move(names));
  std::vector<Device> devices;
  for (std::size_t i = 0; i < names.size(); ++i) {
    devices.push_back({std::move(names[i]), ids[i]});
  }
  return devices;
}

std::vector<WinMmBackend::Device> WinMmBackend::Inputs() {
  std::vector<std::string> names = DistinctNames(Names(::midiInGetNumDevs(), &::midiInGetDevCapsW));
  std::vector<Device> devices;
  for (std::size_t i = 0; i < names.size(); ++i) {
    devices.push_back({std::move(names[i]), static_cast<UINT>(i)});
  }
  return devices;
}

std::optional<UINT> WinMmBackend::Find(const std::vector<Device>& devices,
                                       const std::string& name) {
  for (const Device& device : devices) {
    if (device.name == name) {
      return device.id;
    }
  }
  return std::nullopt;
}

std::vector<MidiPortInfo> WinMmBackend::ListOutputs() {
  std::vector<MidiPortInfo> ports;
  for (Device& device : Outputs()) {
    ports.push_back({std::move(device.name)});
  }
  return ports;
}

std::vector<MidiPortInfo> WinMmBackend::ListInputs() {
  std::vector<MidiPortInfo> ports;
  for (Device& device : Inputs()) {
    ports.push_back({std::move(device.name)});
  }
  return ports;
}

MidiPortInfo WinMmBackend::DefaultOutput() {
  const std::vector<Device> devices = Outputs();
  if (!devices.empty() && devices.front().id == MIDI_MAPPER) {
    return {devices.front().name};
  }
  return MidiBackend::DefaultOutput();
}

OpenInputResult WinMmBackend::OpenInput(const MidiPortInfo& port, ShortMessageHandler handler) {
  const auto id = Find(Inputs(), port.name);
  if (!id) {
    return {nullptr, MidiError::NoSuchPort};
  }
  WinMmInputPort::Opened opened = WinMmInputPort::Open(*id, std::move(handler));
  return {std::move(opened.port), opened.error};
}

OpenInputResult WinMmBackend::OpenVirtualInput(const std::string& /*portName*/,
                                               RawMessageHandler /*handler*/) {
  return {nullptr, MidiError::Unavailable};
}

OpenOutputResult WinMmBackend::OpenOutput(const MidiPortInfo& port) {
  const auto id = Find(Outputs(), port.name);
  if (!id) {
    return {nullptr, MidiError::NoSuchPort};
  }
  WinMmOutputPort::Opened opened = WinMmOutputPort::Open(*id);
  return {std::move(opened.port), opened.error};
}

OpenOutputResult WinMmBackend::OpenVirtualOutput(const std::string& /*portName*/) {
  return {nullptr, MidiError::Unavailable};
}

MidiError WinMmBackend::SendSysEx(const MidiPortInfo& port, std::span<const std::uint8_t> message) {
  const std::lock_guard lock(sendMutex_);
  if (!sender_ || senderName_ != port.name) {
    sender_.reset();
    const auto id = Find(Outputs(), port.name);
    if (!id) {
      return MidiError::NoSuchPort;
    }
    WinMmOutputPort::Opened opened = WinMmOutputPort::Open(*id);
    if (opened.error != MidiError::None) {
      return opened.error;
    }
    sender_ = std::move(opened.port);
    senderName_ = port.name;
  }
  const MidiError error = sender_->Send(message);
  if (error != MidiError::None) {
    sender_.reset();  // a port that failed once is opened afresh, or found gone, next time
  }
  return error;
}

}  // namespace movrin
