#pragma once

#include <QColor>
#include <QFont>
#include <QPixmap>
#include <QPoint>
#include <QRect>
#include <QString>
#include <QWidget>
#include <array>
#include <functional>
#include <memory>
#include <vector>

#include "chart/AxisScale.h"
#include "chart/Curves.h"

class QMenu;
class QPainter;

namespace klarwell {

// The program's x/y chart: a framed chart with a title, axis titles, linear or logarithmic axes
// with ticks and number labels, an optional dotted grid and up to 200 polyline curves. The left
// mouse button drags a zoom rectangle; a single click returns to the full view.
//
// The whole chart is rendered once into an off-screen pixmap, which every paint only copies; it
// is rendered again only after Invalidate(), a size change or a property change.
//
// Two sets of ranges exist: the set ranges (the XMin..YMax properties) and the displayed ranges.
// Setting a range property sets both; a zoom changes only the displayed ones.
//
// Everything here runs on the user-interface thread.
class TGrCntrl : public QWidget {
  Q_OBJECT
  Q_PROPERTY(QString Title READ Title WRITE SetTitle)
  Q_PROPERTY(QString XAxisTitle READ XAxisTitle WRITE SetXAxisTitle)
  Q_PROPERTY(QString YAxisTitle READ YAxisTitle WRITE SetYAxisTitle)
  Q_PROPERTY(double XMin READ XMin WRITE SetXMin)
  Q_PROPERTY(double XMax READ XMax WRITE SetXMax)
  Q_PROPERTY(double YMin READ YMin WRITE SetYMin)
  Q_PROPERTY(double YMax READ YMax WRITE SetYMax)
  Q_PROPERTY(bool XLog READ XLog WRITE SetXLog)
  Q_PROPERTY(bool YLog READ YLog WRITE SetYLog)
  Q_PROPERTY(bool AxisRight READ AxisRight WRITE SetAxisRight)
  Q_PROPERTY(bool GridX READ GridX WRITE SetGridX)
  Q_PROPERTY(bool GridY READ GridY WRITE SetGridY)
  Q_PROPERTY(bool ZoomOff READ ZoomOff WRITE SetZoomOff)
  Q_PROPERTY(QFont Font READ Font WRITE SetFont)
  Q_PROPERTY(QColor FontColor READ FontColor WRITE SetFontColor)
  Q_PROPERTY(int BevelInner READ BevelInner WRITE SetBevelInner)
  Q_PROPERTY(int BevelOuter READ BevelOuter WRITE SetBevelOuter)
  Q_PROPERTY(QColor BackColor READ BackColor WRITE SetBackColor)
  Q_PROPERTY(QColor ScaleColor READ ScaleColor WRITE SetScaleColor)
  Q_PROPERTY(QColor GridColor READ GridColor WRITE SetGridColor)
  Q_PROPERTY(int Digits READ Digits WRITE SetDigits)
  Q_PROPERTY(int Tag READ Tag WRITE SetTag)

 public:
  // Shows a refused property value: caption "TGrCntrl Error", the text, an OK button, no owner.
  // Tests replace it so that no dialog opens; an empty function restores the dialog.
  using TMessageBoxFn = std::function<void(const QString& caption, const QString& text)>;
  static void SetMessageBoxHandler(TMessageBoxFn handler);
  // The system beep for a zoom rectangle too small to be labelled; replaceable likewise.
  using TBeepFn = std::function<void()>;
  static void SetBeepHandler(TBeepFn handler);

  // Drawing hooks. OnChange runs after each render of the off-screen pixmap, with the painter on
  // the pixmap, clipped to the plot rectangle and its brush set to BackColor, so that what it
  // draws becomes part of the chart. OnPaint runs after each copy to the screen, with the painter
  // on the widget: black solid pen of width 1, solid BackColor brush, the chart font, opaque text
  // background, clipped to the plot rectangle.
  using TDrawHook = std::function<void(TGrCntrl& sender, QPainter& painter)>;

  // 130 x 120 pixels, ranges 0..10, linear axes on the right, both grids, Arial 9 pt blue.
  explicit TGrCntrl(QWidget* parent = nullptr);
  ~TGrCntrl() override;

  // Copies geometry, visibility, the three titles, both ranges (through SetXRange/SetYRange),
  // GridX, GridY, AxisRight, BackColor, the bevels, Digits, the font, the tag and OnChange.
  void Assign(const TGrCntrl& source);

  // Form loading: between BeginLoading() and Loaded() the range setters store values without
  // checking their order and font changes do not redraw. Loaded() then applies the font, checks
  // the loaded ranges (an invalid pair falls back to 0..10 with the setter's message) and emits
  // OnInit.
  void BeginLoading();
  void Loaded();

  // --- published properties ---
  QString Title() const { return TitleText; }
  void SetTitle(const QString& value);
  QString XAxisTitle() const { return XAxisTitleText; }
  void SetXAxisTitle(const QString& value);
  QString YAxisTitle() const { return YAxisTitleText; }
  void SetYAxisTitle(const QString& value);

