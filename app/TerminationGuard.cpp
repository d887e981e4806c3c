#include "TerminationGuard.h"

#include <QApplication>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "CUpdaterDlg.h"
#include "SignalWatcher.h"

TerminationGuard::TerminationGuard(CUpdaterDlg& dlg) : m_dlg(dlg) {
  m_watcher = std::make_unique<movrin::SignalWatcher>([this](int signal) {
    if (m_bSignalled.exchange(true)) {
      std::_Exit(128 + signal);
    }
    // From the watcher's thread; Qt drops the call if this guard is gone by then.
    QMetaObject::invokeMethod(
        this, [this, signal] { OnSignal(signal); }, Qt::QueuedConnection);
  });
}

// The watcher goes first: its thread may still be queueing a call on this object.
TerminationGuard::~TerminationGuard() {
  m_watcher.reset();
}

void TerminationGuard::OnSignal(int signal) {
  m_nExitCode = 128 + signal;
  for (const std::string& notice : m_dlg.ReleaseMidi()) {
    std::fprintf(stderr, "movrin-update: %s\n", notice.c_str());
  }
  std::fflush(stderr);
  // Inside a box's own loop, closing the window would leave the box, and the process with it,
  // until someone answers it. The ports are closed; nothing is left to do.
  if (QApplication::activeModalWidget() != nullptr) {
    std::_Exit(m_nExitCode);
  }
  m_dlg.done(QDialog::Rejected);
}
