#include <gtest/gtest.h>

#include <QApplication>
#include <QDir>
#include <QImage>
#include <QLocale>
#include <QPainter>
#include <QTest>
#include <cmath>
#include <string>
#include <vector>

#include "chart/Graphic.h"
#include "tests/support/TestPaths.h"

namespace klarwell {
namespace {

QApplication& App() {
  static int argc = 1;
  static char name[] = "chart_graphic_test";
  static char* argv[] = {name, nullptr};
  // Never destroyed: at exit its children (the test mouse device) would outlive Qt's own statics.
  static QApplication* app = new QApplication(argc, argv);
  return *app;
}

// Every test runs with the message box and the beep caught instead of shown.
class GraphicTest : public ::testing::Test {
 protected:
  // Before any member widget of a derived fixture is built.
  GraphicTest() { App(); }
  void SetUp() override {
    TGrCntrl::SetMessageBoxHandler([this](const QString& caption, const QString& text) {
      Captions.push_back(caption.toStdString());
      Messages.push_back(text.toStdString());
    });
    TGrCntrl::SetBeepHandler([this] { ++Beeps; });
  }
  void TearDown() override {
    TGrCntrl::SetMessageBoxHandler(nullptr);
    TGrCntrl::SetBeepHandler(nullptr);
    QLocale::setDefault(QLocale::c());
  }

