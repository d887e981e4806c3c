// Whole transfers driven by the device's notes, and how the window stops, fails and closes.

#include <QApplication>
#include <QDeadlineTimer>
#include <QTest>
#include <QTimer>
#include <string_view>

#include "Protocol.h"
#include "Strings.h"
#include "WindowFixture.h"

namespace movrin::test {
namespace {

using TransferTest = WindowTest;

// What the bar shows for `sent` of `count` blocks: the share, truncated.
QString Percent(std::size_t sent, std::size_t count) {
  const double share = static_cast<double>(sent) / static_cast<double>(count);
  return QStringLiteral("%1%").arg(static_cast<int>(share * 100.0));
}

struct Size {
  std::size_t image;
  std::size_t blocks;
};

// 896 bytes pack into exactly one block, 897 into one byte more; the last is ~300 KiB.
constexpr Size kSizes[] = {{1, 1}, {896, 1}, {897, 2}, {8960, 10}, {307200, 343}};

TEST_F(TransferTest, SendsTheExportedStreamPacedByTheDevice) {
  for (const Size size : kSizes) {
    SCOPED_TRACE(size.image);
    const Bytes image = MakeImage(size.image, static_cast<std::uint32_t>(size.image));
    WriteImage("image.bin", image);
    midi_.ClearSent();
    boxes_.Clear();
    Open();
    Select(QStringLiteral("image.bin"));
    PressSend();

    // Announced, and waiting for the device.
    const std::vector<Bytes> expected = ExpectedStream(image);
    ASSERT_EQ(expected.size(), size.blocks + 1);
    ASSERT_EQ(SentBytes(), std::vector<Bytes>(expected.begin(), expected.begin() + 1));
    EXPECT_TRUE(midi_.inputOpen());
    EXPECT_FALSE(Button("IDC_SEND")->isEnabled());
    EXPECT_FALSE(Status()->isHidden());
    EXPECT_TRUE(Progress()->isHidden());

    FromDevice(ReadyNote);
    EXPECT_TRUE(Status()->isHidden());
    EXPECT_FALSE(Progress()->isHidden());
    EXPECT_EQ(Progress()->text(), QStringLiteral("0%"));
    EXPECT_EQ(midi_.sent().size(), 1u) << "no block goes out on the ready note";

    for (std::size_t block = 1; block <= size.blocks; ++block) {
      FromDevice(NextNote);
      ASSERT_EQ(midi_.sent().size(), block + 1);
      EXPECT_EQ(Progress()->text(), Percent(block, size.blocks));
      EXPECT_EQ(Button("IDC_SEND")->isEnabled(), block == size.blocks);
    }
    EXPECT_EQ(SentBytes(), expected);
    EXPECT_FALSE(midi_.inputOpen()) << "the input port closes after the last block";
    EXPECT_EQ(boxes_.shown().size(), 1u) << "only the confirmation";
  }
}

TEST_F(TransferTest, RepliesPostedFromTheMidiThreadDriveTheTransfer) {
  const Bytes image = MakeImage(5000);
  WriteImage("image.bin", image);
  Open();
  Select(QStringLiteral("image.bin"));
  PressSend();
  FromDeviceOnOtherThread(ReadyNote);
  while (midi_.inputOpen()) {
    ASSERT_LT(midi_.sent().size(), ExpectedStream(image).size());
    FromDeviceOnOtherThread(NextNote);
  }
  EXPECT_EQ(SentBytes(), ExpectedStream(image));
}

// Only the exact notes count, each in its phase.
TEST_F(TransferTest, OtherMessagesAndNotesOutOfTurnChangeNothing) {
  const Bytes image = MakeImage(2000);  // 3 blocks
  WriteImage("image.bin", image);
  Open();
  Select(QStringLiteral("image.bin"));
  PressSend();

  FromDevice(NextNote);  // before the ready note
  EXPECT_EQ(midi_.sent().size(), 1u);
  EXPECT_TRUE(Progress()->isHidden());
  for (const std::uint32_t other :
       {ShortMessage(0x91, 0x3C, 0x11), ShortMessage(0x90, 0x3D, 0x11),
        ShortMessage(0x90, 0x3C, 0x12), ShortMessage(0x80, 0x3C, 0x11), ReadyNote | 0x01000000u}) {
    FromDevice(other);
  }
  EXPECT_TRUE(Progress()->isHidden());

  FromDevice(ReadyNote);
  FromDevice(NextNote);
  FromDevice(ReadyNote);  // a second ready note during sending
  FromDevice(ShortMessage(0x91, 0x3C, 0x33));
  EXPECT_EQ(midi_.sent().size(), 2u);
  FromDevice(NextNote);
  FromDevice(NextNote);
  EXPECT_EQ(SentBytes(), ExpectedStream(image));
}

TEST_F(TransferTest, SendAgainAfterACompletedTransferStartsAFreshOne) {
  const Bytes first = MakeImage(3000, 1);
  const Bytes second = MakeImage(900, 2);
  WriteImage("first.bin", first);
  WriteImage("second.bin", second);
  Open();
  Select(QStringLiteral("first.bin"));
  PressSend();
  RunHandshake(ExpectedStream(first).size() - 1);
  ASSERT_FALSE(midi_.inputOpen());

  midi_.ClearSent();
  Select(QStringLiteral("second.bin"));
  PressSend();
  EXPECT_EQ(midi_.inputsOpened(), 2u);
  EXPECT_EQ(Progress()->text(), QStringLiteral("100%")) << "the old transfer until the ready note";
  RunHandshake(ExpectedStream(second).size() - 1);
  EXPECT_EQ(SentBytes(), ExpectedStream(second));
}

// A new choice of file must not start a second transfer over the running one.
TEST_F(TransferTest, SendStaysDisabledForTheWholeTransfer) {
  const Bytes image = MakeImage(2000);  // 3 blocks
  WriteImage("a.bin", image);
  WriteImage("b.bin", MakeImage(10));
  Open();
  Select(QStringLiteral("a.bin"));
  PressSend();
  Select(QStringLiteral("b.bin"));
  EXPECT_FALSE(Button("IDC_SEND")->isEnabled()) << "waiting for the ready note";
  FromDevice(ReadyNote);
  FromDevice(NextNote);
  Select(QStringLiteral("a.bin"));
  EXPECT_FALSE(Button("IDC_SEND")->isEnabled()) << "sending";
  PressSend();
  EXPECT_EQ(midi_.inputsOpened(), 1u);
  FromDevice(NextNote);
  FromDevice(NextNote);
  EXPECT_EQ(SentBytes(), ExpectedStream(image));
  EXPECT_TRUE(Button("IDC_SEND")->isEnabled());
}

// A failed send ends the transfer where everyone can see it, and the user may retry.
TEST_F(TransferTest, AFailedSendStopsTheTransferVisiblyAndSendIsOfferedAgain) {
  const Bytes image = MakeImage(5000);  // 6 blocks
  const std::vector<Bytes> expected = ExpectedStream(image);
  struct Row {
    std::size_t failingMessage;  // 0 is the announce
    const char* status;
  };
  for (const Row row : {Row{0, "after 0 of 6 blocks"}, Row{3, "after 2 of 6 blocks"}}) {
    SCOPED_TRACE(row.failingMessage);
    WriteImage("image.bin", image);
    midi_.ClearSent();
    boxes_.Clear();
    Open();
    Select(QStringLiteral("image.bin"));
    midi_.FailSends(MidiError::SendFailed, 1, row.failingMessage);
    // Replies that arrive while the error box is open find the transfer stopped.
    boxes_.WhileOpen([this](const ScriptedMessageBoxes::Shown& shown) {
      if (shown.text == QString::fromUtf8(text::kLongMessageFailed)) {
        for (const std::uint32_t note : {ReadyNote, NextNote, NextNote}) {
          midi_.Deliver(note);
        }
        HandlePosted();
      }
    });
    PressSend();
    if (row.failingMessage > 0) {
      FromDevice(ReadyNote);
      for (std::size_t i = 0; i < row.failingMessage; ++i) {
        FromDevice(NextNote);
      }
    }
    ASSERT_EQ(boxes_.shown().size(), 2u);
    EXPECT_EQ(boxes_.shown()[1].text, QStringLiteral("Send the longMSG is err!"));
    EXPECT_EQ(SentBytes(),
              std::vector<Bytes>(expected.begin(), expected.begin() + row.failingMessage))
        << "no block after the failure, none twice";
    EXPECT_FALSE(midi_.inputOpen());
    EXPECT_TRUE(Progress()->isHidden());
    EXPECT_FALSE(Status()->isHidden());
    EXPECT_TRUE(Status()->text().contains(QLatin1String(row.status)))
        << Status()->text().toStdString();
    EXPECT_LE(Status()->fontMetrics().horizontalAdvance(Status()->text()), Status()->width())
        << "the whole sentence fits the status line";
    EXPECT_TRUE(Button("IDC_SEND")->isEnabled());

    // The retry is a whole transfer from the start.
    boxes_.WhileOpen({});
    midi_.ClearSent();
    PressSend();
    EXPECT_EQ(Status()->text(), QStringLiteral("Enter the 'Send' button, the file will be send!"));
    RunHandshake(expected.size() - 1);
    EXPECT_EQ(SentBytes(), expected);
    EXPECT_TRUE(Status()->isHidden());
  }
}

// Escape, the close box and Enter outside a push button close the window; during a transfer
// they first ask, and the transfer goes on while the question is open.
TEST_F(TransferTest, ClosingDuringATransferAsksFirst) {
  struct Row {
    const char* how;
    std::function<void(CUpdaterDlg&, QListWidget*)> close;
    int result;
  };
  const Row rows[] = {
      {"Escape", [](CUpdaterDlg&, QListWidget* list) { QTest::keyClick(list, Qt::Key_Escape); },
       QDialog::Rejected},
      {"close box", [](CUpdaterDlg& dlg, QListWidget*) { dlg.close(); }, QDialog::Rejected},
      {"Enter", [](CUpdaterDlg&, QListWidget* list) { QTest::keyClick(list, Qt::Key_Return); },
       QDialog::Accepted},
  };
  const Bytes image = MakeImage(4000);  // 5 blocks
  for (const Row& row : rows) {
    SCOPED_TRACE(row.how);
    WriteImage("image.bin", image);
    midi_.ClearSent();
    boxes_.Clear();
    boxes_.WhileOpen({});
    Open();
    Select(QStringLiteral("image.bin"));
    PressSend();
    FromDevice(ReadyNote);
    FromDevice(NextNote);

    // No: the window stays and the transfer goes on, also while the question was open.
    boxes_.WhileOpen([this](const ScriptedMessageBoxes::Shown&) {
      midi_.Deliver(NextNote);
      HandlePosted();
    });
    boxes_.Answer(kResultNo);
    row.close(*dlg_, FileList());
    ASSERT_EQ(boxes_.shown().size(), 2u);
    EXPECT_TRUE(boxes_.shown()[1].text.contains(QLatin1String("transfer")));
    EXPECT_TRUE(boxes_.shown()[1].caption.isNull());
    EXPECT_EQ(boxes_.shown()[1].style, kMessageBoxYesNo);
    EXPECT_TRUE(dlg_->isVisible());
    EXPECT_EQ(midi_.sent().size(), 3u);
    FromDevice(NextNote);
    EXPECT_EQ(midi_.sent().size(), 4u);

    // Yes: the window ends, the port closes, nothing more goes out.
    boxes_.WhileOpen({});
    boxes_.Answer(kResultYes);
    row.close(*dlg_, FileList());
    EXPECT_EQ(boxes_.shown().size(), 3u);
    EXPECT_FALSE(dlg_->isVisible());
    EXPECT_EQ(dlg_->result(), row.result);
    EXPECT_FALSE(midi_.inputOpen());
  }
}

TEST_F(TransferTest, ClosingOutsideATransferDoesNotAsk) {
  struct Row {
    const char* how;
    Qt::Key key;
    int result;
  };
  for (const Row row : {Row{"Escape", Qt::Key_Escape, QDialog::Rejected},
                        Row{"Enter", Qt::Key_Return, QDialog::Accepted},
                        Row{"keypad Enter", Qt::Key_Enter, QDialog::Accepted},
                        Row{"Enter in a device list", Qt::Key_Return, QDialog::Accepted}}) {
    SCOPED_TRACE(row.how);
    WriteImage("image.bin", MakeImage(10));
    boxes_.Clear();
    Open();
    Select(QStringLiteral("image.bin"));
    PressSend();
    RunHandshake(1);  // a completed transfer
    QWidget* target = FileList();
    if (std::string_view(row.how).ends_with("device list")) {
      target = DeviceList("IDC_MIDI_IN");
      target->setFocus();
    }
    QTest::keyClick(target, row.key);
    EXPECT_EQ(boxes_.shown().size(), 1u) << "only the confirmation";
    EXPECT_FALSE(dlg_->isVisible());
    EXPECT_EQ(dlg_->result(), row.result);
  }
}

TEST_F(TransferTest, EnterOnAPushButtonPressesItInsteadOfClosing) {
  WriteImage("image.bin", MakeImage(10));
  Open();
  dlg_->activateWindow();
  ASSERT_TRUE(QTest::qWaitForWindowActive(dlg_.get()));
  Button("IDC_REFRESH")->setFocus(Qt::TabFocusReason);
  midi_.SetOutputs({{"Synth C"}});
  QTest::keyClick(Button("IDC_REFRESH"), Qt::Key_Return);
  EXPECT_TRUE(dlg_->isVisible());
  EXPECT_EQ(DeviceList("IDC_MIDI_OUT")->itemText(1), QStringLiteral("Synth C"));
}

// The About box runs a nested loop of its own; the device's notes keep reaching the window.
TEST_F(TransferTest, TheTransferGoesOnWhileTheAboutBoxIsOpen) {
  const Bytes image = MakeImage(2000);  // 3 blocks
  const std::size_t expected = ExpectedStream(image).size();
  WriteImage("image.bin", image);
  Open();
  Select(QStringLiteral("image.bin"));
  PressSend();

  QWidget* box = nullptr;
  const QDeadlineTimer watchdog(10000);
  QTimer poll;
  QObject::connect(&poll, &QTimer::timeout, [&] {
    QWidget* modal = QApplication::activeModalWidget();
    if (box == nullptr && modal != nullptr && modal != dlg_.get()) {
      box = modal;
      for (const std::uint32_t note : {ReadyNote, NextNote, NextNote, NextNote}) {
        midi_.Deliver(note);
      }
    }
    // Closed once the blocks are out, or when the watchdog runs out, which then fails below.
    if (modal != nullptr && modal != dlg_.get() &&
        (midi_.sent().size() == expected || watchdog.hasExpired())) {
      modal->close();
    }
  });
  poll.start(0);
  Button("IDC_ABOUT")->click();
  poll.stop();

  EXPECT_NE(box, nullptr) << "the About box was not shown modally";
  EXPECT_EQ(SentBytes(), ExpectedStream(image));
  EXPECT_TRUE(Button("IDC_SEND")->isEnabled());
}

TEST_F(TransferTest, DestroyingTheWindowClosesTheInputPort) {
  WriteImage("image.bin", MakeImage(3000));
  Open();
  Select(QStringLiteral("image.bin"));
  PressSend();
  FromDevice(ReadyNote);
  ASSERT_TRUE(midi_.inputOpen());
  dlg_.reset();
  EXPECT_FALSE(midi_.inputOpen());
}

}  // namespace
}  // namespace movrin::test
