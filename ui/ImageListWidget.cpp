#include "ImageListWidget.h"

#include <QPainter>
#include <QPalette>
#include <QStyledItemDelegate>

namespace {

// The view makes its first entry current as soon as it has the focus, and styles frame the
// current entry as if it had been picked.
class SelectedFocusDelegate final : public QStyledItemDelegate {
 public:
  using QStyledItemDelegate::QStyledItemDelegate;

 protected:
  void initStyleOption(QStyleOptionViewItem* option, const QModelIndex& index) const override {
    QStyledItemDelegate::initStyleOption(option, index);
    if (!option->state.testFlag(QStyle::State_Selected)) {
      option->state.setFlag(QStyle::State_HasFocus, false);
    }
  }
};

}  // namespace

ImageListWidget::ImageListWidget(QWidget* parent) : QListWidget(parent) {
  setItemDelegate(new SelectedFocusDelegate(this));
}

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
