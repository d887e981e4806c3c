// Help: one viewer look-up per run, a missing viewer remembered, the help file below the
// current directory first, then the installed manual, and its HTML version without a viewer.

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <deque>

#include "HtmlHelpLoader.h"

namespace {

struct FakeSystem {
  explicit FakeSystem(QString found, std::deque<bool> results = {})
      : viewer(std::move(found)), starts(std::move(results)) {}
  QString viewer;           // what the look-up finds; empty for none
  std::deque<bool> starts;  // results of successive launches; true once used up
  int lookups = 0;
  QStringList launched;  // the file each launch was given
  QList<QUrl> browsed;

  HtmlHelpLoader Loader() {
    return HtmlHelpLoader(
        [this] {
          ++lookups;
          return viewer;
        },
        [this](const QString& program, const QStringList& arguments) {
          EXPECT_EQ(program, viewer);
          launched << QDir::cleanPath(arguments.value(0));
          const bool started = starts.empty() || starts.front();
          if (!starts.empty()) {
            starts.pop_front();
          }
          return started;
        });
  }
};

}  // namespace

TEST(HtmlHelpLoader, LooksTheViewerUpOnceAndRemembersWhatItFound) {
  struct Case {
    QString viewer;
    std::deque<bool> starts;
    std::vector<bool> results;  // of three presses
  };
  for (const Case& c :
       {Case{"/usr/bin/xchm", {}, {true, true, true}}, Case{"", {}, {false, false, false}},
        Case{"/usr/bin/xchm", {false}, {false, true, true}}}) {
    FakeSystem system(c.viewer, c.starts);
    HtmlHelpLoader loader = system.Loader();
    for (std::size_t press = 0; press < c.results.size(); ++press) {
      EXPECT_EQ(loader.Display("a.chm"), c.results[press]) << c.viewer.toStdString() << press;
    }
    EXPECT_EQ(system.lookups, 1);
    EXPECT_EQ(system.launched.size(), c.viewer.isEmpty() ? 0 : 3);
    EXPECT_EQ(loader.NoViewer(), c.viewer.isEmpty());
  }
}

// Started from the desktop menu the current directory is the home folder: the installed manual
// stands in for a missing help file, and without a viewer the HTML manual opens in the browser.
TEST(HtmlHelpLoader, OpensTheLocalHelpFileElseTheInstalledManual) {
  QTemporaryDir dir;
  const QString previous = QDir::currentPath();
  ASSERT_TRUE(QDir::setCurrent(dir.path()));
  const QString here = QDir::current().canonicalPath();
  const HelpFiles files{"Movrin Update/help.chm", here + "/doc/help.chm",
                        here + "/doc/html/index.html"};
  struct Row {
    const char* present;  // "l" local, "c" installed CHM, "h" installed HTML
    const char* viewer;
    QString launched;  // empty: none
    bool browsed;
  };
  for (const Row& row : {Row{"lch", "xchm", here + "/Movrin Update/help.chm", false},
                         Row{"ch", "xchm", here + "/doc/help.chm", false},
                         Row{"", "xchm", here + "/Movrin Update/help.chm", false},
                         Row{"lch", "", {}, true}, Row{"lc", "", {}, false}}) {
    SCOPED_TRACE(std::string(row.present) + row.viewer);
    QDir(here + "/Movrin Update").removeRecursively();
    QDir(here + "/doc").removeRecursively();
    QDir(here).mkpath("Movrin Update");
    QDir(here).mkpath("doc/html");
    const QString present = QString::fromLatin1(row.present);
    for (const auto& [flag, path] :
         {std::pair{'l', files.local}, {'c', files.installedChm}, {'h', files.installedHtml}}) {
      if (present.contains(QLatin1Char(flag))) {
        QFile(path).open(QIODevice::WriteOnly);
      }
    }
    FakeSystem system(row.viewer);
    HtmlHelpLoader loader = system.Loader();
    OpenHelpFile(loader, files, [&](const QUrl& url) {
      system.browsed << url;
      return true;
    });
    EXPECT_EQ(system.launched, row.launched.isEmpty() ? QStringList() : QStringList{row.launched});
    EXPECT_EQ(system.browsed,
              row.browsed ? QList<QUrl>{QUrl::fromLocalFile(files.installedHtml)} : QList<QUrl>());
  }
  QDir::setCurrent(previous);
}
