#include <windows.h>

#include <algorithm>
#include <cstdint>
#include <stdexcept>

#include "MidiInbox.h"

namespace movrin {
namespace {

HANDLE Event(std::intptr_t wake) {
  return reinterpret_cast<HANDLE>(wake);
}

}  // namespace

static_assert(std::atomic<bool>::is_always_lock_free, "Interrupt must stay async-signal-safe");

// An auto-reset event: one wait consumes every SetEvent before it, as reading an eventfd does.
template <typename T>
BasicInbox<T>::BasicInbox()
    : wake_(reinterpret_cast<std::intptr_t>(::CreateEventW(nullptr, FALSE, FALSE, nullptr))) {
  if (wake_ == 0) {
    throw std::runtime_error("CreateEvent failed");
  }
}

template <typename T>
BasicInbox<T>::~BasicInbox() {
  ::CloseHandle(Event(wake_));
}

template <typename T>
void BasicInbox<T>::Push(T item) {
  {
    std::lock_guard lock(mutex_);
    items_.push_back(std::move(item));
  }
  ::SetEvent(Event(wake_));
}

template <typename T>
void BasicInbox<T>::Interrupt() noexcept {
  interrupted_.store(true);
  ::SetEvent(Event(wake_));
}

template <typename T>
void BasicInbox<T>::Clear() {
  std::lock_guard lock(mutex_);
  items_.clear();
}

template <typename T>
void BasicInbox<T>::DrainWakeups() noexcept {
  ::WaitForSingleObject(Event(wake_), 0);
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
    // A push after the check above leaves the event set, so no wakeup is missed.
    const auto left = std::min<std::int64_t>(
        std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now()).count(), 60000);
    if (left <= 0) {
      return std::nullopt;
    }
    if (::WaitForSingleObject(Event(wake_), static_cast<DWORD>(left)) == WAIT_FAILED) {
      return std::nullopt;
    }
  }
}

template class BasicInbox<std::uint32_t>;
template class BasicInbox<std::vector<std::uint8_t>>;

}  // namespace movrin
