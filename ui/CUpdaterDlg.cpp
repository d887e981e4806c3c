// The window's make-up, its opening state, how it ends, and the small handlers.

#include "CUpdaterDlg.h"

#include <QAbstractItemView>
#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QContextMenuEvent>
#include <QGroupBox>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QScrollBar>
#include <QShortcut>
#include <QTimer>

#include "CLabelledProgressCtrl.h"
#include "DialogUnits.h"
#include "ImageListWidget.h"
#include "Strings.h"

namespace {

namespace text = movrin::text;
using text::Utf8;

constexpr char kStaticIdentifier[] = "IDC_STATIC";
// Win32's close question with No as its default button (MB_DEFBUTTON2) and a warning icon.
constexpr unsigned kAbandonStyle =
    movrin::kMessageBoxYesNo | movrin::kMessageBoxIconWarning | movrin::kMessageBoxDefaultButton2;

template <typename Widget>
Widget* Place(Widget* widget, const char* identifier, int x, int y, int w, int h) {
  widget->setObjectName(QString::fromLatin1(identifier));
  widget->setGeometry(DialogRect(widget->font(), x, y, w, h));
  return widget;
}

// A push button as the dialog manager makes it: Enter presses it only while it has the focus,
// and it never becomes the window's default.
QPushButton* MakeButton(QWidget* parent, const char* label, const char* identifier, int x, int y) {
  auto* button = new QPushButton(Utf8(label), parent);
  button->setAutoDefault(false);
  button->setDefault(false);
  return Place(button, identifier, x, y, 50, 14);
}

QComboBox* MakeDeviceList(QWidget* parent, const char* identifier, int x, int y) {
  auto* list = new QComboBox(parent);
  list->setEditable(true);
  list->setInsertPolicy(QComboBox::NoInsert);
  // Port names are long and start with what tells them apart: show their beginning, and the
  // whole name in the tooltip.
  QObject::connect(list, &QComboBox::currentIndexChanged, list, [list] {
    list->lineEdit()->setCursorPosition(0);
    list->setToolTip(list->currentText());
  });
  Place(list, identifier, x, y, 90, 30);
  // The template height includes the dropped list; closed, the box is one line high.
  list->resize(list->width(), list->sizeHint().height());
  return list;
}

QLabel* MakeLabel(QWidget* parent, const char* label, const char* identifier, int x, int y, int w,
                  int h) {
  auto* item = new QLabel(Utf8(label), parent);
  item->setAlignment(Qt::AlignLeft | Qt::AlignTop);
  return Place(item, identifier, x, y, w, h);
}

}  // namespace

// A window of the application's own (its own taskbar entry, no transient parent), not a dialog.
CUpdaterDlg::CUpdaterDlg(movrin::MidiBackend& midi, movrin::MessageBoxPresenter& boxes, Shell shell,
                         QWidget* pParent)
    : QDialog(pParent, Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                           Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint |
                           Qt::WindowCloseButtonHint),
      m_midi(midi),
      m_boxes(boxes),
      m_shell(std::move(shell)),
      m_hIcon(m_shell.icon) {
  CreateControls();
  // Runs here rather than at the first show: once, before the window appears, as the dialog
  // manager's initialisation does, so a box it shows comes before the window and a show after
  // minimising changes nothing.
  OnInitDialog();
}

CUpdaterDlg::~CUpdaterDlg() {
  // The port's handler posts to this object; after the port is gone it is never called again.
  CloseMidiIn();
}