  std::vector<std::string> Captions;
  std::vector<std::string> Messages;
  int Beeps = 0;
};

// The two charts of the main window, 289 x 185 with a 12-pixel navy font.
void MakeDensityStyle(TGrCntrl& chart) {
  chart.resize(289, 185);
  QFont font(QStringLiteral("Arial"));
  font.setPixelSize(12);
  chart.SetFont(font);
  chart.SetFontColor(QColor(0, 0, 128));
  chart.SetBackColor(QColor(192, 192, 192));
  chart.SetTitle(QStringLiteral("Click-Density"));
  chart.SetXAxisTitle(QStringLiteral("Fileposition (minutes)"));
  chart.SetYAxisTitle(QStringLiteral("Clicks per second"));
}

void MakeExtractStyle(TGrCntrl& chart) {
  chart.resize(289, 185);
  QFont font(QStringLiteral("Arial"));
  font.setPixelSize(12);
  chart.SetFont(font);
  chart.SetFontColor(QColor(0, 0, 128));
  chart.SetBackColor(Qt::white);
  chart.SetGridX(false);
  chart.SetGridY(false);
  chart.SetTitle(QStringLiteral("Processed Clicks (Extract)"));
}

QImage Grab(TGrCntrl& chart) {
  return chart.grab().toImage().convertToFormat(QImage::Format_RGB32);
}

void Save(const QImage& image, const std::string& name) {
  const QString dir = QString::fromStdString(test::BinaryDir()) + QStringLiteral("/test-artifacts");
  QDir().mkpath(dir);
  image.save(dir + QStringLiteral("/") + QString::fromStdString(name));
}

bool Overlap(const QRect& a, const QRect& b) {
  return a.intersects(b);
}

// --- property setters ---

// The properties must reach the meta-object system under their published names.
TEST_F(GraphicTest, PublishedPropertiesAreReachableByName) {
  TGrCntrl chart;
  EXPECT_EQ(chart.property("XMax").toDouble(), 10.0);
  EXPECT_EQ(chart.property("BackColor").value<QColor>(), QColor(128, 128, 128));
  EXPECT_TRUE(chart.setProperty("Title", QStringLiteral("T")));
  EXPECT_EQ(chart.Title(), QStringLiteral("T"));
  // Through the property system the setter's checks still apply.
  chart.setProperty("XMin", 20.0);
  EXPECT_EQ(chart.XMin(), 0.0);
  EXPECT_EQ(Messages.size(), 1u);
}

TEST_F(GraphicTest, RefusedValuesShowTheirMessageAndChangeNothing) {
  struct TCase {
    const char* Name;
    std::function<void(TGrCntrl&)> Prepare;
    std::function<void(TGrCntrl&)> Act;
    const char* Message;
  };
  const TCase cases[] = {
      {"XMin = XMax", nullptr, [](TGrCntrl& c) { c.SetXMin(10); },
       "Value for Xmin must be lesser than value for Xmax !"},
      {"XMax = XMin", nullptr, [](TGrCntrl& c) { c.SetXMax(0); },
       "Value for Xmax must be greater than value for Xmin !"},
      {"YMin above YMax", nullptr, [](TGrCntrl& c) { c.SetYMin(11); },
       "Value for Ymin must be lesser than value for Ymax !"},
      {"YMax below YMin", nullptr, [](TGrCntrl& c) { c.SetYMax(-1); },
       "Value for Ymax must be greater than value for Ymin !"},
      {"XMin NaN", nullptr, [](TGrCntrl& c) { c.SetXMin(NAN); },
       "Value for Xmin must be lesser than value for Xmax !"},
      {"YMax infinite", nullptr, [](TGrCntrl& c) { c.SetYMax(INFINITY); },
       "Value for Ymax must be greater than value for Ymin !"},
      {"XLog with XMin 0", nullptr, [](TGrCntrl& c) { c.SetXLog(true); },
       "You cannot set up a log. X-scale with negative or zero X-values !"},
      {"YLog with YMin 0", nullptr, [](TGrCntrl& c) { c.SetYLog(true); },
       "You cannot set up a log. Y-scale with negative or zero Y-values !"},
      {"XMin 0 on a log axis",
       [](TGrCntrl& c) {
         c.SetXMin(1);
         c.SetXLog(true);
       },
       [](TGrCntrl& c) { c.SetXMin(0); },
       "You cannot set up a log. X-scale with negative or zero X-values !"},
      {"YMin negative on a log axis",
       [](TGrCntrl& c) {
         c.SetYMin(1);
         c.SetYLog(true);
       },
       [](TGrCntrl& c) { c.SetYMin(-3); },
       "You cannot set up a log. Y-scale with negative or zero Y-values !"},
      {"Digits 15", nullptr, [](TGrCntrl& c) { c.SetDigits(15); }, "Digits must be in the Range of 1..14 !"},
      {"Digits 0", nullptr, [](TGrCntrl& c) { c.SetDigits(0); }, "Digits must be in the Range of 1..14 !"},
  };
  for (const TCase& tc : cases) {
    TGrCntrl chart;
    if (tc.Prepare) tc.Prepare(chart);
    Messages.clear();
    Captions.clear();
    const double before[] = {chart.XMin(), chart.XMax(), chart.YMin(), chart.YMax()};
    const bool logs[] = {chart.XLog(), chart.YLog()};
    tc.Act(chart);
    ASSERT_EQ(Messages.size(), 1u) << tc.Name;
    EXPECT_EQ(Messages[0], tc.Message) << tc.Name;
    EXPECT_EQ(Captions[0], "TGrCntrl Error") << tc.Name;
    EXPECT_EQ(chart.XMin(), before[0]) << tc.Name;
    EXPECT_EQ(chart.XMax(), before[1]) << tc.Name;
    EXPECT_EQ(chart.YMin(), before[2]) << tc.Name;
    EXPECT_EQ(chart.YMax(), before[3]) << tc.Name;
    EXPECT_EQ(chart.DispXMin(), before[0]) << tc.Name;
    EXPECT_EQ(chart.DispYMax(), before[3]) << tc.Name;
    EXPECT_EQ(chart.XLog(), logs[0]) << tc.Name;
    EXPECT_EQ(chart.YLog(), logs[1]) << tc.Name;
    EXPECT_EQ(chart.Digits(), 5) << tc.Name;
  }
}

TEST_F(GraphicTest, AcceptedValuesAreStoredWithoutMessage) {
  TGrCntrl chart;
  chart.SetDigits(14);
  EXPECT_EQ(chart.Digits(), 14);
  chart.SetDigits(1);
  EXPECT_EQ(chart.Digits(), 1);
  chart.SetXMin(1);
  chart.SetXLog(true);
  EXPECT_TRUE(chart.XLog());
  EXPECT_TRUE(Messages.empty());
}

// Setting XMin first would be refused (20 > 10), so the maximum has to go first.
TEST_F(GraphicTest, SetRangeOrdersItsTwoSteps) {
  TGrCntrl chart;
  chart.SetXRange(20, 10);
  EXPECT_EQ(chart.XMin(), 10.0);
  EXPECT_EQ(chart.XMax(), 20.0);
  chart.SetXRange(-5, -3);
  EXPECT_EQ(chart.XMin(), -5.0);
  EXPECT_EQ(chart.XMax(), -3.0);
  chart.SetYRange(100, 50);
  EXPECT_EQ(chart.YMin(), 50.0);
  EXPECT_EQ(chart.YMax(), 100.0);
  chart.SetYRange(-2, -1);
  EXPECT_EQ(chart.YMin(), -2.0);
  EXPECT_EQ(chart.YMax(), -1.0);
  EXPECT_TRUE(Messages.empty());
  EXPECT_EQ(chart.DispXMin(), -5.0);
  EXPECT_EQ(chart.DispYMax(), -1.0);

  // Equal ends: the first step succeeds, the second is refused by its setter.
  chart.SetXRange(-4, -4);
  ASSERT_EQ(Messages.size(), 1u);
  EXPECT_EQ(Messages[0], "Value for Xmax must be greater than value for Xmin !");
  EXPECT_EQ(chart.XMin(), -4.0);
  EXPECT_EQ(chart.XMax(), -3.0);
}

// Form loading stores in any order; what could not be drawn falls back at the end.
TEST_F(GraphicTest, LoadingChecksRangesAtTheEnd) {
  TGrCntrl chart;
  int inits = 0;
  QObject::connect(&chart, &TGrCntrl::OnInit, [&] { ++inits; });
  chart.BeginLoading();
  chart.SetXMin(50);  // before XMax arrives
  chart.SetXMax(100);
  chart.SetYMin(5);
  chart.SetYMax(5);  // never valid
  chart.Loaded();
  EXPECT_EQ(inits, 1);
  EXPECT_EQ(chart.XMin(), 50.0);
  EXPECT_EQ(chart.XMax(), 100.0);
  EXPECT_EQ(chart.YMin(), 0.0);
  EXPECT_EQ(chart.YMax(), 10.0);
  ASSERT_EQ(Messages.size(), 1u);
  EXPECT_EQ(Messages[0], "Value for Ymin must be lesser than value for Ymax !");
}

// --- data ranges ---

TEST_F(GraphicTest, FitToDataWithAllXEqualChangesNothing) {
  TGrCntrl chart;
  chart.FitToData();  // no points
  for (float y : {1.0f, 5.0f, 9.0f}) chart.AddPoint(0, 3.0f, y);
  chart.FitToData();
  EXPECT_EQ(chart.XMin(), 0.0);
  EXPECT_EQ(chart.XMax(), 10.0);
  EXPECT_EQ(chart.YMin(), 0.0);
  EXPECT_EQ(chart.YMax(), 10.0);
  EXPECT_TRUE(Messages.empty());
}

TEST_F(GraphicTest, FitToDataTakesXExactlyAndAutoRangesY) {
  TGrCntrl chart;
  chart.AddPoint(0, 12.0f, 2.0f);
  chart.AddPoint(0, 30.0f, 4.0f);
  chart.AddPoint(1, 20.0f, 3.0f);
  // Axis 1 does not count for the Y range.
  chart.Curves().Curve(2)->Axis = 1;
  chart.AddPoint(2, 25.0f, 1000.0f);
  chart.FitToData();
  EXPECT_EQ(chart.XMin(), 12.0);
  EXPECT_EQ(chart.XMax(), 30.0);
  EXPECT_NEAR(chart.YMin(), 3 - 27.0 / 11, 1e-6);
  EXPECT_NEAR(chart.YMax(), 3 + 27.0 / 11, 1e-6);
  EXPECT_TRUE(Messages.empty());
}

// The chart's own parameters must reach the automatic range.
TEST_F(GraphicTest, AutoRangeYUsesTheChartsParameters) {
  TGrCntrl chart;
  double lo = 2, hi = 4;
  chart.AutoRangeY(lo, hi);
  EXPECT_NEAR(lo, 0.545454545, 1e-6);
  EXPECT_NEAR(hi, 5.454545454, 1e-6);
  lo = -0.2;
  hi = 0.5;
  chart.AutoRangeY(lo, hi);
  EXPECT_DOUBLE_EQ(hi, 1.05);
  chart.MarginPercent = 10;
  chart.SmallRangeLimit = 2.0;
  lo = -0.2;
  hi = 0.5;
  chart.AutoRangeY(lo, hi);
  EXPECT_DOUBLE_EQ(hi, 2.2);
}

// A log Y axis has no automatic range for data at zero; it must not be set to NaN.
TEST_F(GraphicTest, FitToDataOnLogAxisWithZeroDataKeepsYRange) {
  TGrCntrl chart;
  chart.SetYRange(1, 100);
  chart.SetYLog(true);
  chart.AddPoint(0, 0.0f, 0.0f);
  chart.AddPoint(0, 1.0f, 50.0f);
  chart.FitToData();
  EXPECT_EQ(chart.XMax(), 1.0);
  EXPECT_EQ(chart.YMin(), 1.0);
  EXPECT_EQ(chart.YMax(), 100.0);
}

// --- labels ---

TEST_F(GraphicTest, FormatAxisNumberFollowsTheLocale) {
  EXPECT_EQ(TGrCntrl::FormatAxisNumber(0, 12.5), QStringLiteral("12.5"));
  QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany));
  EXPECT_EQ(TGrCntrl::FormatAxisNumber(0, 12.5), QStringLiteral("12,5"));
  EXPECT_EQ(TGrCntrl::FormatAxisNumber(20, 0.0015), QStringLiteral("0,0015"));
  EXPECT_EQ(TGrCntrl::FormatAxisNumber(0, 500), QStringLiteral("500"));
  EXPECT_EQ(TGrCntrl::FormatAxisNumber(0, 150000), QStringLiteral("1,5E5"));
}

