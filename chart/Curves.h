#pragma once

#include <array>
#include <cstdint>
#include <vector>

namespace klarwell {

// A colour as 0xBBGGRR: blue in the high byte, red in the low byte.
using TColor = std::uint32_t;

constexpr TColor clBlack = 0x000000;
constexpr TColor clWhite = 0xFFFFFF;
constexpr TColor clGray = 0x808080;
constexpr TColor clSilver = 0xC0C0C0;
constexpr TColor clRed = 0x0000FF;
constexpr TColor clBlue = 0xFF0000;
constexpr TColor clNavy = 0x800000;

enum class TPenStyle : std::uint8_t { Solid, Dash, Dot, DashDot, DashDotDot, Clear };

// What a curve hands to the canvas before its polyline is drawn. Width 0 is a one-pixel line.
struct TPen {
  TPenStyle Style = TPenStyle::Solid;
  std::int32_t Width = 1;
  TColor Color = clBlack;
};

// One polyline: its points in insertion order, its pen, and how its y values count towards the
// ranges. The y transformation (Absolute, Floor, the limits) changes only the computed ranges,
// never the drawn points.
struct TCurve {
  std::vector<float> XValues;
  std::vector<float> YValues;
  float XMin = 0.0f;
  float XMax = 0.0f;
  float YMin = 0.0f;
  float YMax = 0.0f;
  TPenStyle PenStyle = TPenStyle::Solid;
  std::int32_t PenWidth = 1;
  TColor PenColor = clBlack;
  std::uint8_t Axis = 0;  // 0 or 1: the y range the curve counts towards
  bool Absolute = false;  // ranges use |y|
  float Floor = 0.0f;     // when not 0, ranges use at least this y
  bool LowerLimitOn = false;
  bool UpperLimitOn = false;
  float LowerLimit = 0.0f;
  float UpperLimit = 0.0f;
};

// The data of one chart: 200 curves and the ranges over them. Plain data, no drawing, so it is
// usable and testable without a display. Every operation ignores curve indexes outside 0..199
// (returning 0, an empty pointer or false where it has a result). Not thread-safe: the chart's
// owner (the user-interface thread) calls it.
class TCurves {
 public:
  static constexpr int CurveCount = 200;

  // All curves empty, every pen solid, black, width 1; the empty flag set.
  TCurves();

  // Empties every curve and resets all of its other fields to zero: the pen becomes solid, black,
  // width 0; the axis 0; all flags off. Sets the empty flag.
  void ClearCurves();

  // Appends one point to a curve and clears the empty flag.
  void AddPoint(int curve, float x, float y);

  int CurvePointCount(int curve) const;
  // The curve's values as contiguous floats, CurvePointCount of them; valid until the curve
  // changes. nullptr for an empty curve or an index outside 0..199.
  const float* CurveXValues(int curve) const;
  const float* CurveYValues(int curve) const;

  // One point; false when the curve or the index does not exist.
  bool Point(int curve, int index, float& x, float& y) const;

  // The curve's pen (style, width, colour); the default pen for an index outside 0..199.
  TPen Pen(int curve) const;
  void SetCurveColor(int curve, TColor color);

  // Direct access to a curve's pen and range flags; nullptr outside 0..199.
  TCurve* Curve(int curve);
  const TCurve* Curve(int curve) const;

  // The y value as the ranges see it (absolute, floor, lower and upper limit, in that order).
  static float TransformY(const TCurve& curve, float y);

  // The range of one curve (nothing happens for a curve without points), and of all curves
  // (nothing happens while the empty flag is set).
  void CalcCurveRange(int curve);
  void CalcRanges();

  bool Empty() const { return EmptyFlag; }
  // Valid after CalcRanges: the overall x range of every curve with points, and the y range of
  // the curves on axis 0 or 1.
  float XMin() const { return OverallXMin; }
  float XMax() const { return OverallXMax; }
  float YMin(int axis) const { return axis == 1 ? YMin1 : YMin0; }
  float YMax(int axis) const { return axis == 1 ? YMax1 : YMax0; }

 private:
  std::array<TCurve, CurveCount> Curves;
  float OverallXMin = 0.0f;
  float OverallXMax = 0.0f;
  float YMin0 = 0.0f;
  float YMin1 = 0.0f;
  float YMax0 = 0.0f;
  float YMax1 = 0.0f;
  bool EmptyFlag = true;
};

}  // namespace klarwell
