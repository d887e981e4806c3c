#pragma once

// The file list. Empty, it shows where images belong, drawn in the view rather than added as an
// entry, so that nothing there can be selected, sent or counted. With nothing selected no entry
// looks chosen: the focus frame is drawn on a selected entry only.

#include <QListWidget>
#include <QString>

class ImageListWidget : public QListWidget {
 public:
  explicit ImageListWidget(QWidget* parent = nullptr);

  void SetPlaceholderText(const QString& text);
  [[nodiscard]] const QString& PlaceholderText() const { return m_strPlaceholder; }

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  QString m_strPlaceholder;
};
