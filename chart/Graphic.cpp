#include "chart/Graphic.h"

#include <QApplication>
#include <QContextMenuEvent>
#include <QFontMetrics>
#include <QLocale>
#include <QMenu>
#include <QMessageBox>
#include <QMouseEvent>
#include <QPaintEvent>
#include <QPainter>
#include <QPen>
#include <QPolygon>
#include <QResizeEvent>
#include <algorithm>
#include <cmath>

namespace klarwell {

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

constexpr int MaxGridLines = 101;
constexpr double PixelLimit = 32000.0;
// Tick values are computed as first + i * step; this much of a step is rounding noise.
constexpr double TickTolerance = 1e-9;

TGrCntrl::TMessageBoxFn& MessageBoxHandler() {
  static TGrCntrl::TMessageBoxFn handler;
  return handler;
}

TGrCntrl::TBeepFn& BeepHandler() {
  static TGrCntrl::TBeepFn handler;
  return handler;
}

QColor ToQColor(TColor c) {
  return QColor(c & 0xFF, (c >> 8) & 0xFF, (c >> 16) & 0xFF);
}

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

// Rounded to nearest (halves to even) after clamping, so that far-away points still make lines.
int ClampPixel(double v) {
  if (std::isnan(v)) return -static_cast<int>(PixelLimit);
  return static_cast<int>(std::nearbyint(std::clamp(v, -PixelLimit, PixelLimit)));
}

bool Finite(double v) {
  return std::isfinite(v);
}

// The first main tick at or above min: min / step rounded up to a whole number, times step. A
// quotient within rounding noise of a whole number counts as that number, and -0 becomes 0.
double FirstTick(double min, double step) {
  double q = min / step;
  const double whole = std::nearbyint(q);
  if (std::fabs(q - whole) <= TickTolerance * std::max(1.0, std::fabs(q))) q = whole;
  return std::ceil(q) * step + 0.0;
}

// Text drawn with its top-left corner at (x, y), as the layout measures it.
void TextOut(QPainter& painter, const QFontMetrics& fm, int x, int y, const QString& text) {
  painter.drawText(x, y + fm.ascent(), text);
}

// One tick position of an axis. Every position gets a tick (long at main ones); labels are
// written at the label positions where they fit.
struct TAxisTick {
  double Value;
  bool Main;   // a main step; a power of ten on a log axis
  bool Label;  // a label position
  QString Text;
};

// The tick positions of one axis in increasing value, and the decimals of their labels.
struct TAxisPlan {
  std::vector<TAxisTick> Ticks;
  int Decimals = 0;
};

// first + j * step / parts for every j whose value lies within min..max (with rounding
// tolerance), in increasing order; fn(value, j).
template <typename Fn>
void ForEachPosition(double min, double max, double first, int count, double step, int parts, Fn&& fn) {
  const double tolerance = TickTolerance * step;
  for (int j = -(parts - 1); j <= count * parts + (parts - 1); ++j) {
    const double v = first + j * (step / parts);
    if (v < min - tolerance || v > max + tolerance) continue;
    fn(v, j);
  }
}

bool Divides(int j, int parts) {
  return ((j % parts) + parts) % parts == 0;
}

// A linear axis over the pixels a..b. Minor ticks and sub-positions come from the spacing of
// two "-0E-00" texts; horizontally the labels need three label widths, vertically they stand at
// every sub-position.
TAxisPlan LinearPlan(const QFontMetrics& fm, int a, int b, double min, double max, bool horizontal) {
  TAxisPlan plan;
  const TDecadeStep ds = DecadeStep(max, min);
  if (ds.Step <= 0.0) return plan;
  const double step = ds.Step;
  int count = ds.Count;
  const double first = FirstTick(min, step);
  if (max + TickTolerance * step < first + count * step) --count;
  int decimals = RangeDecimals(max, min);
  int minor = ChooseSubdivision(a, b, 2 * fm.horizontalAdvance(QStringLiteral("-0E-00")), max, min, step);
  const int sub = minor;
  if (sub > 1 && decimals > 0) ++decimals;

  int labels = sub;
  if (horizontal) {
    int widest = 0;
    ForEachPosition(min, max, first, count, step, sub, [&](double v, int) {
      widest = std::max(widest, fm.horizontalAdvance(TGrCntrl::FormatAxisNumber(decimals, v)));
    });
    labels = std::min(ChooseSubdivision(a, b, ClampPixel(3.0 * widest), max, min, step), sub);
    // Labels at half steps do not sit on fifths.
    if (labels == 2 && sub == 5) minor = 2;
  }
  ForEachPosition(min, max, first, count, step, minor, [&](double v, int j) {
    const bool label = Divides(j, minor / labels);
    plan.Ticks.push_back(
        {v, Divides(j, minor), label, label ? TGrCntrl::FormatAxisNumber(decimals, v) : QString()});
  });
  plan.Decimals = decimals;
  return plan;
}

// Sets of a decade on a log axis, coarse to fine, and the smallest gap of each as a fraction of
// a decade: {1}, {1, 2, 5}, {1 .. 9}. Each set holds the coarser ones.
constexpr int LogSetCount = 3;
constexpr double LogSetGap[LogSetCount] = {1.0, 0.30102999566398120, 0.045757490560675115};

bool InLogSet(int set, int m) {
  if (set == 0) return m == 1;
  if (set == 1) return m == 1 || m == 2 || m == 5;
  return true;
}

// The first set whose smallest gap (pixels) is below minSpacing, as ChooseSubdivision does for
// linear steps; the finest set when none is.
int ChooseLogSet(double pixelsPerDecade, int minSpacing) {
  for (int set = 0; set < LogSetCount; ++set) {
    const int gap = ClampPixel(pixelsPerDecade * LogSetGap[set]);
    if (gap < minSpacing) return set;
  }
  return LogSetCount - 1;
}

// The values m * 10^k from min to max whose m belongs to a set, in increasing order; fn(v, m, k).
template <typename Fn>
void ForEachLogPosition(double min, double max, int set, Fn&& fn) {
  const int kFirst = static_cast<int>(std::floor(std::log10(min))) - 1;
  const int kLast = static_cast<int>(std::ceil(std::log10(max))) + 1;
  for (int k = kFirst; k <= kLast; ++k) {
    const double decade = std::pow(10.0, k);
    for (int m = 1; m <= 9; ++m) {
      if (!InLogSet(set, m)) continue;
      // m * 10^k carries rounding noise for negative k; the tolerance keeps the range's ends.
      const double v = m * decade;
      if (v < min * (1.0 - TickTolerance) || v > max * (1.0 + TickTolerance)) continue;
      fn(v, m, k);
    }
  }
}

// A log label m * 10^k is written out down to its own digit.
int LogLabelDecimals(int k) {
  return k < 0 ? -k : 0;
}

// A log axis over the pixels a..b (min > 0): ticks at 1, 2 and 5 times the powers of ten or at
// all nine, labels on a coarser or the same set, chosen by the minimum-spacing rule of the
// linear axes. A range inside one decade that holds fewer than two of these gets its ticks from
// the linear steps instead.
TAxisPlan LogPlan(const QFontMetrics& fm, int a, int b, double min, double max, bool horizontal) {
  TAxisPlan plan;
  const double pixelsPerDecade = (b - a) / std::log10(max / min);
  const int minorSet = ChooseLogSet(pixelsPerDecade, 2 * fm.horizontalAdvance(QStringLiteral("-0E-00")));
  int candidates = 0;
  int widest = 0;
  ForEachLogPosition(min, max, minorSet, [&](double v, int, int k) {
    ++candidates;
    widest = std::max(widest, fm.horizontalAdvance(TGrCntrl::FormatAxisNumber(LogLabelDecimals(k), v)));
  });
  if (candidates < 2) {
    const TDecadeStep ds = DecadeStep(max, min);
    if (ds.Step <= 0.0) return plan;
    plan.Decimals = RangeDecimals(max, min);
    ForEachPosition(min, max, FirstTick(min, ds.Step), ds.Count, ds.Step, 1, [&](double v, int) {
      plan.Ticks.push_back({v, true, true, TGrCntrl::FormatAxisNumber(plan.Decimals, v)});
    });
    return plan;
  }
  const int labelSpacing = horizontal ? ClampPixel(3.0 * widest) : 2 * fm.height();
  const int labelSet = std::min(minorSet, ChooseLogSet(pixelsPerDecade, labelSpacing));
  ForEachLogPosition(min, max, minorSet, [&](double v, int m, int k) {
    const bool label = InLogSet(labelSet, m);
    if (label) plan.Decimals = std::max(plan.Decimals, LogLabelDecimals(k));
    plan.Ticks.push_back(
        {v, m == 1, label, label ? TGrCntrl::FormatAxisNumber(LogLabelDecimals(k), v) : QString()});
  });
  return plan;
}

}  // namespace

void TGrCntrl::SetMessageBoxHandler(TMessageBoxFn handler) {
  MessageBoxHandler() = std::move(handler);
}

void TGrCntrl::SetBeepHandler(TBeepFn handler) {
  BeepHandler() = std::move(handler);
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

// --- curves ---

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

void TGrCntrl::Invalidate() {
  RedrawNeeded = true;
  update();
}

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

// --- rendering ---

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

  DrawYAxis(painter, r);
  DrawXAxis(painter, r);

  DrawBevel(painter, r, BevelInnerValue);
  PlotLeft = r.Left;
  PlotTop = r.Top;
  PlotRight = r.Right;
  PlotBottom = r.Bottom;
  const QRect plot(PlotLeft, PlotTop, std::max(0, PlotRight - PlotLeft), std::max(0, PlotBottom - PlotTop));
  painter.fillRect(plot, BackColorValue);

  if (GridXValue || GridYValue) {
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

  painter.setClipRect(plot);
  DrawCurves(painter);
  if (OnChangeHook) {
    painter.setPen(QPen(Qt::black, 0));
    painter.setBrush(BackColorValue);
    OnChangeHook(*this, painter);
  }
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

// --- painting and events ---

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
