#pragma once

// A mean that outliers do not drag: the location and spread of a handful of values (a click's
// envelope, a few dozen values) with the values far from the mean left out.

#include <cstdint>

namespace klarwell {

// Mean and mean absolute deviation (divided by count - 1) of v[0 .. count - 1] after up to three
// rounds of discarding outliers: a round keeps the values closer to the mean than g·spread, where g
// tightens as fewer values remain, and is taken only when it shrinks the spread. count 0 gives 0
// and 0, count 1 the value and 0. Re-entrant, allocates nothing.
void RobustMean(const double* v, int32_t count, double& mean, double& spread);

}  // namespace klarwell
