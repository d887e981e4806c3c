#pragma once

// The main window's progress bar: fills the share of its width that the position reaches and
// draws a centred caption (the percentage unless a text is set) whose letters take the colour
// of the other part. Range and position are its own; the toolkit's bar underneath never paints.

#include <QProgressBar>

class CLabelledProgressCtrl : public QProgressBar {
  Q_OBJECT

 public:
  explicit CLabelledProgressCtrl(QWidget* parent = nullptr);
  ~CLabelledProgressCtrl() override;

  void SetRange(int lower, int upper);
  // Returns the previous position, or -1 when the control has no window.
  int SetPos(int position);
};
