#include "InboxWakeup.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <cerrno>
#include <stdexcept>

namespace movrin {

InboxWakeup::InboxWakeup() : handle_(eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)) {
  if (handle_ < 0) {
    throw std::runtime_error("eventfd failed");
  }
}

InboxWakeup::~InboxWakeup() {
  close(static_cast<int>(handle_));
}

void InboxWakeup::Signal() noexcept {
  const std::uint64_t one = 1;
  [[maybe_unused]] const auto written = write(static_cast<int>(handle_), &one, sizeof one);
}

bool InboxWakeup::Wait(int milliseconds) noexcept {
  pollfd waiter{static_cast<int>(handle_), POLLIN, 0};
  const int ready = poll(&waiter, 1, milliseconds);
  if (ready > 0) {
    std::uint64_t count = 0;
    [[maybe_unused]] const auto read_bytes = read(static_cast<int>(handle_), &count, sizeof count);
  }
  return ready >= 0 || errno == EINTR;
}

}  // namespace movrin
