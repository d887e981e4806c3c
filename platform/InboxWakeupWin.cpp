#include <windows.h>

#include <stdexcept>

#include "InboxWakeup.h"

namespace movrin {
namespace {

HANDLE Event(std::intptr_t handle) {
  return reinterpret_cast<HANDLE>(handle);
}

}  // namespace

// Auto-reset: one wait takes every SetEvent before it, as reading an eventfd does.
InboxWakeup::InboxWakeup()
    : handle_(reinterpret_cast<std::intptr_t>(::CreateEventW(nullptr, FALSE, FALSE, nullptr))) {
  if (handle_ == 0) {
    throw std::runtime_error("CreateEvent failed");
  }
}

InboxWakeup::~InboxWakeup() {
  ::CloseHandle(Event(handle_));
}

void InboxWakeup::Signal() noexcept {
  ::SetEvent(Event(handle_));
}

bool InboxWakeup::Wait(int milliseconds) noexcept {
  return ::WaitForSingleObject(Event(handle_), static_cast<DWORD>(milliseconds)) != WAIT_FAILED;
}

}  // namespace movrin
