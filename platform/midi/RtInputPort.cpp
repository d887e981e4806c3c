#include "RtInputPort.h"

#include <utility>

namespace movrin {

RtInputPort::RtInputPort(Deliver deliver) : deliver_(std::move(deliver)) {}

RtInputPort::~RtInputPort() {
  {
    std::lock_guard lock(mutex_);
    closed_ = true;
  }
  rt_.reset();
}

void RtInputPort::Attach(std::unique_ptr<RtObject<RtMidiIn>> rt) {
  rt_ = std::move(rt);
  rt_->midi->setCallback(&RtInputPort::OnMessage, this);
  // Publishes this object to RtMidi's thread. The flag is atomic as well as locked: RtMidi's
  // thread may already be polling, and the release makes everything set above visible to it.
  std::lock_guard lock(mutex_);
  attached_.store(true, std::memory_order_release);
}

void RtInputPort::OnMessage(double /*delta*/, std::vector<unsigned char>* message, void* self) {
  auto* port = static_cast<RtInputPort*>(self);
  std::lock_guard lock(port->mutex_);
  if (!port->attached_.load(std::memory_order_acquire) || port->closed_ || message == nullptr ||
      message->empty()) {
    return;
  }
  // RtMidi joins the parts of a SysEx until one ends with F7, appending whatever comes next
  // when one never does: the parser splits that up again.
  port->parser_.Feed(*message, [port](std::span<const std::uint8_t> whole) {
    try {
      port->deliver_(whole);
    } catch (...) {  // a C callback boundary: drop rather than unwind through RtMidi
    }
  });
}

}  // namespace movrin