std::vector<double> MainLabelValues(const std::vector<TGrCntrl::TAxisLabel>& labels) {
  std::vector<double> values;
  for (const auto& l : labels)
    if (l.Main) values.push_back(l.Value);
  return values;
}

TEST_F(GraphicTest, MainTicksOfZeroToTenAndZeroToTwo) {
  TGrCntrl chart;
  chart.resize(700, 400);
  chart.SetXRange(0, 10);
  chart.RenderIfNeeded();
  const std::vector<double> ten = MainLabelValues(chart.XLabels());
  ASSERT_EQ(ten.size(), 11u);
  for (int i = 0; i <= 10; ++i) EXPECT_NEAR(ten[i], i, 1e-12);
  EXPECT_EQ(chart.XLabels().front().Text, QStringLiteral("0"));
  EXPECT_EQ(chart.XLabels().back().Text, QStringLiteral("10"));

  chart.SetXRange(0, 2);
  chart.RenderIfNeeded();
  const std::vector<double> two = MainLabelValues(chart.XLabels());
  ASSERT_EQ(two.size(), 3u);
  EXPECT_NEAR(two[0], 0, 1e-12);
  EXPECT_NEAR(two[1], 1, 1e-12);
  EXPECT_NEAR(two[2], 2, 1e-12);
  // Every label sits on a recorded grid column.
  EXPECT_EQ(chart.GridXPositions().size(), chart.XLabels().size());
}

// --- coordinates ---

