#include "COffscreenDC.h"

#include <QPaintDevice>

COffscreenDC::COffscreenDC(QPainter* pTargetDC, const QRect& rcClip)
    : m_pTargetDC(pTargetDC),
      // A printer has no screen to flicker on; it is drawn on directly.
      m_bBuffered(pTargetDC->device() == nullptr ||
                  pTargetDC->device()->devType() != QInternal::Printer) {
  if (!m_bBuffered) {
    return;
  }
  m_rcBuffer = rcClip;
  const qreal ratio =
      pTargetDC->device() != nullptr ? pTargetDC->device()->devicePixelRatioF() : 1.0;
  // An empty area still gets a painter to draw into; nothing of it is copied.
  m_bmpBuffer = QPixmap(m_rcBuffer.size().expandedTo(QSize(1, 1)) * ratio);
  m_bmpBuffer.setDevicePixelRatio(ratio);
  m_memoryDC.emplace(&m_bmpBuffer);
  // Callers draw in the target's coordinates; shift them so the clip area lands at 0,0.
  m_memoryDC->translate(-m_rcBuffer.topLeft());
}

COffscreenDC::~COffscreenDC() {
  if (!m_bBuffered) {
    return;
  }
  m_memoryDC.reset();
  if (m_rcBuffer.isEmpty()) {
    return;
  }
  // A plain copy: what the buffer holds replaces what the target had, alpha included.
  const QPainter::CompositionMode previous = m_pTargetDC->compositionMode();
  m_pTargetDC->setCompositionMode(QPainter::CompositionMode_Source);
  m_pTargetDC->drawPixmap(m_rcBuffer.topLeft(), m_bmpBuffer);
  m_pTargetDC->setCompositionMode(previous);
}

QPainter& COffscreenDC::Painter() {
  return m_bBuffered ? *m_memoryDC : *m_pTargetDC;
}
