#pragma once

// Splits what an input port delivers into whole MIDI messages, the same way on every MIDI
// system. A System Exclusive message may arrive in parts and is put together again; any status
// byte but a real-time one ends it, as in MIDI itself: a message that never got its F7 is
// dropped and the new message counts, so a device that breaks off a SysEx cannot swallow the
// notes after it. Real-time bytes may come anywhere and pass on their own.

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

  // One event's bytes; each message completed by them goes to `emit`, in order. A channel or
  // system-common message is complete within its event: cut short, it goes out as it is.
  void Feed(std::span<const std::uint8_t> event, const Emit& emit);

  // Messages dropped so far: broken off, too long, or stray data bytes.
  [[nodiscard]] std::uint64_t dropped() const { return dropped_; }

 private:
  void Drop();

  std::size_t longest_;
  std::vector<std::uint8_t> message_;  // a message under way: SysEx, or a short one
  std::size_t expected_ = 0;           // a short message's length; 0 while in SysEx
  bool inSysEx_ = false;
  bool tooLong_ = false;  // in a SysEx past `longest_`: skipped to its end
  std::uint64_t dropped_ = 0;
};

}  // namespace movrin
