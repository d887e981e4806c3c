#pragma once

// Turns SIGINT and SIGTERM into a call on an ordinary thread. The handler only writes one byte
// to a pipe, which is all a signal handler may safely do; the watcher thread reads it and runs
// the callback, where locks and condition variables are allowed.

#include <atomic>
#include <csignal>
#include <functional>
#include <thread>

namespace movrin {

class SignalWatcher {
 public:
  // Runs `onSignal` with the signal number, at most once per signal received.
  explicit SignalWatcher(std::function<void(int signal)> onSignal);
  ~SignalWatcher();
  SignalWatcher(const SignalWatcher&) = delete;
  SignalWatcher& operator=(const SignalWatcher&) = delete;

  // False when the pipe or the handlers could not be set up; signals then keep their defaults.
  [[nodiscard]] bool ok() const { return ok_; }
  // The first signal received, 0 if none.
  [[nodiscard]] int received() const { return received_.load(); }

 private:
  void Watch();

  std::function<void(int)> onSignal_;
  int pipe_[2] = {-1, -1};
  bool ok_ = false;
  std::atomic<int> received_{0};
  struct sigaction oldInt_ {};
  struct sigaction oldTerm_ {};
  std::thread thread_;
};

}  // namespace movrin
