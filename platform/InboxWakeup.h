#pragma once

// What wakes an inbox's one waiter: an eventfd on Linux, an auto-reset event on Windows. The
// rest of the inbox is the same everywhere.

#include <cstdint>

namespace movrin {

class InboxWakeup {
 public:
  // Throws std::runtime_error when the system gives none.
  InboxWakeup();
  ~InboxWakeup();
  InboxWakeup(const InboxWakeup&) = delete;
  InboxWakeup& operator=(const InboxWakeup&) = delete;

  // Async-signal-safe: a signal handler, or a console control handler, may call it.
  void Signal() noexcept;
  // Waits at most `milliseconds` for a signal, and takes every signal given so far; false only
  // when the system call failed.
  [[nodiscard]] bool Wait(int milliseconds) noexcept;

 private:
  std::intptr_t handle_;  // owned: the eventfd, or the event's HANDLE
};

}  // namespace movrin