TEST_F(GraphicTest, CoordinateConversionsAreInverseAndClamped) {
  for (bool log : {false, true}) {
    TGrCntrl chart;
    chart.resize(289, 185);
    chart.SetXRange(1, 1000);
    chart.SetYRange(1, 100);
    chart.SetXLog(log);
    chart.SetYLog(log);
    chart.RenderIfNeeded();
    const QRect plot = chart.PlotRect();
    // The range's ends land on the first and last pixel inside the plot.
    EXPECT_EQ(chart.XToPixel(1), plot.left()) << log;
    EXPECT_EQ(chart.XToPixel(1000), plot.right()) << log;
    EXPECT_EQ(chart.YToPixel(100), plot.top()) << log;
    EXPECT_EQ(chart.YToPixel(1), plot.bottom()) << log;
    for (int px = plot.left(); px <= plot.right(); px += 17) {
      EXPECT_EQ(chart.XToPixel(chart.PixelToX(px)), px) << log;
    }
    for (int py = plot.top(); py <= plot.bottom(); py += 11) {
      EXPECT_EQ(chart.YToPixel(chart.PixelToY(py)), py) << log;
    }
  }
  TGrCntrl chart;
  chart.RenderIfNeeded();
  EXPECT_EQ(chart.XToPixel(1e30), 32000);
  EXPECT_EQ(chart.YToPixel(1e30), -32000);
  EXPECT_EQ(chart.XToPixel(-1e30), -32000);
  EXPECT_EQ(chart.YToPixel(-1e30), 32000);
}

// --- rendering ---

int CountColour(const QImage& image, QRgb colour, const QRect& area, bool inside) {
  int count = 0;
  for (int y = 0; y < image.height(); ++y)
    for (int x = 0; x < image.width(); ++x)
      if ((image.pixel(x, y) & 0xFFFFFF) == (colour & 0xFFFFFF) && area.contains(x, y) == inside) ++count;
  return count;
}

TEST_F(GraphicTest, DensityChartShowsCurveGridAndSeparateLabels) {
  TGrCntrl chart;
  MakeDensityStyle(chart);
  Save(Grab(chart), "chart-density-empty.png");
  chart.ClearCurves();
  chart.SetCurveColor(0, Qt::blue);
  // A click-density curve of a 12-minute file, one point per block.
  std::vector<std::pair<float, float>> points;
  for (int i = 0; i < 360; ++i) {
    const float minutes = i * 2.0f / 60.0f;
    const float density = 1.5f + 1.2f * std::sin(i * 0.05f) + ((i * 37) % 11) * 0.1f;
    points.emplace_back(minutes, density);
    chart.AddPoint(0, minutes, density);
  }
  chart.FitToData();
  const QImage image = Grab(chart);
  Save(image, "chart-density.png");

  const QRect plot = chart.PlotRect();
  ASSERT_GT(plot.width(), 100);
  ASSERT_GT(plot.height(), 60);
  EXPECT_TRUE(QRect(0, 0, 289, 185).contains(plot));

  // The curve passes through the converted points.
  int onCurve = 0;
  for (const auto& [x, y] : points) {
    const int px = chart.XToPixel(x);
    const int py = chart.YToPixel(y);
    if ((image.pixel(px, py) & 0xFFFFFF) == 0x0000FF) ++onCurve;
  }
  EXPECT_EQ(onCurve, static_cast<int>(points.size()));
  EXPECT_EQ(CountColour(image, 0x0000FF, plot, false), 0) << "curve pixels outside the plot";

  // Silver plot background.
  EXPECT_EQ(image.pixel(plot.left() + 1, plot.bottom() - 1) & 0xFFFFFF, 0xC0C0C0u);

  // Dotted grid lines at the recorded positions: every other pixel in the grid colour, unless
  // the curve passes over it.
  auto isGridOrCurve = [&](int x, int y) {
    const QRgb c = image.pixel(x, y) & 0xFFFFFF;
    return c == 0 || c == 0x0000FF;
  };
  ASSERT_GE(chart.GridXPositions().size(), 2u);
  ASSERT_GE(chart.GridYPositions().size(), 2u);
  for (int x : chart.GridXPositions()) {
    int marked = 0;
    for (int y = plot.top(); y <= plot.bottom(); ++y) marked += isGridOrCurve(x, y);
    EXPECT_GE(marked, plot.height() / 2 - 1) << "grid column " << x;
  }
  for (int y : chart.GridYPositions()) {
    int marked = 0;
    for (int x = plot.left(); x <= plot.right(); ++x) marked += isGridOrCurve(x, y);
    EXPECT_GE(marked, plot.width() / 2 - 1) << "grid row " << y;
  }
  // A column between grid lines has no grid colour.
  const int gap = (chart.GridXPositions()[0] + chart.GridXPositions()[1]) / 2;
  int stray = 0;
  for (int y = plot.top(); y <= plot.bottom(); ++y) stray += (image.pixel(gap, y) & 0xFFFFFF) == 0;
  EXPECT_LE(stray, 1 + static_cast<int>(chart.GridYPositions().size()));

  // Labels: inside the control, outside the plot, none over another, none over the titles.
  std::vector<QRect> boxes;
  for (const auto& l : chart.XLabels()) boxes.push_back(l.Box);
  for (const auto& l : chart.YLabels()) boxes.push_back(l.Box);
  ASSERT_GE(chart.XLabels().size(), 3u);
  ASSERT_GE(chart.YLabels().size(), 3u);
  for (size_t i = 0; i < boxes.size(); ++i) {
    EXPECT_TRUE(QRect(0, 0, 289, 185).contains(boxes[i])) << i;
    EXPECT_FALSE(Overlap(boxes[i], plot)) << i;
    for (size_t j = i + 1; j < boxes.size(); ++j) EXPECT_FALSE(Overlap(boxes[i], boxes[j])) << i << " " << j;
  }
  // Y labels stand right of the plot.
  for (const auto& l : chart.YLabels()) EXPECT_GT(l.Box.left(), plot.right());
}

