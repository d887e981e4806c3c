// Time from process start to the main window's first paint. Runs the window as the program
// does (movrin::CreateSystemMidiBackend, real message boxes, the dialog run modally) and closes
// it on its first paint, printing one line of figures:
//
//   startup-probe: main_ms=... first_paint_ms=... stat_first_paint_ms=... max_rss_kib=...
//
// main_ms and first_paint_ms count from MOVRIN_PROBE_T0 (the launcher's CLOCK_REALTIME in
// seconds, as bash's $EPOCHREALTIME, taken just before exec) and are left out without it.
// stat_first_paint_ms counts from the kernel's start time of the process (/proc/self/stat,
// clock-tick resolution, usually 10 ms).

#include <sys/resource.h>
#include <unistd.h>

#include <QApplication>
#include <QEvent>
#include <QGuiApplication>
#include <QTimer>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <fstream>
#include <memory>
#include <optional>
#include <sstream>
#include <string>

#include "AppIcon.h"
#include "CUpdaterDlg.h"
#include "MessageBoxes.h"
#include "MidiBackend.h"
#include "Strings.h"

namespace {

double ClockSeconds(clockid_t id) {
  timespec ts{};
  clock_gettime(id, &ts);
  return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) * 1e-9;
}

std::optional<double> LauncherStart() {
  const char* t0 = std::getenv("MOVRIN_PROBE_T0");
  if (t0 == nullptr || *t0 == '\0') {
    return std::nullopt;
  }
  // $EPOCHREALTIME follows the locale's decimal point; accept a comma too.
  std::string text(t0);
  for (char& c : text) {
    if (c == ',') {
      c = '.';
    }
  }
  return std::strtod(text.c_str(), nullptr);
}

// Seconds since boot at which this process started, from field 22 of /proc/self/stat.
std::optional<double> KernelStart() {
  std::ifstream stat("/proc/self/stat");
  std::string line;
  if (!std::getline(stat, line)) {
    return std::nullopt;
  }
  // The command name may hold spaces: fields are counted after its closing parenthesis.
  const auto close = line.rfind(')');
  if (close == std::string::npos) {
    return std::nullopt;
  }
  std::istringstream fields(line.substr(close + 2));
  std::string field;
  for (int i = 3; i <= 22; ++i) {
    if (!(fields >> field)) {
      return std::nullopt;
    }
  }
  return std::stod(field) / static_cast<double>(sysconf(_SC_CLK_TCK));
}

long MaxRssKib() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  return usage.ru_maxrss;
}

// Watches the whole application for the main window's first paint, then closes the window.
class FirstPaintWatcher : public QObject {
 public:
  FirstPaintWatcher(std::optional<double> launcherStart, double mainRealtime)
      : launcherStart_(launcherStart), mainRealtime_(mainRealtime) {}

 protected:
  bool eventFilter(QObject* watched, QEvent* e) override {
    if (!done_ && e->type() == QEvent::Paint && qobject_cast<CUpdaterDlg*>(watched) != nullptr) {
      done_ = true;
      Report();
      // Close once this paint is over, the way a user's close would arrive.
      auto* dialog = static_cast<CUpdaterDlg*>(watched);
      QTimer::singleShot(0, dialog, [dialog] { dialog->reject(); });
    }
    return QObject::eventFilter(watched, e);
  }

 private:
  void Report() const {
    const double realtime = ClockSeconds(CLOCK_REALTIME);
    const double boottime = ClockSeconds(CLOCK_BOOTTIME);
    std::printf("startup-probe:");
    if (launcherStart_) {
      std::printf(" main_ms=%.2f first_paint_ms=%.2f", (mainRealtime_ - *launcherStart_) * 1e3,
                  (realtime - *launcherStart_) * 1e3);
    }
    if (const auto start = KernelStart()) {
      std::printf(" stat_first_paint_ms=%.0f", (boottime - *start) * 1e3);
    }
    std::printf(" max_rss_kib=%ld\n", MaxRssKib());
    std::fflush(stdout);
  }

  std::optional<double> launcherStart_;
  double mainRealtime_;
  bool done_ = false;
};

}  // namespace

int main(int argc, char** argv) {
  const double mainRealtime = ClockSeconds(CLOCK_REALTIME);
  const std::optional<double> launcherStart = LauncherStart();

  // As CUpdaterApp: the application, its desktop name and icon, then the window run modally.
  QApplication app(argc, argv);
  QGuiApplication::setDesktopFileName(QStringLiteral("movrin-update"));
  QApplication::setWindowIcon(AppIcon());

  FirstPaintWatcher watcher(launcherStart, mainRealtime);
  app.installEventFilter(&watcher);

  const std::unique_ptr<movrin::MidiBackend> backend =
      movrin::CreateSystemMidiBackend(movrin::text::kWindowCaption);
  movrin::QtMessageBoxPresenter boxes;
  CUpdaterDlg dlg(*backend, boxes);
  dlg.exec();
  return 0;
}
