#pragma once

// Turns SIGINT and SIGTERM into a call on an ordinary thread. On Linux the handler only writes
// one byte to a pipe, which is all a signal handler may safely do; the watcher thread reads it
// and runs the callback, where locks and condition variables are allowed. On Windows, Ctrl-C,
// Ctrl-Break and closing the console are SIGINT, and the system already runs the console
// control handler on a thread of its own.

#include <atomic>
#include <csignal>
#include <functional>
#include <memory>

namespace movrin {

class SignalWatcher {
 public:
  // Runs `onSignal` with the signal number, at most once per signal received.
  explicit SignalWatcher(std::function<void(int signal)> onSignal);
  ~SignalWatcher();
  SignalWatcher(const SignalWatcher&) = delete;
  SignalWatcher& operator=(const SignalWatcher&) = delete;

  // False when the handlers could not be set up; signals then keep their defaults.
  [[nodiscard]] bool ok() const { return ok_; }
  // The first signal received, 0 if none.
  [[nodiscard]] int received() const { return received_.load(); }

 private:
  struct System;  // the system's side: the pipe, the old handlers and the thread on Linux
  // The same on every platform: notes the first signal, then runs the callback.
  void Deliver(int signal) {
    int expected = 0;
    received_.compare_exchange_strong(expected, signal);
    if (onSignal_) {
      onSignal_(signal);
    }
  }

  std::function<void(int)> onSignal_;
  std::unique_ptr<System> system_;
  bool ok_ = false;
  std::atomic<int> received_{0};
};

}  // namespace movrin