TEST_F(GraphicTest, ExtractChartIsWhiteWithoutGridAndClipsFarPoints) {
  TGrCntrl chart;
  MakeExtractStyle(chart);
  chart.ClearCurves();
  chart.SetCurveColor(1, Qt::blue);
  chart.SetCurveColor(2, Qt::red);
  chart.SetCurveColor(0, QColor(192, 192, 192));
  for (int i = 0; i < 200; ++i) {
    const float s = 3000.0f * std::sin(i * 0.15f) + (i == 100 ? 9000.0f : 0.0f);
    chart.AddPoint(1, static_cast<float>(i), s);
    chart.AddPoint(0, static_cast<float>(i), 0.5f * s);
  }
  for (int i = 95; i <= 105; ++i) chart.AddPoint(2, static_cast<float>(i), 3000.0f * std::sin(i * 0.15f));
  chart.FitToData();
  // A curve far outside the range must be clipped, not wrap around or draw on the scale.
  chart.AddPoint(3, -1e7f, 1e9f);
  chart.AddPoint(3, 1e7f, -1e9f);
  chart.SetCurveColor(3, QColor(0, 255, 0));
  chart.Invalidate();
  const QImage image = Grab(chart);
  Save(image, "chart-extract.png");

  const QRect plot = chart.PlotRect();
  EXPECT_TRUE(chart.GridXPositions().size() > 0);  // positions are recorded, the lines not drawn
  EXPECT_EQ(CountColour(image, 0x000000, plot, true), 0) << "grid drawn although switched off";
  EXPECT_GT(CountColour(image, 0xFFFFFF, plot, true), plot.width() * plot.height() / 2);
  EXPECT_GT(CountColour(image, 0x00FF00, plot, true), 50);
  EXPECT_EQ(CountColour(image, 0x00FF00, plot, false), 0);
  EXPECT_EQ(CountColour(image, 0xFF0000, plot, false), 0);
  // Red is drawn over blue: the repaired part lies on top.
  EXPECT_EQ(image.pixel(chart.XToPixel(100), chart.YToPixel(3000.0f * std::sin(100 * 0.15f))) & 0xFFFFFF,
            0xFF0000u);
}

TEST_F(GraphicTest, HiddenCurveAndClearedPenAreHonoured) {
  TGrCntrl chart;
  chart.resize(200, 150);
  chart.SetBackColor(Qt::white);
  chart.SetGridX(false);
  chart.SetGridY(false);
  chart.AddPoint(0, 0.0f, 5.0f);
  chart.AddPoint(0, 10.0f, 5.0f);
  chart.SetCurveColor(0, Qt::red);
  chart.SetCurveHidden(0, true);
  QImage image = Grab(chart);
  EXPECT_EQ(CountColour(image, 0xFF0000, chart.PlotRect(), true), 0);
  chart.SetCurveHidden(0, false);
  chart.Invalidate();
  image = Grab(chart);
  EXPECT_GT(CountColour(image, 0xFF0000, chart.PlotRect(), true), 50);
  // After clearing, a curve is drawn in black with a one-pixel pen until its colour is set.
  chart.ClearCurves();
  chart.AddPoint(0, 0.0f, 5.0f);
  chart.AddPoint(0, 10.0f, 5.0f);
  chart.Invalidate();
  image = Grab(chart);
  const int row = chart.YToPixel(5);
  int black = 0;
  for (int x = chart.PlotRect().left(); x <= chart.PlotRect().right(); ++x)
    if ((image.pixel(x, row) & 0xFFFFFF) == 0) ++black;
  EXPECT_EQ(black, chart.PlotRect().width());
  EXPECT_EQ(CountColour(image, 0x000000, QRect(0, row - 1, 200, 1), true) +
                CountColour(image, 0x000000, QRect(0, row + 1, 200, 1), true),
            0)
      << "line wider than one pixel";
}

TEST_F(GraphicTest, LogAxesLabelPowersOfTenWhereTheCurveMeetsThem) {
  TGrCntrl chart;
  MakeDensityStyle(chart);
  chart.SetXRange(1, 1000);
  chart.SetYRange(0.01, 100);
  chart.SetXLog(true);
  chart.SetYLog(true);
  chart.SetCurveColor(0, Qt::red);
  for (float x = 1.0f; x <= 1000.0f; x *= 1.1f) chart.AddPoint(0, x, 0.01f * x * x / 100.0f + 0.01f);
  const QImage image = Grab(chart);
  Save(image, "chart-log.png");
  std::vector<QString> texts;
  for (const auto& l : chart.XLabels())
    if (l.Main) texts.push_back(l.Text);
  ASSERT_GE(texts.size(), 3u);
  EXPECT_EQ(texts[0], QStringLiteral("1"));
  EXPECT_EQ(texts[1], QStringLiteral("10"));
  EXPECT_EQ(texts[2], QStringLiteral("100"));
  for (const auto& l : chart.XLabels()) {
    // The label is centred on the column XToPixel gives its value.
    EXPECT_LE(std::abs(l.Box.center().x() - chart.XToPixel(l.Value)), 1) << l.Text.toStdString();
  }
  std::vector<QString> yTexts;
  for (const auto& l : chart.YLabels())
    if (l.Main) yTexts.push_back(l.Text);
  // The label at the axis' bottom end gives way to the X axis.
  ASSERT_GE(yTexts.size(), 3u);
  EXPECT_EQ(yTexts[0], QStringLiteral("0.1"));
  EXPECT_EQ(yTexts[1], QStringLiteral("1"));
  EXPECT_EQ(yTexts[2], QStringLiteral("10"));
  EXPECT_EQ(CountColour(image, 0xFF0000, chart.PlotRect(), false), 0);
}

