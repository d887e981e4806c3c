// Help: one viewer look-up per run, a missing viewer remembered, the help file below the
// current directory first, then the installed manual, and its HTML version without a viewer.

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>

#include "HtmlHelpLoader.h"

// Started from the desktop menu the current directory is the home folder: the installed manual
// stands in for a missing help file, and without a viewer or a CHM the HTML manual opens in the
// browser.
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
    int lookups = 1;
  };
  for (const Row& row :
       {Row{"lch", "xchm", {true, true, true}, local, false},
        Row{"ch", "xchm", {false, true, true}, here + "/doc/help.chm", false},
        Row{"", "xchm", {true, true, true}, local, false}, Row{"lch", "", {}, {}, true},
        Row{"lc", "", {}, {}, false}, Row{"h", "xchm", {}, {}, true, 0}}) {
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
    EXPECT_EQ(lookups, row.lookups);
    EXPECT_EQ(launched, row.launched.isEmpty() ? QStringList() : QStringList(3, row.launched));
    EXPECT_EQ(browsed.size(), row.browsed ? 3 : 0);
    EXPECT_TRUE(browsed.isEmpty() || browsed[0] == QUrl::fromLocalFile(files.installedHtml));
  }
  QDir::setCurrent(previous);
}

// The installed program finds the installed manual from its own folder, whatever prefix the
// install was given: not the one the build was configured with.
TEST(HtmlHelpLoader, FindsTheManualOfAnInstallUnderAnyPrefix) {
  QTemporaryDir prefix;
  ASSERT_EQ(QProcess::execute(QStringLiteral(MOVRIN_CMAKE),
                              {"--install", MOVRIN_BUILD_DIR, "--prefix", prefix.path()}),
            0);
  const QString bin = prefix.path() + "/" MOVRIN_BIN_DIR;
  ASSERT_TRUE(QFileInfo::exists(bin + "/movrin-update"));
  for (const char* page : {"movrin-update", "movrin-send", "movrin-device"}) {
    EXPECT_TRUE(QFileInfo::exists(prefix.path() + "/" MOVRIN_MAN_DIR "/man1/" + page + ".1.gz"))
        << page;
  }
  // What a package carries beside the program: the package's docs and valid AppStream data.
  for (const char* doc : {"copyright", "changelog.gz"}) {
    EXPECT_TRUE(QFileInfo::exists(prefix.path() + "/share/doc/movrin-update/" + doc)) << doc;
  }
  EXPECT_EQ(
      QProcess::execute(QStringLiteral("appstreamcli"),
                        {"validate", "--no-net", "--pedantic",
                         prefix.path() + "/share/metainfo/invalid.movrin.update.metainfo.xml"}),
      0);
  const HelpFiles files = InstalledHelpFiles(bin);
  EXPECT_TRUE(files.installedHtml.startsWith(prefix.path())) << files.installedHtml.toStdString();
  EXPECT_TRUE(QFileInfo::exists(files.installedHtml)) << files.installedHtml.toStdString();
  // The CHM is built only where chmcmd is installed.
  EXPECT_EQ(QFileInfo::exists(files.installedChm),
            QFileInfo::exists(MOVRIN_BUILD_DIR "/Movrin Update/help.chm"))
      << files.installedChm.toStdString();
}
