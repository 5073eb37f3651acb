// The chart's construction, form loading and property setters. Its scales and axes, rendering,
// curves and zoom follow in GraphicAxes.cpp, GraphicRender.cpp, GraphicCurves.cpp and
// GraphicZoom.cpp.

#include "chart/Graphic.h"

#include <QMessageBox>
#include <algorithm>
#include <memory>

#include "chart/GraphicDetail.h"

namespace klarwell {

using chart_detail::Finite;
using chart_detail::ToQColor;

namespace {

// The control's own messages; they belong to the component and exist in one language only.
constexpr const char* ErrorCaption = "TGrCntrl Error";
constexpr const char* XMinOrderText = "Value for Xmin must be lesser than value for Xmax !";
constexpr const char* XMaxOrderText = "Value for Xmax must be greater than value for Xmin !";
constexpr const char* YMinOrderText = "Value for Ymin must be lesser than value for Ymax !";
constexpr const char* YMaxOrderText = "Value for Ymax must be greater than value for Ymin !";
constexpr const char* XLogText = "You cannot set up a log. X-scale with negative or zero X-values !";
constexpr const char* YLogText = "You cannot set up a log. Y-scale with negative or zero Y-values !";
constexpr const char* DigitsText = "Digits must be in the Range of 1..14 !";

TGrCntrl::TMessageBoxFn& MessageBoxHandler() {
  static TGrCntrl::TMessageBoxFn handler;
  return handler;
}

}  // namespace

void TGrCntrl::SetMessageBoxHandler(TMessageBoxFn handler) {
  MessageBoxHandler() = std::move(handler);
}

TGrCntrl::TGrCntrl(QWidget* parent)
    : QWidget(parent),
      CurveData(std::make_unique<TCurves>()),
      FontColorValue(Qt::blue),
      BackColorValue(ToQColor(clGray)),
      ScaleColorValue(ToQColor(clSilver)),
      GridColorValue(ToQColor(clBlack)) {
  QFont chartFont(QStringLiteral("Arial"));
  chartFont.setPointSize(9);
  setFont(chartFont);
  setMouseTracking(true);
  // Every pixel comes from the off-screen pixmap.
  setAttribute(Qt::WA_OpaquePaintEvent);
  resize(130, 120);
}

TGrCntrl::~TGrCntrl() = default;

void TGrCntrl::ShowError(const char* text) const {
  const QString caption = QString::fromLatin1(ErrorCaption);
  const QString message = QString::fromLatin1(text);
  if (MessageBoxHandler()) {
    MessageBoxHandler()(caption, message);
    return;
  }
  QMessageBox box(QMessageBox::NoIcon, caption, message, QMessageBox::Ok);
  box.exec();
}

void TGrCntrl::Assign(const TGrCntrl& source) {
  setGeometry(source.geometry());
  setHidden(source.isHidden());
  SetTitle(source.Title());
  SetXAxisTitle(source.XAxisTitle());
  SetYAxisTitle(source.YAxisTitle());
  SetXRange(source.XMin(), source.XMax());
  SetYRange(source.YMin(), source.YMax());
  SetGridX(source.GridX());
  SetGridY(source.GridY());
  SetAxisRight(source.AxisRight());
  SetBackColor(source.BackColor());
  SetBevelInner(source.BevelInner());
  SetBevelOuter(source.BevelOuter());
  SetDigits(source.Digits());
  SetFont(source.Font());
  SetFontColor(source.FontColor());
  SetTag(source.Tag());
  OnChangeHook = source.OnChangeHook;
}

void TGrCntrl::BeginLoading() {
  LoadingForm = true;
}

void TGrCntrl::Loaded() {
  LoadingForm = false;
  // Properties read in any order were stored unchecked; a pair that cannot be drawn falls back
  // to the default range instead of dividing by zero at the first paint.
  if (!(Finite(SetXMinValue) && Finite(SetXMaxValue) && SetXMinValue < SetXMaxValue)) {
    ShowError(XMinOrderText);
    SetXMinValue = 0.0;
    SetXMaxValue = 10.0;
  }
  if (XLogValue && SetXMinValue <= 0.0) {
    ShowError(XLogText);
    XLogValue = false;
  }
  if (!(Finite(SetYMinValue) && Finite(SetYMaxValue) && SetYMinValue < SetYMaxValue)) {
    ShowError(YMinOrderText);
    SetYMinValue = 0.0;
    SetYMaxValue = 10.0;
  }
  if (YLogValue && SetYMinValue <= 0.0) {
    ShowError(YLogText);
    YLogValue = false;
  }
  DispXMinValue = SetXMinValue;
  DispXMaxValue = SetXMaxValue;
  DispYMinValue = SetYMinValue;
  DispYMaxValue = SetYMaxValue;
  Invalidate();
  emit OnInit();
}

// --- property setters ---

void TGrCntrl::SetTitle(const QString& value) {
  TitleText = value;
  Invalidate();
}

void TGrCntrl::SetXAxisTitle(const QString& value) {
  XAxisTitleText = value;
  Invalidate();
}

void TGrCntrl::SetYAxisTitle(const QString& value) {
  YAxisTitleText = value;
  Invalidate();
}

void TGrCntrl::SetXMin(double value) {
  if (LoadingForm) {
    SetXMinValue = DispXMinValue = value;
    return;
  }
  // A value that cannot be ordered (NaN, infinity) is refused like one in the wrong order.
  if (!Finite(value) || SetXMaxValue <= value) {
    ShowError(XMinOrderText);
    return;
  }
  if (XLogValue && value <= 0.0) {
    ShowError(XLogText);
    return;
  }
  SetXMinValue = DispXMinValue = value;
  // A zoomed maximum below the new minimum would turn the axis over.
  if (DispXMaxValue <= DispXMinValue) DispXMaxValue = SetXMaxValue;
  Invalidate();
}

void TGrCntrl::SetXMax(double value) {
  if (LoadingForm) {
    SetXMaxValue = DispXMaxValue = value;
    return;
  }
  if (!Finite(value) || value <= SetXMinValue) {
    ShowError(XMaxOrderText);
    return;
  }
  SetXMaxValue = DispXMaxValue = value;
  if (DispXMinValue >= DispXMaxValue) DispXMinValue = SetXMinValue;
  Invalidate();
}

void TGrCntrl::SetYMin(double value) {
  if (LoadingForm) {
    SetYMinValue = DispYMinValue = value;
    return;
  }
  if (!Finite(value) || SetYMaxValue <= value) {
    ShowError(YMinOrderText);
    return;
  }
  if (YLogValue && value <= 0.0) {
    ShowError(YLogText);
    return;
  }
  SetYMinValue = DispYMinValue = value;
  if (DispYMaxValue <= DispYMinValue) DispYMaxValue = SetYMaxValue;
  Invalidate();
}

void TGrCntrl::SetYMax(double value) {
  if (LoadingForm) {
    SetYMaxValue = DispYMaxValue = value;
    return;
  }
  if (!Finite(value) || value <= SetYMinValue) {
    ShowError(YMaxOrderText);
    return;
  }
  SetYMaxValue = DispYMaxValue = value;
  if (DispYMinValue >= DispYMaxValue) DispYMinValue = SetYMinValue;
  Invalidate();
}

void TGrCntrl::SetXRange(double a, double b) {
  if (b < a) std::swap(a, b);
  // Moving the range up sets the maximum first, so that min < max holds after each step.
  if (SetXMaxValue > a) {
    SetXMin(a);
    SetXMax(b);
  } else {
    SetXMax(b);
    SetXMin(a);
  }
}

void TGrCntrl::SetYRange(double a, double b) {
  if (b < a) std::swap(a, b);
  if (SetYMaxValue > a) {
    SetYMin(a);
    SetYMax(b);
  } else {
    SetYMax(b);
    SetYMin(a);
  }
}

void TGrCntrl::SetXLog(bool value) {
  if (value && !LoadingForm && SetXMinValue <= 0.0) {
    ShowError(XLogText);
    return;
  }
  XLogValue = value;
  Invalidate();
}

void TGrCntrl::SetYLog(bool value) {
  if (value && !LoadingForm && SetYMinValue <= 0.0) {
    ShowError(YLogText);
    return;
  }
  YLogValue = value;
  Invalidate();
}

void TGrCntrl::SetAxisRight(bool value) {
  AxisRightValue = value;
  Invalidate();
}

void TGrCntrl::SetGridX(bool value) {
  GridXValue = value;
  Invalidate();
}

void TGrCntrl::SetGridY(bool value) {
  GridYValue = value;
  Invalidate();
}

void TGrCntrl::SetFont(const QFont& value) {
  // The font change arrives in changeEvent, which redraws.
  setFont(value);
}

void TGrCntrl::SetFontColor(const QColor& value) {
  FontColorValue = value;
  if (!LoadingForm) Invalidate();
}

void TGrCntrl::SetBevelInner(int value) {
  BevelInnerValue = value;
  Invalidate();
}

void TGrCntrl::SetBevelOuter(int value) {
  BevelOuterValue = value;
  Invalidate();
}

void TGrCntrl::SetBackColor(const QColor& value) {
  BackColorValue = value;
  Invalidate();
}

void TGrCntrl::SetScaleColor(const QColor& value) {
  ScaleColorValue = value;
  Invalidate();
}

void TGrCntrl::SetGridColor(const QColor& value) {
  GridColorValue = value;
  Invalidate();
}

void TGrCntrl::SetDigits(int value) {
  if (value < 1 || value > 14) {
    ShowError(DigitsText);
    return;
  }
  // Digits only matter for the next zoom; the chart looks the same.
  DigitsValue = value;
}

void TGrCntrl::Invalidate() {
  RedrawNeeded = true;
  update();
}

}  // namespace klarwell
