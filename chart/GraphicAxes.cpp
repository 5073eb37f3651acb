// The chart's scales: value <-> pixel over the displayed ranges, the label texts, and the ticks,
// labels and grid positions of the two axes.

#include <QFontMetrics>
#include <QLocale>
#include <QPainter>
#include <QPen>
#include <algorithm>
#include <cmath>
#include <string>

#include "chart/AxisPlan.h"
#include "chart/AxisScale.h"
#include "chart/Graphic.h"
#include "chart/GraphicDetail.h"

namespace klarwell {

using chart_detail::ClampPixel;
using chart_detail::Finite;
using chart_detail::LinearPlan;
using chart_detail::LogPlan;
using chart_detail::MaxGridLines;
using chart_detail::PixelLimit;
using chart_detail::TAxisPlan;
using chart_detail::TAxisTick;
using chart_detail::TextOut;

// --- coordinate conversions ---
// The plot spans PlotLeft .. PlotRight - 1: the range's maximum lands on the last pixel inside.
// The log conversions use the same span as the linear ones so that a curve meets the axis ticks
// and PixelToX undoes XToPixel.

int TGrCntrl::XToPixel(double x) const {
  const double span = PlotRight - PlotLeft - 1;
  if (XLogValue) {
    if (!(x > 0.0)) return -static_cast<int>(PixelLimit);
    return ClampPixel(PlotLeft +
                      std::log(x / DispXMinValue) * span / std::log(DispXMaxValue / DispXMinValue));
  }
  return ClampPixel(PlotLeft + (x - DispXMinValue) * span / (DispXMaxValue - DispXMinValue));
}

int TGrCntrl::YToPixel(double y) const {
  const double span = PlotBottom - PlotTop - 1;
  if (YLogValue) {
    if (!(y > 0.0)) return static_cast<int>(PixelLimit);
    return ClampPixel(PlotTop + std::log(y / DispYMaxValue) * span / std::log(DispYMinValue / DispYMaxValue));
  }
  return ClampPixel(PlotTop + (y - DispYMaxValue) * span / (DispYMinValue - DispYMaxValue));
}

double TGrCntrl::PixelToX(int px) const {
  const double span = PlotRight - PlotLeft - 1;
  if (span <= 0.0) return DispXMinValue;
  if (XLogValue) {
    const double lnMin = std::log(DispXMinValue);
    return std::exp(lnMin + (std::log(DispXMaxValue) - lnMin) * (px - PlotLeft) / span);
  }
  return (DispXMaxValue - DispXMinValue) * (px - PlotLeft) / span + DispXMinValue;
}

double TGrCntrl::PixelToY(int py) const {
  const double span = PlotBottom - PlotTop - 1;
  if (span <= 0.0) return DispYMaxValue;
  if (YLogValue) {
    const double lnMax = std::log(DispYMaxValue);
    return std::exp(lnMax + (std::log(DispYMinValue) - lnMax) * (py - PlotTop) / span);
  }
  return (DispYMinValue - DispYMaxValue) * (py - PlotTop) / span + DispYMaxValue;
}

QString TGrCntrl::FormatAxisNumber(int decimals, double value) {
  const std::string separator = QLocale().decimalPoint().toStdString();
  return QString::fromStdString(klarwell::FormatAxisNumber(decimals, value, separator));
}

void TGrCntrl::DrawXAxis(QPainter& painter, TRect& r) {
  const QFontMetrics fm = painter.fontMetrics();
  const double xmin = DispXMinValue;
  const double xmax = DispXMaxValue;
  const int half = fm.height() / 2;
  const int y0 = r.Bottom - 2 * half - 1;
  const int tickTop = y0 - half;
  const int bevelInner = std::abs(BevelInnerValue);
  const int a = r.Left + bevelInner;
  const int b = r.Right - bevelInner - 1;
  const double range = XLogValue ? std::log(xmax / xmin) : xmax - xmin;
  XDecimalsValue = 0;
  if (!(range > 0.0) || !Finite(range)) {
    r.Bottom -= 3 * half;
    return;
  }
  const double s = (b - a) / range;
  auto column = [&](double v) { return a + ClampPixel((XLogValue ? std::log(v / xmin) : v - xmin) * s); };
  const TAxisPlan plan =
      XLogValue ? LogPlan(fm, a, b, xmin, xmax, true) : LinearPlan(fm, a, b, xmin, xmax, true);

  painter.setPen(QPen(FontColorValue, 0));
  if (half / 2 > 0) {
    for (const TAxisTick& tick : plan.Ticks) {
      const int x = column(tick.Value);
      if (!tick.Main && x > a) painter.drawLine(x, tickTop, x, tickTop + half / 2 - 1);
    }
  }
  // A label (and its main tick) is drawn only where it stays inside the control and starts
  // after the previous one ended; a label ends half a text height beyond its right edge.
  const int rightLimit = width() - std::abs(BevelOuterValue);
  int previousEnd = std::abs(BevelOuterValue);
  for (const TAxisTick& tick : plan.Ticks) {
    if (!tick.Label) continue;
    const int textWidth = fm.horizontalAdvance(tick.Text);
    const int x = column(tick.Value);
    const int left = x - textWidth / 2;
    if (left + textWidth >= rightLimit || left <= previousEnd) continue;
    previousEnd = x + (textWidth + half) / 2;
    TextOut(painter, fm, left, y0, tick.Text);
    XLabelList.push_back({QRect(left, y0, textWidth, fm.height()), tick.Text, tick.Value, tick.Main});
    if (tick.Main) painter.drawLine(x, tickTop, x, y0 - 1);
    // Without an inner bevel a grid line on the plot's edge would hide the frame line.
    const bool record = tick.Main ? (BevelInnerValue != 0 || (x > a && x < b)) : (x >= a && x <= b);
    if (record && x >= 1 && static_cast<int>(GridXPos.size()) < MaxGridLines) GridXPos.push_back(x);
  }
  XDecimalsValue = plan.Decimals;
  r.Bottom -= 3 * half;
}

void TGrCntrl::DrawYAxis(QPainter& painter, TRect& r) {
  const QFontMetrics fm = painter.fontMetrics();
  const double ymin = DispYMinValue;
  const double ymax = DispYMaxValue;
  const int textHeight = fm.height();
  const int e = textHeight / 2;
  const int bevelInner = std::abs(BevelInnerValue);
  const int bevelOuter = std::abs(BevelOuterValue);
  // The X axis below will take three half text heights.
  const int a = r.Top + bevelInner;
  const int b = r.Bottom - 3 * (textHeight / 2) - bevelInner - 1;
  const int tickLength = ClampPixel(18.0 * textHeight / 100.0);
  const double range = YLogValue ? std::log(ymax / ymin) : ymax - ymin;
  TAxisPlan plan;
  if (range > 0.0 && Finite(range)) {
    plan = YLogValue ? LogPlan(fm, a, b, ymin, ymax, false) : LinearPlan(fm, a, b, ymin, ymax, false);
  }
  const double s = (b - a) / range;
  auto row = [&](double v) { return b - ClampPixel((YLogValue ? std::log(v / ymin) : v - ymin) * s); };

  // A label fits when it ends above the axis bottom, starts below the outer bevel and ends
  // above the label below it; only the fitting ones count for the width of the label column.
  std::vector<bool> fits(plan.Ticks.size(), false);
  int widest = 0;
  int limit = height() - bevelOuter - e;
  for (size_t i = 0; i < plan.Ticks.size(); ++i) {
    const TAxisTick& tick = plan.Ticks[i];
    const int y = row(tick.Value);
    if (!tick.Label || !(y + e < b && y - e > bevelOuter && y + e < limit)) continue;
    fits[i] = true;
    widest = std::max(widest, fm.horizontalAdvance(tick.Text));
    limit = y - e;
  }

  int c;
  if (AxisRightValue) {
    c = r.Right - e - widest - 1 - 2 * tickLength;
    r.Right -= e + widest + 2 * tickLength;
    r.Left += ClampPixel(0.03 * (r.Right - r.Left));
  } else {
    c = r.Left + widest + 1 + 2 * tickLength;
    r.Left += e + widest + 2 * tickLength;
    r.Right -= ClampPixel(0.03 * (r.Right - r.Left));
  }

  painter.setPen(QPen(FontColorValue, 0));
  for (size_t i = 0; i < plan.Ticks.size(); ++i) {
    const TAxisTick& tick = plan.Ticks[i];
    const int y = row(tick.Value);
    if (y >= a && y <= b) {
      // Ticks reach from the label column to the plot; minor ones are half as long.
      if (tick.Main) {
        painter.drawLine(c, y, c + e - 1, y);
      } else if (e / 2 > 0) {
        const int from = AxisRightValue ? c : c + e - e / 2;
        painter.drawLine(from, y, from + e / 2 - 1, y);
      }
    }
    if (!tick.Label) continue;
    if (fits[i]) {
      const int textWidth = fm.horizontalAdvance(tick.Text);
      const int x = AxisRightValue ? c + e + tickLength : c - textWidth - tickLength;
      TextOut(painter, fm, x, y - e, tick.Text);
      YLabelList.push_back({QRect(x, y - e, textWidth, textHeight), tick.Text, tick.Value, tick.Main});
    }
    if (y < b && y >= 1 && static_cast<int>(GridYPos.size()) < MaxGridLines) GridYPos.push_back(y);
  }
  YDecimalsValue = plan.Decimals;
}

}  // namespace klarwell
