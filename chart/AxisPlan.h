#pragma once

// Where the ticks and labels of one chart axis go; used by the chart's axis drawing only.

#include <QFontMetrics>
#include <QString>
#include <vector>

namespace klarwell::chart_detail {

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

// A linear axis over the pixels a..b. Minor ticks and sub-positions come from the spacing of
// two "-0E-00" texts; horizontally the labels need three label widths, vertically they stand at
// every sub-position.
TAxisPlan LinearPlan(const QFontMetrics& fm, int a, int b, double min, double max, bool horizontal);

// A log axis over the pixels a..b (min > 0): ticks at 1, 2 and 5 times the powers of ten or at
// all nine, labels on a coarser or the same set, chosen by the minimum-spacing rule of the
// linear axes. A range inside one decade that holds fewer than two of these gets its ticks from
// the linear steps instead.
TAxisPlan LogPlan(const QFontMetrics& fm, int a, int b, double min, double max, bool horizontal);

}  // namespace klarwell::chart_detail