  // The set ranges. A refused value (wrong order, <= 0 on a log axis, not finite) shows its
  // message and changes nothing.
  double XMin() const { return SetXMinValue; }
  double XMax() const { return SetXMaxValue; }
  double YMin() const { return SetYMinValue; }
  double YMax() const { return SetYMaxValue; }
  void SetXMin(double value);
  void SetXMax(double value);
  void SetYMin(double value);
  void SetYMax(double value);
  // Both ends of a range (swapped when b < a), set in an order that never violates min < max.
  void SetXRange(double a, double b);
  void SetYRange(double a, double b);

  // The displayed ranges (the set ones unless zoomed).
  double DispXMin() const { return DispXMinValue; }
  double DispXMax() const { return DispXMaxValue; }
  double DispYMin() const { return DispYMinValue; }
  double DispYMax() const { return DispYMaxValue; }

  bool XLog() const { return XLogValue; }
  void SetXLog(bool value);
  bool YLog() const { return YLogValue; }
  void SetYLog(bool value);
  bool AxisRight() const { return AxisRightValue; }
  void SetAxisRight(bool value);
  bool GridX() const { return GridXValue; }
  void SetGridX(bool value);
  bool GridY() const { return GridYValue; }
  void SetGridY(bool value);
  bool ZoomOff() const { return ZoomOffValue; }
  void SetZoomOff(bool value) { ZoomOffValue = value; }
  // The font of all texts (the widget's font) and its colour.
  QFont Font() const { return font(); }
  void SetFont(const QFont& value);
  QColor FontColor() const { return FontColorValue; }
  void SetFontColor(const QColor& value);
  // Bevel widths in pixels: positive raised, negative sunken, 0 a one-pixel black line.
  int BevelInner() const { return BevelInnerValue; }
  void SetBevelInner(int value);
  int BevelOuter() const { return BevelOuterValue; }
  void SetBevelOuter(int value);
  QColor BackColor() const { return BackColorValue; }
  void SetBackColor(const QColor& value);
  QColor ScaleColor() const { return ScaleColorValue; }
  void SetScaleColor(const QColor& value);
  QColor GridColor() const { return GridColorValue; }
  void SetGridColor(const QColor& value);
  // Significant digits 1..14 that a zoom range must still resolve; others are refused.
  int Digits() const { return DigitsValue; }
  void SetDigits(int value);
  int Tag() const { return TagValue; }
  void SetTag(int value) { TagValue = value; }
  // Shown on a right click unless a zoom drag is active; not owned.
  QMenu* PopupMenu() const { return PopupMenuPtr; }
  void SetPopupMenu(QMenu* menu) { PopupMenuPtr = menu; }

  void SetOnChange(TDrawHook hook) { OnChangeHook = std::move(hook); }
  void SetOnPaint(TDrawHook hook) { OnPaintHook = std::move(hook); }

  // --- parameters of AutoRangeY ---
  int MarginPercent = 5;
  double MinRangeFactor = 10.0;
  double SmallRangeLimit = 1.0;
  bool AutoRangeBelowZero = true;
  // Cleared before OnLMouseBtn is emitted; a handler that sets it suppresses this press's zoom.
  bool ZoomCancel = false;

  // --- curves ---
  void ClearCurves();
  // Pen colour of one curve; indexes outside 0..199 are ignored.
  void SetCurveColor(int curve, const QColor& color);
  void AddPoint(int curve, float x, float y);
  int CurvePointCount(int curve) const;
  // Contiguous values of one curve, CurvePointCount of them, valid until the curve changes.
  const float* CurveXValues(int curve) const;
  const float* CurveYValues(int curve) const;
  // A hidden curve is not drawn (it still counts for FitToData).
  bool CurveHidden(int curve) const;
  void SetCurveHidden(int curve, bool hidden);
  TCurves& Curves() { return *CurveData; }
  const TCurves& Curves() const { return *CurveData; }

  // Ranges from the data: when some points exist and not all x are equal, the X range becomes the
  // data's x range and the Y range AutoRangeY of the axis-0 y range. Otherwise nothing changes.
  void FitToData();
  // The automatic y range of data from lo to hi, with the parameters above.
  void AutoRangeY(double& lo, double& hi) const;

  // Marks the chart for rendering and requests a repaint.
  void Invalidate();

  // Value <-> pixel (widget coordinates) over the displayed ranges and the plot rectangle of the
  // last render. Pixels are rounded to nearest and clamped to -32000..32000.
  int XToPixel(double x) const;
  int YToPixel(double y) const;
  double PixelToX(int px) const;
  double PixelToY(int py) const;

