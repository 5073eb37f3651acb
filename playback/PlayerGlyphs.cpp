#include "playback/PlayerGlyphs.h"

#include <QColor>
#include <QFont>
#include <QPainter>
#include <QPainterPath>
#include <QPolygonF>
#include <cstring>

namespace klarwell {
namespace {

struct TGlyphShape {
  const char* Name;
  int Width, Height;
  QColor Color;  // of the coloured variant
};

// Sizes chosen so that the widest glyph (21) and the highest (16) give the main window's 29 x 20
// minimum buttons.
const TGlyphShape Shapes[] = {
    {"MPPLAY", 15, 13, QColor(0, 150, 0)},   {"MPPAUSE", 15, 13, QColor(200, 140, 0)},
    {"MPSTOP", 13, 13, QColor(190, 0, 0)},   {"MPNEXT", 21, 13, QColor(0, 70, 200)},
    {"MPPREV", 21, 13, QColor(0, 70, 200)},  {"MPSTEP", 17, 13, QColor(0, 70, 200)},
    {"MPBACK", 17, 13, QColor(0, 70, 200)},  {"MPRECORD", 13, 13, QColor(220, 0, 0)},
    {"MPEJECT", 15, 14, QColor(90, 90, 90)}, {"MPHELP", 13, 16, QColor(0, 70, 200)},
};

QPolygonF Triangle(QPointF a, QPointF b, QPointF c) {
  return QPolygonF({a, b, c});
}

QPainterPath ShapePath(const char* name) {
  QPainterPath p;
  p.setFillRule(Qt::WindingFill);
  auto is = [name](const char* n) { return std::strcmp(name, n) == 0; };
  if (is("MPPLAY")) {
    p.addPolygon(Triangle({4, 1}, {4, 12}, {11.5, 6.5}));
  } else if (is("MPPAUSE")) {
    p.addRect(3, 2, 3, 9);
    p.addRect(9, 2, 3, 9);
  } else if (is("MPSTOP")) {
    p.addRect(2, 2, 9, 9);
  } else if (is("MPNEXT")) {
    p.addPolygon(Triangle({2, 2}, {2, 11}, {8, 6.5}));
    p.addPolygon(Triangle({9, 2}, {9, 11}, {15, 6.5}));
    p.addRect(16, 2, 2, 9);
  } else if (is("MPPREV")) {
    p.addRect(3, 2, 2, 9);
    p.addPolygon(Triangle({12, 2}, {12, 11}, {6, 6.5}));
    p.addPolygon(Triangle({19, 2}, {19, 11}, {13, 6.5}));
  } else if (is("MPSTEP")) {
    p.addPolygon(Triangle({4, 2}, {4, 11}, {10, 6.5}));
    p.addRect(11, 2, 2, 9);
  } else if (is("MPBACK")) {
    p.addRect(4, 2, 2, 9);
    p.addPolygon(Triangle({13, 2}, {13, 11}, {7, 6.5}));
  } else if (is("MPRECORD")) {
    p.addEllipse(2, 2, 9, 9);
  } else if (is("MPEJECT")) {
    p.addPolygon(Triangle({1.5, 8}, {13.5, 8}, {7.5, 2}));
    p.addRect(2, 10, 11, 2);
  } else if (is("MPHELP")) {
    // A question mark: a hook and a dot.
    p.moveTo(3, 5);
    p.cubicTo(3, 1, 10, 1, 10, 5);
    p.cubicTo(10, 8, 7.5, 8, 7.5, 10.5);
    p.lineTo(5.5, 10.5);
    p.cubicTo(5.5, 7, 8, 7, 8, 5);
    p.cubicTo(8, 3, 5, 3, 5, 5);
    p.closeSubpath();
    p.addRect(5.5, 12, 2, 2);
  }
  return p;
}

}  // namespace

QPixmap MakePlayerGlyph(const char* glyphName, TGlyphVariant variant) {
  for (const TGlyphShape& shape : Shapes) {
    if (std::strcmp(shape.Name, glyphName) != 0) continue;
    QPixmap pixmap(shape.Width, shape.Height);
    pixmap.fill(Qt::transparent);
    QPainter painter(&pixmap);
    painter.setRenderHint(QPainter::Antialiasing, true);
    painter.setPen(Qt::NoPen);
    const QPainterPath path = ShapePath(glyphName);
    switch (variant) {
      case TGlyphVariant::Enabled:
        painter.setBrush(Qt::black);
        painter.drawPath(path);
        break;
      case TGlyphVariant::Colored:
        painter.setBrush(shape.Color);
        painter.drawPath(path);
        break;
      case TGlyphVariant::Disabled:
        // Engraved look: a white copy one pixel down and right under a grey one.
        painter.setBrush(Qt::white);
        painter.drawPath(path.translated(1, 1));
        painter.setBrush(QColor(128, 128, 128));
        painter.drawPath(path);
        break;
    }
    return pixmap;
  }
  return QPixmap();
}

}  // namespace klarwell
