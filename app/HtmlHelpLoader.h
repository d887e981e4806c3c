#pragma once

// Shows the compiled HTML help file in an outside viewer. The viewer is looked up at the first
// request only and kept for the rest of the run; when none is found, that is remembered too and
// later requests do nothing. Nothing here ever shows a message.

#include <QString>
#include <QStringList>
#include <functional>

class HtmlHelpLoader {
 public:
  // Finds the viewer program; an empty result means there is none.
  using Lookup = std::function<QString()>;
  // Starts the program detached from ours; returns whether it started.
  using Launch = std::function<bool(const QString& program, const QStringList& arguments)>;

  // The system's viewers: xchm, kchmviewer, okular, else the desktop's opener (xdg-open).
  HtmlHelpLoader();
  HtmlHelpLoader(Lookup lookup, Launch launch);

  // Asks the viewer to show `file`, a path relative to the current directory or absolute.
  // Returns whether a viewer was started.
  bool Display(const QString& file);

 private:
  Lookup m_lookup;
  Launch m_launch;
  QString m_strViewer;  // empty until found
  bool m_bFailed = false;
};

// The loader of the whole run, shared by every call.
[[nodiscard]] HtmlHelpLoader& SystemHelpLoader();

// The Help button: "Movrin Update/help.chm" below the current directory (not beside the program
// file), with no owner window, silently when it cannot be shown.
void OpenHelpFile(HtmlHelpLoader& loader = SystemHelpLoader());
