#include "SignalWatcher.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>

namespace movrin {
namespace {

// Only one watcher exists per process; the handler needs the pipe without any locking.
volatile std::sig_atomic_t gWriteEnd = -1;

// Byte 0 asks the watcher thread to stop; any other byte is a signal number.
constexpr std::uint8_t kStop = 0;

extern "C" void OnSignal(int signal) {
  const int savedErrno = errno;
  const auto byte = static_cast<std::uint8_t>(signal);
  if (gWriteEnd >= 0) {
    [[maybe_unused]] const auto n = ::write(gWriteEnd, &byte, 1);
  }
  errno = savedErrno;
}

}  // namespace

SignalWatcher::SignalWatcher(std::function<void(int signal)> onSignal)
    : onSignal_(std::move(onSignal)) {
  if (::pipe2(pipe_, O_CLOEXEC) != 0) {
    pipe_[0] = pipe_[1] = -1;
    return;
  }
  gWriteEnd = pipe_[1];
  struct sigaction action {};
  action.sa_handler = OnSignal;
  sigemptyset(&action.sa_mask);
  action.sa_flags = SA_RESTART;
  ok_ =
      ::sigaction(SIGINT, &action, &oldInt_) == 0 && ::sigaction(SIGTERM, &action, &oldTerm_) == 0;
  thread_ = std::thread([this] { Watch(); });
}

SignalWatcher::~SignalWatcher() {
  if (pipe_[1] >= 0) {
    ::sigaction(SIGINT, &oldInt_, nullptr);
    ::sigaction(SIGTERM, &oldTerm_, nullptr);
    const std::uint8_t stop = kStop;
    while (::write(pipe_[1], &stop, 1) < 0 && errno == EINTR) {
    }
  }
  if (thread_.joinable()) {
    thread_.join();
  }
  gWriteEnd = -1;
  for (int fd : pipe_) {
    if (fd >= 0) {
      ::close(fd);
    }
  }
}

void SignalWatcher::Watch() {
  for (;;) {
    std::uint8_t byte = kStop;
    const auto n = ::read(pipe_[0], &byte, 1);
    if (n < 0 && errno == EINTR) {
      continue;
    }
    if (n <= 0 || byte == kStop) {
      return;
    }
    int expected = 0;
    received_.compare_exchange_strong(expected, byte);
    if (onSignal_) {
      onSignal_(byte);
    }
  }
}

}  // namespace movrin
