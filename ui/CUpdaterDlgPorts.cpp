// The device lists and when a choice in them counts, the input port, and the one-shot output
// send.

#include <QAbstractItemView>
#include <QComboBox>
#include <QCoreApplication>
#include <QFocusEvent>
#include <QLabel>
#include <QLineEdit>
#include <QScreen>
#include <QStyle>
#include <QTimer>
#include <QVariant>
#include <algorithm>

#include "CUpdaterDlg.h"
#include "Strings.h"

namespace {

namespace text = movrin::text;
using text::Utf8;

constexpr char kMidiOutList[] = "IDC_MIDI_OUT";
constexpr char kMidiInList[] = "IDC_MIDI_IN";

// The first output entry stands for the system's default route, as the MIDI mapper did.
QString DefaultOutputLabel(const movrin::MidiPortInfo& port) {
  return Utf8(text::kDefaultOutput).arg(QString::fromStdString(port.name));
}

void AddPort(QComboBox* list, const QString& label, const movrin::MidiPortInfo& port) {
  list->addItem(label, QVariant::fromValue(port));
}

// The dropped list is as wide as its longest name, up to the screen: the box itself is narrow.
void WidenDroppedList(QComboBox* list) {
  const QFontMetrics metrics = list->view()->fontMetrics();
  int widest = 0;
  for (int entry = 0; entry < list->count(); ++entry) {
    widest = std::max(widest, metrics.horizontalAdvance(list->itemText(entry)));
  }
  const int frame = 2 * list->view()->frameWidth() + 4 * metrics.averageCharWidth() +
                    list->style()->pixelMetric(QStyle::PM_ScrollBarExtent);
  const int screen =
      list->screen() != nullptr ? list->screen()->availableGeometry().width() : widest + frame;
  list->view()->setMinimumWidth(std::min(widest + frame, screen));
}

std::optional<movrin::MidiPortInfo> PortAt(const QComboBox* list, int entry) {
  if (entry < 0 || entry >= list->count()) {
    return std::nullopt;
  }
  return list->itemData(entry).value<movrin::MidiPortInfo>();
}

}  // namespace

QComboBox* CUpdaterDlg::DeviceList(const char* identifier) const {
  return findChild<QComboBox*>(QLatin1String(identifier), Qt::FindDirectChildrenOnly);
}

void CUpdaterDlg::FillDeviceLists() {
  // Each entry keeps the port it was made from, so a port that cannot be listed never shifts
  // the later entries onto the wrong device. Emptying the lists stores their changes: the entries
  // to select are taken first.
  const int outEntry = m_nMidiOut + 1;
  const int inEntry = m_nMidiIn;
  QComboBox* out = DeviceList(kMidiOutList);
  out->clear();
  const movrin::MidiPortInfo route = m_midi.DefaultOutput();
  if (!route.name.empty()) {
    AddPort(out, DefaultOutputLabel(route), route);
  }
  for (const movrin::MidiPortInfo& port : m_midi.ListOutputs()) {
    AddPort(out, QString::fromStdString(port.name), port);
  }

  QComboBox* in = DeviceList(kMidiInList);
  in->clear();
  for (const movrin::MidiPortInfo& port : m_midi.ListInputs()) {
    AddPort(in, QString::fromStdString(port.name), port);
  }

  for (QComboBox* list : {out, in}) {
    WidenDroppedList(list);
  }
  out->setCurrentIndex(outEntry);
  in->setCurrentIndex(inEntry);
  m_nMidiOut = out->currentIndex() - 1;
  m_nMidiIn = in->currentIndex();
  ShowNoMidiSystem();
  ShowSystemTrouble();
}

// A server that stalled or went away after start-up: the lists may still show its ports, so
// the line says why they will not work; it goes once the lists are filled on a server that
// answers again.
void CUpdaterDlg::ShowSystemTrouble() {
  QString sentence = QString::fromStdString(m_midi.SystemTrouble());
  if (sentence.isEmpty()) {
    if (!m_strTrouble.isEmpty() && m_hint->toolTip() == m_strTrouble) {
      ClearSilenceHint();
    }
    m_strTrouble.clear();
    return;
  }
  sentence[0] = sentence[0].toUpper();
  m_strTrouble = sentence + QLatin1Char('.');
  ShowLine(m_hint, m_strTrouble);
}

// Said before Send, so the empty lists are not taken for a device that is off; with why a
// system that is there could not be used (a server that does not answer), as it was first told.
void CUpdaterDlg::ShowNoMidiSystem() {
  if (m_midi.HasSystem() || m_hint->isVisible()) {
    return;
  }
  const QString tried =
      Utf8(text::kNoMidiSystem).arg(QString::fromStdString(movrin::NoMidiSystemDetail()));
  // The line names a server that does not answer, the tooltip everything.
  QString line = tried;
  QString detail = tried;
  for (const std::string& reason : m_midi.TakeNotices()) {
    QString sentence = QString::fromStdString(reason);
    if (sentence.isEmpty()) {
      continue;
    }
    sentence[0] = sentence[0].toUpper();
    sentence += QLatin1Char('.');
    line = line == tried ? sentence : line;
    detail += QLatin1Char(' ') + sentence;
  }
  ShowLine(m_hint, line, detail);
}

