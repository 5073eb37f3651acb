#pragma once

// Helpers shared by the files that implement TGrCntrl; not for the chart's users.

#include <QColor>
#include <QFontMetrics>
#include <QPainter>
#include <QString>
#include <algorithm>
#include <cmath>

#include "chart/Curves.h"

namespace klarwell::chart_detail {

constexpr int MaxGridLines = 101;
constexpr double PixelLimit = 32000.0;

inline QColor ToQColor(TColor c) {
  return QColor(c & 0xFF, (c >> 8) & 0xFF, (c >> 16) & 0xFF);
}

// Rounded to nearest (halves to even) after clamping, so that far-away points still make lines.
inline int ClampPixel(double v) {
  if (std::isnan(v)) return -static_cast<int>(PixelLimit);
  return static_cast<int>(std::nearbyint(std::clamp(v, -PixelLimit, PixelLimit)));
}

inline bool Finite(double v) {
  return std::isfinite(v);
}

// Text drawn with its top-left corner at (x, y), as the layout measures it.
inline void TextOut(QPainter& painter, const QFontMetrics& fm, int x, int y, const QString& text) {
  painter.drawText(x, y + fm.ascent(), text);
}

}  // namespace klarwell::chart_detail
