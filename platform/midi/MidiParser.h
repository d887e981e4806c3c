#pragma once

// Turns the events an input port delivers into whole MIDI messages, the same way on every MIDI
// system. Each event is one message, except that a System Exclusive message may come in parts,
// which are put together again. The bytes inside a SysEx are kept as they are, 0x80 and above
// included (the update protocol's header has such bytes). As in MIDI itself, an event that
// starts with a status byte other than a real-time one ends a SysEx under way: that SysEx is
// dropped and the new message counts, so a device that breaks off a SysEx cannot swallow the
// notes after it. Real-time events may come between the parts and pass on their own.

#include <cstddef>
#include <cstdint>
#include <functional>
#include <span>
#include <vector>

namespace movrin {

class MidiParser {
 public:
  using Emit = std::function<void(std::span<const std::uint8_t> message)>;

  // A System Exclusive message longer than `longest` bytes is dropped.
  explicit MidiParser(std::size_t longest = 64 * 1024) : longest_(longest) {}

  // One event's bytes; each message they complete goes to `emit`, in order. An event that
  // starts a SysEx and ends in a whole short message is a SysEx broken off and the message
  // after it, joined (RtMidi's ALSA input joins them so): only the short message counts.
  void Feed(std::span<const std::uint8_t> event, const Emit& emit);

  // Messages dropped so far: broken off, too long, or stray bytes.
  [[nodiscard]] std::uint64_t dropped() const { return dropped_; }

 private:
  void Append(std::span<const std::uint8_t> part, const Emit& emit);

  std::size_t longest_;
  std::vector<std::uint8_t> sysex_;  // a SysEx under way
  bool inSysEx_ = false;
  bool longTail_ = false;  // the rest of a SysEx that grew too long: skipped to its end
  std::uint64_t dropped_ = 0;
};

}  // namespace movrin
