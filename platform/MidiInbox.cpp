#include "MidiInbox.h"

#include <algorithm>
#include <cstdint>

namespace movrin {

static_assert(std::atomic<bool>::is_always_lock_free, "Interrupt must stay async-signal-safe");

template <typename T>
BasicInbox<T>::BasicInbox() = default;

template <typename T>
BasicInbox<T>::~BasicInbox() = default;

template <typename T>
void BasicInbox<T>::Push(T item) {
  {
    std::lock_guard lock(mutex_);
    items_.push_back(std::move(item));
  }
  wake_.Signal();
}

template <typename T>
void BasicInbox<T>::Interrupt() noexcept {
  interrupted_.store(true);
  wake_.Signal();
}

template <typename T>
void BasicInbox<T>::Clear() {
  std::lock_guard lock(mutex_);
  items_.clear();
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
    // A push after the check above leaves the wake-up signalled, so no wakeup is missed.
    const auto left = std::min<std::int64_t>(
        std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now()).count(), 60000);
    if (left <= 0 || !wake_.Wait(static_cast<int>(left))) {
      return std::nullopt;
    }
  }
}

template class BasicInbox<std::uint32_t>;
template class BasicInbox<std::vector<std::uint8_t>>;

}  // namespace movrin
