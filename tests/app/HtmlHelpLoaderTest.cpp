// The help loader: one viewer look-up per run, a missing viewer remembered, and the help file
// taken from below the current directory.

#include <gtest/gtest.h>

#include <QDir>
#include <QTemporaryDir>
#include <deque>
#include <utility>
#include <vector>

#include "HtmlHelpLoader.h"

namespace {

struct FakeSystem {
  explicit FakeSystem(QString found, std::deque<bool> startResults = {})
      : viewer(std::move(found)), starts(std::move(startResults)) {}

  QString viewer;           // what the look-up finds; empty for none
  std::deque<bool> starts;  // results of successive launches; true once used up
  int lookups = 0;
  std::vector<QStringList> launched;  // program followed by its arguments

  HtmlHelpLoader Loader() {
    return HtmlHelpLoader(
        [this] {
          ++lookups;
          return viewer;
        },
        [this](const QString& program, const QStringList& arguments) {
          launched.push_back(QStringList{program} + arguments);
          if (starts.empty()) {
            return true;
          }
          const bool started = starts.front();
          starts.pop_front();
          return started;
        });
  }
};

// Makes a temporary directory the current one for the life of the object.
class InTemporaryDirectory {
 public:
  InTemporaryDirectory() : m_previous(QDir::currentPath()) { QDir::setCurrent(m_dir.path()); }
  ~InTemporaryDirectory() { QDir::setCurrent(m_previous); }
  [[nodiscard]] QString Path() const { return QDir(m_dir.path()).canonicalPath(); }

 private:
  QTemporaryDir m_dir;
  QString m_previous;
};

}  // namespace

TEST(HtmlHelpLoader, LooksTheViewerUpOnceAndRemembersWhatItFound) {
  struct Case {
    const char* name;
    QString viewer;
    std::deque<bool> starts;
    std::vector<bool> results;  // of three presses
    int launches;
  };
  for (const Case& c :
       {Case{"viewer", "/usr/bin/xchm", {}, {true, true, true}, 3},
        Case{"no viewer", "", {}, {false, false, false}, 0},
        Case{"viewer fails to start once", "/usr/bin/xchm", {false}, {false, true, true}, 3}}) {
    FakeSystem system(c.viewer, c.starts);
    HtmlHelpLoader loader = system.Loader();
    for (std::size_t press = 0; press < c.results.size(); ++press) {
      EXPECT_EQ(loader.Display("a.chm"), c.results[press]) << c.name << ", press " << press;
    }
    EXPECT_EQ(system.lookups, 1) << c.name;
    EXPECT_EQ(system.launched.size(), static_cast<std::size_t>(c.launches)) << c.name;
    for (const QStringList& call : system.launched) {
      EXPECT_EQ(call.front(), c.viewer) << c.name;
    }
  }
}

TEST(HtmlHelpLoader, HelpFileIsTakenFromBelowTheCurrentDirectory) {
  FakeSystem system("/usr/bin/xchm");
  HtmlHelpLoader loader = system.Loader();
  InTemporaryDirectory here;
  OpenHelpFile(loader);
  ASSERT_EQ(system.launched.size(), 1u);
  ASSERT_EQ(system.launched[0].size(), 2);
  EXPECT_EQ(QDir::cleanPath(system.launched[0][1]), here.Path() + "/Movrin Update/help.chm");
}
