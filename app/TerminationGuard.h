#pragma once

// SIGINT and SIGTERM end the window as its close box would, without the questions: a running
// transfer stops, the input port closes (so a USB interface goes back to the kernel) and what
// the MIDI layer says about that goes to standard error. A second signal ends the process at
// once, for a window that cannot get that far.

#include <QObject>
#include <atomic>
#include <memory>

class CUpdaterDlg;

namespace movrin {
class SignalWatcher;
}

class TerminationGuard : public QObject {
 public:
  explicit TerminationGuard(CUpdaterDlg& dlg);
  ~TerminationGuard() override;
  TerminationGuard(const TerminationGuard&) = delete;
  TerminationGuard& operator=(const TerminationGuard&) = delete;

  // 0 while no signal has ended the window, else 128 + the signal, as a shell reports it.
  [[nodiscard]] int exitCode() const { return m_nExitCode; }

 private:
  void OnSignal(int signal);  // on the UI thread

  CUpdaterDlg& m_dlg;
  int m_nExitCode = 0;
  std::atomic<bool> m_bSignalled{false};
  std::unique_ptr<movrin::SignalWatcher> m_watcher;
};
