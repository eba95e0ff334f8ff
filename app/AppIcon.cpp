#include "app/AppIcon.h"

#include <QImageReader>
#include <QPainter>
#include <QPixmap>

// The resource file is compiled into a static library; make sure the
// linker keeps it.
static void InitIconResource() { Q_INIT_RESOURCE(skyfold); }

namespace skyfold {
namespace {

// The same shapes as skyfold.svg, in its 64 × 64 coordinates.
QPixmap PaintIcon(int size) {
  QPixmap pixmap(size, size);
  pixmap.fill(Qt::transparent);
  QPainter p(&pixmap);
  p.setRenderHint(QPainter::Antialiasing);
  p.scale(size / 64.0, size / 64.0);

  p.setPen(QPen(QColor(0x1b, 0x4f, 0x7a), 2));
  p.setBrush(QColor(0x2f, 0x7f, 0xc1));
  p.drawEllipse(QPointF(32, 32), 29, 29);
  p.setPen(QPen(QColor(0x9f, 0xd0, 0xf5), 1.5));
  p.setBrush(Qt::NoBrush);
  p.drawEllipse(QPointF(32, 32), 12, 29);
  p.drawLine(QPointF(3, 32), QPointF(61, 32));
  p.drawLine(QPointF(8, 18), QPointF(56, 18));
  p.drawLine(QPointF(8, 46), QPointF(56, 46));

  p.setPen(QPen(QColor(0x7a, 0x4a, 0x00), 1.5));
  const QColor face(0xf6, 0xb9, 0x3b);
  const QRectF faces[] = {{4, 25, 14, 14},  {18, 25, 14, 14}, {32, 25, 14, 14},
                          {46, 25, 14, 14}, {18, 11, 14, 14}, {18, 39, 14, 14}};
  for (const QRectF& r : faces) {
    p.setBrush(r.topLeft() == QPointF(18, 25) ? QColor(0xfb, 0xd4, 0x6d) : face);
    p.drawRect(r);
  }
  return pixmap;
}

}  // namespace

QIcon AppIcon() {
  InitIconResource();
  if (QImageReader::supportedImageFormats().contains("svg")) {
    return QIcon(QStringLiteral(":/skyfold.svg"));
  }
  QIcon icon;
  for (int size : {16, 32, 48, 64}) icon.addPixmap(PaintIcon(size));
  return icon;
}

}  // namespace skyfold
