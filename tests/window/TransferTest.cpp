// Whole transfers driven by the device's notes, and how the window waits, stops and closes.

#include <QRegularExpression>
#include <QTest>
#include <QTimer>

#include "Protocol.h"
#include "WindowFixture.h"

namespace movrin::test {
namespace {

using TransferTest = WindowTest;

TEST_F(TransferTest, SendsTheExportedStreamPacedByTheDevice) {
  // 896 bytes pack into exactly one block, 897 into one byte more; the last is ~300 KiB.
  for (const int size : {1, 896, 897, 8960, 307200}) {
    SCOPED_TRACE(size);
    const std::vector<Bytes> expected = ExpectedStream(MakeImage(size, size));
    const int blocks = int(expected.size()) - 1;
    StartTransfer(MakeImage(size, size));
    ASSERT_EQ(SentBytes(), std::vector<Bytes>{expected.front()});
    EXPECT_FALSE(Button("IDC_SEND")->isEnabled());
    EXPECT_TRUE(Progress()->isHidden());
    FromDevice(NextNote);  // before the ready note: nothing
    FromDevice(ReadyNote);
    FromDevice(ReadyNote);  // again: nothing
    EXPECT_TRUE(Status()->isHidden() && Progress()->isVisible());
    EXPECT_EQ(Progress()->text(), QStringLiteral("0%"));
    EXPECT_EQ(midi_.sent().size(), 1u) << "no block goes out on the ready note";
    for (int block = 1; block <= blocks; ++block) {
      FromDevice(NextNote);
      ASSERT_EQ(midi_.sent().size(), std::size_t(block) + 1);
      // The share as the bar computes it: a quotient, then truncated.
      EXPECT_EQ(Progress()->text(), QStringLiteral("%1%").arg(int(double(block) / blocks * 100)));
      EXPECT_EQ(Button("IDC_SEND")->isEnabled(), block == blocks);
    }
    EXPECT_EQ(SentBytes(), expected);
    EXPECT_FALSE(midi_.inputOpen()) << "the input port closes after the last block";
    EXPECT_EQ(boxes_.shown().size(), 1u) << "only the confirmation";
    const QString blocksSent =
        blocks == 1 ? QStringLiteral("1 block") : QStringLiteral("%1 blocks").arg(blocks);
    EXPECT_TRUE(QRegularExpression(
                    QStringLiteral("^Transfer complete: %1 in \\d+\\.\\d s\\.$").arg(blocksSent))
                    .match(Find<QLabel>("IDC_HINT")->toolTip())
                    .hasMatch())
        << Find<QLabel>("IDC_HINT")->toolTip().toStdString();
  }
}

// What the MIDI layer has to say once the ports are closed (a USB device to replug) is told
// after the transfer, once, while nothing is open any more.
TEST_F(TransferTest, ANoticeFromClosingThePortsIsToldOnceAfterTheTransfer) {
  midi_.NoticeOnClose("unplug it and plug it in again");
  bool portsOpenDuringBox = true;
  boxes_.WhileOpen(
      [&](const ScriptedMessageBoxes::Shown&) { portsOpenDuringBox = midi_.inputOpen(); });
  StartTransfer(MakeImage(1));
  for (int transfer = 0; transfer < 2; ++transfer) {
    if (transfer > 0) {
      PressSend();
    }
    FromDevice(ReadyNote);
    FromDevice(NextNote);
    ASSERT_TRUE(Button("IDC_SEND")->isEnabled());
  }
  ASSERT_EQ(boxes_.shown().size(), 3u) << "confirmation, notice, confirmation";
  EXPECT_EQ(Shown(1), QStringLiteral("unplug it and plug it in again"));
  EXPECT_EQ(boxes_.shown()[1].caption, QStringLiteral("Movrin Update"));
  EXPECT_FALSE(portsOpenDuringBox);
}

// A failed send ends the transfer where everyone can see it, and the user may retry.
TEST_F(TransferTest, AFailedSendStopsTheTransferVisiblyAndSendIsOfferedAgain) {
  const std::vector<Bytes> expected = ExpectedStream(MakeImage(5000));  // 6 blocks
  WriteImage("image.bin", MakeImage(5000));
  Open();
  Select(QStringLiteral("image.bin"));
  midi_.FailSends(MidiError::SendFailed, 1, 3);  // the third block
  // Replies that arrive while the error box is open find the transfer stopped.
  boxes_.WhileOpen([this](const ScriptedMessageBoxes::Shown& shown) {
    if (shown.text == QStringLiteral("Send the longMSG is err!")) {
      for (const std::uint32_t note : {ReadyNote, NextNote, NextNote}) {
        midi_.Deliver(note);
      }
      HandlePosted();
    }
  });
  PressSend();
  RunHandshake(3);
  ASSERT_EQ(boxes_.shown().size(), 2u);
  EXPECT_EQ(Shown(1), QStringLiteral("Send the longMSG is err!"));
  EXPECT_EQ(SentBytes(), std::vector<Bytes>(expected.begin(), expected.begin() + 3))
      << "no block after the failure, none twice";
  EXPECT_FALSE(midi_.inputOpen());
  EXPECT_TRUE(Progress()->isHidden());
  EXPECT_EQ(Status()->text(),
            QStringLiteral("Transfer failed after 2 of 6 blocks; press Send to retry."));
  EXPECT_TRUE(Status()->isVisible());
  EXPECT_LE(Status()->fontMetrics().horizontalAdvance(Status()->text()), Status()->width());
  EXPECT_TRUE(Button("IDC_SEND")->isEnabled());

  boxes_.WhileOpen({});  // the retry is a whole transfer from the start
  midi_.ClearSent();
  PressSend();
  EXPECT_EQ(Status()->text(), QStringLiteral("Enter the 'Send' button, the file will be send!"));
  RunHandshake(expected.size() - 1);
  EXPECT_EQ(SentBytes(), expected);
}

// A port that went away in mid-transfer is named with where the transfer stopped, and the
// choices are the user's again. A MIDI system that failed the send is named, also when it told
// of its trouble only while the failure box was open.
TEST_F(TransferTest, WhatWentAwayIsNamedAndTheChoicesComeBack) {
  WriteImage("image.bin", MakeImage(5000));  // 6 blocks
  Open();
  Select(QStringLiteral("image.bin"));
  midi_.FailSends(MidiError::NoSuchPort, 1, 3);
  PressSend();
  RunHandshake(3);
  auto* hint = Find<QLabel>("IDC_HINT");
  EXPECT_TRUE(hint->isVisible());
  EXPECT_EQ(hint->text(),
            QStringLiteral("Synth A went away after block 2 of 6: reconnect the device."));
  for (const char* id : {"IDC_MIDI_OUT", "IDC_MIDI_IN", "IDC_REFRESH", "IDC_SEND"}) {
    EXPECT_TRUE(Find<QWidget>(id)->isEnabled()) << id;
  }

  midi_.FailSends(MidiError::Unavailable, 1, 3);
  boxes_.WhileOpen([this](const ScriptedMessageBoxes::Shown& shown) {
    if (shown.text == QStringLiteral("There are no MIDI output devices!")) {
      backend_.trouble = "the JACK server \"default\" went away";
    }
  });
  PressSend();
  RunHandshake(3);
  EXPECT_FALSE(backend_.trouble.empty()) << "no failure box";
  EXPECT_TRUE(hint->isVisible());
  EXPECT_EQ(hint->toolTip(), QStringLiteral("The JACK server \"default\" went away."));
}

// After 5 s without a note that counts the window says so, and does nothing else.
TEST_F(TransferTest, ASilentDeviceIsNamedWhileTheTransferWaits) {
  const QString hint = QStringLiteral(
      "No answer from the device on Keys In yet. Check that Midi Out reaches the device and Midi "
      "In is the port it answers on.");
  const QString lost = QStringLiteral(
      " The MIDI system fell behind 3 time(s) since the announce: MIDI may have "
      "been lost.");
  backend_.xruns = 2;
  WriteImage("other.bin", MakeImage(10));
  StartTransfer(MakeImage(2000));  // 3 blocks
  auto* silence = Find<QTimer>("IDT_SILENCE");
  auto* line = Find<QLabel>("IDC_HINT");
  ASSERT_TRUE(silence->isActive());
  EXPECT_EQ(silence->interval(), 5000);
  silence->setInterval(0);  // the 5 s pass at once
  // Before the ready note, on the status line, short and whole, and all of it in the tooltip;
  // xruns from before the announce do not count.
  ASSERT_TRUE(QTest::qWaitFor([&] { return Status()->toolTip() == hint; }));
  EXPECT_TRUE(Status()->isVisible());
  EXPECT_EQ(Status()->text(),
            QStringLiteral("No answer on Keys In yet: check Midi Out and Midi In."));
  // Between blocks, on a line of its own that leaves the bar alone, with the xruns since.
  RunHandshake(1);
  EXPECT_TRUE(line->isHidden()) << "a note clears it";
  backend_.xruns = 5;
  ASSERT_TRUE(QTest::qWaitFor([&] { return line->isVisible(); }));
  EXPECT_EQ(line->toolTip(), hint + lost);
  EXPECT_FALSE(line->geometry().intersects(Progress()->geometry()));
  EXPECT_TRUE(Progress()->isVisible());
  EXPECT_EQ(midi_.sent().size(), 2u) << "nothing else is sent";
  Select(QStringLiteral("other.bin"));
  EXPECT_FALSE(Button("IDC_SEND")->isEnabled()) << "a new choice starts no second transfer";
  FromDevice(NextNote);
  EXPECT_TRUE(line->isHidden());
  FromDevice(NextNote);
  EXPECT_EQ(SentBytes(), ExpectedStream(MakeImage(2000)));
  EXPECT_FALSE(silence->isActive()) << "no hint after the transfer";
  // The next transfer: the last one's bar stays until the ready note, and the hint keeps off it.
  PressSend();
  ASSERT_TRUE(QTest::qWaitFor([&] { return line->toolTip() == hint; }));
  EXPECT_TRUE(line->isVisible() && Status()->isHidden() && Progress()->isVisible());
}

// Escape, the close box and Enter outside a push button close the window; during a transfer
// they first ask, with No as the default, and the transfer goes on while the question is open.
TEST_F(TransferTest, ClosingDuringATransferAsksFirst) {
  const auto key = [](Qt::Key k) {
    return [k](CUpdaterDlg&, QWidget* w) { QTest::keyClick(w, k); };
  };
  const std::pair<std::function<void(CUpdaterDlg&, QWidget*)>, int> ways[] = {
      {key(Qt::Key_Escape), QDialog::Rejected},
      {[](CUpdaterDlg& dlg, QWidget*) { dlg.close(); }, QDialog::Rejected},
      {key(Qt::Key_Return), QDialog::Accepted}};
  for (const auto& [close, result] : ways) {
    SCOPED_TRACE(result);
    boxes_.WhileOpen({});
    StartTransfer(MakeImage(4000));  // 5 blocks
    RunHandshake(1);
    boxes_.WhileOpen([this](const ScriptedMessageBoxes::Shown&) {
      midi_.Deliver(NextNote);
      HandlePosted();
    });
    boxes_.Answer(kResultNo);
    close(*dlg_, FileList());
    ASSERT_EQ(boxes_.shown().size(), 2u);
    EXPECT_TRUE(Shown(1).contains(QLatin1String("transfer")));
    EXPECT_TRUE(boxes_.shown()[1].caption.isNull());
    EXPECT_EQ(boxes_.shown()[1].style,
              kMessageBoxYesNo | kMessageBoxIconWarning | kMessageBoxDefaultButton2);
    EXPECT_TRUE(dlg_->isVisible());
    FromDevice(NextNote);
    EXPECT_EQ(midi_.sent().size(), 4u) << "a block while the question was open, one after";

    boxes_.WhileOpen({});
    boxes_.Answer(kResultYes);
    close(*dlg_, FileList());
    EXPECT_FALSE(dlg_->isVisible());
    EXPECT_EQ(dlg_->result(), result);
    EXPECT_FALSE(midi_.inputOpen());
  }
}

// Outside a transfer Escape and Enter close at once; Enter on a push button presses it.
TEST_F(TransferTest, ClosingOutsideATransferDoesNotAskAndEnterPressesAFocusedButton) {
  for (const auto& [key, result] :
       {std::pair{Qt::Key_Escape, QDialog::Rejected}, {Qt::Key_Enter, QDialog::Accepted}}) {
    StartTransfer(MakeImage(10));
    RunHandshake(1);  // a completed transfer
    QTest::keyClick(DeviceList("IDC_MIDI_IN"), key);
    EXPECT_EQ(boxes_.shown().size(), 1u) << "only the confirmation";
    EXPECT_EQ(dlg_->isVisible() ? -1 : dlg_->result(), result);
  }
  Open();
  Activate();
  Button("IDC_REFRESH")->setFocus();
  midi_.SetOutputs({{"Synth C"}});
  QTest::keyClick(Button("IDC_REFRESH"), Qt::Key_Return);
  EXPECT_TRUE(dlg_->isVisible());
  EXPECT_EQ(DeviceList("IDC_MIDI_OUT")->itemText(1), QStringLiteral("Synth C"));
}

}  // namespace
}  // namespace movrin::test
