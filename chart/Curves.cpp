#include "chart/Curves.h"

#include <cstddef>

namespace klarwell {

namespace {

bool ValidIndex(int curve) {
  return curve >= 0 && curve < TCurves::CurveCount;
}

}  // namespace

TCurves::TCurves() {
  for (TCurve& c : Curves) c.PenWidth = 1;
}

void TCurves::ClearCurves() {
  // Everything goes back to zero, the pen width included: a cleared curve draws with a one-pixel
  // black solid pen until its owner sets the colour again.
  for (TCurve& c : Curves) {
    c.XValues.clear();
    c.YValues.clear();
    c.XMin = c.XMax = c.YMin = c.YMax = 0.0f;
    c.PenStyle = TPenStyle::Solid;
    c.PenWidth = 0;
    c.PenColor = clBlack;
    c.Axis = 0;
    c.Absolute = false;
    c.Floor = 0.0f;
    c.LowerLimitOn = c.UpperLimitOn = false;
    c.LowerLimit = c.UpperLimit = 0.0f;
  }
  EmptyFlag = true;
}

void TCurves::AddPoint(int curve, float x, float y) {
  if (!ValidIndex(curve)) return;
  Curves[curve].XValues.push_back(x);
  Curves[curve].YValues.push_back(y);
  EmptyFlag = false;
}

int TCurves::CurvePointCount(int curve) const {
  if (!ValidIndex(curve)) return 0;
  return static_cast<int>(Curves[curve].XValues.size());
}

const float* TCurves::CurveXValues(int curve) const {
  if (!ValidIndex(curve) || Curves[curve].XValues.empty()) return nullptr;
  return Curves[curve].XValues.data();
}

const float* TCurves::CurveYValues(int curve) const {
  if (!ValidIndex(curve) || Curves[curve].YValues.empty()) return nullptr;
  return Curves[curve].YValues.data();
}

bool TCurves::Point(int curve, int index, float& x, float& y) const {
  if (!ValidIndex(curve) || index < 0 || index >= CurvePointCount(curve)) return false;
  x = Curves[curve].XValues[static_cast<std::size_t>(index)];
  y = Curves[curve].YValues[static_cast<std::size_t>(index)];
  return true;
}

TPen TCurves::Pen(int curve) const {
  if (!ValidIndex(curve)) return TPen{};
  const TCurve& c = Curves[curve];
  return TPen{c.PenStyle, c.PenWidth, c.PenColor};
}

void TCurves::SetCurveColor(int curve, TColor color) {
  if (ValidIndex(curve)) Curves[curve].PenColor = color;
}

TCurve* TCurves::Curve(int curve) {
  return ValidIndex(curve) ? &Curves[curve] : nullptr;
}

const TCurve* TCurves::Curve(int curve) const {
  return ValidIndex(curve) ? &Curves[curve] : nullptr;
}

float TCurves::TransformY(const TCurve& curve, float y) {
  if (curve.Absolute && y < 0.0f) y = -y;
  if (curve.Floor != 0.0f && y < curve.Floor) y = curve.Floor;
  if (curve.LowerLimitOn && y < curve.LowerLimit) y = curve.LowerLimit;
  if (curve.UpperLimitOn && y > curve.UpperLimit) y = curve.UpperLimit;
  return y;
}

void TCurves::CalcCurveRange(int curve) {
  if (!ValidIndex(curve)) return;
  TCurve& c = Curves[curve];
  const std::size_t n = c.XValues.size();
  if (n == 0) return;
  c.XMin = c.XMax = c.XValues[0];
  c.YMin = c.YMax = TransformY(c, c.YValues[0]);
  for (std::size_t i = 1; i < n; ++i) {
    const float x = c.XValues[i];
    if (x < c.XMin) {
      c.XMin = x;
    } else if (x > c.XMax) {
      c.XMax = x;
    }
    const float y = TransformY(c, c.YValues[i]);
    if (y < c.YMin) {
      c.YMin = y;
    } else if (y > c.YMax) {
      c.YMax = y;
    }
  }
}

void TCurves::CalcRanges() {
  if (EmptyFlag) return;
  bool anyX = false;
  bool anyY[2] = {false, false};
  float yMin[2] = {YMin0, YMin1};
  float yMax[2] = {YMax0, YMax1};
  for (int i = 0; i < CurveCount; ++i) {
    CalcCurveRange(i);
    const TCurve& c = Curves[i];
    if (c.XValues.empty()) continue;
    if (!anyX) {
      OverallXMin = c.XMin;
      OverallXMax = c.XMax;
      anyX = true;
    } else {
      if (c.XMin < OverallXMin) OverallXMin = c.XMin;
      if (c.XMax > OverallXMax) OverallXMax = c.XMax;
    }
    // Any axis value other than 1 counts as axis 0, so a stray value cannot index past the pair.
    const int axis = c.Axis == 1 ? 1 : 0;
    if (!anyY[axis]) {
      yMin[axis] = c.YMin;
      yMax[axis] = c.YMax;
      anyY[axis] = true;
    } else {
      if (c.YMin < yMin[axis]) yMin[axis] = c.YMin;
      if (c.YMax > yMax[axis]) yMax[axis] = c.YMax;
    }
  }
  YMin0 = yMin[0];
  YMin1 = yMin[1];
  YMax0 = yMax[0];
  YMax1 = yMax[1];
}

}  // namespace klarwell
