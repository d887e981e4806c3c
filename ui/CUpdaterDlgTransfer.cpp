// The window's side of the handshake: Send starts a transfer, the device's notes pace it. What
// happens next (which note counts, which block goes, when the transfer ends) is
// movrin::TransferDriver's; the window feeds it events and carries out its actions.

#include <QComboBox>
#include <QLabel>
#include <QPushButton>
#include <QThread>
#include <QTimer>
#include <algorithm>

#include "CLabelledProgressCtrl.h"
#include "CUpdaterDlg.h"
#include "Strings.h"

namespace {

namespace text = movrin::text;
using text::Utf8;

// The device needs a moment after a completed transfer before it listens for the next one.
constexpr unsigned long kPauseAfterTransferMs = 100;

int ToInt(std::int64_t value) {
  return static_cast<int>(value);
}

// `sentence` with the port's name for its one placeholder, the name elided in its middle as far
// as the line needs: the rest of the sentence is the advice, and stays whole.
QString FitPort(const QLabel* line, const QString& sentence, const QString& port) {
  const QFontMetrics metrics = line->fontMetrics();
  const int room = line->width() - metrics.horizontalAdvance(sentence.arg(QString()));
  return sentence.arg(metrics.elidedText(port, Qt::ElideMiddle, std::max(room, 0)));
}

}  // namespace

void CUpdaterDlg::OnSend() {
  // Send is disabled while a transfer runs; a click queued before that must not start another.
  if (m_driver.running()) {
    return;
  }
  if (!LoadSelectedImage()) {
    return;
  }
  if (m_bCompleted) {
    // Blocking on purpose: nothing may run in between, and no reply is expected yet (the input
    // port is closed); an event loop here would let a second click into OnSend.
    QThread::msleep(kPauseAfterTransferMs);
  }
  if (OpenMidiIn(m_nMidiIn) != 1) {
    return;
  }
  ClearSilenceHint();  // the last transfer's news
  m_transferClock.start();
  m_btnSend->setEnabled(false);
  // The ports stay those of this moment until the transfer ends.
  m_sendPort = OutputPort(m_nMidiOut);
  LockPortChoice(true);
  // After a stopped transfer the status line still tells of it; this one is a fresh start.
  m_status->setText(Utf8(text::kStatusPrompt));
  // LoadSelectedImage refuses what the driver would; an invalid image only stops visibly.
  Step(m_driver.Begin(m_pImage));
}

movrin::MidiError CUpdaterDlg::SendAnnounce(std::span<const std::uint8_t> announce) {
  return SendSysEx(announce);
}

movrin::MidiError CUpdaterDlg::SendBlock(std::span<const std::uint8_t> block) {
  return SendSysEx(block);
}

long CUpdaterDlg::OnMidiInData(quintptr /*wParam*/, std::uint32_t lParam) {
  Step(m_driver.OnShortMessage(lParam));
  return 0;
}

// One loop for every send, as the command-line sender's: the driver hears the outcome before a
// failure box opens, and the device's replies held while the message was under way are taken
// right after it, in the order they came. A box's own loop finds the transfer already ended.
void CUpdaterDlg::Step(movrin::TransferDriver::Action action) {
  using Kind = movrin::TransferDriver::Action::Kind;
  while (action.kind != Kind::None) {
    Act(action);
    if (action.Sends()) {
      const bool announce = action.kind == Kind::SendAnnounce;
      const QString port = m_sendPort ? QString::fromStdString(m_sendPort->name) : QString();
      const movrin::MidiError error =
          announce ? SendAnnounce(action.message) : SendBlock(action.message);
      Act(m_driver.OnSent(error == movrin::MidiError::None));
      const bool systemMayBeAtFault =
          error != movrin::MidiError::None && error != movrin::MidiError::NoSuchPort;
      if (error == movrin::MidiError::NoSuchPort) {
        const QString sentence =
            Utf8(text::kPortWentAway).arg(m_driver.blocksSent()).arg(m_driver.blockCount());
        ShowLine(m_hint, FitPort(m_hint, sentence, port), sentence.arg(port));
      } else if (systemMayBeAtFault) {
        ShowSystemTrouble();
      }
      ShowSendFailure(error, Utf8(announce ? text::kAnnounceCaption : text::kBlockCaption));
      // A killed server's end can reach us after the send that it failed: by the time the box
      // is answered it has, and the line names the server. A line already shown stays.
      if (systemMayBeAtFault && !m_midi.SystemTrouble().empty()) {
        ShowSystemTrouble();
      }
    }
    action = m_driver.TakeHeld();
  }
}