  // Layout of the last render: the plot rectangle (right and bottom exclusive), the pixel columns
  // of the vertical and the rows of the horizontal grid lines (at most 101 each), and the label
  // decimals of both axes.
  QRect PlotRect() const { return QRect(QPoint(PlotLeft, PlotTop), QPoint(PlotRight - 1, PlotBottom - 1)); }
  int PlotLeftEdge() const { return PlotLeft; }
  int PlotTopEdge() const { return PlotTop; }
  int PlotRightEdge() const { return PlotRight; }
  int PlotBottomEdge() const { return PlotBottom; }
  const std::vector<int>& GridXPositions() const { return GridXPos; }
  const std::vector<int>& GridYPositions() const { return GridYPos; }
  int XDecimals() const { return XDecimalsValue; }
  int YDecimals() const { return YDecimalsValue; }
  // The labels the last render wrote (widget coordinates), left to right and bottom to top.
  struct TAxisLabel {
    QRect Box;
    QString Text;
    double Value;
    bool Main;  // at a main tick (a power of ten on a log axis)
  };
  const std::vector<TAxisLabel>& XLabels() const { return XLabelList; }
  const std::vector<TAxisLabel>& YLabels() const { return YLabelList; }
  bool ZoomDragActive() const { return Dragging; }

  // A label in the locale's decimal separator (QLocale()).
  static QString FormatAxisNumber(int decimals, double value);

  // Renders the chart into the off-screen pixmap now if it needs it (paintEvent does this).
  void RenderIfNeeded();

 signals:
  void OnInit();
  void OnLMouseBtn(Qt::MouseButton button, Qt::KeyboardModifiers modifiers, int x, int y);
  void OnRMouseBtn(Qt::MouseButton button, Qt::KeyboardModifiers modifiers, int x, int y);
  void OnLMouseBtnUp(Qt::MouseButton button, Qt::KeyboardModifiers modifiers, int x, int y);
  void OnLDblClick();
  void OnRDblClick();
  void OnMouseMove(Qt::MouseButtons buttons, Qt::KeyboardModifiers modifiers, int x, int y);

 protected:
  void paintEvent(QPaintEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;
  void changeEvent(QEvent* event) override;
  void mousePressEvent(QMouseEvent* event) override;
  void mouseMoveEvent(QMouseEvent* event) override;
  void mouseReleaseEvent(QMouseEvent* event) override;
  void mouseDoubleClickEvent(QMouseEvent* event) override;
  void contextMenuEvent(QContextMenuEvent* event) override;

 private:
  struct TRect {
    int Left, Top, Right, Bottom;
  };

  void ShowError(const char* text) const;
  void Render();
  // Render's steps: the titles, each taking its room off r; the grid over the plot area.
  void DrawTitles(QPainter& painter, const QFontMetrics& fm, TRect& r) const;
  void DrawGrid(QPainter& painter) const;
  void DrawBevel(QPainter& painter, TRect& r, int width) const;
  // Ticks, labels and grid positions of one axis; each takes the room it needs from r.
  void DrawYAxis(QPainter& painter, TRect& r);
  void DrawXAxis(QPainter& painter, TRect& r);
  void DrawCurves(QPainter& painter) const;
  bool InPlot(const QPoint& point) const;
  QPoint ClampToPlot(const QPoint& point) const;
  void FinishZoom(const QPoint& end);
  bool ApplyZoomX(int px1, int px2, bool check);
  bool ApplyZoomY(int py1, int py2, bool check);

  std::unique_ptr<TCurves> CurveData;
  std::array<bool, TCurves::CurveCount> Hidden{};

  QString TitleText;
  QString XAxisTitleText;
  QString YAxisTitleText;
  double SetXMinValue = 0.0, SetXMaxValue = 10.0, SetYMinValue = 0.0, SetYMaxValue = 10.0;
  double DispXMinValue = 0.0, DispXMaxValue = 10.0, DispYMinValue = 0.0, DispYMaxValue = 10.0;
  bool XLogValue = false;
  bool YLogValue = false;
  bool AxisRightValue = true;
  bool GridXValue = true;
  bool GridYValue = true;
  bool ZoomOffValue = false;
  QColor FontColorValue;
  int BevelInnerValue = 1;
  int BevelOuterValue = 1;
  QColor BackColorValue;
  QColor ScaleColorValue;
  QColor GridColorValue;
  int DigitsValue = 5;
  int TagValue = 0;
  QMenu* PopupMenuPtr = nullptr;
  TDrawHook OnChangeHook;
  TDrawHook OnPaintHook;

  // Plot rectangle of the last render, right and bottom exclusive.
  int PlotLeft = 0, PlotTop = 0, PlotRight = 0, PlotBottom = 0;
  std::vector<int> GridXPos;
  std::vector<int> GridYPos;
  std::vector<TAxisLabel> XLabelList;
  std::vector<TAxisLabel> YLabelList;
  int XDecimalsValue = 0;
  int YDecimalsValue = 0;

  QPixmap Bitmap;
  bool BitmapStale = true;  // size changed: the pixmap is made anew
  bool RedrawNeeded = true;
  bool LoadingForm = false;
  bool LeftDown = false;
  bool Dragging = false;
  QPoint DragStart;
  QPoint DragCurrent;
};

}  // namespace klarwell
