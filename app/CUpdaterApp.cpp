#include "CUpdaterApp.h"

#include <QEventLoop>
#include <QIcon>
#include <memory>

#include "AppIcon.h"
#include "CAboutBox.h"
#include "CUpdaterDlg.h"
#include "HtmlHelpLoader.h"
#include "MessageBoxes.h"
#include "MidiBackend.h"
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
  const std::unique_ptr<movrin::MidiBackend> backend =
      movrin::CreateSystemMidiBackend(movrin::text::kWindowCaption);
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
