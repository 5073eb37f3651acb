// The chart's curves: the calls forwarded to its TCurves, the ranges fitted to the data, and the
// curves drawn into the plot.

#include <QPainter>
#include <QPen>
#include <QPolygon>
#include <algorithm>

#include "chart/AxisScale.h"
#include "chart/Graphic.h"
#include "chart/GraphicDetail.h"

namespace klarwell {

using chart_detail::Finite;
using chart_detail::ToQColor;

namespace {

TColor FromQColor(const QColor& c) {
  return static_cast<TColor>(c.red()) | (static_cast<TColor>(c.green()) << 8) |
         (static_cast<TColor>(c.blue()) << 16);
}

Qt::PenStyle ToQtStyle(TPenStyle style) {
  switch (style) {
    case TPenStyle::Solid:
      return Qt::SolidLine;
    case TPenStyle::Dash:
      return Qt::DashLine;
    case TPenStyle::Dot:
      return Qt::DotLine;
    case TPenStyle::DashDot:
      return Qt::DashDotLine;
    case TPenStyle::DashDotDot:
      return Qt::DashDotDotLine;
    case TPenStyle::Clear:
      return Qt::NoPen;
  }
  return Qt::SolidLine;
}

}  // namespace

void TGrCntrl::ClearCurves() {
  CurveData->ClearCurves();
}

void TGrCntrl::SetCurveColor(int curve, const QColor& color) {
  CurveData->SetCurveColor(curve, FromQColor(color));
}

void TGrCntrl::AddPoint(int curve, float x, float y) {
  CurveData->AddPoint(curve, x, y);
}

int TGrCntrl::CurvePointCount(int curve) const {
  return CurveData->CurvePointCount(curve);
}

const float* TGrCntrl::CurveXValues(int curve) const {
  return CurveData->CurveXValues(curve);
}

const float* TGrCntrl::CurveYValues(int curve) const {
  return CurveData->CurveYValues(curve);
}

bool TGrCntrl::CurveHidden(int curve) const {
  return curve >= 0 && curve < TCurves::CurveCount && Hidden[static_cast<size_t>(curve)];
}

void TGrCntrl::SetCurveHidden(int curve, bool hidden) {
  if (curve >= 0 && curve < TCurves::CurveCount) Hidden[static_cast<size_t>(curve)] = hidden;
}

void TGrCntrl::FitToData() {
  if (CurveData->Empty()) return;
  CurveData->CalcRanges();
  const double xMin = CurveData->XMin();
  const double xMax = CurveData->XMax();
  if (xMin == xMax) return;
  SetXRange(xMin, xMax);
  double lo = CurveData->YMin(0);
  double hi = CurveData->YMax(0);
  AutoRangeY(lo, hi);
  // Data at or below zero on a log axis has no automatic range; the Y range stays as it is
  // rather than being set to NaN.
  if (!(Finite(lo) && Finite(hi) && lo < hi)) return;
  SetYRange(lo, hi);
}

void TGrCntrl::AutoRangeY(double& lo, double& hi) const {
  TAutoRangeParams params;
  params.MarginPercent = MarginPercent;
  params.MinRangeFactor = MinRangeFactor;
  params.SmallRangeLimit = SmallRangeLimit;
  params.AutoRangeBelowZero = AutoRangeBelowZero;
  AutoRange(YLogValue, params, lo, hi);
}

void TGrCntrl::DrawCurves(QPainter& painter) const {
  if (CurveData->Empty()) return;
  QPolygon line;
  // Higher indexes are drawn over lower ones.
  for (int i = 0; i < TCurves::CurveCount; ++i) {
    const int n = CurveData->CurvePointCount(i);
    if (n == 0 || Hidden[static_cast<size_t>(i)]) continue;
    const TPen pen = CurveData->Pen(i);
    QPen qpen(ToQColor(pen.Color), std::max(0, pen.Width), ToQtStyle(pen.Style));
    painter.setPen(qpen);
    const float* xs = CurveData->CurveXValues(i);
    const float* ys = CurveData->CurveYValues(i);
    line.resize(n == 1 ? 2 : n);
    for (int k = 0; k < n; ++k) line[k] = QPoint(XToPixel(xs[k]), YToPixel(ys[k]));
    if (n == 1) line[1] = line[0];
    painter.drawPolyline(line);
  }
}

}  // namespace klarwell
