#include "numeric/fastfit.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <deque>
#include <utility>
#include <vector>

#include "numeric/regress.h"
#include "tests/support/SignalGen.h"

namespace klarwell {
namespace {

// A dB-like spectrum of n bins: a tilt, ripple and noise.
std::vector<float> Spectrum(int n, uint64_t seed) {
  test::TRandom random(seed);
  std::vector<float> y(static_cast<size_t>(n));
  for (int k = 0; k < n; ++k) {
    y[static_cast<size_t>(k)] =
        static_cast<float>(-20.0 - 0.05 * k + 6.0 * std::sin(0.3 * k) + random.Range(-8.0, 8.0));
  }
  return y;
}

// The mean distance from the least-squares line of the points (x0 + i, y[i]), in double.
double NaiveResidual(const std::deque<std::pair<int, float>>& points) {
  const double n = static_cast<double>(points.size());
  if (points.empty()) return 0.0;
  double sx = 0, sy = 0, sxx = 0, sxy = 0;
  for (const auto& [x, y] : points) sx += x, sy += y, sxx += double(x) * x, sxy += double(x) * y;
  const double det = n * sxx - sx * sx;
  const double slope = det > 0 ? (n * sxy - sx * sy) / det : 0.0;
  const double intercept = det > 0 ? (sy * sxx - sx * sxy) / det : sy / n;
  double e = 0;
  for (const auto& [x, y] : points) e += std::fabs(slope * x + intercept - y);
  return e / n;
}

// Catches a window position, a dropped or doubled point, or a residual of the float road's sliding fit
// that differs from the true one by more than float rounding, over the call sequences the roughness
// measure makes (runs added, oldest dropped, the window narrowed at the top of the band). (TRegress is
// no yardstick here: it drops rounded products, so its sums drift from the held points' by design.)
TEST(FastFit, SlidingResidualsFollowTheHeldPoints) {
  struct TCase {
    int Capacity, Bins;
  };
  for (const TCase c : {TCase{121, 512}, TCase{121, 256}, TCase{121, 1024}, TCase{7, 64}}) {
    const std::vector<float> w = Spectrum(c.Bins, static_cast<uint64_t>(c.Bins + c.Capacity));
    std::deque<std::pair<int, float>> held;
    TFastSlidingFit fast(c.Capacity);
    fast.Bind(w.data(), c.Bins);
    test::TRandom random(static_cast<uint64_t>(c.Capacity));
    int next = 0;
    for (int step = 0; step < 400 && next < c.Bins - 1; ++step) {
      const int count = std::min(random.Int(0, 25), c.Bins - 1 - next);
      for (int i = 1; i <= count; ++i) {
        if (static_cast<int>(held.size()) == c.Capacity) held.pop_front();
        held.emplace_back(next + i, w[static_cast<size_t>(next + i)]);
      }
      fast.AddRun(next + 1, w.data() + next + 1, count);
      next += count;
      const int drop = random.Int(-2, 20);
      if (random.Int(0, 4) == 0) {
        while (static_cast<int>(held.size()) > std::max(drop, 0)) held.pop_front();
        fast.KeepNewest(drop);
      } else {
        for (int i = 0; i < drop && !held.empty(); ++i) held.pop_front();
        fast.DropOldestN(drop);
      }
      ASSERT_EQ(fast.Count(), static_cast<int>(held.size()));
      const double expected = NaiveResidual(held);
      // The fitted values are floats near 50 in size, a float step there is 4e-6.
      ASSERT_NEAR(fast.MeanAbsResidual(), expected, 5e-5 + 1e-5 * expected) << "step " << step;
    }
  }
}

// Catches a tilt fit of the float road that strays from TRegress's LineFit, and the degenerate band of
// one point (the horizontal line through it).
TEST(FastFit, LineFitRangeFollowsTRegress) {
  const std::vector<float> w = Spectrum(1025, 3);
  struct TCase {
    int Lo, Hi;
  };
  for (const TCase c :
       {TCase{30, 464}, TCase{30, 226}, TCase{0, 1}, TCase{100, 107}, TCase{0, 1024}, TCase{9, 9}}) {
    TRegress ref(2048);
    for (int k = c.Lo; k <= c.Hi; ++k) ref.Add(static_cast<float>(k), w[static_cast<size_t>(k)]);
    float slopeA = 0, interceptA = 0, slopeB = 0, interceptB = 0;
    ref.LineFit(slopeA, interceptA);
    LineFitRangeFast(w.data(), c.Lo, c.Hi, slopeB, interceptB);
    EXPECT_NEAR(slopeB, slopeA, 1e-5 * (1.0 + std::fabs(slopeA))) << c.Lo << ".." << c.Hi;
    EXPECT_NEAR(interceptB, interceptA, 1e-4 * (1.0 + std::fabs(interceptA))) << c.Lo << ".." << c.Hi;
  }
}

}  // namespace
}  // namespace klarwell
