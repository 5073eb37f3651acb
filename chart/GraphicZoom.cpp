// The chart's mouse: the zoom drag with the left button, one click back to the full view, and
// the mouse signals and the popup menu.

#include <QApplication>
#include <QContextMenuEvent>
#include <QMenu>
#include <QMouseEvent>
#include <algorithm>

#include "chart/AxisScale.h"
#include "chart/Graphic.h"
#include "chart/GraphicDetail.h"

namespace klarwell {

using chart_detail::Finite;

namespace {

TGrCntrl::TBeepFn& BeepHandler() {
  static TGrCntrl::TBeepFn handler;
  return handler;
}

}  // namespace

void TGrCntrl::SetBeepHandler(TBeepFn handler) {
  BeepHandler() = std::move(handler);
}

bool TGrCntrl::InPlot(const QPoint& point) const {
  return point.x() >= PlotLeft && point.x() < PlotRight && point.y() >= PlotTop && point.y() < PlotBottom;
}

QPoint TGrCntrl::ClampToPlot(const QPoint& point) const {
  // Stands in for confining the cursor to the plot while dragging.
  return QPoint(std::clamp(point.x(), PlotLeft, std::max(PlotLeft, PlotRight - 1)),
                std::clamp(point.y(), PlotTop, std::max(PlotTop, PlotBottom - 1)));
}

void TGrCntrl::mousePressEvent(QMouseEvent* event) {
  const QPoint point = event->position().toPoint();
  if (event->button() == Qt::LeftButton) {
    // The plot rectangle must be that of the chart as it will be seen.
    RenderIfNeeded();
    ZoomCancel = false;
    emit OnLMouseBtn(Qt::LeftButton, event->modifiers(), point.x(), point.y());
    LeftDown = true;
    if (!ZoomCancel && !ZoomOffValue && InPlot(point)) {
      Dragging = true;
      DragStart = DragCurrent = point;
      update();
    }
  } else if (event->button() == Qt::RightButton) {
    if (!Dragging) emit OnRMouseBtn(Qt::RightButton, event->modifiers(), point.x(), point.y());
  }
  event->accept();
}

void TGrCntrl::mouseMoveEvent(QMouseEvent* event) {
  const QPoint point = event->position().toPoint();
  if (Dragging) {
    DragCurrent = ClampToPlot(point);
    update();
  }
  emit OnMouseMove(event->buttons(), event->modifiers(), point.x(), point.y());
  event->accept();
}

void TGrCntrl::mouseReleaseEvent(QMouseEvent* event) {
  if (event->button() != Qt::LeftButton) {
    event->accept();
    return;
  }
  const QPoint point = event->position().toPoint();
  if (Dragging) {
    Dragging = false;
    update();
    FinishZoom(ClampToPlot(point));
  }
  if (LeftDown) {
    LeftDown = false;
    emit OnLMouseBtnUp(Qt::LeftButton, event->modifiers(), point.x(), point.y());
  }
  event->accept();
}

void TGrCntrl::mouseDoubleClickEvent(QMouseEvent* event) {
  // The second press of a double click is this event alone, as on the first click's release no
  // zoom drag can start again.
  const QPoint point = event->position().toPoint();
  if (event->button() == Qt::LeftButton && InPlot(point)) {
    emit OnLDblClick();
  } else if (event->button() == Qt::RightButton && InPlot(point) && !Dragging) {
    emit OnRDblClick();
  }
  event->accept();
}

void TGrCntrl::contextMenuEvent(QContextMenuEvent* event) {
  if (PopupMenuPtr && !Dragging) PopupMenuPtr->popup(event->globalPos());
  event->accept();
}

bool TGrCntrl::ApplyZoomX(int px1, int px2, bool apply) {
  double lo = PixelToX(px1);
  double hi = PixelToX(px2);
  if (hi < lo) std::swap(lo, hi);
  // A range that collapsed to one value or cannot be labelled would divide by zero in the
  // conversions or print identical labels.
  if (!(Finite(lo) && Finite(hi) && lo < hi) || !RangeResolvable(XLogValue, DigitsValue, hi, lo))
    return false;
  if (apply) {
    DispXMinValue = lo;
    DispXMaxValue = hi;
  }
  return true;
}

bool TGrCntrl::ApplyZoomY(int py1, int py2, bool apply) {
  double lo = PixelToY(py1);
  double hi = PixelToY(py2);
  if (hi < lo) std::swap(lo, hi);
  if (!(Finite(lo) && Finite(hi) && lo < hi) || !RangeResolvable(YLogValue, DigitsValue, hi, lo))
    return false;
  if (apply) {
    DispYMinValue = lo;
    DispYMaxValue = hi;
  }
  return true;
}

void TGrCntrl::FinishZoom(const QPoint& end) {
  const QPoint start = DragStart;
  const bool xDiffers = start.x() != end.x();
  const bool yDiffers = start.y() != end.y();
  if (!xDiffers && !yDiffers) {
    // One click returns to the full view.
    if (DispXMinValue != SetXMinValue || DispXMaxValue != SetXMaxValue || DispYMinValue != SetYMinValue ||
        DispYMaxValue != SetYMaxValue) {
      DispXMinValue = SetXMinValue;
      DispXMaxValue = SetXMaxValue;
      DispYMinValue = SetYMinValue;
      DispYMaxValue = SetYMaxValue;
      Invalidate();
    }
    return;
  }
  const bool xOk = !xDiffers || ApplyZoomX(start.x(), end.x(), false);
  const bool yOk = !yDiffers || ApplyZoomY(start.y(), end.y(), false);
  if (!xOk || !yOk) {
    if (BeepHandler()) {
      BeepHandler()();
    } else {
      QApplication::beep();
    }
    return;
  }
  if (xDiffers) ApplyZoomX(start.x(), end.x(), true);
  if (yDiffers) ApplyZoomY(start.y(), end.y(), true);
  Invalidate();
}

}  // namespace klarwell
