#include "numeric/fastburg.h"

#include <cstring>

#include "numeric/Contract.h"
#include "numeric/FloatLanes.h"
#include "numeric/prediction.h"

namespace klarwell {

namespace {

using detail::Load4;
using detail::Store4;
using detail::TDouble4;
using detail::Total4;

// Σ f[j]·b[j] and Σ f[j]² + b[j]² over j < count.
KLARWELL_LANE_INLINE void StageSums(const double* f, const double* b, int count, double& num, double& den) {
  TDouble4 n4 = {}, d4 = {}, n4b = {}, d4b = {};
  int j = 0;
  for (; j + 8 <= count; j += 8) {
    const TDouble4 fj = Load4(f + j), bj = Load4(b + j);
    const TDouble4 fk = Load4(f + j + 4), bk = Load4(b + j + 4);
    n4 += fj * bj;
    d4 += fj * fj + bj * bj;
    n4b += fk * bk;
    d4b += fk * fk + bk * bk;
  }
  n4 += n4b;
  d4 += d4b;
  for (; j + 4 <= count; j += 4) {
    const TDouble4 fj = Load4(f + j), bj = Load4(b + j);
    n4 += fj * bj;
    d4 += fj * fj + bj * bj;
  }
  double nt = 0.0, dt = 0.0;
  for (; j < count; ++j) {
    nt += f[j] * b[j];
    dt += f[j] * f[j] + b[j] * b[j];
  }
  num = Total4(n4) + nt;
  den = Total4(d4) + dt;
}

// One stage's error update over j < count (f[j] -= a·b[j]; b[j] := b[j + 1] − a·f[j + 1] with the
// f[j + 1] before the update), followed in the same pass by the next stage's sums over the same j.
KLARWELL_LANE_INLINE void UpdateAndSum(double* f, double* b, int count, double a, double& num, double& den) {
  const TDouble4 a4 = {a, a, a, a};
  // Two sets of lanes, so that each sum waits for its own previous addition only every other group.
  TDouble4 n4 = {}, d4 = {}, n4b = {}, d4b = {};
  int j = 0;
  for (; j + 8 <= count; j += 8) {
    // The shifted loads read values this pass has not stored yet.
    const TDouble4 fNext = Load4(f + j + 1), bNext = Load4(b + j + 1);
    const TDouble4 fNext2 = Load4(f + j + 5), bNext2 = Load4(b + j + 5);
    const TDouble4 fj = Load4(f + j) - a4 * Load4(b + j);
    const TDouble4 bj = bNext - a4 * fNext;
    const TDouble4 fk = Load4(f + j + 4) - a4 * Load4(b + j + 4);
    const TDouble4 bk = bNext2 - a4 * fNext2;
    Store4(f + j, fj);
    Store4(b + j, bj);
    Store4(f + j + 4, fk);
    Store4(b + j + 4, bk);
    n4 += fj * bj;
    d4 += fj * fj + bj * bj;
    n4b += fk * bk;
    d4b += fk * fk + bk * bk;
  }
  n4 += n4b;
  d4 += d4b;
  for (; j + 4 <= count; j += 4) {
    // Both shifted loads read values this pass has not stored yet.
    const TDouble4 fNext = Load4(f + j + 1), bNext = Load4(b + j + 1);
    const TDouble4 fj = Load4(f + j) - a4 * Load4(b + j);
    const TDouble4 bj = bNext - a4 * fNext;
    Store4(f + j, fj);
    Store4(b + j, bj);
    n4 += fj * bj;
    d4 += fj * fj + bj * bj;
  }
  double nt = 0.0, dt = 0.0;
  for (; j < count; ++j) {
    f[j] = f[j] - a * b[j];
    b[j] = b[j + 1] - a * f[j + 1];
    nt += f[j] * b[j];
    dt += f[j] * f[j] + b[j] * b[j];
  }
  num = Total4(n4) + nt;
  den = Total4(d4) + dt;
}

KLARWELL_LANE_CLONES void BurgLanes(const double* x, int n, int m, double* d) {
  // One spare element each: the shifted loads of the last lane group read one past the range.
  double f[kMaxTrainLen + 4];
  double b[kMaxTrainLen + 4];
  for (int j = 0; j + 1 < n; ++j) {
    f[j] = x[j];
    b[j] = x[j + 1];
  }
  f[n - 1] = b[n - 1] = 0.0;
  double num = 0.0, den = 0.0;
  StageSums(f, b, n - 1, num, den);
  for (int k = 1; k <= m; ++k) {
    // All errors zero: the previous stage predicts the run exactly, this one adds nothing.
    const double r = den == 0.0 ? 0.0 : 2.0 * num / den;
    d[k - 1] = r;
    // d[i] -= r·d[k − 2 − i] for the previous stage's coefficients, in place: each pair (i, k − 2 − i)
    // is updated from its own two old values.
    for (int i = 0, j = k - 2; i <= j; ++i, --j) {
      const double di = d[i], dj = d[j];
      d[i] = di - r * dj;
      if (i != j) d[j] = dj - r * di;
    }
    if (k == m) return;
    UpdateAndSum(f, b, n - k - 1, r, num, den);
  }
}

// future[t] := Σ d[k − 1]·(value k steps back), with the model's coefficients reversed so that the
// window of the last m values and the coefficients run the same way in memory. The window slides
// along a buffer and moves back to its start only when it reaches the end.
KLARWELL_LANE_CLONES void PredictLanes(const double* x, int n, const double* d, int m, double* future, int p) {
  constexpr int kRoom = 2 * kMaxOrder;
  double buffer[kRoom];
  double reversed[kMaxOrder];
  for (int i = 0; i < m; ++i) reversed[i] = d[m - 1 - i];
  for (int i = 0; i < m; ++i) buffer[i] = x[n - m + i];
  int start = 0;
  for (int t = 0; t < p; ++t) {
    const double* window = buffer + start;
    TDouble4 s4 = {};
    int i = 0;
    for (; i + 4 <= m; i += 4) s4 += Load4(reversed + i) * Load4(window + i);
    double s = 0.0;
    for (; i < m; ++i) s += reversed[i] * window[i];
    s += Total4(s4);
    future[t] = s;
    if (m == 0) continue;
    if (start + m == kRoom) {
      std::memmove(buffer, buffer + start, static_cast<size_t>(m) * sizeof(double));
      start = 0;
    }
    buffer[start + m] = s;
    ++start;
  }
}

}  // namespace

void BurgPredictLanes(const double* x, int n, int m, int p, double* future) {
  KLARWELL_REQUIRE("BurgPredictLanes", n <= kMaxTrainLen && m <= kMaxOrder && m >= 0 && m < n && p >= 0);
  double d[kMaxOrder];
  BurgLanes(x, n, m, d);
  PredictLanes(x, n, d, m, future, p);
}

}  // namespace klarwell
