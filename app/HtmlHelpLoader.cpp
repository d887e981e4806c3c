#include "HtmlHelpLoader.h"

#include <QCoreApplication>
#include <QDesktopServices>
#include <QDir>
#include <QFileInfo>
#include <QProcess>
#include <QStandardPaths>
#include <utility>

#include "Strings.h"

namespace {

QString FindSystemViewer() {
  // Only programs that read CHM: without one the HTML manual is the better choice.
  for (const char* program : {"xchm", "kchmviewer", "okular"}) {
    const QString found = QStandardPaths::findExecutable(QString::fromLatin1(program));
    if (!found.isEmpty()) {
      return found;
    }
  }
  return {};
}

bool StartDetached(const QString& program, const QStringList& arguments) {
  return QProcess::startDetached(program, arguments);
}

}  // namespace

HtmlHelpLoader::HtmlHelpLoader() : HtmlHelpLoader(FindSystemViewer, StartDetached) {}

HtmlHelpLoader::HtmlHelpLoader(Lookup lookup, Launch launch)
    : m_lookup(std::move(lookup)), m_launch(std::move(launch)) {}

bool HtmlHelpLoader::Display(const QString& file) {
  if (m_strViewer.isEmpty() && !m_bFailed) {
    m_strViewer = m_lookup();
    m_bFailed = m_strViewer.isEmpty();
  }
  if (m_bFailed) {
    return false;
  }
  // A viewer that fails to start is tried again next time: only a missing one is final.
  return m_launch(m_strViewer, {QDir::current().absoluteFilePath(file)});
}

HtmlHelpLoader& SystemHelpLoader() {
  static HtmlHelpLoader loader;
  return loader;
}

HelpFiles InstalledHelpFiles(const QString& programDir) {
  const QString doc = QDir::cleanPath(programDir + QStringLiteral("/" MOVRIN_DOC_FROM_BIN));
  return {QString::fromUtf8(movrin::text::kHelpFolder) + QString::fromUtf8(movrin::text::kHelpFile),
          doc + QStringLiteral("/help.chm"), doc + QStringLiteral("/html/index.html")};
}

void OpenHelpFile(HtmlHelpLoader& loader, const HelpFiles& files, const OpenUrl& openUrl) {
  // Started from the desktop menu, the current directory is the home folder: the installed
  // manual stands in for a help file that is not there. With no manual at all the viewer is
  // still asked for the local file, and says itself that it is missing.
  const bool local = QFileInfo::exists(files.local);
  const bool chm = QFileInfo::exists(files.installedChm);
  const bool html = QFileInfo::exists(files.installedHtml);
  if (local || chm || !html) {
    if (loader.Display(local || !chm ? files.local : files.installedChm)) {
      return;
    }
    if (!loader.NoViewer()) {
      return;  // a viewer that failed to start is tried again at the next press
    }
  }
  if (html) {
    openUrl(QUrl::fromLocalFile(files.installedHtml));
  }
}

void OpenHelpFile() {
  OpenHelpFile(SystemHelpLoader(), InstalledHelpFiles(QCoreApplication::applicationDirPath()),
               QDesktopServices::openUrl);
}
