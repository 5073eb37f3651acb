#include "chart/AxisPlan.h"

#include <algorithm>
#include <cmath>

#include "chart/AxisScale.h"
#include "chart/Graphic.h"
#include "chart/GraphicDetail.h"

namespace klarwell::chart_detail {

namespace {

// Tick values are computed as first + i * step; this much of a step is rounding noise.
constexpr double TickTolerance = 1e-9;

// The first main tick at or above min: min / step rounded up to a whole number, times step. A
// quotient within rounding noise of a whole number counts as that number, and -0 becomes 0.
double FirstTick(double min, double step) {
  double q = min / step;
  const double whole = std::nearbyint(q);
  if (std::fabs(q - whole) <= TickTolerance * std::max(1.0, std::fabs(q))) q = whole;
  return std::ceil(q) * step + 0.0;
}

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

}  // namespace

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

namespace {

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

}  // namespace

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

}  // namespace klarwell::chart_detail
