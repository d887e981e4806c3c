// Draws the application icon at the sizes the desktop asks for. The same shapes as
// movrin-update.svg: a blue tile with a MIDI socket and a green "update" arrow.
// Usage: render-icons OUTPUT_DIR

#include <QDir>
#include <QGuiApplication>
#include <QImage>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QtMath>
#include <cstdio>

namespace {

QImage DrawIcon(int size) {
  QImage image(size, size, QImage::Format_ARGB32_Premultiplied);
  image.fill(Qt::transparent);
  QPainter p(&image);
  p.setRenderHint(QPainter::Antialiasing);
  p.scale(size / 48.0, size / 48.0);  // drawn on a 48-unit grid

  QLinearGradient tile(0, 2, 0, 46);
  tile.setColorAt(0, QColor(0x3a, 0x7b, 0xe8));
  tile.setColorAt(1, QColor(0x1c, 0x3f, 0x94));
  p.setPen(QPen(QColor(0x14, 0x2e, 0x6e), 1.0));
  p.setBrush(tile);
  p.drawRoundedRect(QRectF(2.5, 2.5, 43, 43), 9, 9);

  // The MIDI socket: a ring with five pins on its upper half and the key notch below.
  const QPointF centre(22, 25);
  p.setPen(QPen(Qt::white, size <= 16 ? 4.0 : 3.2));
  p.setBrush(Qt::NoBrush);
  p.drawEllipse(centre, 14, 14);
  p.setPen(Qt::NoPen);
  p.setBrush(Qt::white);
  p.drawRect(QRectF(centre.x() - 2.5, centre.y() + 9.5, 5, 4));
  const double pinRadius = size <= 16 ? 2.6 : 2.1;
  for (const int degrees : {180, 135, 90, 45, 0}) {
    if (size <= 16 && (degrees == 135 || degrees == 45)) {
      continue;  // five pins merge into a blot at 16 pixels
    }
    const double angle = qDegreesToRadians(double(degrees));
    p.drawEllipse(QPointF(centre.x() + 8 * std::cos(angle), centre.y() - 8 * std::sin(angle)),
                  pinRadius, pinRadius);
  }

  // The update badge: a green disc with a white arrow pointing down, into the device.
  p.setPen(QPen(QColor(0x1d, 0x6b, 0x2a), 1.0));
  p.setBrush(QColor(0x3c, 0xb8, 0x4e));
  p.drawEllipse(QPointF(36.5, 36.5), 10, 10);
  QPainterPath arrow;
  arrow.moveTo(34.3, 29.5);
  arrow.lineTo(38.7, 29.5);
  arrow.lineTo(38.7, 36.0);
  arrow.lineTo(42.0, 36.0);
  arrow.lineTo(36.5, 42.5);
  arrow.lineTo(31.0, 36.0);
  arrow.lineTo(34.3, 36.0);
  arrow.closeSubpath();
  p.setPen(Qt::NoPen);
  p.setBrush(Qt::white);
  p.drawPath(arrow);
  return image;
}

}  // namespace

int main(int argc, char** argv) {
  QGuiApplication app(argc, argv);
  if (argc != 2) {
    std::fprintf(stderr, "usage: render-icons OUTPUT_DIR\n");
    return 2;
  }
  const QDir out(QString::fromLocal8Bit(argv[1]));
  for (const int size : {48, 32, 24, 16}) {
    const QString file = out.filePath(QStringLiteral("movrin-update-%1.png").arg(size));
    if (!DrawIcon(size).save(file)) {
      std::fprintf(stderr, "cannot write %s\n", qPrintable(file));
      return 1;
    }
  }
  return 0;
}
