#include "MessageBoxes.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QMessageBox>

namespace movrin {

int QtMessageBoxPresenter::Show(QWidget* owner, const QString& text, const QString& caption,
                                unsigned style) {
  QMessageBox box(owner);
  box.setWindowTitle(caption.isNull() ? ApplicationName() : caption);
  box.setTextFormat(Qt::PlainText);
  box.setText(text);
  // The low four bits choose the buttons, the next four the icon.
  const bool yesNo = (style & 0xFu) == kMessageBoxYesNo;
  const bool exclamation = (style & 0xF0u) == (kMessageBoxOkExclamation & 0xF0u);
  box.setIcon(exclamation ? QMessageBox::Warning : QMessageBox::NoIcon);
  if (yesNo) {
    box.setStandardButtons(QMessageBox::Yes | QMessageBox::No);
    box.setDefaultButton((style & kMessageBoxDefaultButton2) != 0 ? QMessageBox::No
                                                                  : QMessageBox::Yes);
    box.setEscapeButton(QMessageBox::No);
  } else {
    box.setStandardButtons(QMessageBox::Ok);
    box.setDefaultButton(QMessageBox::Ok);
  }
  // exec() runs a nested event loop: posted events, MIDI input among them, keep being delivered.
  switch (box.exec()) {
    case QMessageBox::Yes:
      return kResultYes;
    case QMessageBox::No:
      return kResultNo;
    default:
      // Closing a Yes/No box without a button (Escape, close box) counts as No, as Qt does.
      return yesNo ? kResultNo : kResultOk;
  }
}

QString ApplicationName() {
  // Only the last extension goes, as on the platform the tool comes from: "a.b.exe" is "a.b".
  return QFileInfo(QCoreApplication::applicationFilePath()).completeBaseName();
}

}  // namespace movrin
