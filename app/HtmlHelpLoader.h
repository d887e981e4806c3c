#pragma once

// Shows the compiled HTML help file in an outside viewer. The viewer is looked up at the first
// request only and kept for the rest of the run; when none is found, that is remembered too and
// later requests do nothing. Nothing here ever shows a message.

#include <QString>
#include <QStringList>
#include <QUrl>
#include <functional>

class HtmlHelpLoader {
 public:
  // Finds the viewer program; an empty result means there is none.
  using Lookup = std::function<QString()>;
  // Starts the program detached from ours; returns whether it started.
  using Launch = std::function<bool(const QString& program, const QStringList& arguments)>;

  // The system's CHM viewers: xchm, kchmviewer, okular.
  HtmlHelpLoader();
  HtmlHelpLoader(Lookup lookup, Launch launch);

  // Asks the viewer to show `file`, a path relative to the current directory or absolute.
  // Returns whether a viewer was started.
  bool Display(const QString& file);
  // Whether the look-up found no viewer (known only after the first Display).
  [[nodiscard]] bool NoViewer() const { return m_bFailed; }

 private:
  Lookup m_lookup;
  Launch m_launch;
  QString m_strViewer;  // empty until found
  bool m_bFailed = false;
};

// The loader of the whole run, shared by every call.
[[nodiscard]] HtmlHelpLoader& SystemHelpLoader();

// Where the manual can be: below the current directory, and where the package installed it.
struct HelpFiles {
  QString local;          // "Movrin Update/help.chm", relative to the current directory
  QString installedChm;   // <doc folder>/help.chm
  QString installedHtml;  // <doc folder>/html/index.html
};
// The doc folder is found from `programDir`, the folder of the installed movrin-update.
[[nodiscard]] HelpFiles InstalledHelpFiles(const QString& programDir);

using OpenUrl = std::function<bool(const QUrl&)>;

// The Help button, with no owner window and silently when nothing can be shown: the help file
// below the current directory (not beside the program file) when it is there, else the installed
// one; with no CHM viewer on the system or no CHM installed, the installed HTML manual in the
// desktop's browser.
void OpenHelpFile(HtmlHelpLoader& loader, const HelpFiles& files, const OpenUrl& openUrl);
void OpenHelpFile();
