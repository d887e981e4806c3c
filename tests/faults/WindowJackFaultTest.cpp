// The window over real JACK into movrin-device: a long run of transfers in one process, which
// must neither lose a byte nor leak descriptors, JACK ports or memory; and a server that dies
// in the middle of a transfer, which must not crash the window or let it claim success.

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/prctl.h>

#include <QComboBox>
#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QListWidget>
#include <QProcess>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <random>
#include <string>

#include "CLabelledProgressCtrl.h"
#include "CUpdaterDlg.h"
#include "RtMidiBackend.h"
#include "ScriptedMessageBoxes.h"
#include "Strings.h"
#include "WindowFixture.h"

#ifndef MOVRIN_JACK_SCRIPT
#error "MOVRIN_JACK_SCRIPT must name tests/jack/jack-server.sh"
#endif

#if defined(__SANITIZE_ADDRESS__)
// AddressSanitizer holds freed memory back (up to 256 MiB) to catch late uses, which would
// read as growth here; without that hold, resident memory shows real growth again.
extern "C" const char* __asan_default_options() {
  return "quarantine_size_mb=0";
}
#endif

namespace movrin::test {
namespace {

constexpr int kDeviceReadyMs = 10000;
constexpr int kTransferMs = 30000;
constexpr int kVerdictMs = 10000;
constexpr int kTransfers = 100;
constexpr std::size_t kLargestImage = 20 * 1024;
// Room for allocator and Qt caches settling; a leak of one block per transfer would be more.
constexpr long kRssSlackKiB = 4 * 1024;

int OpenDescriptors() {
  namespace fs = std::filesystem;
  return static_cast<int>(
      std::distance(fs::directory_iterator("/proc/self/fd"), fs::directory_iterator()));
}

long ResidentKiB() {
  std::ifstream status("/proc/self/status");
  std::string key;
  while (status >> key) {
    if (key == "VmRSS:") {
      long kib = 0;
      status >> kib;
      return kib;
    }
    status.ignore(1 << 12, '\n');
  }
  return -1;
}

// Ports on the server, as a JACK tool sees them: every client's ports, ours included.
int JackPorts() {
  QProcess lsp;
  lsp.start(QStringLiteral("jack_lsp"), {});
  if (!lsp.waitForFinished(10000) || lsp.exitCode() != 0) {
    return -1;
  }
  return static_cast<int>(lsp.readAllStandardOutput().count('\n'));
}

// JACK may add a suffix to the client name ("name-01:in").
int PortEntry(const QComboBox* list, const QString& client, const QString& port) {
  for (int i = 0; i < list->count(); ++i) {
    const QString text = list->itemText(i);
    if (text.startsWith(client) && text.endsWith(QLatin1Char(':') + port)) {
      return i;
    }
  }
  return -1;
}

class WindowJackFault : public ::testing::Test {
 protected:
  WindowJackFault() : previousDir_(QDir::currentPath()) {}

  ~WindowJackFault() override {
    dlg_.reset();
    midi_.reset();
    if (device_.state() != QProcess::NotRunning) {
      device_.terminate();
      if (!device_.waitForFinished(5000)) {
        device_.kill();
        device_.waitForFinished(5000);
      }
    }
    if (!privateServer_.empty()) {
      // A killed server keeps its slot in JACK's registry of eight servers until a server of
      // the same name registers, which it can only once the dead one is reaped: then start and
      // stop one, so the slot is free for everyone again.
      const std::string script(MOVRIN_JACK_SCRIPT);
      const pid_t server = PrivateServerPid();
      ::kill(server, SIGCONT);
      [[maybe_unused]] const int stoppedFirst =
          std::system((script + " stop " + privateServer_).c_str());
      const QDeadlineTimer reaped(10000);
      while (server > 0 && ::kill(server, 0) == 0 && !reaped.hasExpired()) {
        QThread::msleep(100);
      }
      [[maybe_unused]] const int started =
          std::system((script + " start " + privateServer_ + " 256 >/dev/null 2>&1").c_str());
      [[maybe_unused]] const int stopped =
          std::system((script + " stop " + privateServer_).c_str());
    }
    QDir::setCurrent(previousDir_);
  }

