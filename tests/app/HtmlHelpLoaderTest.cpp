// Help: one viewer look-up per run, a missing viewer remembered, the help file below the
// current directory first, then the installed manual, and its HTML version without a viewer.

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include "HtmlHelpLoader.h"

// Started from the desktop menu the current directory is the home folder: the installed manual
// stands in for a missing help file, and without a viewer the HTML manual opens in the browser.
TEST(HtmlHelpLoader, OpensTheLocalHelpFileElseTheInstalledManualElseItsHtml) {
  QTemporaryDir dir;
  const QString previous = QDir::currentPath();
  ASSERT_TRUE(QDir::setCurrent(dir.path()));
  const QString here = QDir::current().canonicalPath();
  const QString local = here + "/Movrin Update/help.chm";
  const HelpFiles files{"Movrin Update/help.chm", here + "/doc/help.chm", here + "/html.html"};
  struct Row {
    const char* present;       // "l" local, "c" installed CHM, "h" installed HTML
    QString viewer;            // empty: none
    std::vector<bool> starts;  // of three presses
    QString launched;          // empty: none
    bool browsed;
  };
  for (const Row& row : {Row{"lch", "xchm", {true, true, true}, local, false},
                         Row{"ch", "xchm", {false, true, true}, here + "/doc/help.chm", false},
                         Row{"", "xchm", {true, true, true}, local, false},
                         Row{"lch", "", {}, {}, true}, Row{"lc", "", {}, {}, false}}) {
    SCOPED_TRACE(row.present + row.viewer.toStdString());
    for (const QString& path : {local, files.installedChm, files.installedHtml}) {
      QFile::remove(path);
      QDir().mkpath(QFileInfo(path).path());
      const char flag = path == local ? 'l' : path == files.installedChm ? 'c' : 'h';
      if (std::strchr(row.present, flag) != nullptr) {
        QFile(path).open(QIODevice::WriteOnly);
      }
    }
    int lookups = 0;
    QStringList launched;
    QList<QUrl> browsed;
    HtmlHelpLoader loader(
        [&] {
          ++lookups;
          return row.viewer;
        },
        [&](const QString& program, const QStringList& arguments) {
          EXPECT_EQ(program, row.viewer);
          launched << QDir::cleanPath(arguments.value(0));
          return row.starts.at(launched.size() - 1);  // one that failed is tried again
        });
    for (int press = 0; press < 3; ++press) {
      OpenHelpFile(loader, files, [&](const QUrl& url) {
        browsed << url;
        return true;
      });
    }
    EXPECT_EQ(lookups, 1);
    EXPECT_EQ(launched, row.launched.isEmpty() ? QStringList() : QStringList(3, row.launched));
    EXPECT_EQ(browsed.size(), row.browsed ? 3 : 0);
    EXPECT_TRUE(browsed.isEmpty() || browsed[0] == QUrl::fromLocalFile(files.installedHtml));
  }
  QDir::setCurrent(previous);
}