// With the Y axis on the left its labels, ticks and title move there; sunken and flat bevels
// keep the layout apart as well.
TEST_F(GraphicTest, LeftAxisLayoutKeepsLabelsApart) {
  struct TCase {
    int BevelInner, BevelOuter;
    const char* File;
  };
  const TCase cases[] = {{1, 1, "chart-left-axis.png"}, {0, -2, "chart-left-axis-flat.png"}};
  for (const TCase& tc : cases) {
    TGrCntrl chart;
    MakeDensityStyle(chart);
    chart.SetAxisRight(false);
    chart.SetBevelInner(tc.BevelInner);
    chart.SetBevelOuter(tc.BevelOuter);
    chart.SetXRange(-0.5, 0.25);
    chart.SetYRange(-2000, 35000);
    const QImage image = Grab(chart);
    Save(image, tc.File);
    const QRect plot = chart.PlotRect();
    ASSERT_GE(chart.YLabels().size(), 2u) << tc.File;
    ASSERT_GE(chart.XLabels().size(), 2u) << tc.File;
    std::vector<QRect> boxes;
    for (const auto& l : chart.YLabels()) {
      EXPECT_LT(l.Box.right(), plot.left()) << l.Text.toStdString();
      boxes.push_back(l.Box);
    }
    for (const auto& l : chart.XLabels()) boxes.push_back(l.Box);
    for (size_t i = 0; i < boxes.size(); ++i) {
      EXPECT_TRUE(QRect(0, 0, 289, 185).contains(boxes[i])) << tc.File << " " << i;
      EXPECT_FALSE(boxes[i].intersects(plot)) << tc.File << " " << i;
      for (size_t j = i + 1; j < boxes.size(); ++j) EXPECT_FALSE(boxes[i].intersects(boxes[j])) << tc.File;
    }
  }
}

// A paint that follows no change must only copy the pixmap.
TEST_F(GraphicTest, ChartIsRenderedOnlyAfterAChange) {
  TGrCntrl chart;
  int renders = 0;
  int paints = 0;
  chart.SetOnChange([&](TGrCntrl&, QPainter&) { ++renders; });
  chart.SetOnPaint([&](TGrCntrl& c, QPainter& painter) {
    ++paints;
    EXPECT_EQ(painter.clipBoundingRect().toRect(), c.PlotRect());
    EXPECT_EQ(painter.brush().color(), c.BackColor());
  });
  Grab(chart);
  Grab(chart);
  Grab(chart);
  EXPECT_EQ(renders, 1);
  chart.Invalidate();
  Grab(chart);
  EXPECT_EQ(renders, 2);
  chart.SetTitle(QStringLiteral("new"));
  Grab(chart);
  EXPECT_EQ(renders, 3);
  chart.resize(200, 200);
  Grab(chart);
  EXPECT_EQ(renders, 4);
  chart.SetDigits(7);  // no visible change
  Grab(chart);
  EXPECT_EQ(renders, 4);
  EXPECT_EQ(paints, 7);
}

// What OnChange draws lands in the chart, inside the plot only.
TEST_F(GraphicTest, OnChangeDrawsIntoThePlot) {
  TGrCntrl chart;
  chart.resize(200, 150);
  chart.SetOnChange([](TGrCntrl& c, QPainter& painter) {
    EXPECT_EQ(painter.brush().color(), c.BackColor());
    painter.fillRect(QRect(0, 0, 1000, 1000), QColor(0, 255, 0));
  });
  const QImage image = Grab(chart);
  EXPECT_EQ(CountColour(image, 0x00FF00, chart.PlotRect(), false), 0);
  EXPECT_EQ(CountColour(image, 0x00FF00, chart.PlotRect(), true),
            chart.PlotRect().width() * chart.PlotRect().height());
}

TEST_F(GraphicTest, AssignCopiesTheListedProperties) {
  TGrCntrl source;
  source.setGeometry(5, 6, 150, 140);
  source.SetTitle(QStringLiteral("a"));
  source.SetXAxisTitle(QStringLiteral("b"));
  source.SetYAxisTitle(QStringLiteral("c"));
  source.SetXRange(20, 30);
  source.SetYRange(-4, -2);
  source.SetGridX(false);
  source.SetAxisRight(false);
  source.SetBackColor(Qt::white);
  source.SetBevelInner(-2);
  source.SetDigits(9);
  source.SetTag(42);
  int calls = 0;
  source.SetOnChange([&](TGrCntrl&, QPainter&) { ++calls; });
  TGrCntrl target;
  target.Assign(source);
  EXPECT_EQ(target.geometry(), QRect(5, 6, 150, 140));
  EXPECT_EQ(target.Title(), QStringLiteral("a"));
  EXPECT_EQ(target.YAxisTitle(), QStringLiteral("c"));
  EXPECT_EQ(target.XMin(), 20.0);
  EXPECT_EQ(target.XMax(), 30.0);
  EXPECT_EQ(target.YMin(), -4.0);
  EXPECT_FALSE(target.GridX());
  EXPECT_FALSE(target.AxisRight());
  EXPECT_EQ(target.BackColor(), QColor(Qt::white));
  EXPECT_EQ(target.BevelInner(), -2);
  EXPECT_EQ(target.Digits(), 9);
  EXPECT_EQ(target.Tag(), 42);
  Grab(target);
  EXPECT_EQ(calls, 1);
  EXPECT_TRUE(Messages.empty());
}