  void SetUp() override {
    ASSERT_TRUE(dir_.isValid());
    ASSERT_TRUE(QDir(dir_.path()).mkpath(QStringLiteral("Movrin Update/bin")));
    ASSERT_TRUE(QDir::setCurrent(dir_.path()));
    imagePath_ = dir_.filePath(QStringLiteral("Movrin Update/bin/firmware.bin"));
    name_ = QStringLiteral("faults-win-%1").arg(QCoreApplication::applicationPid());
  }

  // A server of this test's own, which it may kill; this process and the device use it.
  void StartPrivateServer() {
    privateServer_ = "movrin-faults-win-" + std::to_string(QCoreApplication::applicationPid());
    ASSERT_EQ(std::system(
                  (std::string(MOVRIN_JACK_SCRIPT) + " start " + privateServer_ + " 256").c_str()),
              0);
    setenv("JACK_DEFAULT_SERVER", privateServer_.c_str(), 1);
    setenv("JACK_NO_START_SERVER", "1", 1);
  }

  pid_t PrivateServerPid() const {
    const char* tmp = std::getenv("TMPDIR");
    std::ifstream pidFile(std::string(tmp != nullptr ? tmp : "/tmp") + "/movrin-jack-" +
                          privateServer_ + ".pid");
    pid_t pid = 0;
    pidFile >> pid;
    return pid;
  }

  void WriteImage(const Bytes& image) const {
    QFile file(imagePath_);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    ASSERT_EQ(
        file.write(reinterpret_cast<const char*>(image.data()), static_cast<qint64>(image.size())),
        static_cast<qint64>(image.size()));
  }

  // Starts the device; true once its ports are there.
  bool StartDevice(const QStringList& args) {
    // A test that dies (a sanitizer halting it, say) must not leave the device running.
    device_.setChildProcessModifier([] { ::prctl(PR_SET_PDEATHSIG, SIGTERM); });
    device_.start(QStringLiteral(MOVRIN_DEVICE_PATH),
                  QStringList{QStringLiteral("--name"), name_} + args);
    const QDeadlineTimer deadline(kDeviceReadyMs);
    while (!deadline.hasExpired()) {
      if (deviceOut_.contains("ready")) {
        return true;
      }
      if (!device_.waitForReadyRead(100) && device_.state() == QProcess::NotRunning) {
        return false;
      }
      deviceOut_ += device_.readAllStandardOutput();
    }
    return false;
  }

  // The window on the system's JACK, with the device's ports chosen and the image selected.
  void OpenWindow() {
    midi_ = RtMidiBackend::Create("faults-window", RtMidiBackend::Api::Jack);
    ASSERT_EQ(midi_->ApiName(), "JACK");
    dlg_ = std::make_unique<CUpdaterDlg>(*midi_, boxes_);
    dlg_->show();
    auto* out = dlg_->findChild<QComboBox*>(QStringLiteral("IDC_MIDI_OUT"));
    auto* in = dlg_->findChild<QComboBox*>(QStringLiteral("IDC_MIDI_IN"));
    const int outEntry = PortEntry(out, name_, QStringLiteral("in"));
    const int inEntry = PortEntry(in, name_, QStringLiteral("out"));
    ASSERT_GE(outEntry, 0) << "the device's input is not listed";
    ASSERT_GE(inEntry, 0) << "the device's output is not listed";
    out->setCurrentIndex(outEntry);
    in->setCurrentIndex(inEntry);
    auto* files = dlg_->findChild<QListWidget*>(QStringLiteral("IDC_FILE_LIST"));
    ASSERT_EQ(files->count(), 1);
    files->setCurrentRow(0, QItemSelectionModel::ClearAndSelect);
  }

