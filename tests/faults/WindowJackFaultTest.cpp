// The window over real JACK into movrin-device: a long run of transfers in one process, which
// must neither lose a byte nor leak descriptors, JACK ports or memory; and a server that dies
// or stalls in the middle of a transfer, which must not crash the window, let it claim success
// or keep it from closing.

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/prctl.h>

#include <QComboBox>
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QListWidget>
#include <QProcess>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <array>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>

#include "CLabelledProgressCtrl.h"
#include "CUpdaterDlg.h"
#include "MidiBackend.h"
#include "MidiSystems.h"
#include "ScriptedMessageBoxes.h"
#include "Strings.h"
#include "WindowFixture.h"

#if defined(__SANITIZE_ADDRESS__)
// AddressSanitizer holds freed memory back to catch late uses, which would read as growth here.
extern "C" const char* __asan_default_options() {
  return "quarantine_size_mb=0";
}
#endif

namespace movrin::test {
namespace {

constexpr int kWatchdogMs = 30000;

// MOVRIN_TEST_MIDI_API=ALSA runs the long run on the sequencer (tests/alsa, in a VM);
// MOVRIN_TEST_TRANSFERS shortens it.
bool OnAlsa() {
  const char* api = std::getenv("MOVRIN_TEST_MIDI_API");
  return api != nullptr && std::string(api) == "ALSA";
}

// Open descriptors, ports on the server (every client's, ours included), resident KiB.
std::array<long, 3> Usage() {
  QProcess lsp;
  lsp.start(QStringLiteral("jack_lsp"), {});
  const long ports =
      lsp.waitForFinished(kWatchdogMs) ? lsp.readAllStandardOutput().count('\n') : -1;
  std::ifstream status("/proc/self/status");
  std::string key;
  while (status >> key && key != "VmRSS:") {
  }
  long kib = 0;
  status >> kib;
  return {std::distance(std::filesystem::directory_iterator("/proc/self/fd"), {}), ports, kib};
}

class WindowJackFault : public ::testing::TestWithParam<int> {
 protected:
  ~WindowJackFault() override {
    dlg_.reset();
    midi_.reset();
    // Killed, its clients would hold the server up until it notices they are gone.
    device_.terminate();
    if (!device_.waitForFinished(kWatchdogMs)) {
      device_.kill();
    }
    if (!server_.empty() && !leaveServerStopped_) {
      if (serverPid_ > 0) {
        ::kill(serverPid_, SIGCONT);
      }
      [[maybe_unused]] const int stopped = std::system((kScript + " stop " + server_).c_str());
    }
    QDir::setCurrent(previousDir_);
  }

