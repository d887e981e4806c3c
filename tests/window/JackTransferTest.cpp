// The window driven as a user would, over the system's MIDI (the test fixture's JACK server, or
// the ALSA sequencer in tests/alsa's VM), into movrin-device, which checks every byte it
// receives against the image file.

#include <gtest/gtest.h>

#include <QComboBox>
#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QListWidget>
#include <QProcess>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <memory>

#include "CLabelledProgressCtrl.h"
#include "CUpdaterDlg.h"
#include "MidiBackend.h"
#include "ScriptedMessageBoxes.h"
#include "WindowFixture.h"

namespace movrin::test {
namespace {

constexpr int kDeviceReadyMs = 10000;
constexpr int kTransferMs = 90000;

class JackTransferTest : public ::testing::TestWithParam<std::size_t> {
 protected:
  JackTransferTest() : previousDir_(QDir::currentPath()) {}
  ~JackTransferTest() override {
    if (device_.state() != QProcess::NotRunning) {
      device_.terminate();
      if (!device_.waitForFinished(5000)) {
        device_.kill();
        device_.waitForFinished(5000);
      }
    }
    QDir::setCurrent(previousDir_);
  }

  // Starts the device under a name of its own; true once its ports are there.
  bool StartDevice(const QString& name, const QString& expect) {
    device_.start(QStringLiteral(MOVRIN_DEVICE_PATH),
                  {QStringLiteral("--name"), name, QStringLiteral("--once"),
                   QStringLiteral("--expect"), expect});
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

  QString previousDir_;
  QProcess device_;
  QByteArray deviceOut_;
};

std::string Entries(const QComboBox* list) {
  QStringList entries;
  for (int i = 0; i < list->count(); ++i) {
    entries << list->itemText(i);
  }
  return entries.join(QStringLiteral(", ")).toStdString();
}

// JACK may add a suffix to the client name ("name-01:in"), ALSA adds the address ("name:in 130:0").
int PortEntry(const QComboBox* list, const QString& client, const QString& port) {
  for (int i = 0; i < list->count(); ++i) {
    const QString text = list->itemText(i).section(QLatin1Char(' '), 0, 0);
    if (text.startsWith(client) && text.endsWith(QLatin1Char(':') + port)) {
      return i;
    }
  }
  return -1;
}

TEST_P(JackTransferTest, TheDeviceReceivesTheImageByteForByte) {
  const std::size_t size = GetParam();
  QTemporaryDir dir;
  ASSERT_TRUE(dir.isValid());
  ASSERT_TRUE(QDir(dir.path()).mkpath(QStringLiteral("Movrin Update/bin")));
  ASSERT_TRUE(QDir::setCurrent(dir.path()));
  const QString imagePath = dir.filePath(QStringLiteral("Movrin Update/bin/firmware.bin"));
  {
    const Bytes image = MakeImage(size, static_cast<std::uint32_t>(size));
    QFile file(imagePath);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    ASSERT_EQ(
        file.write(reinterpret_cast<const char*>(image.data()), static_cast<qint64>(image.size())),
        static_cast<qint64>(image.size()));
  }

  const QString name =
      QStringLiteral("win-e2e-%1-%2").arg(size).arg(QCoreApplication::applicationPid());
  ASSERT_TRUE(StartDevice(name, imagePath))
      << deviceOut_.toStdString() << device_.readAllStandardError().toStdString();

  const std::unique_ptr<MidiBackend> midi = CreateSystemMidiBackend("movrin-update-test");
  ScriptedMessageBoxes boxes;
  CUpdaterDlg dlg(*midi, boxes);
  dlg.show();

  // The user's choices: the device's ports, the image, Send, and Yes.
  auto* out = dlg.findChild<QComboBox*>(QStringLiteral("IDC_MIDI_OUT"));
  auto* in = dlg.findChild<QComboBox*>(QStringLiteral("IDC_MIDI_IN"));
  const int outEntry = PortEntry(out, name, QStringLiteral("in"));
  const int inEntry = PortEntry(in, name, QStringLiteral("out"));
  ASSERT_GE(outEntry, 0) << "the device's input is not listed on " << midi->ApiName() << ": "
                         << Entries(out);
  ASSERT_GE(inEntry, 0) << "the device's output is not listed on " << midi->ApiName() << ": "
                        << Entries(in);
  out->setCurrentIndex(outEntry);
  in->setCurrentIndex(inEntry);
  auto* files = dlg.findChild<QListWidget*>(QStringLiteral("IDC_FILE_LIST"));
  ASSERT_EQ(files->count(), 1);
  files->setCurrentRow(0, QItemSelectionModel::ClearAndSelect);
  auto* send = dlg.findChild<QPushButton*>(QStringLiteral("IDC_SEND"));
  ASSERT_TRUE(send->isEnabled());
  send->click();
  ASSERT_FALSE(send->isEnabled()) << "the transfer did not start";

  // Send comes back when the transfer has ended, completed or not.
  EXPECT_TRUE(QTest::qWaitFor([&] { return send->isEnabled(); }, kTransferMs));
  auto* progress = dlg.findChild<CLabelledProgressCtrl*>(QStringLiteral("IDC_PROGRESS"));
  EXPECT_EQ(progress->text(), QStringLiteral("100%"));
  ASSERT_EQ(boxes.shown().size(), 1u) << boxes.shown().back().text.toStdString();

  ASSERT_TRUE(device_.waitForFinished(kDeviceReadyMs)) << "the device did not finish";
  deviceOut_ += device_.readAllStandardOutput();
  EXPECT_EQ(device_.exitStatus(), QProcess::NormalExit);
  EXPECT_EQ(device_.exitCode(), 0)
      << deviceOut_.toStdString() << device_.readAllStandardError().toStdString();
  EXPECT_TRUE(deviceOut_.contains("identical")) << deviceOut_.toStdString();
}

// 896 bytes pack into exactly one block, 897 into one byte more; then about 300 KiB.
INSTANTIATE_TEST_SUITE_P(Sizes, JackTransferTest, ::testing::Values(1, 896, 897, 307200),
                         [](const ::testing::TestParamInfo<std::size_t>& info) {
                           return "Size" + std::to_string(info.param);
                         });

}  // namespace
}  // namespace movrin::test
