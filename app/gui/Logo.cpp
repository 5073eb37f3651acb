#include "app/gui/Logo.h"

#include <QColor>
#include <QPainter>
#include <QPainterPath>
#include <QPen>
#include <algorithm>

namespace klarwell {

QPixmap DrawLogo(int width, int height) {
  QPixmap pixmap(width, height);
  pixmap.fill(QColor(0xf4, 0xf1, 0xe8));
  QPainter p(&pixmap);
  p.setRenderHint(QPainter::Antialiasing);
  const double r = std::min(width, height) * 0.46;
  const QPointF c(width * 0.5, height * 0.5);
  p.setPen(Qt::NoPen);
  p.setBrush(QColor(0x18, 0x18, 0x1c));
  p.drawEllipse(c, r, r);
  p.setBrush(Qt::NoBrush);
  for (double g = r * 0.42; g < r * 0.95; g += r * 0.09) {
    p.setPen(QPen(QColor(0x3a, 0x3a, 0x44), std::max(1.0, r * 0.02)));
    p.drawEllipse(c, g, g);
  }
  p.setPen(Qt::NoPen);
  p.setBrush(QColor(0x2f, 0x6f, 0xd0));
  p.drawEllipse(c, r * 0.32, r * 0.32);
  p.setBrush(QColor(0xf4, 0xf1, 0xe8));
  p.drawEllipse(c, r * 0.05, r * 0.05);
  // The click: a short jagged stroke, removed by a clean arc beside it.
  QPainterPath spike;
  spike.moveTo(c.x() + r * 0.45, c.y() - r * 0.55);
  spike.lineTo(c.x() + r * 0.62, c.y() - r * 0.35);
  spike.lineTo(c.x() + r * 0.52, c.y() - r * 0.30);
  spike.lineTo(c.x() + r * 0.75, c.y() - r * 0.05);
  p.setPen(
      QPen(QColor(0xe0, 0x40, 0x30), std::max(1.5, r * 0.07), Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
  p.drawPath(spike);
  return pixmap;
}

}  // namespace klarwell
