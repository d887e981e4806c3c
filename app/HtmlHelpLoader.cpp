#include "HtmlHelpLoader.h"

#include <QDir>
#include <QProcess>
#include <QStandardPaths>
#include <utility>

#include "Strings.h"

namespace {

QString FindSystemViewer() {
  // Viewers that read CHM themselves first; the desktop's opener may know another one.
  for (const char* program : {"xchm", "kchmviewer", "okular", "xdg-open"}) {
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

void OpenHelpFile(HtmlHelpLoader& loader) {
  loader.Display(QString::fromUtf8(movrin::text::kHelpFolder) +
                 QString::fromUtf8(movrin::text::kHelpFile));
}