void CUpdaterDlg::CreateControls() {
  setWindowTitle(Utf8(text::kWindowCaption));
  setFont(DialogFont());
  setFixedSize(DialogSize(font(), 286, 100));
  setSizeGripEnabled(false);

  m_fileList = Place(new ImageListWidget(this), "IDC_FILE_LIST", 120, 5, 100, 69);
  m_fileList->setSelectionMode(QAbstractItemView::SingleSelection);
  m_fileList->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
  m_fileList->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
  QScrollBar* scroll = m_fileList->verticalScrollBar();
  scroll->setEnabled(false);
  connect(scroll, &QScrollBar::rangeChanged, scroll,
          [scroll](int min, int max) { scroll->setEnabled(max > min); });
  connect(m_fileList, &QListWidget::itemSelectionChanged, this, &CUpdaterDlg::OnSelectImage);

  QComboBox* midiOut = MakeDeviceList(this, "IDC_MIDI_OUT", 16, 21);
  auto* group =
      Place(new QGroupBox(Utf8(text::kMidiDevices), this), kStaticIdentifier, 10, 1, 102, 74);
  // The frame is drawn around the lists, never over them.
  group->lower();
  QComboBox* midiIn = MakeDeviceList(this, "IDC_MIDI_IN", 16, 51);
  m_btnSend = MakeButton(this, text::kSend, "IDC_SEND", 229, 6);
  m_progress = Place(new CLabelledProgressCtrl(this), "IDC_PROGRESS", 10, 83, 260, 14);
  m_progress->SetBorder(true);
  m_progress->hide();
  QPushButton* about = MakeButton(this, text::kAbout, "IDC_ABOUT", 229, 61);
  MakeLabel(this, text::kMidiOut, kStaticIdentifier, 16, 11, 33, 8);
  MakeLabel(this, text::kMidiIn, kStaticIdentifier, 16, 41, 29, 8);
  QPushButton* refresh = MakeButton(this, text::kRefresh, "IDC_REFRESH", 229, 24);
  m_status = MakeLabel(this, text::kStatusTemplate, "IDC_STATUS", 8, 86, 251, 8);
  QPushButton* help = MakeButton(this, text::kHelp, "IDC_HELP", 229, 43);
  // The one free strip between the lists and the bar: it never covers either.
  m_hint = MakeLabel(this, "", "IDC_HINT", 8, 75, 262, 8);
  m_hint->hide();
  m_silence = new QTimer(this);
  m_silence->setObjectName(QStringLiteral("IDT_SILENCE"));
  m_silence->setSingleShot(true);
  m_silence->setInterval(kSilenceHintMs);
  connect(m_silence, &QTimer::timeout, this, &CUpdaterDlg::OnSilentDevice);

  setTabOrder(m_fileList, midiOut);
  setTabOrder(midiOut, midiIn);
  setTabOrder(midiIn, m_btnSend);
  setTabOrder(m_btnSend, about);
  setTabOrder(about, refresh);
  setTabOrder(refresh, help);

  connect(about, &QPushButton::clicked, this, &CUpdaterDlg::OnAbout);
  connect(m_btnSend, &QPushButton::clicked, this, &CUpdaterDlg::OnSend);
  connect(refresh, &QPushButton::clicked, this, &CUpdaterDlg::OnRefresh);
  connect(help, &QPushButton::clicked, this, &CUpdaterDlg::OnHelpButton);
  WatchDeviceList(midiOut, m_bOutChosen, &CUpdaterDlg::OnSelectMidiOut);
  WatchDeviceList(midiIn, m_bInChosen, &CUpdaterDlg::OnSelectMidiIn);
  m_fileList->installEventFilter(this);
  // Shift+F10 is the Menu key's twin: the same context menu for the control with the focus.
  connect(new QShortcut(QKeySequence(Qt::SHIFT | Qt::Key_F10), this), &QShortcut::activated, this,
          [this] {
            QWidget* target = focusWidget() != nullptr ? focusWidget() : this;
            const QPoint pos = target->rect().center();
            QContextMenuEvent menu(QContextMenuEvent::Keyboard, pos, target->mapToGlobal(pos));
            QApplication::sendEvent(target, &menu);
          });
}

