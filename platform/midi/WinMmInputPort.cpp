#include "WinMmInputPort.h"

namespace movrin {

WinMmInputPort::Opened WinMmInputPort::Open(UINT deviceId, ShortMessageHandler handler) {
  std::unique_ptr<WinMmInputPort> port(new WinMmInputPort(std::move(handler)));
  HMIDIIN in = nullptr;
  MMRESULT result =
      ::midiInOpen(&in, deviceId, reinterpret_cast<DWORD_PTR>(&WinMmInputPort::OnEvent),
                   reinterpret_cast<DWORD_PTR>(port.get()), CALLBACK_FUNCTION);
  if (result != MMSYSERR_NOERROR) {
    return {nullptr, ErrorFromMmResult(result, MidiError::OpenFailed)};
  }
  port->in_ = in;
  result = ::midiInStart(in);
  if (result != MMSYSERR_NOERROR) {
    return {nullptr, ErrorFromMmResult(result, MidiError::OpenFailed)};
  }
  return {std::move(port), MidiError::None};
}

WinMmInputPort::~WinMmInputPort() {
  {
    const std::lock_guard lock(mutex_);
    open_ = false;
  }
  if (in_ != nullptr) {
    ::midiInStop(in_);
    ::midiInReset(in_);
    ::midiInClose(in_);
  }
}

// WinMM allows little inside this callback; the handler only queues the message and wakes
// its reader.
void CALLBACK WinMmInputPort::OnEvent(HMIDIIN /*in*/, UINT message, DWORD_PTR instance,
                                      DWORD_PTR param1, DWORD_PTR /*param2*/) {
  if (message != MIM_DATA) {
    return;
  }
  auto* const port = reinterpret_cast<WinMmInputPort*>(instance);
  const auto bytes = UnpackShortMessage(param1);
  const auto value = ShortMessageValue(bytes);
  if (!value) {
    return;
  }
  const std::lock_guard lock(port->mutex_);
  if (port->open_ && port->handler_) {
    port->handler_(*value);
  }
}

}  // namespace movrin
