// Renders the pictures in docs/: the main window as it opens (window.png) and its progress bar
// at 40 percent (progress-40.png). Run by scripts/render-screenshots on the offscreen platform.
// Usage: render-screenshots OUTPUT_DIR

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <cstdio>

#include "AppIcon.h"
#include "CLabelledProgressCtrl.h"
#include "CUpdaterDlg.h"
#include "InMemoryMidiBackend.h"
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
  return Save(bar->grab(), out, "progress-40.png") ? 0 : 1;
}
