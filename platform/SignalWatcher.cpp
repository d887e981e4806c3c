#include "SignalWatcher.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <thread>

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

struct SignalWatcher::System {
  int pipe[2] = {-1, -1};
  struct sigaction oldInt {};
  struct sigaction oldTerm {};
  std::thread thread;
};

SignalWatcher::SignalWatcher(std::function<void(int signal)> onSignal)
    : onSignal_(std::move(onSignal)), system_(std::make_unique<System>()) {
  int* const fds = system_->pipe;
  if (::pipe2(fds, O_CLOEXEC) != 0) {
    fds[0] = fds[1] = -1;
    return;
  }
  gWriteEnd = fds[1];
  struct sigaction action {};
  action.sa_handler = OnSignal;
  sigemptyset(&action.sa_mask);
  action.sa_flags = SA_RESTART;
  ok_ = ::sigaction(SIGINT, &action, &system_->oldInt) == 0 &&
        ::sigaction(SIGTERM, &action, &system_->oldTerm) == 0;
  system_->thread = std::thread([this] {
    for (;;) {
      std::uint8_t byte = kStop;
      const auto n = ::read(system_->pipe[0], &byte, 1);
      if (n < 0 && errno == EINTR) {
        continue;
      }
      if (n <= 0 || byte == kStop) {
        return;
      }
      Deliver(byte);
    }
  });
}

SignalWatcher::~SignalWatcher() {
  System& s = *system_;
  if (s.pipe[1] >= 0) {
    ::sigaction(SIGINT, &s.oldInt, nullptr);
    ::sigaction(SIGTERM, &s.oldTerm, nullptr);
    const std::uint8_t stop = kStop;
    while (::write(s.pipe[1], &stop, 1) < 0 && errno == EINTR) {
    }
  }
  if (s.thread.joinable()) {
    s.thread.join();
  }
  gWriteEnd = -1;
  for (int fd : s.pipe) {
    if (fd >= 0) {
      ::close(fd);
    }
  }
}

}  // namespace movrin
