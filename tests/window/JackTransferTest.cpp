// The window driven as a user would, over the system's MIDI (the test fixture's JACK server),
// into movrin-device, which checks every byte it receives against the image file.

#include <QCoreApplication>
#include <QProcess>
#include <QTest>

#include "WindowFixture.h"

namespace movrin::test {
namespace {

class JackTransferTest : public WindowTest, public ::testing::WithParamInterface<std::size_t> {
 protected:
  ~JackTransferTest() override {
    device_.kill();
    device_.waitForFinished(5000);
  }
  QProcess device_;
};

// The entry of the device's port; JACK may add a suffix to the client name ("name-01:in").
int PortEntry(const QComboBox* list, const QString& client, const char* port) {
  for (int i = 0; i < list->count(); ++i) {
    if (list->itemText(i).startsWith(client) && list->itemText(i).endsWith(port)) {
      return i;
    }
  }
  return -1;
}

TEST_P(JackTransferTest, TheDeviceReceivesTheImageByteForByte) {
  const std::size_t size = GetParam();
  WriteImage("firmware.bin", MakeImage(size, size));
  const QString name =
      QStringLiteral("win-e2e-%1-%2").arg(size).arg(QCoreApplication::applicationPid());
  device_.start(MOVRIN_DEVICE_PATH, {"--name", name, "--once", "--expect",
                                     DataFolder() + QStringLiteral("/firmware.bin")});
  QByteArray out;
  ASSERT_TRUE(QTest::qWaitFor(
                  [&] {
                    out += device_.readAllStandardOutput();
                    return out.contains("ready") || device_.state() == QProcess::NotRunning;
                  },
                  10000) &&
              out.contains("ready"))
      << out.toStdString();

  const std::unique_ptr<MidiBackend> midi = CreateSystemMidiBackend("movrin-update-test");
  dlg_ = std::make_unique<CUpdaterDlg>(*midi, boxes_);
  dlg_->show();
  // The user's choices: the device's ports, the image, Send, and Yes.
  for (const auto& [id, port] : {std::pair{"IDC_MIDI_OUT", ":in"}, {"IDC_MIDI_IN", ":out"}}) {
    const int entry = PortEntry(DeviceList(id), name, port);
    ASSERT_GE(entry, 0) << id << " lacks the device on " << midi->ApiName();
    DeviceList(id)->setCurrentIndex(entry);
  }
  Select(QStringLiteral("firmware.bin"));
  PressSend();
  ASSERT_FALSE(Button("IDC_SEND")->isEnabled()) << "the transfer did not start";
  // Send comes back when the transfer has ended, completed or not.
  EXPECT_TRUE(QTest::qWaitFor([&] { return Button("IDC_SEND")->isEnabled(); }, 90000));
  EXPECT_EQ(Progress()->text(), QStringLiteral("100%"));
  ASSERT_EQ(boxes_.shown().size(), 1u) << boxes_.shown().back().text.toStdString();

  ASSERT_TRUE(device_.waitForFinished(10000)) << "the device did not finish";
  out += device_.readAllStandardOutput();
  EXPECT_EQ(device_.exitCode(), 0) << out.toStdString();
  EXPECT_TRUE(out.contains("identical")) << out.toStdString();
}

// 896 bytes pack into exactly one block, 897 into one byte more; then about 300 KiB.
INSTANTIATE_TEST_SUITE_P(Sizes, JackTransferTest, ::testing::Values(1, 896, 897, 307200),
                         [](const auto& info) { return "Size" + std::to_string(info.param); });

}  // namespace
}  // namespace movrin::test
