#pragma once

// The one thread crossing for consumers without an event loop (command-line sender, virtual
// device): the MIDI thread pushes, one consumer thread waits and pops, in arrival order.

#include <atomic>
#include <chrono>
#include <cstdint>
#include <deque>
#include <mutex>
#include <optional>
#include <vector>

#include "InboxWakeup.h"

namespace movrin {

template <typename T>
class BasicInbox {
 public:
  BasicInbox();
  ~BasicInbox();
  BasicInbox(const BasicInbox&) = delete;
  BasicInbox& operator=(const BasicInbox&) = delete;

  // From the MIDI thread. Never blocks for long: the lock is only held to move an item.
  void Push(T item);

  // The oldest item, or nothing after `timeout` or once interrupted. An interrupt wins over
  // queued items, so Ctrl-C stops a consumer at once.
  [[nodiscard]] std::optional<T> WaitPop(std::chrono::milliseconds timeout);
  // The same, waiting no later than `deadline`; time_point::max() waits for an item or an
  // interrupt only.
  [[nodiscard]] std::optional<T> WaitPopUntil(std::chrono::steady_clock::time_point deadline);

  // Wakes the waiter and keeps every later WaitPop from waiting. Async-signal-safe: it only
  // stores a lock-free atomic and writes to an eventfd (sets an event on Windows), so a signal
  // handler or a console control handler may call it.
  void Interrupt() noexcept;
  [[nodiscard]] bool interrupted() const noexcept { return interrupted_.load(); }

  // Drops queued items; an interrupt stays.
  void Clear();

 private:
  std::mutex mutex_;
  std::deque<T> items_;
  std::atomic<bool> interrupted_{false};
  InboxWakeup wake_;
};

using MidiInbox = BasicInbox<std::uint32_t>;
using RawInbox = BasicInbox<std::vector<std::uint8_t>>;

extern template class BasicInbox<std::uint32_t>;
extern template class BasicInbox<std::vector<std::uint8_t>>;

}  // namespace movrin