// --- zoom with the mouse ---

class ZoomTest : public GraphicTest {
 protected:
  void SetUp() override {
    GraphicTest::SetUp();
    MakeDensityStyle(Chart);
    Chart.SetXRange(0, 12);
    Chart.SetYRange(-1, 4);
    Chart.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&Chart));
    Chart.RenderIfNeeded();
    Plot = Chart.PlotRect();
  }

  void Drag(QPoint from, QPoint to) {
    QTest::mousePress(&Chart, Qt::LeftButton, Qt::NoModifier, from);
    QTest::mouseMove(&Chart, (from + to) / 2);
    QTest::mouseMove(&Chart, to);
    QTest::mouseRelease(&Chart, Qt::LeftButton, Qt::NoModifier, to);
  }

  TGrCntrl Chart;
  QRect Plot;
};

TEST_F(ZoomTest, DragZoomsDisplayedRangesAndOneClickReturns) {
  const QPoint from(Plot.left() + 20, Plot.top() + 10);
  const QPoint to(Plot.left() + 120, Plot.top() + 60);
  const double x1 = Chart.PixelToX(from.x()), x2 = Chart.PixelToX(to.x());
  const double y1 = Chart.PixelToY(to.y()), y2 = Chart.PixelToY(from.y());

  QTest::mousePress(&Chart, Qt::LeftButton, Qt::NoModifier, from);
  QTest::mouseMove(&Chart, to);
  EXPECT_TRUE(Chart.ZoomDragActive());
  const QImage during = Grab(Chart);
  Save(during, "chart-zoom-drag.png");
  // The dotted rectangle spans the two corners.
  int dots = 0;
  for (int x = from.x(); x <= to.x(); ++x)
    if ((during.pixel(x, from.y()) & 0xFFFFFF) == 0) ++dots;
  EXPECT_GE(dots, (to.x() - from.x()) / 2 - 2);
  QTest::mouseRelease(&Chart, Qt::LeftButton, Qt::NoModifier, to);
  EXPECT_FALSE(Chart.ZoomDragActive());

  EXPECT_DOUBLE_EQ(Chart.DispXMin(), x1);
  EXPECT_DOUBLE_EQ(Chart.DispXMax(), x2);
  EXPECT_DOUBLE_EQ(Chart.DispYMin(), y1);
  EXPECT_DOUBLE_EQ(Chart.DispYMax(), y2);
  EXPECT_EQ(Chart.XMin(), 0.0);
  EXPECT_EQ(Chart.XMax(), 12.0);
  Save(Grab(Chart), "chart-zoomed.png");
  EXPECT_EQ(Beeps, 0);

  const QPoint click(Plot.center());
  QTest::mouseClick(&Chart, Qt::LeftButton, Qt::NoModifier, click);
  EXPECT_EQ(Chart.DispXMin(), 0.0);
  EXPECT_EQ(Chart.DispXMax(), 12.0);
  EXPECT_EQ(Chart.DispYMin(), -1.0);
  EXPECT_EQ(Chart.DispYMax(), 4.0);

  // A click in an unzoomed chart changes nothing.
  int renders = 0;
  Chart.SetOnChange([&](TGrCntrl&, QPainter&) { ++renders; });
  Grab(Chart);
  renders = 0;
  QTest::mouseClick(&Chart, Qt::LeftButton, Qt::NoModifier, click);
  Grab(Chart);
  EXPECT_EQ(renders, 0);
  EXPECT_EQ(Chart.DispXMax(), 12.0);
}

TEST_F(ZoomTest, DragAlongOneAxisZoomsOnlyThatAxis) {
  Drag(QPoint(Plot.left() + 10, Plot.top() + 20), QPoint(Plot.left() + 90, Plot.top() + 20));
  EXPECT_GT(Chart.DispXMin(), 0.0);
  EXPECT_LT(Chart.DispXMax(), 12.0);
  EXPECT_EQ(Chart.DispYMin(), -1.0);
  EXPECT_EQ(Chart.DispYMax(), 4.0);
  QTest::mouseClick(&Chart, Qt::LeftButton, Qt::NoModifier, Plot.center());
  Drag(QPoint(Plot.left() + 30, Plot.top() + 50), QPoint(Plot.left() + 30, Plot.top() + 5));
  EXPECT_EQ(Chart.DispXMin(), 0.0);
  EXPECT_GT(Chart.DispYMin(), -1.0);
  EXPECT_LT(Chart.DispYMax(), 4.0);
  EXPECT_LT(Chart.DispYMin(), Chart.DispYMax());
}

// Too small for Digits significant digits: a beep, and the view stays as it is. A drag along one
// axis is checked too: unchecked, repeated narrow drags shrink a range until both ends are equal.
TEST_F(ZoomTest, UnresolvableRectangleBeepsAndChangesNothing) {
  Chart.SetDigits(1);
  Drag(QPoint(Plot.left() + 10, Plot.top() + 10), QPoint(Plot.left() + 12, Plot.top() + 12));
  EXPECT_EQ(Beeps, 1);
  EXPECT_EQ(Chart.DispXMin(), 0.0);
  EXPECT_EQ(Chart.DispXMax(), 12.0);
  EXPECT_EQ(Chart.DispYMin(), -1.0);
  // Near x = 10 one pixel is 0.05: a difference in the second digit.
  const int x10 = Chart.XToPixel(10.0);
  Drag(QPoint(x10, Plot.top() + 10), QPoint(x10 + 1, Plot.top() + 10));
  EXPECT_EQ(Beeps, 2);
  EXPECT_EQ(Chart.DispXMax(), 12.0);

  Chart.SetDigits(14);
  for (int i = 0; i < 40; ++i)
    Drag(QPoint(Plot.left() + 10, Plot.top() + 10), QPoint(Plot.left() + 11, Plot.top() + 10));
  EXPECT_LT(Chart.DispXMin(), Chart.DispXMax());
  EXPECT_GT(Beeps, 2);
  Grab(Chart);  // still drawable
}

