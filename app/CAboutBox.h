#pragma once

// The About box (template IDD_ABOUT): the icon, the version line, a second line and OK, laid
// out in dialog units of the dialog font. Shown modally from the About button and from the main
// window's About item; every showing builds a fresh box.

#include <QDialog>

class CAboutBox : public QDialog {
  Q_OBJECT

 public:
  // The owner is the window the box is centred over and blocks while it is open.
  explicit CAboutBox(QWidget* pParent = nullptr);
  ~CAboutBox() override;
};

// Builds a box owned by `owner`, runs it modally and ignores its result.
void ShowAboutBox(QWidget* owner);
