#pragma once

// One WinMM output device kept open. System Exclusive goes out through midiOutLongMsg and is
// waited for within a limit: a driver that does not play it out in time is reset, and the send
// is a DrainTimeout, never a hang. Anything else goes out as a short message.

#include <memory>
#include <span>
#include <vector>

#include "MidiBackend.h"
#include "WinHandle.h"
#include "WinMmSupport.h"

namespace movrin {

class WinMmOutputPort final : public MidiOutput {
 public:
  struct Opened {
    std::unique_ptr<WinMmOutputPort> port;
    MidiError error = MidiError::None;
  };
  // deviceId: 0 to midiOutGetNumDevs() - 1, or MIDI_MAPPER.
  [[nodiscard]] static Opened Open(UINT deviceId);

  ~WinMmOutputPort() override;

  [[nodiscard]] MidiError Send(std::span<const std::uint8_t> message) override;

 private:
  struct Buffer;

  WinMmOutputPort(HMIDIOUT out, WinHandle done);
  [[nodiscard]] MidiError SendLong(std::span<const std::uint8_t> message);
  [[nodiscard]] MidiError SendShort(std::span<const std::uint8_t> message);

  HMIDIOUT out_;
  WinHandle done_;  // the driver sets it when it is done with a buffer
  // Buffers a driver still held after its reset: it may write their headers until the close.
  std::vector<std::unique_ptr<Buffer>> held_;
};

}  // namespace movrin
