#include <gtest/gtest.h>

#include "chart/Curves.h"

namespace klarwell {
namespace {

// A write through an index past the 200 curves must neither land in memory nor mark the
// series as filled.
TEST(CurvesTest, IndexesFrom200UpAreIgnored) {
  TCurves curves;
  for (int index : {200, 255, 1000, -1}) {
    curves.AddPoint(index, 1.0f, 2.0f);
    curves.SetCurveColor(index, clRed);
    EXPECT_EQ(curves.CurvePointCount(index), 0) << index;
    EXPECT_EQ(curves.CurveXValues(index), nullptr) << index;
    EXPECT_EQ(curves.CurveYValues(index), nullptr) << index;
    EXPECT_EQ(curves.Curve(index), nullptr) << index;
    float x = 0, y = 0;
    EXPECT_FALSE(curves.Point(index, 0, x, y)) << index;
  }
  EXPECT_TRUE(curves.Empty());

  curves.AddPoint(199, 1.0f, 2.0f);
  EXPECT_FALSE(curves.Empty());
  curves.ClearCurves();
  curves.AddPoint(200, 1.0f, 2.0f);
  EXPECT_TRUE(curves.Empty()) << "an ignored point cleared the empty flag";
}

TEST(CurvesTest, NewCurvesHaveOnePixelPenAndClearResetsItToZero) {
  TCurves curves;
  EXPECT_EQ(curves.Pen(0).Width, 1);
  EXPECT_EQ(curves.Pen(199).Width, 1);

  TCurve* c = curves.Curve(3);
  ASSERT_NE(c, nullptr);
  c->PenStyle = TPenStyle::Dash;
  c->PenWidth = 4;
  c->Axis = 1;
  c->Absolute = true;
  c->Floor = 2.0f;
  c->LowerLimitOn = c->UpperLimitOn = true;
  c->LowerLimit = -1.0f;
  c->UpperLimit = 1.0f;
  curves.SetCurveColor(3, clBlue);
  curves.AddPoint(3, 1.0f, 1.0f);

  curves.ClearCurves();
  EXPECT_TRUE(curves.Empty());
  EXPECT_EQ(curves.CurvePointCount(3), 0);
  const TPen pen = curves.Pen(3);
  EXPECT_EQ(pen.Style, TPenStyle::Solid);
  EXPECT_EQ(pen.Width, 0);
  EXPECT_EQ(pen.Color, clBlack);
  EXPECT_EQ(c->Axis, 0);
  EXPECT_FALSE(c->Absolute);
  EXPECT_EQ(c->Floor, 0.0f);
  EXPECT_FALSE(c->LowerLimitOn);
  EXPECT_FALSE(c->UpperLimitOn);

  // Setting the colour afterwards changes the colour alone.
  curves.SetCurveColor(3, clRed);
  EXPECT_EQ(curves.Pen(3).Color, clRed);
  EXPECT_EQ(curves.Pen(3).Width, 0);
  EXPECT_EQ(curves.Pen(3).Style, TPenStyle::Solid);
}

TEST(CurvesTest, PointsKeepInsertionOrderInContiguousStorage) {
  TCurves curves;
  const float xs[] = {3.0f, 1.0f, 2.0f};
  const float ys[] = {-1.0f, 5.0f, 0.5f};
  for (int i = 0; i < 3; ++i) curves.AddPoint(7, xs[i], ys[i]);
  ASSERT_EQ(curves.CurvePointCount(7), 3);
  for (int i = 0; i < 3; ++i) {
    EXPECT_EQ(curves.CurveXValues(7)[i], xs[i]);
    EXPECT_EQ(curves.CurveYValues(7)[i], ys[i]);
    float x = 0, y = 0;
    ASSERT_TRUE(curves.Point(7, i, x, y));
    EXPECT_EQ(x, xs[i]);
    EXPECT_EQ(y, ys[i]);
  }
  float x = 0, y = 0;
  EXPECT_FALSE(curves.Point(7, 3, x, y));
  EXPECT_FALSE(curves.Point(7, -1, x, y));
}

// The transformation changes the ranges only; the stored points stay as they were added.
TEST(CurvesTest, YTransformationAppliesToRangesNotToPoints) {
  struct TCase {
    const char* Name;
    bool Absolute;
    float Floor;
    bool LowerOn;
    float Lower;
    bool UpperOn;
    float Upper;
    float ExpectMin;
    float ExpectMax;
  };
  const TCase cases[] = {
      {"absolute", true, 0.0f, false, 0.0f, false, 0.0f, 3.0f, 5.0f},
      {"none", false, 0.0f, false, 0.0f, false, 0.0f, -5.0f, 3.0f},
      {"floor", false, -1.0f, false, 0.0f, false, 0.0f, -1.0f, 3.0f},
      {"lower limit", false, 0.0f, true, -2.0f, false, 0.0f, -2.0f, 3.0f},
      {"upper limit", false, 0.0f, false, 0.0f, true, 1.0f, -5.0f, 1.0f},
      {"absolute then floor", true, 4.0f, false, 0.0f, false, 0.0f, 4.0f, 5.0f},
      {"absolute then upper", true, 0.0f, false, 0.0f, true, 4.0f, 3.0f, 4.0f},
  };
  for (const TCase& tc : cases) {
    TCurves curves;
    TCurve* c = curves.Curve(0);
    c->Absolute = tc.Absolute;
    c->Floor = tc.Floor;
    c->LowerLimitOn = tc.LowerOn;
    c->LowerLimit = tc.Lower;
    c->UpperLimitOn = tc.UpperOn;
    c->UpperLimit = tc.Upper;
    curves.AddPoint(0, 0.0f, -5.0f);
    curves.AddPoint(0, 1.0f, 3.0f);
    curves.CalcRanges();
    EXPECT_EQ(c->YMin, tc.ExpectMin) << tc.Name;
    EXPECT_EQ(c->YMax, tc.ExpectMax) << tc.Name;
    EXPECT_EQ(curves.YMin(0), tc.ExpectMin) << tc.Name;
    EXPECT_EQ(curves.YMax(0), tc.ExpectMax) << tc.Name;
    EXPECT_EQ(curves.CurveYValues(0)[0], -5.0f) << tc.Name;
    EXPECT_EQ(curves.CurveYValues(0)[1], 3.0f) << tc.Name;
  }
}

TEST(CurvesTest, AxisRangesAreKeptApart) {
  TCurves curves;
  curves.AddPoint(0, 0.0f, 1.0f);
  curves.AddPoint(0, 1.0f, 2.0f);
  curves.AddPoint(5, 0.0f, 0.0f);
  curves.AddPoint(5, 1.0f, 5.0f);
  curves.Curve(9)->Axis = 1;
  curves.AddPoint(9, 0.0f, -100.0f);
  curves.AddPoint(9, 1.0f, 100.0f);
  curves.Curve(12)->Axis = 1;
  curves.AddPoint(12, 0.0f, 150.0f);
  curves.CalcRanges();
  EXPECT_EQ(curves.YMin(0), 0.0f);
  EXPECT_EQ(curves.YMax(0), 5.0f);
  EXPECT_EQ(curves.YMin(1), -100.0f);
  EXPECT_EQ(curves.YMax(1), 150.0f);
}

// The overall x range must widen over every curve, not be that of the last one.
TEST(CurvesTest, OverallXRangeSpansAllCurves) {
  TCurves curves;
  for (float x : {0.0f, 4.0f, 10.0f}) curves.AddPoint(1, x, 0.0f);
  for (float x : {5.0f, 20.0f, 7.0f}) curves.AddPoint(2, x, 0.0f);
  curves.CalcRanges();
  EXPECT_EQ(curves.XMin(), 0.0f);
  EXPECT_EQ(curves.XMax(), 20.0f);

  // A single curve whose first point is its largest: the minimum must still move down.
  TCurves single;
  for (float x : {9.0f, 3.0f, 1.0f, 2.0f}) single.AddPoint(0, x, x);
  single.CalcRanges();
  EXPECT_EQ(single.XMin(), 1.0f);
  EXPECT_EQ(single.XMax(), 9.0f);
  EXPECT_EQ(single.YMin(0), 1.0f);
  EXPECT_EQ(single.YMax(0), 9.0f);
}

TEST(CurvesTest, RangesOfAnEmptySeriesStayUntouched) {
  TCurves curves;
  curves.AddPoint(0, 2.0f, 3.0f);
  curves.AddPoint(0, 4.0f, 6.0f);
  curves.CalcRanges();
  curves.ClearCurves();
  curves.CalcRanges();
  EXPECT_EQ(curves.XMin(), 2.0f);
  EXPECT_EQ(curves.XMax(), 4.0f);
}

}  // namespace
}  // namespace klarwell
