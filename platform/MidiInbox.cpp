#include "MidiInbox.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <stdexcept>

namespace movrin {
namespace {

int Fd(std::intptr_t wake) {
  return static_cast<int>(wake);
}

}  // namespace

static_assert(std::atomic<bool>::is_always_lock_free, "Interrupt must stay async-signal-safe");

template <typename T>
BasicInbox<T>::BasicInbox() : wake_(eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)) {
  if (wake_ < 0) {
    throw std::runtime_error("eventfd failed");
  }
}

template <typename T>
BasicInbox<T>::~BasicInbox() {
  close(Fd(wake_));
}

template <typename T>
void BasicInbox<T>::Push(T item) {
  {
    std::lock_guard lock(mutex_);
    items_.push_back(std::move(item));
  }
  const std::uint64_t one = 1;
  [[maybe_unused]] const auto written = write(Fd(wake_), &one, sizeof one);
}

template <typename T>
void BasicInbox<T>::Interrupt() noexcept {
  interrupted_.store(true);
  const std::uint64_t one = 1;
  [[maybe_unused]] const auto written = write(Fd(wake_), &one, sizeof one);
}

template <typename T>
void BasicInbox<T>::Clear() {
  std::lock_guard lock(mutex_);
  items_.clear();
}

template <typename T>
void BasicInbox<T>::DrainWakeups() noexcept {
  std::uint64_t count = 0;
  [[maybe_unused]] const auto read_bytes = read(Fd(wake_), &count, sizeof count);
}

template <typename T>
std::optional<T> BasicInbox<T>::WaitPop(std::chrono::milliseconds timeout) {
  return WaitPopUntil(std::chrono::steady_clock::now() + timeout);
}

template <typename T>
std::optional<T> BasicInbox<T>::WaitPopUntil(std::chrono::steady_clock::time_point deadline) {
  using Clock = std::chrono::steady_clock;
  for (;;) {
    if (interrupted_.load()) {
      return std::nullopt;
    }
    {
      std::lock_guard lock(mutex_);
      if (!items_.empty()) {
        T item = std::move(items_.front());
        items_.pop_front();
        return item;
      }
    }
    // A push after the check above leaves the eventfd readable, so no wakeup is missed.
    const auto left = std::min<std::int64_t>(
        std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now()).count(), 60000);
    if (left <= 0) {
      return std::nullopt;
    }
    pollfd waiter{Fd(wake_), POLLIN, 0};
    const int ready = poll(&waiter, 1, static_cast<int>(left));
    if (ready > 0) {
      DrainWakeups();
    } else if (ready < 0 && errno != EINTR) {
      return std::nullopt;
    }
  }
}

template class BasicInbox<std::uint32_t>;
template class BasicInbox<std::vector<std::uint8_t>>;

}  // namespace movrin
