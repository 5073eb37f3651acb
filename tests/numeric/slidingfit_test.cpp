#include "numeric/slidingfit.h"

#include <gtest/gtest.h>

#include <cfenv>
#include <cmath>
#include <cstring>
#include <limits>
#include <vector>

#include "numeric/regress.h"
#include "tests/support/SignalGen.h"

namespace klarwell {
namespace {

uint64_t Bits(double v) {
  uint64_t b;
  std::memcpy(&b, &v, sizeof b);
  return b;
}

// y values of several kinds: dB-like spectra, values a few float steps apart (whose fitted values
// land on or next to the midpoints between floats, where rounding twice could go wrong), mixed
// exponents, and infinities and NaNs.
float Value(test::TRandom& random, int kind) {
  switch (kind) {
    case 0: return static_cast<float>(random.Range(-60.0, 60.0));
    case 1: return 1.0f + static_cast<float>(random.Int(0, 3)) * std::numeric_limits<float>::epsilon();
    case 2: return static_cast<float>(std::ldexp(random.Range(-1.0, 1.0), random.Int(-149, 100)));
    case 3: return static_cast<float>(random.Int(-4, 4));
    default: {
      const int pick = random.Int(0, 30);
      if (pick == 0) return std::numeric_limits<float>::infinity();
      if (pick == 1) return std::numeric_limits<float>::quiet_NaN();
      return static_cast<float>(random.Range(-1e30, 1e30));
    }
  }
}

// Catches any step of the sliding fit (integer sums, moving room, the double estimate with its
// fallback) that gives a residual other than TRegress's by a single bit, or a fault that TRegress
// does not raise, over long random runs of the calls the roughness measure makes.
TEST(SlidingFit, EveryCallSequenceGivesTRegressResidualsBitForBit) {
  for (int capacity : {1, 2, 3, 7, 121, 200}) {
    for (int kind = 0; kind < 5; ++kind) {
      TRegress ref(capacity);
      TSlidingFit fast(capacity);
      test::TRandom random(97 * capacity + kind);
      int32_t x = random.Int(-4095, 3000);
      for (int step = 0; step < 20000; ++step) {
        const int op = random.Int(0, 19);
        if (op < 14) {
          const int count = random.Int(1, 12);
          for (int i = 0; i < count && x <= 4095; ++i, ++x) {
            const float y = Value(random, kind);
            ref.Add(static_cast<float>(x), y);
            fast.Add(x, y);
          }
          if (x > 4095) x = random.Int(-4095, 0);
        } else if (op < 17) {
          const int n = random.Int(-1, capacity + 1);
          ref.DropOldestN(n);
          fast.DropOldestN(n);
        } else if (op < 19) {
          const int k = random.Int(-1, capacity);
          ref.KeepNewest(k);
          fast.KeepNewest(k);
        } else {
          ref.Clear();
          fast.Clear();
        }
        ASSERT_EQ(ref.Count(), fast.Count());
        std::feclearexcept(FE_ALL_EXCEPT);
        const double a = ref.MeanAbsResidual();
        const int flagsA = std::fetestexcept(FE_INVALID | FE_DIVBYZERO | FE_OVERFLOW);
        std::feclearexcept(FE_ALL_EXCEPT);
        const double b = fast.MeanAbsResidual();
        const int flagsB = std::fetestexcept(FE_INVALID | FE_DIVBYZERO | FE_OVERFLOW);
        std::feclearexcept(FE_ALL_EXCEPT);
        ASSERT_EQ(Bits(a), Bits(b)) << "capacity " << capacity << " kind " << kind << " step " << step;
        ASSERT_EQ(flagsA, flagsB) << "capacity " << capacity << " kind " << kind << " step " << step;
      }
    }
  }
}

// Catches an estimate that decides a tie by itself: the line through (0, 1), (1, 1 + e), (2, 1 + e),
// (3, 1) is flat at exactly 1 + e/2, the midpoint between two floats, which rounds to even.
TEST(SlidingFit, FittedValuesOnAMidpointRoundAsInTRegress) {
  const float e = std::numeric_limits<float>::epsilon();
  const float ys[] = {1.0f, 1.0f + e, 1.0f + e, 1.0f};
  TRegress ref(8);
  TSlidingFit fast(8);
  for (int k = 0; k < 4; ++k) {
    ref.Add(static_cast<float>(k), ys[k]);
    fast.Add(k, ys[k]);
  }
  EXPECT_EQ(Bits(ref.MeanAbsResidual()), Bits(fast.MeanAbsResidual()));
  EXPECT_EQ(fast.MeanAbsResidual(), static_cast<double>(e) / 2.0);
}

// Catches a direct tilt fit that sums in another order or precision than TRegress's LineFit.
TEST(SlidingFit, LineFitRangeGivesTRegressLineFit) {
  test::TRandom random(5);
  for (int trial = 0; trial < 2000; ++trial) {
    const int kind = trial % 4;
    const int32_t lo = random.Int(0, 200);
    const int32_t hi = lo + random.Int(0, 1800);
    std::vector<float> y(static_cast<size_t>(hi) + 1);
    for (auto& v : y) v = Value(random, kind);
    TRegress fit(hi - lo + 3);
    for (int32_t k = lo; k <= hi; ++k) fit.Add(static_cast<float>(k), y[k]);
    float slopeA = 0, interceptA = 0, slopeB = 0, interceptB = 0;
    fit.LineFit(slopeA, interceptA);
    LineFitRange(y.data(), lo, hi, slopeB, interceptB);
    ASSERT_EQ(Bits(slopeA), Bits(slopeB)) << trial;
    ASSERT_EQ(Bits(interceptA), Bits(interceptB)) << trial;
  }
}

}  // namespace
}  // namespace klarwell
