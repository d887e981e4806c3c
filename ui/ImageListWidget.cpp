#include "ImageListWidget.h"

#include <QPainter>
#include <QPalette>

void ImageListWidget::SetPlaceholderText(const QString& text) {
  m_strPlaceholder = text;
  viewport()->update();
}

void ImageListWidget::paintEvent(QPaintEvent* event) {
  QListWidget::paintEvent(event);
  if (count() > 0 || m_strPlaceholder.isEmpty()) {
    return;
  }
  QPainter painter(viewport());
  painter.setPen(palette().color(QPalette::PlaceholderText));
  // A long home folder breaks anywhere rather than leaving the path's end unseen.
  painter.drawText(viewport()->rect().adjusted(3, 3, -3, -3),
                   Qt::AlignLeft | Qt::AlignTop | Qt::TextWrapAnywhere, m_strPlaceholder);
}