  // The device on the server JACK_DEFAULT_SERVER names, or on a private one the test may kill;
  // then the window on it, with the device's ports and the image chosen.
  void Open(const QStringList& deviceArgs, bool privateServer) {
    ASSERT_TRUE(QDir(dir_.path()).mkpath(QStringLiteral("Movrin Update/bin")));
    ASSERT_TRUE(QDir::setCurrent(dir_.path()));
    if (privateServer) {
      const char* name = std::getenv("MOVRIN_PRIVATE_SERVER");
      ASSERT_NE(name, nullptr) << "run through CTest, which names the private server";
      server_ = name;
      ASSERT_EQ(std::system((kScript + " start " + server_ + " 256").c_str()), 0);
      std::ifstream(std::string(std::getenv("TMPDIR") ? std::getenv("TMPDIR") : "/tmp") +
                    "/movrin-jack-" + server_ + ".pid") >>
          serverPid_;
      setenv("JACK_DEFAULT_SERVER", server_.c_str(), 1);
      setenv("JACK_NO_START_SERVER", "1", 1);
    }
    const QString name = QStringLiteral("faults-win-%1").arg(QCoreApplication::applicationPid());
    // A test that dies (a sanitizer halting it, say) must not leave the device running.
    device_.setChildProcessModifier([] { ::prctl(PR_SET_PDEATHSIG, SIGTERM); });
    device_.start(QStringLiteral(MOVRIN_DEVICE_PATH),
                  QStringList{QStringLiteral("--name"), name} + deviceArgs);
    ASSERT_TRUE(QTest::qWaitFor([&] { return Output().contains("ready"); }, kWatchdogMs))
        << Output().toStdString();
    WriteImage(MakeImage(1));
    midi_ = CreateMidiBackend("faults-window", OnAlsa() ? MidiSystem::Alsa : MidiSystem::Jack);
    ASSERT_EQ(midi_->ApiName(), OnAlsa() ? "ALSA" : "JACK");
    dlg_ = std::make_unique<CUpdaterDlg>(*midi_, boxes_);
    dlg_->show();
    // The device opens "out" first; JACK names its second client "<name>-01", ALSA adds the
    // client and port numbers after a space.
    const QString second = OnAlsa() ? name : name + QStringLiteral("-01");
    for (const auto& [list, port] : {std::pair{"IDC_MIDI_OUT", second + QStringLiteral(":in")},
                                     std::pair{"IDC_MIDI_IN", name + QStringLiteral(":out")}}) {
      auto* box = dlg_->findChild<QComboBox*>(QString::fromLatin1(list));
      const int index = box->findText(OnAlsa() ? port + QLatin1Char(' ') : port,
                                      OnAlsa() ? Qt::MatchStartsWith : Qt::MatchExactly);
      ASSERT_GE(index, 0) << port.toStdString() << " is not listed";
      box->setCurrentIndex(index);
    }
    dlg_->findChild<QListWidget*>(QStringLiteral("IDC_FILE_LIST"))->setCurrentRow(0);
  }

  // On a private server, a transfer paced by the device, a tenth of the way through.
  void StartLongTransfer() {
    Open({QStringLiteral("--pace"), QStringLiteral("2")}, true);
    ASSERT_FALSE(HasFatalFailure());
    WriteImage(MakeImage(300 * 1024, 3));
    Send()->click();
    ASSERT_TRUE(
        QTest::qWaitFor([&] { return Progress()->text().chopped(1).toInt() >= 10; }, kWatchdogMs));
  }

  void WriteImage(const Bytes& image) const {
    QFile file(dir_.filePath(QStringLiteral("Movrin Update/bin/firmware.bin")));
    ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    ASSERT_EQ(file.write(reinterpret_cast<const char*>(image.data()), qint64(image.size())),
              qint64(image.size()));
  }

  QByteArray& Output() {
    deviceOut_ += device_.readAllStandardOutput();
    return deviceOut_;
  }
  QPushButton* Send() const { return dlg_->findChild<QPushButton*>(QStringLiteral("IDC_SEND")); }
  QLabel* Hint() const { return dlg_->findChild<QLabel*>(QStringLiteral("IDC_HINT")); }
  CLabelledProgressCtrl* Progress() const {
    return dlg_->findChild<CLabelledProgressCtrl*>(QStringLiteral("IDC_PROGRESS"));
  }

