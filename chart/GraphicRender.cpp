// The chart's pixels: the frame, titles, bevels, plot and grid rendered once into the off-screen
// pixmap, and every paint copying it (with the zoom rectangle and the OnPaint hook on top).

#include <QEvent>
#include <QPaintEvent>
#include <QPainter>
#include <QPen>
#include <QResizeEvent>
#include <algorithm>
#include <cmath>

#include "chart/Graphic.h"
#include "chart/GraphicDetail.h"

namespace klarwell {

using chart_detail::TextOut;
using chart_detail::ToQColor;

void TGrCntrl::RenderIfNeeded() {
  if (width() <= 0 || height() <= 0) return;
  if (BitmapStale || Bitmap.isNull()) {
    const qreal ratio = devicePixelRatioF();
    Bitmap = QPixmap(
        QSize(static_cast<int>(std::ceil(width() * ratio)), static_cast<int>(std::ceil(height() * ratio))));
    Bitmap.setDevicePixelRatio(ratio);
    BitmapStale = false;
    RedrawNeeded = true;
  }
  if (RedrawNeeded) {
    Render();
    RedrawNeeded = false;
  }
}

void TGrCntrl::DrawBevel(QPainter& painter, TRect& r, int width) const {
  if (width == 0) {
    painter.setPen(QPen(Qt::black, 0));
    painter.setBrush(Qt::NoBrush);
    painter.drawRect(r.Left, r.Top, r.Right - r.Left - 1, r.Bottom - r.Top - 1);
    r = {r.Left + 1, r.Top + 1, r.Right - 1, r.Bottom - 1};
    return;
  }
  const QColor light(Qt::white);
  const QColor dark = ToQColor(clGray);
  const QColor& topLeft = width > 0 ? light : dark;
  const QColor& bottomRight = width > 0 ? dark : light;
  for (int i = 0; i < std::abs(width); ++i) {
    painter.setPen(QPen(topLeft, 0));
    painter.drawLine(r.Left, r.Top, r.Right - 1, r.Top);
    painter.drawLine(r.Left, r.Top, r.Left, r.Bottom - 1);
    painter.setPen(QPen(bottomRight, 0));
    painter.drawLine(r.Left, r.Bottom - 1, r.Right - 1, r.Bottom - 1);
    painter.drawLine(r.Right - 1, r.Top, r.Right - 1, r.Bottom - 1);
    r = {r.Left + 1, r.Top + 1, r.Right - 1, r.Bottom - 1};
  }
}

void TGrCntrl::DrawTitles(QPainter& painter, const QFontMetrics& fm, TRect& r) const {
  painter.setPen(QPen(FontColorValue, 0));
  const int zeroHeight = fm.height();
  if (!TitleText.isEmpty()) {
    TextOut(painter, fm, (r.Left + r.Right - fm.horizontalAdvance(TitleText)) / 2, r.Top, TitleText);
    r.Top += fm.height();
  } else {
    r.Top += static_cast<int>(std::nearbyint(0.03 * (r.Bottom - r.Top)));
  }

  if (!YAxisTitleText.isEmpty()) {
    // Rotated a quarter turn counter-clockwise: the text runs upwards from its start point, its
    // top towards the left; centred over the room the Y axis will have.
    const int textWidth = fm.horizontalAdvance(YAxisTitleText);
    const int textHeight = fm.height();
    int xRoom = 3 * (zeroHeight / 2);
    if (!XAxisTitleText.isEmpty()) xRoom += zeroHeight;
    const int y = (r.Bottom + r.Top + textWidth - xRoom) / 2;
    int x;
    if (AxisRightValue) {
      x = r.Right - textHeight - 1;
      r.Right -= textHeight;
    } else {
      x = r.Left;
      r.Left += textHeight;
    }
    painter.save();
    painter.translate(x, y);
    painter.rotate(-90.0);
    painter.drawText(0, fm.ascent(), YAxisTitleText);
    painter.restore();
  }

  if (!XAxisTitleText.isEmpty()) {
    TextOut(painter, fm, (r.Left + r.Right - fm.horizontalAdvance(XAxisTitleText)) / 2,
            r.Bottom - fm.height(), XAxisTitleText);
    r.Bottom -= fm.height();
  }
}

void TGrCntrl::DrawGrid(QPainter& painter) const {
  if (!GridXValue && !GridYValue) return;
  QPen gridPen(GridColorValue, 0);
  // One pixel on, one off.
  gridPen.setDashPattern({1.0, 1.0});
  painter.setPen(gridPen);
  if (GridXValue) {
    for (int x : GridXPos) painter.drawLine(x, PlotTop, x, PlotBottom - 1);
  }
  if (GridYValue) {
    for (int y : GridYPos) painter.drawLine(PlotLeft, y, PlotRight - 1, y);
  }
}

void TGrCntrl::Render() {
  QPainter painter(&Bitmap);
  painter.setRenderHint(QPainter::Antialiasing, false);
  painter.setFont(font());
  const QFontMetrics fm = painter.fontMetrics();
  const int w = width();
  const int h = height();
  GridXPos.clear();
  GridYPos.clear();
  XLabelList.clear();
  YLabelList.clear();

  // Frame in ScaleColor, outer bevel, chart background.
  painter.setPen(QPen(ScaleColorValue, 0));
  painter.setBrush(Qt::NoBrush);
  painter.drawRect(0, 0, w - 1, h - 1);
  TRect r{1, 1, w - 1, h - 1};
  DrawBevel(painter, r, BevelOuterValue);
  painter.fillRect(QRect(r.Left, r.Top, r.Right - r.Left, r.Bottom - r.Top), ScaleColorValue);

  DrawTitles(painter, fm, r);
  DrawYAxis(painter, r);
  DrawXAxis(painter, r);

  DrawBevel(painter, r, BevelInnerValue);
  PlotLeft = r.Left;
  PlotTop = r.Top;
  PlotRight = r.Right;
  PlotBottom = r.Bottom;
  const QRect plot(PlotLeft, PlotTop, std::max(0, PlotRight - PlotLeft), std::max(0, PlotBottom - PlotTop));
  painter.fillRect(plot, BackColorValue);
  DrawGrid(painter);

  painter.setClipRect(plot);
  DrawCurves(painter);
  if (OnChangeHook) {
    painter.setPen(QPen(Qt::black, 0));
    painter.setBrush(BackColorValue);
    OnChangeHook(*this, painter);
  }
}

void TGrCntrl::paintEvent(QPaintEvent*) {
  RenderIfNeeded();
  QPainter painter(this);
  painter.drawPixmap(0, 0, Bitmap);

  if (Dragging) {
    // The zoom rectangle is drawn over the copied chart, never into it, so moving it needs no
    // inverting pen: the next paint copies the chart again. White under black dots shows on
    // every background.
    const int left = std::min(DragStart.x(), DragCurrent.x());
    const int top = std::min(DragStart.y(), DragCurrent.y());
    const int right = std::max(DragStart.x(), DragCurrent.x());
    const int bottom = std::max(DragStart.y(), DragCurrent.y());
    painter.setBrush(Qt::NoBrush);
    painter.setPen(QPen(Qt::white, 0));
    painter.drawRect(left, top, right - left, bottom - top);
    QPen dots(Qt::black, 0);
    dots.setDashPattern({1.0, 1.0});
    painter.setPen(dots);
    painter.drawRect(left, top, right - left, bottom - top);
  }

  if (OnPaintHook) {
    painter.setPen(QPen(Qt::black, 1, Qt::SolidLine));
    painter.setBrush(QBrush(BackColorValue, Qt::SolidPattern));
    painter.setFont(font());
    painter.setBackgroundMode(Qt::OpaqueMode);
    painter.setBackground(QBrush(BackColorValue));
    painter.setClipRect(PlotRect());
    OnPaintHook(*this, painter);
  }
}

void TGrCntrl::resizeEvent(QResizeEvent* event) {
  // A hidden widget receives a resize event on every grab, with no old size; only a size that
  // differs from the pixmap's makes the pixmap anew.
  if (Bitmap.isNull() || Bitmap.deviceIndependentSize().toSize() != event->size()) {
    BitmapStale = true;
    RedrawNeeded = true;
  }
  QWidget::resizeEvent(event);
}

void TGrCntrl::changeEvent(QEvent* event) {
  if (event->type() == QEvent::FontChange && !LoadingForm) Invalidate();
  QWidget::changeEvent(event);
}

}  // namespace klarwell
