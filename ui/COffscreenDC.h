#pragma once

// Collects one paint in an off-screen pixmap the size of the area being repainted and puts it
// on the target in a single copy when it goes out of scope, so the screen only ever receives
// finished pictures. Draw through Painter() in the target's own coordinates.

#include <QPainter>
#include <QPixmap>
#include <QRect>
#include <optional>

class COffscreenDC {
 public:
  // rcClip: the area to repaint, in the target's coordinates (a paint event's rect()).
  COffscreenDC(QPainter* pTargetDC, const QRect& rcClip);
  ~COffscreenDC();

  COffscreenDC(const COffscreenDC&) = delete;
  COffscreenDC& operator=(const COffscreenDC&) = delete;

  [[nodiscard]] QPainter& Painter();

 private:
  QPixmap m_bmpBuffer;
  QPainter* m_pTargetDC;
  QRect m_rcBuffer;
  bool m_bBuffered;
  std::optional<QPainter> m_memoryDC;
};
