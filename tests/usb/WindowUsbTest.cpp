// The window over a USB MIDI cable, driven as a user would: both lists set to the cable, the
// image chosen, Send pressed. Run by usb-cases.sh inside the VM, whose device on the gadget's
// side checks every byte; skipped anywhere else.
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
#include <cstdio>
#include <memory>

#include "CLabelledProgressCtrl.h"
#include "CUpdaterDlg.h"
#include "MidiBackend.h"
#include "ScriptedMessageBoxes.h"
#include "Strings.h"

namespace movrin::test {
namespace {

constexpr int kWatchdogMs = 120000;

TEST(WindowOverUsb, SendsTheChosenImageToTheCable) {
  const QString port = qEnvironmentVariable("MOVRIN_USB_PORT");
  const QString image = qEnvironmentVariable("MOVRIN_USB_IMAGE");
  if (port.isEmpty() || image.isEmpty()) {
    GTEST_SKIP() << "needs the USB gadget of usb-cases.sh";
  }
  QTemporaryDir dir;
  ASSERT_TRUE(QDir(dir.path()).mkpath(QStringLiteral("Movrin Update/bin")));
  ASSERT_TRUE(QFile::copy(image, dir.filePath(QStringLiteral("Movrin Update/bin/firmware.bin"))));
  ASSERT_TRUE(QDir::setCurrent(dir.path()));

  ScriptedMessageBoxes boxes;
  const auto midi = CreateSystemMidiBackend("usb-window");
  auto dlg = std::make_unique<CUpdaterDlg>(*midi, boxes);
  dlg->show();
  for (const char* list : {"IDC_MIDI_OUT", "IDC_MIDI_IN"}) {
    auto* box = dlg->findChild<QComboBox*>(QString::fromLatin1(list));
    const int index = box->findText(port);
    ASSERT_GE(index, 0) << list << " does not offer " << port.toStdString();
    box->setCurrentIndex(index);
  }
  dlg->findChild<QListWidget*>(QStringLiteral("IDC_FILE_LIST"))->setCurrentRow(0);
  auto* send = dlg->findChild<QPushButton*>(QStringLiteral("IDC_SEND"));
  send->click();
  ASSERT_TRUE(QTest::qWaitFor([&] { return send->isEnabled(); }, kWatchdogMs));

  // The confirmation, then at most the word that the device needs replugging, which usb-cases.sh
  // expects on kernels that cannot take the interface back.
  ASSERT_GE(boxes.shown().size(), 1u);
  ASSERT_LE(boxes.shown().size(), 2u) << boxes.shown().back().text.toStdString();
  EXPECT_EQ(boxes.shown()[0].text, QString::fromUtf8(text::kConfirmSend));
  if (boxes.shown().size() == 2) {
    EXPECT_TRUE(boxes.shown()[1].text.contains(QStringLiteral("plugged in again")))
        << boxes.shown()[1].text.toStdString();
    std::puts("told to replug");
  }
  EXPECT_EQ(dlg->findChild<CLabelledProgressCtrl*>(QStringLiteral("IDC_PROGRESS"))->text(),
            QStringLiteral("100%"));
  const auto* status = dlg->findChild<QLabel*>(QStringLiteral("IDC_STATUS"));
  EXPECT_FALSE(status->text().startsWith(QStringLiteral("Transfer failed")))
      << status->text().toStdString();
}

}  // namespace
}  // namespace movrin::test