  const std::string kScript = MOVRIN_JACK_SCRIPT;
  QTemporaryDir dir_;
  QString previousDir_ = QDir::currentPath();
  std::string server_;
  pid_t serverPid_ = 0;
  bool leaveServerStopped_ = false;
  QProcess device_;
  QByteArray deviceOut_;
  ScriptedMessageBoxes boxes_;
  std::unique_ptr<MidiBackend> midi_;
  std::unique_ptr<CUpdaterDlg> dlg_;
};

// One window, 100 transfers of random sizes (the smallest and the largest first), each checked
// byte for byte by the device. Usage is taken after the first, once lazily made objects exist.
TEST_F(WindowJackFault, BackToBackTransfersArriveWholeAndLeakNothing) {
  const QString received = dir_.filePath(QStringLiteral("received.bin"));
  Open({QStringLiteral("--save"), received}, false);
  ASSERT_FALSE(HasFatalFailure());
  const unsigned seed = std::random_device{}();
  std::mt19937 random(seed);
  std::array<long, 3> before{};
  const char* count = std::getenv("MOVRIN_TEST_TRANSFERS");
  const int transfers = count != nullptr ? std::atoi(count) : 100;
  for (int i = 0; i < transfers; ++i) {
    const std::size_t size = i == 0 ? 1 : i == 1 ? 20 * 1024 : random() % (20 * 1024) + 1;
    SCOPED_TRACE("transfer " + std::to_string(i + 1) + ", seed " + std::to_string(seed));
    const Bytes image = MakeImage(size, seed + static_cast<unsigned>(i));
    WriteImage(image);
    boxes_.Clear();
    Send()->click();
    ASSERT_TRUE(QTest::qWaitFor([&] { return Send()->isEnabled(); }, kWatchdogMs));
    ASSERT_EQ(boxes_.shown().size(), 1u) << boxes_.shown().back().text.toStdString();
    ASSERT_EQ(Progress()->text(), QStringLiteral("100%"));
    ASSERT_TRUE(QTest::qWaitFor([&] { return Output().count("verdict:") == i + 1; }, kWatchdogMs));
    QFile got(received);
    ASSERT_TRUE(got.open(QIODevice::ReadOnly));
    const QByteArray bytes = got.readAll();
    ASSERT_EQ(Bytes(bytes.begin(), bytes.end()), image) << "the device holds something else";
    before = i == 0 ? Usage() : before;
  }
  const auto after = Usage();
  EXPECT_LE(after[0], before[0]) << "descriptors leaked";
  EXPECT_TRUE(OnAlsa() || before[1] > 0) << "jack_lsp listed nothing";
  EXPECT_EQ(after[1], before[1]) << "JACK ports leaked";
  // Room for allocator and Qt caches settling; a leak of one block per transfer would be more.
  EXPECT_LT(after[2], before[2] + 4 * 1024) << "memory grew";
}

// The server dies (SIGKILL) or stalls (SIGSTOP) under a running transfer. The window may learn
// of it from a send that fails (and say so) or keep waiting for a request that cannot come; it
// must never claim the transfer complete, and it must close when asked without waiting for the
// server (the test's timeout would catch a hang).
TEST_P(WindowJackFault, ServerDiesMidTransferWithoutCrashOrSuccess) {
  StartLongTransfer();
  ASSERT_FALSE(HasFatalFailure());
  ASSERT_EQ(::kill(serverPid_, GetParam()), 0);
  // A send in flight fails within its drain timeout; a wait for a request goes on.
  const bool reported = QTest::qWaitFor([&] { return Send()->isEnabled(); }, 5000);
  EXPECT_NE(Progress()->text(), QStringLiteral("100%"))
      << "the window claims the transfer complete";
  ASSERT_EQ(boxes_.shown().size(), reported ? 2u : 1u);
  if (reported) {
    EXPECT_TRUE(boxes_.shown()[1].text == QString::fromUtf8(text::kNoOutputDevices) ||
                boxes_.shown()[1].text == QString::fromUtf8(text::kLongMessageFailed));
    EXPECT_TRUE(dlg_->findChild<QLabel*>(QStringLiteral("IDC_STATUS"))
                    ->text()
                    .startsWith(QStringLiteral("Transfer failed after")));
    // The send may fail before libjack has told of the server's end: then the line has
    // nothing to name yet. What it names must be right.
    if (!Hint()->toolTip().isEmpty()) {
      EXPECT_EQ(Hint()->toolTip(),
                QStringLiteral("The JACK server \"%1\" %2.")
                    .arg(QString::fromStdString(server_), GetParam() == SIGKILL
                                                              ? QStringLiteral("went away")
                                                              : QStringLiteral("does not answer")));
    }
  }
  // Closing asks to abandon a running transfer; the answer Yes closes the window.
  boxes_.Clear();
  dlg_->reject();
  EXPECT_FALSE(dlg_->isVisible());
  EXPECT_EQ(boxes_.shown().size(), reported ? 0u : 1u);
  dlg_.reset();
  midi_.reset();
  EXPECT_FALSE(Output().contains("verdict")) << "the device got a whole image";
}

// A server that stops while the window is idle: Refresh says so, and stops saying so once the
// server runs again; Send then fails at once, as with no input port, still naming the server.
TEST_F(WindowJackFault, StalledServerIsNamedOnRefreshAndSend) {
  Open({}, true);
  ASSERT_FALSE(HasFatalFailure());
  const QString stalled = QStringLiteral("The JACK server \"%1\" does not answer.")
                              .arg(QString::fromStdString(server_));
  auto* refresh = dlg_->findChild<QPushButton*>(QStringLiteral("IDC_REFRESH"));
  const auto refreshShows = [&](bool trouble) {
    return QTest::qWaitFor(
        [&] {
          refresh->click();
          return Hint()->isVisible() == trouble && (!trouble || Hint()->toolTip() == stalled);
        },
        kWatchdogMs);
  };
  ASSERT_TRUE(refreshShows(false)) << Hint()->toolTip().toStdString();
  ASSERT_EQ(::kill(serverPid_, SIGSTOP), 0);
  ASSERT_TRUE(refreshShows(true)) << Hint()->toolTip().toStdString();
  ASSERT_EQ(::kill(serverPid_, SIGCONT), 0);
  ASSERT_TRUE(refreshShows(false)) << Hint()->toolTip().toStdString();

  ASSERT_EQ(::kill(serverPid_, SIGSTOP), 0);
  ASSERT_TRUE(refreshShows(true));
  // Refresh forgot the choice; the device's ports are chosen again.
  for (const char* list : {"IDC_MIDI_OUT", "IDC_MIDI_IN"}) {
    auto* box = dlg_->findChild<QComboBox*>(QString::fromLatin1(list));
    box->setCurrentIndex(box->findText(QStringLiteral("faults-win"), Qt::MatchStartsWith));
  }
  Send()->click();
  ASSERT_EQ(boxes_.shown().size(), 2u);  // the question whether to send, then the failure
  EXPECT_EQ(boxes_.shown()[1].text, QString::fromUtf8(text::kNoInputDevices));
  EXPECT_EQ(Hint()->toolTip(), stalled);
  EXPECT_FALSE(dlg_->isVisible());
}

// The window closed mid-transfer while the server is stopped: the process must end then, not
// when (or if) the server answers again. It runs in a child of this test, and the server stays
// stopped until the child has ended.
TEST_F(WindowJackFault, ClosingWithTheServerStoppedEndsTheProcess) {
  if (qEnvironmentVariableIsSet("MOVRIN_CLOSE_CHILD")) {
    StartLongTransfer();
    ASSERT_FALSE(HasFatalFailure());
    leaveServerStopped_ = true;
    ASSERT_EQ(::kill(serverPid_, SIGSTOP), 0);
    dlg_->reject();
    EXPECT_FALSE(dlg_->isVisible());
    return;  // the fixture closes the ports, and the process ends with the server stopped
  }
  const char* name = std::getenv("MOVRIN_PRIVATE_SERVER");
  ASSERT_NE(name, nullptr) << "run through CTest, which names the private server";
  server_ = name;  // stopped, resumed and ended by the fixture once the child is gone
  QProcess child;
  child.setProcessChannelMode(QProcess::ForwardedChannels);
  QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
  env.insert(QStringLiteral("MOVRIN_CLOSE_CHILD"), QStringLiteral("1"));
  child.setProcessEnvironment(env);
  child.start(QCoreApplication::applicationFilePath(),
              {QStringLiteral("--gtest_filter=*ClosingWithTheServerStopped*")});
  ASSERT_TRUE(child.waitForStarted(kWatchdogMs));
  const bool ended = child.waitForFinished(kWatchdogMs);
  if (!ended) {
    child.kill();
    child.waitForFinished(kWatchdogMs);
  }
  ASSERT_TRUE(ended) << "the process lives on while the server is stopped";
  EXPECT_EQ(child.exitStatus(), QProcess::NormalExit);
  EXPECT_EQ(child.exitCode(), 0);
}

INSTANTIATE_TEST_SUITE_P(Signals, WindowJackFault, ::testing::Values(SIGKILL, SIGSTOP),
                         [](const auto& info) { return info.param == SIGKILL ? "kill" : "stop"; });

}  // namespace
}  // namespace movrin::test