// What the driver decided, shown; nothing here decides what comes next.
void CUpdaterDlg::Act(const movrin::TransferDriver::Action& action) {
  using Kind = movrin::TransferDriver::Action::Kind;
  switch (action.kind) {
    case Kind::SendAnnounce:
      break;
    case Kind::SendBlock:
      ClearSilenceHint();  // the device spoke
      break;
    case Kind::Announced:
      m_nXrunsAtAnnounce = m_midi.XrunCount();
      break;
    case Kind::Started:
      ClearSilenceHint();
      m_status->hide();
      m_progress->show();
      m_progress->SetRange(0, ToInt(action.blockCount));
      m_progress->SetPos(0);
      break;
    case Kind::BlockSent:
      m_progress->SetPos(ToInt(action.blocksSent));
      break;
    case Kind::Completed:
      m_progress->SetPos(ToInt(action.blockCount));
      CloseMidiIn();
      m_bCompleted = true;
      m_btnSend->setEnabled(true);
      TransferEnded();
      ShowLine(m_hint,
               Utf8(text::kTransferComplete)
                   .arg(action.blockCount == 1 ? Utf8(text::kOneBlock)
                                               : Utf8(text::kBlocks).arg(ToInt(action.blockCount)))
                   .arg(double(m_transferClock.elapsed()) / 1000.0, 0, 'f', 1));
      break;
    case Kind::InvalidImage:
    case Kind::AnnounceFailed:
    case Kind::BlockFailed:
    case Kind::TimedOut:
      ShowTransferStopped();
      break;
    case Kind::None:
    case Kind::Aborted:
      break;
  }
  // The silence hint counts from the moments the driver starts waiting for the device.
  if (action.waitRestarted) {
    m_silence->start();
  }
}

// A transfer that stopped on a failed send says so where the progress was, and Send is offered
// again so the user can retry once the port is sorted out.
void CUpdaterDlg::ShowTransferStopped() {
  CloseMidiIn();
  TransferEnded();
  m_progress->hide();
  m_status->setText(
      Utf8(text::kTransferStopped).arg(m_driver.blocksSent()).arg(m_driver.blockCount()));
  m_status->show();
  m_btnSend->setEnabled(true);
}

void CUpdaterDlg::TransferEnded() {
  m_silence->stop();
  ClearSilenceHint();
  m_sendPort.reset();
  LockPortChoice(false);
  ShowMidiNotices();
}

// What the MIDI layer learnt once the ports closed (a USB device the kernel did not take back
// and that needs replugging): told after the transfer's own outcome, one box each.
void CUpdaterDlg::ShowMidiNotices() {
  for (const std::string& notice : m_midi.TakeNotices()) {
    m_boxes.Show(this, QString::fromStdString(notice), Utf8(text::kWindowCaption),
                 movrin::kMessageBoxOkExclamation);
  }
}

// Refresh and a new list choice would move the rest of a transfer onto another port.
void CUpdaterDlg::LockPortChoice(bool locked) {
  for (const char* identifier : {"IDC_MIDI_OUT", "IDC_MIDI_IN"}) {
    DeviceList(identifier)->setEnabled(!locked);
  }
  findChild<QPushButton*>(QStringLiteral("IDC_REFRESH"))->setEnabled(!locked);
}

// Says so and nothing more: nothing stops, nothing is sent, the next note clears it.
void CUpdaterDlg::OnSilentDevice() {
  QString hint = Utf8(text::kSilentDevice).arg(m_strInPort);
  const std::uint64_t xruns = m_midi.XrunCount();
  if (xruns > m_nXrunsAtAnnounce) {
    hint += QLatin1Char(' ') + Utf8(text::kXrunsSinceAnnounce).arg(xruns - m_nXrunsAtAnnounce);
  }
  // The status line is free until the bar shows (the last transfer's bar stays until the ready
  // note of the next one).
  QLabel* line = m_progress->isVisible() ? m_hint : m_status;
  ShowLine(line, FitPort(line, Utf8(text::kSilentDeviceShort), m_strInPort), hint);
}

void CUpdaterDlg::ShowLine(QLabel* line, const QString& text, const QString& detail) {
  line->setToolTip(detail.isEmpty() ? text : detail);
  // Only a text from outside (a server's name) can be too long for its line.
  line->setText(line->fontMetrics().elidedText(text, Qt::ElideRight, line->width()));
  line->show();
}

void CUpdaterDlg::ClearSilenceHint() {
  m_hint->hide();
  m_hint->clear();
  m_hint->setToolTip(QString());
  if (!m_status->toolTip().isEmpty()) {
    m_status->setToolTip(QString());
    m_status->setText(Utf8(text::kStatusPrompt));
  }
}
