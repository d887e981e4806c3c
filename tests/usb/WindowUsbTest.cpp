// The window over a USB MIDI cable, driven as a user would: both lists set to the cable, the
// image chosen, Send pressed; and ended by SIGTERM in mid-transfer. Run by usb-cases.sh inside the
// VM, whose device on the gadget's side checks every byte; skipped anywhere else.
//   MOVRIN_USB_PORT=NAME MOVRIN_USB_IMAGE=IMAGE.bin usb_window_tests

#include <gtest/gtest.h>

#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <csignal>
#include <cstdio>
#include <memory>

#include "CLabelledProgressCtrl.h"
#include "CUpdaterDlg.h"
#include "MidiBackend.h"
#include "ScriptedMessageBoxes.h"
#include "Strings.h"
#include "TerminationGuard.h"

namespace movrin::test {
namespace {

constexpr int kWatchdogMs = 60000;  // within the case limit of usb-cases.sh

// The window with both lists set to the cable and the image chosen, ready for Send.
class WindowOverUsb : public ::testing::Test {
 protected:
  void SetUp() override {
    const QString port = qEnvironmentVariable("MOVRIN_USB_PORT");
    const QString image = qEnvironmentVariable("MOVRIN_USB_IMAGE");
    if (port.isEmpty() || image.isEmpty()) {
      GTEST_SKIP() << "needs the USB gadget of usb-cases.sh";
    }
    ASSERT_TRUE(QDir(dir_.path()).mkpath(QStringLiteral("Movrin Update/bin")));
    ASSERT_TRUE(
        QFile::copy(image, dir_.filePath(QStringLiteral("Movrin Update/bin/firmware.bin"))));
    ASSERT_TRUE(QDir::setCurrent(dir_.path()));
    midi_ = CreateSystemMidiBackend("usb-window");
    dlg_ = std::make_unique<CUpdaterDlg>(*midi_, boxes_);
    dlg_->show();
    for (const char* list : {"IDC_MIDI_OUT", "IDC_MIDI_IN"}) {
      auto* box = dlg_->findChild<QComboBox*>(QString::fromLatin1(list));
      const int index = box->findText(port);
      ASSERT_GE(index, 0) << list << " does not offer " << port.toStdString();
      box->setCurrentIndex(index);
    }
    dlg_->findChild<QListWidget*>(QStringLiteral("IDC_FILE_LIST"))->setCurrentRow(0);
    send_ = dlg_->findChild<QPushButton*>(QStringLiteral("IDC_SEND"));
    progress_ = dlg_->findChild<CLabelledProgressCtrl*>(QStringLiteral("IDC_PROGRESS"));
  }

  QTemporaryDir dir_;
  ScriptedMessageBoxes boxes_;
  std::unique_ptr<MidiBackend> midi_;
  std::unique_ptr<CUpdaterDlg> dlg_;
  QPushButton* send_ = nullptr;
  CLabelledProgressCtrl* progress_ = nullptr;
};

TEST_F(WindowOverUsb, SendsTheChosenImageToTheCable) {
  send_->click();
  ASSERT_TRUE(QTest::qWaitFor([&] { return send_->isEnabled(); }, kWatchdogMs));
  // The confirmation, then at most the word that the device needs replugging, which usb-cases.sh
  // expects on kernels that cannot take the interface back.
  ASSERT_GE(boxes_.shown().size(), 1u);
  ASSERT_LE(boxes_.shown().size(), 2u) << boxes_.shown().back().text.toStdString();
  EXPECT_EQ(boxes_.shown()[0].text, QString::fromUtf8(text::kConfirmSend));
  if (boxes_.shown().size() == 2) {
    EXPECT_TRUE(boxes_.shown()[1].text.contains(QStringLiteral("plugged in again")))
        << boxes_.shown()[1].text.toStdString();
    std::puts("told to replug");
  }
  EXPECT_EQ(progress_->text(), QStringLiteral("100%"));
  const auto* status = dlg_->findChild<QLabel*>(QStringLiteral("IDC_STATUS"));
  EXPECT_FALSE(status->text().startsWith(QStringLiteral("Transfer failed")))
      << status->text().toStdString();
}

// SIGTERM in mid-transfer closes the window without a question, as the program's guard does;
// usb-cases.sh then checks that the kernel has the interface back, or was told it could not.
TEST_F(WindowOverUsb, SigtermMidTransferClosesAndGivesTheCableBack) {
  const TerminationGuard guard(*dlg_);
  send_->click();
  // A few blocks in: the bar reads "1%" and more.
  const auto percent = [&] { return progress_->text().chopped(1).toInt(); };
  ASSERT_TRUE(
      QTest::qWaitFor([&] { return progress_->isVisible() && percent() >= 1; }, kWatchdogMs));
  ASSERT_EQ(std::raise(SIGTERM), 0);
  ASSERT_TRUE(QTest::qWaitFor([&] { return !dlg_->isVisible(); }, kWatchdogMs));
  EXPECT_EQ(guard.exitCode(), 128 + SIGTERM);
  EXPECT_EQ(boxes_.shown().size(), 1u) << "asked on the way out";
  EXPECT_LT(percent(), 100);
}

}  // namespace
}  // namespace movrin::test
