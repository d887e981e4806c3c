#pragma once

// The main window's progress bar: fills the share of its width that the position reaches and
// draws a centred caption (the percentage unless a text is set) whose letters take the colour
// of the other part. Range and position are its own; the toolkit's bar underneath never paints.

#include <QColor>
#include <QProgressBar>
#include <QString>
#include <cstdint>
#include <string>

class CLabelledProgressCtrl : public QProgressBar {
  Q_OBJECT

 public:
  explicit CLabelledProgressCtrl(QWidget* parent = nullptr);
  ~CLabelledProgressCtrl() override;

  // Stores the range only: no check, no repaint.
  void SetRange(int lower, int upper);
  // Returns the previous position, or -1 when the control has no window. Repaints at once,
  // before returning, when the fill width changes by at least one pixel; otherwise not at all.
  int SetPos(int position);

  // The caption as a byte string (UTF-8). Null means the empty text, which brings the
  // percentage back. A changed text is repainted at the next paint.
  void SetWindowText(const char* text);
  // Copies at most size - 1 bytes of the caption and a terminating zero; returns the number of
  // bytes copied without the zero. A null buffer or a size below 1 copies nothing and gives 0.
  int GetWindowText(char* buffer, int size) const;

  // A one-pixel frame outside the client area, as the window style WS_BORDER gives: the fill,
  // the caption and every width above are then those of the area inside it.
  void SetBorder(bool border);

  // What the next paint draws: the set text, or the percentage.
  [[nodiscard]] QString text() const override;

 protected:
  void paintEvent(QPaintEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;

 private:
  [[nodiscard]] double Share() const;
  [[nodiscard]] int FillWidth(const QRect& client) const;

  std::int32_t m_nPosition = 0;
  std::int32_t m_nStep = 1;  // kept for the control's shape; nothing reads it
  std::int32_t m_nUpper = 100;
  std::int32_t m_nLower = 0;
  std::string m_strCaption;
  bool m_bShowCaption = true;
  std::int32_t m_nLastFillWidth = -1;
  QColor m_crBar;
  QColor m_crBackground;
  QColor m_crCaptionOnBackground;
  QColor m_crCaptionOnBar;
  bool m_bBorder = false;
};
