// Renders the pictures in docs/: the main window as it opens (window.png), its progress bar
// at 40 percent (progress-40.png), the window in the middle of a transfer
// (window-transfer.png), once the device has gone quiet there (window-waiting.png) and once the
// transfer is complete (window-complete.png); with an empty data folder and no MIDI system
// (window-first-run.png); and after the device's port went away (window-went-away.png). Run by
// scripts/render-screenshots on the offscreen platform; built with the tests, whose scripted
// message boxes it uses. Usage: render-screenshots OUTPUT_DIR

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTimer>
#include <cstdio>
#include <functional>
#include <span>
#include <string>
#include <vector>

#include "AppIcon.h"
#include "CLabelledProgressCtrl.h"
#include "CUpdaterDlg.h"
#include "InMemoryMidiBackend.h"
#include "Protocol.h"
#include "ScriptedMessageBoxes.h"

namespace {

bool Save(const QPixmap& picture, const QDir& out, const char* name) {
  const QString file = out.filePath(QString::fromLatin1(name));
  if (!picture.save(file)) {
    std::fprintf(stderr, "cannot write %s\n", qPrintable(file));
    return false;
  }
  return true;
}

// A data folder with a few images, so the file list shows what a user would see.
bool MakeDataFolder(const QTemporaryDir& dir) {
  const QDir root(dir.path());
  if (!root.mkpath(QStringLiteral("Movrin Update/bin"))) {
    return false;
  }
  for (const char* name : {"synth-v1.02.bin", "synth-v1.03.bin", "Pedalboard.bin"}) {
    QFile file(root.filePath(QStringLiteral("Movrin Update/bin/") + QString::fromLatin1(name)));
    if (!file.open(QIODevice::WriteOnly) || file.write(QByteArray(4096, '\x5a')) != 4096) {
      return false;
    }
  }
  return QDir::setCurrent(dir.path());
}

// What the window gets when no MIDI system answered.
class NoMidiSystem final : public movrin::MidiBackend {
 public:
  std::string ApiName() const override { return "none"; }
  bool HasSystem() const override { return false; }
  std::vector<movrin::MidiPortInfo> ListOutputs() override { return {}; }
  std::vector<movrin::MidiPortInfo> ListInputs() override { return {}; }
  movrin::OpenInputResult OpenInput(const movrin::MidiPortInfo&,
                                    movrin::ShortMessageHandler) override {
    return {nullptr, movrin::MidiError::Unavailable};
  }
  movrin::OpenInputResult OpenVirtualInput(const std::string&, movrin::RawMessageHandler) override {
    return {nullptr, movrin::MidiError::Unavailable};
  }
  movrin::OpenOutputResult OpenVirtualOutput(const std::string&) override {
    return {nullptr, movrin::MidiError::Unavailable};
  }
  movrin::OpenOutputResult OpenOutput(const movrin::MidiPortInfo&) override {
    return {nullptr, movrin::MidiError::Unavailable};
  }
  movrin::MidiError SendSysEx(const movrin::MidiPortInfo&, std::span<const std::uint8_t>) override {
    return movrin::MidiError::Unavailable;
  }
};

// Shows a window of its own on `midi`, lets `act` work on it, and saves it as `name`.
bool Render(movrin::MidiBackend& midi, const QDir& out, const char* name,
            const std::function<void(CUpdaterDlg&)>& act = {}) {
  movrin::test::ScriptedMessageBoxes boxes;
  CUpdaterDlg dlg(midi, boxes);
  dlg.show();
  QApplication::processEvents();
  if (act) {
    act(dlg);
  }
  QApplication::processEvents();
  return Save(dlg.grab(), out, name);
}

// Selects the last file and presses Send.
void StartSending(CUpdaterDlg& dlg) {
  auto* files = dlg.findChild<QListWidget*>(QStringLiteral("IDC_FILE_LIST"));
  files->setCurrentRow(files->count() - 1);
  dlg.findChild<QPushButton*>(QStringLiteral("IDC_SEND"))->click();
}

}  // namespace

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  QApplication::setWindowIcon(AppIcon());
  if (argc != 2) {
    std::fprintf(stderr, "usage: render-screenshots OUTPUT_DIR\n");
    return 2;
  }
  const QDir out(QDir::current().absoluteFilePath(QString::fromLocal8Bit(argv[1])));
  QTemporaryDir dataDir;
  if (!dataDir.isValid() || !MakeDataFolder(dataDir)) {
    std::fprintf(stderr, "cannot make the data folder\n");
    return 1;
  }

  movrin::InMemoryMidiBackend midi({{"Midi Through Port-0"}, {"Movrin Synth MIDI 1"}},
                                   {{"Movrin Synth MIDI 1"}, {"Midi Through Port-0"}});
  movrin::test::ScriptedMessageBoxes boxes;
  CUpdaterDlg dlg(midi, boxes);
  dlg.show();
  QApplication::processEvents();
  if (!Save(dlg.grab(), out, "window.png")) {
    return 1;
  }

  // The window's own bar, as a transfer shows it at 40 percent.
  auto* bar = dlg.findChild<CLabelledProgressCtrl*>(QStringLiteral("IDC_PROGRESS"));
  if (bar == nullptr) {
    std::fprintf(stderr, "the main window has no IDC_PROGRESS\n");
    return 1;
  }
  bar->show();
  QApplication::processEvents();
  bar->SetRange(0, 100);
  bar->SetPos(40);
  if (!Save(bar->grab(), out, "progress-40.png")) {
    return 1;
  }
  bar->hide();

  // A real transfer of a 4 KiB image (5 blocks), stopped after the second block.
  auto* files = dlg.findChild<QListWidget*>(QStringLiteral("IDC_FILE_LIST"));
  auto* send = dlg.findChild<QPushButton*>(QStringLiteral("IDC_SEND"));
  if (files == nullptr || send == nullptr || files->count() == 0) {
    std::fprintf(stderr, "the main window has no file list or Send button\n");
    return 1;
  }
  files->setCurrentRow(files->count() - 1);
  send->setEnabled(true);
  send->click();
  for (std::uint32_t note : {movrin::ReadyNote, movrin::NextNote, movrin::NextNote}) {
    midi.Deliver(note);
    QApplication::processEvents();
  }
  if (!Save(dlg.grab(), out, "window-transfer.png")) {
    return 1;
  }

  // The same transfer once the device has stayed silent: the waiting hint above the bar.
  auto* silence = dlg.findChild<QTimer*>(QStringLiteral("IDT_SILENCE"));
  auto* hint = dlg.findChild<QLabel*>(QStringLiteral("IDC_HINT"));
  if (silence == nullptr || hint == nullptr) {
    std::fprintf(stderr, "the main window has no silence timer or hint line\n");
    return 1;
  }
  silence->start(0);
  while (!hint->isVisible()) {
    QApplication::processEvents(QEventLoop::WaitForMoreEvents);
  }
  if (!Save(dlg.grab(), out, "window-waiting.png")) {
    return 1;
  }

  // The rest of it: the completed hint.
  for (int block = 3; block <= 5; ++block) {
    midi.Deliver(movrin::NextNote);
    QApplication::processEvents();
  }
  if (!Save(dlg.grab(), out, "window-complete.png")) {
    return 1;
  }

  // The port goes away at the third block.
  midi.FailSends(movrin::MidiError::NoSuchPort, 1, 3);
  const bool wentAway = Render(midi, out, "window-went-away.png", [&](CUpdaterDlg& window) {
    StartSending(window);
    for (std::uint32_t note :
         {movrin::ReadyNote, movrin::NextNote, movrin::NextNote, movrin::NextNote}) {
      midi.Deliver(note);
      QApplication::processEvents();
    }
  });

  // The first run from the menu on a machine without a MIDI system: no images, no ports.
  QTemporaryDir emptyDir;
  NoMidiSystem none;
  return wentAway && emptyDir.isValid() && QDir::setCurrent(emptyDir.path()) &&
                 Render(none, out, "window-first-run.png")
             ? 0
             : 1;
}