TEST_F(ZoomTest, DragOutsideThePlotStopsAtItsEdge) {
  Drag(QPoint(Plot.left() + 40, Plot.top() + 20), QPoint(Chart.width() + 50, Chart.height() + 50));
  EXPECT_NEAR(Chart.DispXMax(), 12.0, 1e-9);
  EXPECT_NEAR(Chart.DispYMin(), -1.0, 1e-9);
  EXPECT_GT(Chart.DispXMin(), 0.0);
}

TEST_F(ZoomTest, ZoomCancelZoomOffAndPressesOutsideThePlot) {
  QObject::connect(&Chart, &TGrCntrl::OnLMouseBtn, [this] { Chart.ZoomCancel = true; });
  Drag(QPoint(Plot.left() + 10, Plot.top() + 10), QPoint(Plot.left() + 80, Plot.top() + 60));
  EXPECT_EQ(Chart.DispXMax(), 12.0);
  QObject::disconnect(&Chart, &TGrCntrl::OnLMouseBtn, nullptr, nullptr);

  Chart.SetZoomOff(true);
  Drag(QPoint(Plot.left() + 10, Plot.top() + 10), QPoint(Plot.left() + 80, Plot.top() + 60));
  EXPECT_EQ(Chart.DispXMax(), 12.0);
  Chart.SetZoomOff(false);

  // Pressed on the scale, outside the plot.
  Drag(QPoint(3, 3), QPoint(Plot.left() + 80, Plot.top() + 60));
  EXPECT_EQ(Chart.DispXMax(), 12.0);
  EXPECT_EQ(Beeps, 0);
}

TEST_F(ZoomTest, MouseEventsReachTheirSignals) {
  std::vector<std::string> events;
  QObject::connect(&Chart, &TGrCntrl::OnLMouseBtn,
                   [&](Qt::MouseButton b, Qt::KeyboardModifiers, int x, int y) {
                     EXPECT_EQ(b, Qt::LeftButton);
                     events.push_back("L " + std::to_string(x) + "," + std::to_string(y));
                   });
  QObject::connect(&Chart, &TGrCntrl::OnLMouseBtnUp,
                   [&](Qt::MouseButton, Qt::KeyboardModifiers, int, int) { events.push_back("LUp"); });
  QObject::connect(&Chart, &TGrCntrl::OnRMouseBtn, [&](Qt::MouseButton b, Qt::KeyboardModifiers, int, int) {
    EXPECT_EQ(b, Qt::RightButton);
    events.push_back("R");
  });
  QObject::connect(&Chart, &TGrCntrl::OnLDblClick, [&] { events.push_back("LDbl"); });
  QObject::connect(&Chart, &TGrCntrl::OnRDblClick, [&] { events.push_back("RDbl"); });
  int moves = 0;
  QObject::connect(&Chart, &TGrCntrl::OnMouseMove,
                   [&](Qt::MouseButtons, Qt::KeyboardModifiers, int, int) { ++moves; });

  const QPoint p(Plot.left() + 5, Plot.top() + 7);
  QTest::mouseClick(&Chart, Qt::LeftButton, Qt::NoModifier, p);
  QTest::mouseClick(&Chart, Qt::RightButton, Qt::NoModifier, p);
  QTest::mouseDClick(&Chart, Qt::LeftButton, Qt::NoModifier, p);
  QTest::mouseDClick(&Chart, Qt::RightButton, Qt::NoModifier, p);
  QTest::mouseMove(&Chart, p + QPoint(10, 10));
  QTest::mouseMove(&Chart, p + QPoint(20, 10));

  ASSERT_GE(events.size(), 4u);
  EXPECT_EQ(events[0], "L " + std::to_string(p.x()) + "," + std::to_string(p.y()));
  EXPECT_EQ(events[1], "LUp");
  EXPECT_EQ(events[2], "R");
  EXPECT_NE(std::find(events.begin(), events.end(), "LDbl"), events.end());
  EXPECT_NE(std::find(events.begin(), events.end(), "RDbl"), events.end());
  EXPECT_GE(moves, 2);

  // A double click on the scale is no double click in the plot.
  events.clear();
  QTest::mouseDClick(&Chart, Qt::LeftButton, Qt::NoModifier, QPoint(2, 2));
  EXPECT_EQ(std::find(events.begin(), events.end(), "LDbl"), events.end());
}

// Setting one end of a range while zoomed must not leave the displayed range turned over.
TEST_F(ZoomTest, SettingARangeEndWhileZoomedKeepsTheViewOrdered) {
  Drag(QPoint(Plot.left() + 5, Plot.top() + 10), QPoint(Plot.left() + 40, Plot.top() + 60));
  ASSERT_LT(Chart.DispXMax(), 6.0);
  Chart.SetXMin(8.0);
  EXPECT_EQ(Chart.DispXMin(), 8.0);
  EXPECT_EQ(Chart.DispXMax(), 12.0);
}

}  // namespace
}  // namespace klarwell