bool CUpdaterDlg::eventFilter(QObject* watched, QEvent* e) {
  if (watched == m_fileList && e->type() == QEvent::KeyPress) {
    // The list opens with its first entry current but unselected; the first key that moves or
    // selects must select it, or a keyboard user could never choose a lone image.
    const auto* key = static_cast<QKeyEvent*>(e);
    if ((key->key() == Qt::Key_Down || key->key() == Qt::Key_Space) &&
        key->modifiers() == Qt::NoModifier && m_fileList->selectedItems().isEmpty() &&
        m_fileList->count() > 0) {
      m_fileList->setCurrentRow(0, QItemSelectionModel::ClearAndSelect);
      return true;
    }
  }
  DeviceListEvent(watched, e);
  return QDialog::eventFilter(watched, e);
}

// There is no system menu: the About item ends the window's own context menu.
void CUpdaterDlg::AddAboutItem() {
  setContextMenuPolicy(Qt::ActionsContextMenu);
  auto* separator = new QAction(this);
  separator->setSeparator(true);
  addAction(separator);
  auto* about = new QAction(Utf8(text::kAboutItem), this);
  about->setObjectName(QStringLiteral("IDM_ABOUT_ITEM"));
  connect(about, &QAction::triggered, this, &CUpdaterDlg::OnAbout);
  addAction(about);
}

void CUpdaterDlg::OnInitDialog() {
  AddAboutItem();
  setWindowIcon(m_hIcon);

  m_bCompleted = false;
  m_nMidiIn = 0;
  m_nMidiOut = -1;

  m_strFolder = Utf8(text::kDataFolder);
  m_strPattern = m_strFolder + Utf8(text::kImagePattern);
  FillImageList(m_strPattern);
  FillDeviceLists();

  m_progress->hide();
  m_status->setText(Utf8(text::kStatusPrompt));
  m_btnSend->setEnabled(false);
  m_fileList->setFocus(Qt::OtherFocusReason);
}

bool CUpdaterDlg::event(QEvent* e) {
  if (e->type() == MM_MIM_DATA) {
    const auto* data = static_cast<const CMidiInDataEvent*>(e);
    OnMidiInData(data->wParam(), data->message());
    return true;
  }
  return QDialog::event(e);
}

void CUpdaterDlg::keyPressEvent(QKeyEvent* e) {
  const bool enter = e->key() == Qt::Key_Return || e->key() == Qt::Key_Enter;
  const Qt::KeyboardModifiers modifiers = e->modifiers() & ~Qt::KeypadModifier;
  if (enter && modifiers == Qt::NoModifier) {
    // Enter presses the push button that has the focus; anywhere else it is the OK action.
    if (auto* button = qobject_cast<QPushButton*>(focusWidget())) {
      button->click();
    } else {
      accept();
    }
    return;
  }
  QDialog::keyPressEvent(e);
}

void CUpdaterDlg::done(int result) {
  if (m_driver.running()) {
    if (m_boxes.Show(this, Utf8(text::kAbandonQuestion), QString(), kAbandonStyle) !=
        movrin::kResultYes) {
      return;
    }
    // The transfer may have ended while the box was open; closing is what was asked either way.
    m_driver.Abort();
    TransferEnded();
  }
  CloseMidiIn();
  ShowMidiNotices();
  QDialog::done(result);
}

std::vector<std::string> CUpdaterDlg::ReleaseMidi() {
  if (m_driver.running()) {
    m_driver.Abort();
    m_silence->stop();
    m_sendPort.reset();
  }
  CloseMidiIn();
  return m_midi.TakeNotices();
}

void CUpdaterDlg::OnAbout() {
  if (m_shell.about) {
    m_shell.about(this);
  }
}

void CUpdaterDlg::OnHelpButton() {
  if (m_shell.help) {
    m_shell.help();
  }
}

void CUpdaterDlg::OnSelectImage() {
  // A new choice must not start a second transfer over the running one.
  if (!m_driver.running()) {
    m_btnSend->setEnabled(true);
  }
}