  [[nodiscard]] QPushButton* SendButton() const {
    return dlg_->findChild<QPushButton*>(QStringLiteral("IDC_SEND"));
  }
  [[nodiscard]] CLabelledProgressCtrl* Progress() const {
    return dlg_->findChild<CLabelledProgressCtrl*>(QStringLiteral("IDC_PROGRESS"));
  }
  [[nodiscard]] QLabel* Status() const {
    return dlg_->findChild<QLabel*>(QStringLiteral("IDC_STATUS"));
  }

  // Verdict lines the device has printed so far.
  int Verdicts() {
    deviceOut_ += device_.readAllStandardOutput();
    return static_cast<int>(deviceOut_.count("verdict:"));
  }

  QTemporaryDir dir_;
  QString previousDir_;
  QString imagePath_;
  QString name_;
  std::string privateServer_;
  QProcess device_;
  QByteArray deviceOut_;
  ScriptedMessageBoxes boxes_;
  std::unique_ptr<MidiBackend> midi_;
  std::unique_ptr<CUpdaterDlg> dlg_;
};

struct Usage {
  int descriptors;
  int jackPorts;
  long residentKiB;
};

Usage Measure() {
  return {OpenDescriptors(), JackPorts(), ResidentKiB()};
}

// One process, one window, 100 transfers of random sizes, each checked byte for byte by the
// device. Usage is taken after the first transfer, once every lazily made object exists.
TEST_F(WindowJackFault, BackToBackTransfersArriveWholeAndLeakNothing) {
  const QString received = dir_.filePath(QStringLiteral("received.bin"));
  ASSERT_TRUE(StartDevice({QStringLiteral("--save"), received}))
      << deviceOut_.toStdString() << device_.readAllStandardError().toStdString();
  WriteImage(MakeImage(1));
  OpenWindow();
  if (HasFatalFailure()) {
    return;
  }

  const unsigned seed = std::random_device{}();
  RecordProperty("seed", static_cast<int>(seed & 0x7FFFFFFF));
  std::mt19937 random(seed);
  std::uniform_int_distribution<std::size_t> sizes(1, kLargestImage);
  Usage before{};
  for (int i = 0; i < kTransfers; ++i) {
    // The smallest and the largest size come first, then random ones.
    const std::size_t size = i == 0 ? 1 : i == 1 ? kLargestImage : sizes(random);
    SCOPED_TRACE("transfer " + std::to_string(i + 1) + " of " + std::to_string(size) +
                 " bytes, seed " + std::to_string(seed));
    const Bytes image = MakeImage(size, static_cast<std::uint32_t>(seed + i));
    WriteImage(image);
    boxes_.Clear();
    SendButton()->click();
    ASSERT_FALSE(SendButton()->isEnabled()) << "the transfer did not start";
    ASSERT_TRUE(QTest::qWaitFor([&] { return SendButton()->isEnabled(); }, kTransferMs))
        << "the transfer did not end";
    ASSERT_EQ(boxes_.shown().size(), 1u) << boxes_.shown().back().text.toStdString();
    ASSERT_EQ(Progress()->text(), QStringLiteral("100%"));
    ASSERT_TRUE(QTest::qWaitFor([&] { return Verdicts() == i + 1; }, kVerdictMs))
        << deviceOut_.toStdString() << device_.readAllStandardError().toStdString();
    QFile got(received);
    ASSERT_TRUE(got.open(QIODevice::ReadOnly));
    const QByteArray bytes = got.readAll();
    ASSERT_EQ(Bytes(bytes.begin(), bytes.end()), image) << "the device holds something else";
    if (i == 0) {
      before = Measure();
    }
  }
  const Usage after = Measure();
  RecordProperty("descriptors",
                 std::to_string(before.descriptors) + " -> " + std::to_string(after.descriptors));
  RecordProperty("jack_ports",
                 std::to_string(before.jackPorts) + " -> " + std::to_string(after.jackPorts));
  RecordProperty("rss_kib",
                 std::to_string(before.residentKiB) + " -> " + std::to_string(after.residentKiB));
  std::printf(
      "after transfer 1 -> after transfer %d: descriptors %d -> %d, JACK ports %d -> %d, "
      "VmRSS %ld -> %ld KiB\n",
      kTransfers, before.descriptors, after.descriptors, before.jackPorts, after.jackPorts,
      before.residentKiB, after.residentKiB);
  // The count after the first transfer may still include descriptors that JACK closes late.
  EXPECT_LE(after.descriptors, before.descriptors) << "descriptors leaked";
  EXPECT_GT(before.jackPorts, 0);
  EXPECT_EQ(after.jackPorts, before.jackPorts) << "JACK ports leaked";
  EXPECT_GT(before.residentKiB, 0);
  EXPECT_LT(after.residentKiB, before.residentKiB + kRssSlackKiB) << "memory grew";
  EXPECT_EQ(device_.state(), QProcess::Running) << "the device stopped";
  EXPECT_EQ(deviceOut_.count("verdict:"), kTransfers);
}

// The server dies (SIGKILL) or stalls (SIGSTOP) under a running transfer. The window may learn
// of it from a send that fails (and say so) or keep waiting for a request that cannot come; it
// must never crash or claim the transfer complete, and it must still close when asked, without
// waiting for the server (the test's timeout would catch a hang).
class WindowJackServerFault : public WindowJackFault, public ::testing::WithParamInterface<int> {};

TEST_P(WindowJackServerFault, ServerDiesMidTransferWithoutCrashOrSuccess) {
  StartPrivateServer();
  if (HasFatalFailure()) {
    return;
  }
  const Bytes image = MakeImage(300 * 1024, 3);
  WriteImage(image);
  ASSERT_TRUE(StartDevice({QStringLiteral("--pace"), QStringLiteral("2")}))
      << deviceOut_.toStdString() << device_.readAllStandardError().toStdString();
  OpenWindow();
  if (HasFatalFailure()) {
    return;
  }
  SendButton()->click();
  ASSERT_FALSE(SendButton()->isEnabled()) << "the transfer did not start";
  ASSERT_TRUE(QTest::qWaitFor(
      [&] { return Progress()->isVisible() && Progress()->text().chopped(1).toInt() >= 10; },
      kTransferMs))
      << "the transfer never got under way: status \"" << Status()->text().toStdString() << "\"";

  ASSERT_EQ(::kill(PrivateServerPid(), GetParam()), 0);
  // A send in flight fails within its drain timeout; a wait for a request goes on.
  const bool reported = QTest::qWaitFor([&] { return SendButton()->isEnabled(); }, 5000);
  EXPECT_NE(Progress()->text(), QStringLiteral("100%"))
      << "the window claims the transfer complete";
  RecordProperty("outcome", reported ? "reported" : "waiting");
  if (reported) {
    // A failed send: one box for it after the confirmation, and the status line says so.
    ASSERT_EQ(boxes_.shown().size(), 2u);
    const QString box = boxes_.shown()[1].text;
    EXPECT_TRUE(box == QString::fromUtf8(text::kNoOutputDevices) ||
                box == QString::fromUtf8(text::kLongMessageFailed))
        << box.toStdString();
    EXPECT_TRUE(Status()->text().startsWith(QStringLiteral("Transfer failed after")))
        << Status()->text().toStdString();
  } else {
    EXPECT_EQ(boxes_.shown().size(), 1u) << boxes_.shown().back().text.toStdString();
  }

  // Closing asks to abandon a running transfer; the answer Yes closes the window.
  boxes_.Clear();
  dlg_->reject();
  EXPECT_FALSE(dlg_->isVisible());
  EXPECT_EQ(boxes_.shown().size(), reported ? 0u : 1u);
  dlg_.reset();
  midi_.reset();
  EXPECT_FALSE(deviceOut_.contains("verdict")) << "the device got a whole image";
}

INSTANTIATE_TEST_SUITE_P(Signals, WindowJackServerFault, ::testing::Values(SIGKILL, SIGSTOP),
                         [](const auto& info) { return info.param == SIGKILL ? "kill" : "stop"; });

}  // namespace
}  // namespace movrin::test
