#include "DialogUnits.h"

#include <QApplication>
#include <QFontDatabase>
#include <QFontMetrics>
#include <QStringList>
#include <cstdint>

namespace {

constexpr int kDialogPointSize = 9;

// Multiply then divide with rounding to nearest, halves away from zero (the platform's MulDiv).
int MulDiv(int value, int numerator, int denominator) {
  const std::int64_t product = std::int64_t{value} * numerator;
  const std::int64_t half = denominator / 2;
  const std::int64_t rounded =
      product >= 0 ? (product + half) / denominator : (product - half) / denominator;
  return static_cast<int>(rounded);
}

QString PickDialogFamily() {
  const QStringList installed = QFontDatabase::families();
  // SimSun first, under either of its names, then CJK fonts that look close to it.
  for (const char* family : {"SimSun", "宋体", "NSimSun", "WenQuanYi Zen Hei", "Noto Sans CJK SC",
                             "Noto Serif CJK SC", "AR PL UMing CN", "Droid Sans Fallback"}) {
    const QString name = QString::fromUtf8(family);
    if (installed.contains(name, Qt::CaseInsensitive)) {
      return name;
    }
  }
  const QStringList chinese = QFontDatabase::families(QFontDatabase::SimplifiedChinese);
  if (!chinese.isEmpty()) {
    return chinese.front();
  }
  return QApplication::font().family();
}

}  // namespace

QFont DialogFont() {
  // The family lookup is the costly part and the installed fonts do not change while we run.
  static const QString family = PickDialogFamily();
  QFont font(family);
  font.setPointSize(kDialogPointSize);
  return font;
}

QSize DialogBaseUnits(const QFont& font) {
  const QFontMetrics metrics(font);
  const int letters = metrics.horizontalAdvance(
      QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz"));
  // The platform's rounding of the 52-letter average: half a character up.
  const int averageWidth = (letters / 26 + 1) / 2;
  return {averageWidth, metrics.height()};
}

QRect DialogRect(const QFont& font, int x, int y, int w, int h) {
  const QSize base = DialogBaseUnits(font);
  return {MulDiv(x, base.width(), 4), MulDiv(y, base.height(), 8), MulDiv(w, base.width(), 4),
          MulDiv(h, base.height(), 8)};
}

QSize DialogSize(const QFont& font, int w, int h) {
  return DialogRect(font, 0, 0, w, h).size();
}
