#include <windows.h>

#include <mutex>

#include "SignalWatcher.h"

namespace movrin {

struct SignalWatcher::System {
  // Runs on a thread the system starts for each event. The lock keeps the destructor from
  // returning while a callback runs.
  static BOOL WINAPI OnControl(DWORD event) {
    if (event != CTRL_C_EVENT && event != CTRL_BREAK_EVENT && event != CTRL_CLOSE_EVENT) {
      return FALSE;
    }
    {
      const std::lock_guard lock(mutex);
      if (watcher == nullptr) {
        return FALSE;
      }
      watcher->Deliver(SIGINT);
    }
    if (event == CTRL_CLOSE_EVENT) {
      // Returning lets the system end the process at once; waiting lets main close the ports
      // and exit with its code, within the few seconds Windows grants.
      ::Sleep(INFINITE);
    }
    return TRUE;
  }

  static inline std::mutex mutex;
  static inline SignalWatcher* watcher = nullptr;
};

SignalWatcher::SignalWatcher(std::function<void(int signal)> onSignal)
    : onSignal_(std::move(onSignal)) {
  {
    const std::lock_guard lock(System::mutex);
    System::watcher = this;
  }
  ok_ = ::SetConsoleCtrlHandler(&System::OnControl, TRUE) != 0;
}

SignalWatcher::~SignalWatcher() {
  ::SetConsoleCtrlHandler(&System::OnControl, FALSE);
  const std::lock_guard lock(System::mutex);
  System::watcher = nullptr;
}

}  // namespace movrin