std::optional<movrin::MidiPortInfo> CUpdaterDlg::OutputPort(int device) const {
  return PortAt(DeviceList(kMidiOutList), device + 1);
}

std::optional<movrin::MidiPortInfo> CUpdaterDlg::InputPort(int device) const {
  return PortAt(DeviceList(kMidiInList), device);
}

int CUpdaterDlg::OpenMidiIn(int index) {
  CloseMidiIn();
  const std::optional<movrin::MidiPortInfo> port = InputPort(index);
  movrin::OpenInputResult opened;
  if (port) {
    // Runs on the backend's thread: hand the message to the UI thread and touch nothing else.
    const auto wParam = static_cast<quintptr>(index);
    opened = m_midi.OpenInput(*port, [this, wParam](std::uint32_t message) {
      QCoreApplication::postEvent(this, new CMidiInDataEvent(wParam, message));
    });
  }
  if (!opened.port) {
    ShowSystemTrouble();
    m_boxes.Show(this, Utf8(text::kNoInputDevices), Utf8(text::kBlockCaption),
                 movrin::kMessageBoxOk);
    accept();
    return 2;
  }
  m_hMidiIn = std::move(opened.port);
  m_strInPort = QString::fromStdString(port->name);
  return 1;
}

void CUpdaterDlg::CloseMidiIn() {
  // Destroying the port stops it; its handler is not called again afterwards.
  m_hMidiIn.reset();
}

movrin::MidiError CUpdaterDlg::SendSysEx(std::span<const std::uint8_t> message) {
  // The port chosen at Send, never one the lists show later.
  return m_sendPort ? m_midi.SendSysEx(*m_sendPort, message) : movrin::MidiError::NoSuchPort;
}

void CUpdaterDlg::ShowSendFailure(movrin::MidiError error, const QString& caption) {
  switch (error) {
    case movrin::MidiError::None:
      break;
    case movrin::MidiError::Unavailable:
    case movrin::MidiError::NoSuchPort:
    case movrin::MidiError::NoPermission:
    case movrin::MidiError::OpenFailed:
      m_boxes.Show(this, Utf8(text::kNoOutputDevices), caption, movrin::kMessageBoxOk);
      break;
    case movrin::MidiError::SendFailed:
    case movrin::MidiError::DrainTimeout:
      m_boxes.Show(this, Utf8(text::kLongMessageFailed), QString(), movrin::kMessageBoxOk);
      break;
  }
}

// Without a selection-end-cancel notification the stored choice follows the list whenever the
// list loses the focus or its dropped list closes without a choice; a choice made in the dropped
// list is stored when the focus moves on. A change while the list is not in use (made by the
// program, or by the wheel over a list without the focus) is stored at once: it is left already.
void CUpdaterDlg::WatchDeviceList(QComboBox* list, bool& chosen, void (CUpdaterDlg::*store)()) {
  list->installEventFilter(this);
  list->view()->parentWidget()->installEventFilter(this);
  connect(list, &QComboBox::activated, this, [&chosen] { chosen = true; });
  connect(list, &QComboBox::currentIndexChanged, this, [this, list, store] {
    if (!list->hasFocus() && !list->view()->isVisible()) {
      (this->*store)();
    }
  });
}

// A device list's focus and dropped-list events: when a choice counts as made.
void CUpdaterDlg::DeviceListEvent(QObject* watched, QEvent* e) {
  struct Watched {
    QComboBox* list;
    bool* chosen;
    void (CUpdaterDlg::*store)();
  };
  const Watched lists[] = {
      {DeviceList("IDC_MIDI_OUT"), &m_bOutChosen, &CUpdaterDlg::OnSelectMidiOut},
      {DeviceList("IDC_MIDI_IN"), &m_bInChosen, &CUpdaterDlg::OnSelectMidiIn},
  };
  for (const Watched& w : lists) {
    if (w.list == nullptr) {
      continue;
    }
    if (watched == w.list && e->type() == QEvent::FocusOut &&
        static_cast<QFocusEvent*>(e)->reason() != Qt::PopupFocusReason) {
      w.list->lineEdit()->setCursorPosition(0);  // the name's beginning, as before the focus
      (this->*w.store)();
    } else if (watched == w.list->view()->parentWidget()) {
      if (e->type() == QEvent::Show) {
        *w.chosen = false;
      } else if (e->type() == QEvent::Hide) {
        // The dropped list hides before or after `activated`, depending on the style: decide
        // once both have happened.
        QTimer::singleShot(0, this, [this, w] {
          if (!*w.chosen) {
            (this->*w.store)();
          }
          *w.chosen = false;
        });
      }
    }
  }
}

void CUpdaterDlg::OnSelectMidiOut() {
  m_nMidiOut = DeviceList("IDC_MIDI_OUT")->currentIndex() - 1;
}

void CUpdaterDlg::OnSelectMidiIn() {
  m_nMidiIn = DeviceList("IDC_MIDI_IN")->currentIndex();
}

void CUpdaterDlg::OnRefresh() {
  m_nMidiOut = -1;
  m_nMidiIn = 0;
  FillDeviceLists();
}
