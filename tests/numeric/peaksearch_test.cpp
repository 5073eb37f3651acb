#include "numeric/peaksearch.h"

#include <gtest/gtest.h>

#include <cfenv>
#include <cmath>
#include <limits>
#include <vector>

#include "tests/support/SignalGen.h"

namespace klarwell {
namespace {

constexpr int kFaults = FE_INVALID | FE_DIVBYZERO | FE_OVERFLOW;
constexpr float kInf = std::numeric_limits<float>::infinity();
constexpr float kNaN = std::numeric_limits<float>::quiet_NaN();

// The plain loop and the fast search over s[a … b], with the faults each raises.
void ExpectSamePeak(TSinePeak& fast, const std::vector<float>& s, int a, int b, int step, const char* what) {
  std::feclearexcept(FE_ALL_EXCEPT);
  const int plain = SinePeak(s.data(), a, b, step);
  const int plainFaults = std::fetestexcept(kFaults);
  std::feclearexcept(FE_ALL_EXCEPT);
  const int found = fast.Find(s.data(), a, b, step);
  const int foundFaults = std::fetestexcept(kFaults);
  std::feclearexcept(FE_ALL_EXCEPT);
  ASSERT_EQ(plain, found) << what << " a=" << a << " b=" << b << " step=" << step;
  ASSERT_EQ(plainFaults, foundFaults) << what << " a=" << a << " b=" << b << " step=" << step;
}

// Catches a bound that rounding lets fall below a height, a tie that goes to the later position, a
// foot search that skips the block holding the outermost best foot, or an off-by-one at the range's
// ends, over traces of the shapes the candidate search meets and of shapes made for ties. The
// range sits inside a longer array fenced with NaNs, so a read outside it changes the result.
TEST(SinePeak, FastSearchFindsThePlainLoopsPosition) {
  struct Kind {
    const char* name;
    float (*value)(test::TRandom&, int i, float previous);
  } kinds[] = {
      {"trace-like walk",
       [](test::TRandom& r, int, float v) { return v + static_cast<float>(r.Range(-30, 30)); }},
      {"rising walk", [](test::TRandom& r, int, float v) { return v + static_cast<float>(r.Int(-2, 3)); }},
      {"noise", [](test::TRandom& r, int, float) { return static_cast<float>(r.Range(-1e4, 1e4)); }},
      {"few levels (ties)", [](test::TRandom& r, int, float) { return static_cast<float>(r.Int(0, 3)); }},
      {"plateaus", [](test::TRandom& r, int,
                      float v) { return r.Int(0, 40) == 0 ? static_cast<float>(r.Int(-5, 5)) : v; }},
      {"ramp", [](test::TRandom&, int i, float) { return static_cast<float>(i % 700); }},
      {"one spike", [](test::TRandom& r, int, float) { return r.Int(0, 500) == 0 ? 9000.0f : 0.0f; }},
      {"exponents",
       [](test::TRandom& r, int, float) {
         return static_cast<float>(std::ldexp(r.Range(-1.0, 1.0), r.Int(-149, 127)));
       }},
  };
  test::TRandom random(20240611);
  TSinePeak fast(3200);
  for (const Kind& kind : kinds) {
    for (int trial = 0; trial < 60; ++trial) {
      const int n = trial < 10 ? trial + 1 : random.Int(1, 3200);
      const int a = random.Int(0, 5);
      std::vector<float> s(static_cast<size_t>(a + n + 3), kNaN);
      float v = 0.0f;
      for (int i = 0; i < n; ++i) s[static_cast<size_t>(a + i)] = v = kind.value(random, i, v);
      // Symmetric traces: equal heights at mirrored positions, whose weights may round alike.
      if (trial % 4 == 3)
        for (int i = 0; i < n / 2; ++i) s[static_cast<size_t>(a + n - 1 - i)] = s[static_cast<size_t>(a + i)];
      const int step = trial % 5 == 4 ? n + random.Int(0, 3) : random.Int(1, 8);
      ExpectSamePeak(fast, s, a, a + n - 1, step, kind.name);
    }
  }
}

// Catches a fast road that takes traces whose heights are not ordered (NaNs, infinities), faults
// where the plain loop does not (or misses its faults), or reads past a capacity too small for
// the range.
TEST(SinePeak, HostileTracesGiveThePlainLoopsPositionAndFaults) {
  struct Case {
    const char* name;
    std::vector<float> s;
    int step;
  } cases[] = {
      {"NaN at the top", {0, 1, 5, kNaN, 5, 1, 0, 2, 0}, 1},
      {"NaN no position reads", {0, 9, kNaN, 1, 0}, 10},
      {"infinite top", {0, 1, kInf, 1, 0, 0}, 1},
      {"infinite foot", {-kInf, 1, 3, 1, 0, 0}, 1},
      {"both infinities", {kInf, 1, 3, -kInf, 0, 0}, 2},
      {"float range", {-3e38f, 3e38f, -3e38f, 3e38f, -3e38f}, 1},
      {"signed zeros", {0.0f, -0.0f, 0.0f, -0.0f, 0.0f, -0.0f}, 1},
      {"denormals", {0, 1e-45f, 0, 1e-45f, 3e-45f, 0}, 1},
      {"flat", std::vector<float>(300, 7.0f), 1},
      {"one value", {4}, 1},
      {"two values", {4, 5}, 1},
      {"step beyond the range", {0, 3, 9, 3, 0}, 9},
  };
  for (const Case& c : cases) {
    TSinePeak fast(static_cast<int>(c.s.size()));
    ExpectSamePeak(fast, c.s, 0, static_cast<int>(c.s.size()) - 1, c.step, c.name);
    TSinePeak tooSmall(2);
    ExpectSamePeak(tooSmall, c.s, 0, static_cast<int>(c.s.size()) - 1, c.step, c.name);
  }
}

}  // namespace
}  // namespace klarwell
