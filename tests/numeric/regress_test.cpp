#include "numeric/regress.h"

#include <gtest/gtest.h>

#include <cmath>
#include <deque>
#include <utility>
#include <vector>

#include "tests/numeric/FpTraps.h"
#include "tests/support/SignalGen.h"

namespace klarwell {
namespace {

using Points = std::vector<std::pair<float, float>>;

void Fill(TRegress& r, const Points& points) {
  for (const auto& [x, y] : points) r.Add(x, y);
}

std::vector<float> HeldX(const TRegress& r) {
  std::vector<float> xs;
  for (int i = 0; i < r.Count(); ++i) xs.push_back(r.X(i));
  return xs;
}

// Catches a full accumulator that overwrites instead of dropping its oldest point.
TEST(Regress, AddOnFullAccumulatorDropsTheOldest) {
  TRegress r(3);
  Fill(r, {{1, 5}, {2, 7}, {3, 11}, {4, 13}});
  EXPECT_EQ(r.Count(), 3);
  EXPECT_EQ(HeldX(r), (std::vector<float>{2, 3, 4}));
  EXPECT_EQ(r.Y(0), 7);
  EXPECT_EQ(r.Y(2), 13);
  EXPECT_EQ(r.SumX(), 9.0L);
  EXPECT_EQ(r.SumY(), 31.0L);
  EXPECT_EQ(r.SumXX(), 29.0L);
  EXPECT_EQ(r.SumXY(), 14.0L + 33.0L + 52.0L);
}

// Catches drops that read past Count or run with a negative count.
TEST(Regress, DropOperationsTable) {
  struct Case {
    const char* op;
    int arg;
    std::vector<float> held;
  } cases[] = {
      {"DropOldestN", 10, {}},
      {"DropOldestN", 0, {1, 2, 3, 4}},
      {"DropOldestN", -1, {1, 2, 3, 4}},
      {"DropOldestN", 3, {4}},
      {"KeepNewest", 5, {1, 2, 3, 4}},
      {"KeepNewest", 4, {1, 2, 3, 4}},
      {"KeepNewest", 1, {4}},
      {"KeepNewest", 0, {}},
      {"KeepNewest", -1, {}},
      {"DropOldest", 0, {2, 3, 4}},
  };
  for (const Case& c : cases) {
    TRegress r(8);
    Fill(r, {{1, 1}, {2, 2}, {3, 3}, {4, 4}});
    const std::string op = c.op;
    if (op == "DropOldestN") r.DropOldestN(c.arg);
    if (op == "KeepNewest") r.KeepNewest(c.arg);
    if (op == "DropOldest") r.DropOldest();
    EXPECT_EQ(HeldX(r), c.held) << op << "(" << c.arg << ")";
    long double sum = 0;
    for (float x : c.held) sum += x;
    EXPECT_EQ(r.SumX(), sum) << op << "(" << c.arg << ")";
  }
}

TEST(Regress, DropOldestOnEmptyChangesNothing) {
  TRegress r(2);
  r.DropOldest();
  EXPECT_EQ(r.Count(), 0);
  EXPECT_EQ(r.SumX(), 0.0L);
  r.Add(1, 2);
  EXPECT_EQ(r.Count(), 1);
}

// The sums add exact products but subtract the rounded ones kept per point; a drop that
// subtracted exact products would leave SumXY at exactly 4 here.
TEST(Regress, DropSubtractsTheRoundedProducts) {
  TRegress r(4);
  const float x = 1.1f;
  const float y = 1.3f;
  r.Add(x, y);
  r.Add(2, 2);
  r.DropOldest();
  const long double exact = static_cast<long double>(x) * y;
  const long double rounded = static_cast<float>(exact);
  ASSERT_NE(exact, rounded);
  EXPECT_EQ(r.SumXY(), (exact + 4.0L) - rounded);
  EXPECT_EQ(r.SumXX(),
            (static_cast<long double>(x) * x + 4.0L) - static_cast<float>(static_cast<long double>(x) * x));
  EXPECT_EQ(r.XY(0), 4.0f);
}

TEST(Regress, LineFitAndResidualOfWorkedExamples) {
  TRegress r(10);
  Fill(r, {{0, 1}, {1, 3}, {2, 5}});
  float slope = 0, intercept = 0;
  r.LineFit(slope, intercept);
  EXPECT_EQ(slope, 2.0f);
  EXPECT_EQ(intercept, 1.0f);
  EXPECT_EQ(r.MeanAbsResidual(), 0.0);

  r.Clear();
  EXPECT_EQ(r.Count(), 0);
  Fill(r, {{0, 0}, {1, 1}, {2, 0}});
  r.LineFit(slope, intercept);
  EXPECT_EQ(slope, 0.0f);
  EXPECT_FLOAT_EQ(intercept, 1.0f / 3.0f);
  // Line y = 1/3 (as a float), residuals 1/3, 2/3, 1/3.
  EXPECT_NEAR(r.MeanAbsResidual(), 4.0 / 9.0, 1e-7);
}

// Fewer than two distinct x leave the normal equations singular; no division by zero.
TEST(Regress, DegenerateFitsDoNotFault) {
  struct Case {
    Points points;
    float intercept;
    double residual;
  } cases[] = {
      {{}, 0.0f, 0.0},
      {{{3, 5}}, 5.0f, 0.0},
      {{{2, 1}, {2, 3}}, 2.0f, 1.0},
  };
  for (const Case& c : cases) {
    TRegress r(4);
    Fill(r, c.points);
    float slope = 9, intercept = 9;
    double residual = -1;
    {
      test::TFpTraps traps;
      r.LineFit(slope, intercept);
      residual = r.MeanAbsResidual();
    }
    EXPECT_EQ(slope, 0.0f) << c.points.size();
    EXPECT_EQ(intercept, c.intercept) << c.points.size();
    EXPECT_EQ(residual, c.residual) << c.points.size();
  }
}

// As the engine uses it: a sliding window over the bins of one spectrum, cleared per frame.
// LineFit must always equal a fresh fit over the points held, whatever the history of adds and
// drops.
TEST(Regress, SlidingWindowFitEqualsFreshFit) {
  test::TRandom random(42);
  TRegress window(121);
  std::deque<std::pair<float, float>> model;
  int nextX = 0;
  int wideWindows = 0;
  for (int step = 0; step < 3000; ++step) {
    const int op = random.Int(0, 9);
    if (nextX > 1023) {
      window.Clear();
      model.clear();
      nextX = 0;
    } else if (op < 6) {
      const int adds = random.Int(1, 15);
      for (int a = 0; a < adds; ++a) {
        const float y = static_cast<float>(random.Range(-120.0, 0.0));
        window.Add(static_cast<float>(nextX), y);
        model.emplace_back(static_cast<float>(nextX), y);
        if (static_cast<int>(model.size()) > 121) model.pop_front();
        ++nextX;
      }
    } else if (op < 8) {
      const int n = random.Int(-2, 30);
      window.DropOldestN(n);
      for (int i = 0; i < n && !model.empty(); ++i) model.pop_front();
    } else {
      const int k = random.Int(0, 130);
      window.KeepNewest(k);
      while (static_cast<int>(model.size()) > k) model.pop_front();
    }
    ASSERT_EQ(window.Count(), static_cast<int>(model.size())) << step;
    TRegress fresh(121);
    for (const auto& [x, y] : model) fresh.Add(x, y);
    for (int i = 0; i < window.Count(); ++i) {
      ASSERT_EQ(window.X(i), model[i].first) << step;
      ASSERT_EQ(window.Y(i), model[i].second) << step;
    }
    if (model.size() >= 2) {
      float s1, i1, s2, i2;
      window.LineFit(s1, i1);
      fresh.LineFit(s2, i2);
      ASSERT_EQ(s1, s2) << step;
      ASSERT_EQ(i1, i2) << step;
    }
    // The residual comes from the running sums, which drift from the held points by the
    // rounding of the dropped products; over windows as wide as the engine's that stays small.
    if (model.size() >= 40) {
      ASSERT_NEAR(window.MeanAbsResidual(), fresh.MeanAbsResidual(), 1e-3) << step;
      ++wideWindows;
    }
  }
  EXPECT_GT(wideWindows, 500);
}

// Catches a sliding window that loses, reorders or resurrects points, or whose running sums drift
// from the adds and drops made: a long run of adds and drops, many times the capacity, against a
// plain model whose sums are formed by the same operations in the same order.
TEST(Regress, LongSlidingRunKeepsPointsSumsAndResidualOfAPlainModel) {
  for (int capacity : {1, 2, 7, 121}) {
    SCOPED_TRACE(capacity);
    TRegress r(capacity);
    std::deque<std::pair<float, float>> model;
    long double sx = 0, sy = 0, sxx = 0, sxy = 0;
    auto dropModel = [&] {
      const long double x = model.front().first, y = model.front().second;
      sx -= x;
      sxx -= static_cast<float>(x * x);
      sxy -= static_cast<float>(x * y);
      sy -= y;
      model.pop_front();
    };
    test::TRandom rnd(static_cast<uint64_t>(capacity));
    for (int step = 0; step < 40 * capacity + 600; ++step) {
      const int op = rnd.Int(0, 9);
      if (op < 7) {
        const float x = static_cast<float>(rnd.Range(-50, 50)), y = static_cast<float>(rnd.Range(-90, 10));
        r.Add(x, y);
        if (static_cast<int>(model.size()) == capacity) dropModel();
        model.emplace_back(x, y);
        sx += static_cast<long double>(x);
        sy += static_cast<long double>(y);
        sxx += static_cast<long double>(x) * x;
        sxy += static_cast<long double>(x) * y;
      } else if (op == 7) {
        const int n = rnd.Int(0, 3);
        r.DropOldestN(n);
        for (int i = 0; i < n && !model.empty(); ++i) dropModel();
      } else if (op == 8) {
        const int k = rnd.Int(0, capacity);
        r.KeepNewest(k);
        while (static_cast<int>(model.size()) > k) dropModel();
      } else {
        r.DropOldest();
        if (!model.empty()) dropModel();
      }
      ASSERT_EQ(r.Count(), static_cast<int>(model.size())) << "step " << step;
      for (int i = 0; i < r.Count(); ++i) {
        ASSERT_EQ(r.X(i), model[i].first) << "step " << step << " point " << i;
        ASSERT_EQ(r.Y(i), model[i].second) << "step " << step << " point " << i;
      }
      ASSERT_EQ(r.SumX(), sx);
      ASSERT_EQ(r.SumY(), sy);
      ASSERT_EQ(r.SumXX(), sxx);
      ASSERT_EQ(r.SumXY(), sxy);
    }
  }
}

TEST(Regress, QuadFitWorkedExample) {
  const float v[] = {1, 2, 5, 10};
  float c0 = 0, c1 = 0, c2 = 0;
  ASSERT_TRUE(QuadFit(4, v, c0, c1, c2));
  EXPECT_FLOAT_EQ(c2, 1.0f);
  EXPECT_NEAR(c1, 0.0f, 1e-6);
  EXPECT_FLOAT_EQ(c0, 1.0f);
}

// A singular system must report false without a floating-point fault and keep the outputs.
TEST(Regress, QuadFitSingularKeepsOutputs) {
  const float v[] = {4, 6};
  for (int n : {0, 1, 2}) {
    float c0 = 7, c1 = 8, c2 = 9;
    bool ok = true;
    {
      test::TFpTraps traps;
      ok = QuadFit(n, v, c0, c1, c2);
    }
    EXPECT_FALSE(ok) << n;
    EXPECT_EQ(c0, 7.0f);
    EXPECT_EQ(c1, 8.0f);
    EXPECT_EQ(c2, 9.0f);
  }
}

// A run of region length with a known parabola and noise: catches a wrong cofactor in
// Cramer's rule, which the 4-point example alone might not expose.
TEST(Regress, QuadFitRecoversParabolaOnLongRun) {
  test::TRandom random(7);
  const int n = 441;
  std::vector<float> v(n);
  for (int i = 0; i < n; ++i)
    v[i] = static_cast<float>(0.02 * i * i - 5.0 * i + 300.0 + random.Range(-0.5, 0.5));
  float c0, c1, c2;
  ASSERT_TRUE(QuadFit(n, v.data(), c0, c1, c2));
  EXPECT_NEAR(c2, 0.02, 2e-5);
  EXPECT_NEAR(c1, -5.0, 1e-2);
  EXPECT_NEAR(c0, 300.0, 0.5);
}

TEST(RegressDeathTest, CapacityBelowOneIsRefused) {
  EXPECT_DEATH(TRegress(0), "TRegress");
}

}  // namespace
}  // namespace klarwell
