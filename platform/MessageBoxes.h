#pragma once

// The seam to the toolkit's message boxes: one call with a text, a caption and a style, which
// returns the button pressed. Real boxes are modal and run a nested event loop in which posted
// events (MIDI input among them) keep reaching the windows. Tests put in a presenter that
// answers without a person.

#include <QString>

class QWidget;

namespace movrin {

// Styles and results keep the values the update tool has always used.
enum MessageBoxStyle : unsigned {
  kMessageBoxOk = 0x0,
  kMessageBoxYesNo = 0x4,
  kMessageBoxOkExclamation = 0x30,
  kMessageBoxIconWarning = 0x30,      // the icon alone, to combine with other buttons
  kMessageBoxDefaultButton2 = 0x100,  // the second button (No) is the default
};

enum MessageBoxResult : int {
  kResultOk = 1,
  kResultYes = 6,
  kResultNo = 7,
};

class MessageBoxPresenter {
 public:
  virtual ~MessageBoxPresenter() = default;

  // A null caption (QString()) means the application name.
  virtual int Show(QWidget* owner, const QString& text, const QString& caption, unsigned style) = 0;
};

// Real, modal Qt message boxes.
class QtMessageBoxPresenter final : public MessageBoxPresenter {
 public:
  int Show(QWidget* owner, const QString& text, const QString& caption, unsigned style) override;
};

// The program file's name without its extension: the caption of boxes that have none.
[[nodiscard]] QString ApplicationName();

}  // namespace movrin
