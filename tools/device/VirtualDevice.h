#pragma once

// The virtual device on a real MIDI system: its own input and output ports, a DeviceSession
// behind them, pacing and faults. MIDI input crosses threads through one RawInbox; the session,
// the replies and all output run on the thread that calls Run.

#include <atomic>
#include <memory>

#include "DeviceArguments.h"
#include "DeviceSession.h"
#include "MidiBackend.h"
#include "MidiInbox.h"

namespace movrin {

class VirtualDevice {
 public:
  VirtualDevice(const DeviceArguments& args, DeviceSession::Options options);

  // Serves transfers until Ctrl-C or SIGTERM (or the first transfer with --once); returns the
  // exit status.
  [[nodiscard]] int Run();

 private:
  bool Handle(const std::vector<std::uint8_t>& message);
  void Pace(std::size_t previousBytes);
  void Conclude(const DeviceSession::Verdict& verdict);

  const DeviceArguments& args_;
  DeviceSession session_;
  RawInbox inbox_;
  std::unique_ptr<MidiBackend> backend_;
  std::unique_ptr<MidiOutput> output_;
  std::unique_ptr<MidiInput> input_;
  bool completed_ = false;
  bool failed_ = false;
  std::atomic<bool> serving_{false};  // the ports are open: a signal ends the loop, not the run
};

}  // namespace movrin
