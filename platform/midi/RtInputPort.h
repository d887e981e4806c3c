#pragma once

// An open RtMidi input. The handler runs under a lock that the destructor takes once, so after
// the destructor returns no call is running or will start. A handler must not destroy its own
// input (it would wait for itself).

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <span>
#include <vector>

#include "MidiBackend.h"
#include "MidiParser.h"
#include "RtObject.h"

namespace movrin {

class RtInputPort final : public MidiInput {
 public:
  using Deliver = std::function<void(std::span<const std::uint8_t>)>;

  explicit RtInputPort(Deliver deliver);
  ~RtInputPort() override;

  // Takes the RtMidi client and starts delivering what its thread reports.
  void Attach(std::unique_ptr<RtObject<RtMidiIn>> rt);
  [[nodiscard]] RtObject<RtMidiIn>& rt() { return *rt_; }

 private:
  static void OnMessage(double delta, std::vector<unsigned char>* message, void* self);

  std::mutex mutex_;
  std::atomic<bool> attached_ = false;
  bool closed_ = false;
  Deliver deliver_;
  MidiParser parser_;
  std::unique_ptr<RtObject<RtMidiIn>> rt_;
};

}  // namespace movrin
