#include "numeric/levinson.h"

#include <algorithm>

namespace klarwell {

bool LevinsonDurbin(const double* r, int32_t p, double* a) {
  if (p < 1 || p > kMaxLevinsonOrder) return false;
  std::fill(a, a + p, 0.0);
  if (!(r[0] > 0.0)) return false;
  double previous[kMaxLevinsonOrder];
  double error = r[0];
  for (int32_t m = 0; m < p; ++m) {
    double acc = r[m + 1];
    for (int32_t k = 0; k < m; ++k) acc -= a[k] * r[m - k];
    const double reflection = acc / error;
    const double next = error * (1.0 - reflection * reflection);
    // Rounding can push a nearly perfect prediction's error to zero or below; the orders so far hold.
    if (!(next > 0.0)) break;
    std::copy(a, a + m, previous);
    a[m] = reflection;
    for (int32_t k = 0; k < m; ++k) a[k] = previous[k] - reflection * previous[m - 1 - k];
    error = next;
  }
  return true;
}

}  // namespace klarwell
