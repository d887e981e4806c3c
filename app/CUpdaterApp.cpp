#include "CUpdaterApp.h"

#include <QEventLoop>
#include <QIcon>
#include <cstdio>
#include <cstdlib>
#include <memory>

#include "AppIcon.h"
#include "CAboutBox.h"
#include "CUpdaterDlg.h"
#include "HtmlHelpLoader.h"
#include "MessageBoxes.h"
#include "MidiBackend.h"
#include "SignalWatcher.h"
#include "Strings.h"
#include "TerminationGuard.h"

CUpdaterApp::CUpdaterApp(int& argc, char** argv) : m_app(argc, argv) {
  // Boxes without a caption of their own show the program file's name (ApplicationName()),
  // so no application name is set here.
  QGuiApplication::setDesktopFileName(QStringLiteral("movrin-update"));
  QApplication::setWindowIcon(AppIcon());
}

CUpdaterApp::~CUpdaterApp() = default;

bool CUpdaterApp::InitInstance() {
  std::unique_ptr<movrin::MidiBackend> backend;
  {
    // Finding a MIDI system may wait on a JACK server that does not answer. Nothing is open
    // and no window is up yet, so a signal ends the program there and then.
    const movrin::SignalWatcher early([](int signal) {
      std::fputs("movrin-update: interrupted\n", stderr);
      std::_Exit(128 + signal);
    });
    backend = movrin::CreateSystemMidiBackend(movrin::text::kWindowCaption);
  }
  movrin::QtMessageBoxPresenter boxes;
  CUpdaterDlg dlg(*backend, boxes, {ShowAboutBox, [] { OpenHelpFile(); }, AppIcon()});
  const TerminationGuard guard(dlg);
  // A window of its own with a taskbar entry, not a modal dialog; the program ends with it.
  QEventLoop loop;
  QObject::connect(&dlg, &QDialog::finished, &loop, &QEventLoop::quit);
  dlg.show();
  loop.exec();
  m_nExitCode = guard.exitCode();
  return false;
}
