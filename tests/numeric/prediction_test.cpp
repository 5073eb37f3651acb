#include "numeric/prediction.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <vector>

#include "tests/numeric/FpTraps.h"
#include "tests/support/SignalGen.h"

namespace klarwell {
namespace {

// Burg's method in its textbook lattice form, in long double, written independently of the
// routine under test: prediction-error filter 1 + a1·z⁻¹ + … and d = −a.
std::vector<double> ReferenceBurg(const std::vector<double>& x, int m) {
  const int n = static_cast<int>(x.size());
  std::vector<long double> f(x.begin(), x.end()), b(x.begin(), x.end()), a(m + 1, 0.0L);
  a[0] = 1;
  for (int stage = 1; stage <= m; ++stage) {
    long double num = 0, den = 0;
    for (int t = stage; t < n; ++t) {
      num += f[t] * b[t - 1];
      den += f[t] * f[t] + b[t - 1] * b[t - 1];
    }
    const long double k = -2 * num / den;
    std::vector<long double> prev = a;
    for (int i = 1; i <= stage; ++i) a[i] = prev[i] + k * prev[stage - i];
    for (int t = n - 1; t >= stage; --t) {
      const long double ft = f[t];
      f[t] = ft + k * b[t - 1];
      b[t] = b[t - 1] + k * ft;
    }
  }
  std::vector<double> d(m);
  for (int i = 0; i < m; ++i) d[i] = static_cast<double>(-a[i + 1]);
  return d;
}

std::vector<double> Coefficients(const std::vector<double>& x, int m) {
  std::vector<double> d(m);
  BurgCoefficients(x.data(), static_cast<int>(x.size()), m, d.data());
  return d;
}

TEST(Prediction, GeometricSequenceGivesBurgEstimate) {
  std::vector<double> x(10);
  for (int i = 0; i < 10; ++i) x[i] = std::pow(0.9, i);
  const std::vector<double> d = Coefficients(x, 1);
  EXPECT_NEAR(d[0], 1.8 / 1.81, 1e-12);  // 2·0.9 / (1 + 0.81), not 0.9
  double future[3];
  BurgPredict(x.data(), 10, 1, 3, future);
  EXPECT_DOUBLE_EQ(future[0], d[0] * x[9]);
  EXPECT_DOUBLE_EQ(future[1], d[0] * future[0]);
}

TEST(Prediction, CosineOfPeriodEight) {
  std::vector<double> x(64);
  for (int i = 0; i < 64; ++i) x[i] = std::cos(2.0 * M_PI * i / 8.0);
  const std::vector<double> d = Coefficients(x, 2);
  EXPECT_NEAR(d[0], 1.40281, 1e-5);
  EXPECT_NEAR(d[1], -0.99988, 1e-5);
  // The continuation oscillates with the model's period, close to 8, and keeps its amplitude.
  std::vector<double> future(200);
  BurgPredict(x.data(), 64, 2, 200, future.data());
  std::vector<double> upCrossings;
  double peak = 0;
  for (int t = 1; t < 200; ++t) {
    if (future[t - 1] < 0 && future[t] >= 0)
      upCrossings.push_back(t - 1 + future[t - 1] / (future[t - 1] - future[t]));
    peak = std::max(peak, std::fabs(future[t]));
  }
  ASSERT_GE(upCrossings.size(), 20u);
  const double period = (upCrossings.back() - upCrossings.front()) / (upCrossings.size() - 1);
  EXPECT_NEAR(period, 2.0 * M_PI / std::acos(d[0] / (2.0 * std::sqrt(-d[1]))), 0.01);
  EXPECT_NEAR(period, 8.0, 0.1);
  EXPECT_NEAR(peak, 1.0, 0.1);
}

// Catches index slips in the error updates or the coefficient recursion, which leave the first
// stage right and the later ones wrong.
TEST(Prediction, MatchesTextbookLatticeOnNoisyResonances) {
  struct Case {
    int n;
    int m;
    uint64_t seed;
  } cases[] = {{20, 3, 1}, {64, 8, 2}, {221, 110, 3}, {481, 240, 4}};
  for (const Case& c : cases) {
    test::TRandom random(c.seed);
    std::vector<double> x(c.n);
    double y1 = 0, y2 = 0;
    for (int i = 0; i < c.n; ++i) {
      const double y = 1.6 * y1 - 0.8 * y2 + random.Gauss() * 100.0;
      x[i] = y;
      y2 = y1;
      y1 = y;
    }
    const std::vector<double> d = Coefficients(x, c.m);
    const std::vector<double> expected = ReferenceBurg(x, c.m);
    for (int i = 0; i < c.m; ++i)
      ASSERT_NEAR(d[i], expected[i], 1e-6) << "n " << c.n << " m " << c.m << " i " << i;
  }
}

// An all-zero run (digital silence before a click) makes every stage's denominator 0; a
// constant run does so from its second stage on. Neither may divide by zero: silence predicts
// zeros and a constant continues as the constant.
TEST(Prediction, SilenceAndConstantRunsNeedNoDivision) {
  struct Case {
    double value;
    int n;
    int m;
  } cases[] = {{0.0, 10, 5}, {0.0, 221, 110}, {1.0, 10, 1}, {1.0, 10, 5}, {-1234.5, 221, 110}, {3.0, 2, 1}};
  for (const Case& c : cases) {
    const std::vector<double> x(c.n, c.value);
    std::vector<double> future(40, 99.0);
    std::vector<double> d(c.m);
    {
      test::TFpTraps traps;
      BurgCoefficients(x.data(), c.n, c.m, d.data());
      BurgPredict(x.data(), c.n, c.m, 40, future.data());
    }
    if (c.value != 0.0) {
      EXPECT_EQ(d[0], 1.0) << c.value << " " << c.m;
    }
    for (int i = 1; i < c.m; ++i) EXPECT_EQ(d[i], 0.0) << c.value << " " << c.m << " " << i;
    for (double v : future) ASSERT_EQ(v, c.value) << c.value << " " << c.m;
  }
}

TEST(Prediction, ZeroCountLeavesOutputUntouched) {
  const std::vector<double> x = {1, 2, 3, 4, 5, 6};
  double future[2] = {42.0, 43.0};
  BurgPredict(x.data(), 6, 3, 0, future);
  EXPECT_EQ(future[0], 42.0);
  EXPECT_EQ(future[1], 43.0);
}

// 192 kHz repairs train on up to 961 samples with order 480 and predict up to 1280 values.
TEST(Prediction, LargestTrainingAtHighSampleRate) {
  const int n = 961;
  std::vector<double> x(n);
  for (int i = 0; i < n; ++i) x[i] = 10000.0 * std::sin(2.0 * M_PI * 1000.0 * i / 192000.0);
  std::vector<double> future(1280);
  BurgPredict(x.data(), n, 480, 1280, future.data());
  for (int t = 0; t < 64; ++t)
    ASSERT_NEAR(future[t], 10000.0 * std::sin(2.0 * M_PI * 1000.0 * (n + t) / 192000.0), 1.0) << t;
  for (double v : future) ASSERT_TRUE(std::isfinite(v));
}

// The work arrays are fixed: larger arguments must stop the program, not overrun the stack.
TEST(PredictionDeathTest, ArgumentsBeyondTheArraysAreRefused) {
  std::vector<double> x(kMaxTrainLen + 1, 1.0);
  std::vector<double> d(kMaxOrder + 1), future(4);
  EXPECT_DEATH(BurgCoefficients(x.data(), kMaxTrainLen + 1, 10, d.data()), "BurgCoefficients");
  EXPECT_DEATH(BurgCoefficients(x.data(), kMaxTrainLen, kMaxOrder + 1, d.data()), "BurgCoefficients");
  EXPECT_DEATH(BurgCoefficients(x.data(), 10, 10, d.data()), "BurgCoefficients");
  EXPECT_DEATH(BurgCoefficients(x.data(), 10, -1, d.data()), "BurgCoefficients");
  EXPECT_DEATH(PredictAhead(x.data(), 5, d.data(), 6, future.data(), 4), "PredictAhead");
  EXPECT_DEATH(BurgPredict(x.data(), 10, 5, -1, future.data()), "PredictAhead");
}

}  // namespace
}  // namespace klarwell
