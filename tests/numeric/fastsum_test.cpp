#include "numeric/fastsum.h"

#include <gtest/gtest.h>

#include <cfenv>
#include <cmath>
#include <cstring>
#include <limits>
#include <vector>

#include "tests/support/SignalGen.h"

namespace klarwell {
namespace {

double Plain(const std::vector<float>& v) {
  double s = 0.0;
  for (float x : v) s += x;
  return s;
}

// Catches a reordered sum that is taken for values whose sum depends on the order (fractions finer
// than 2^-16, values at or above 2^16, NaNs, infinities), or that misses the plain loop's result or
// faults for values where the order does not matter: decoded 8-, 16-, 24- and 32-bit samples.
TEST(FastSum, GivesThePlainLoopsBitsForEveryKindOfSample) {
  test::TRandom random(3);
  const float inf = std::numeric_limits<float>::infinity();
  for (int trial = 0; trial < 3000; ++trial) {
    const int n = random.Int(0, 2100);
    const int kind = trial % 7;
    std::vector<float> v(static_cast<size_t>(n));
    for (auto& x : v) {
      const double r = random.Range(-32768.0, 32767.0);
      switch (kind) {
        case 0: x = static_cast<float>(std::floor(r)); break;               // 16-bit
        case 1: x = static_cast<float>(std::floor(r * 256) / 256); break;   // 24-bit
        case 2: x = static_cast<float>(std::floor(r * 65536) / 65536); break;  // 32-bit
        case 3: x = static_cast<float>(r / 3.0); break;                      // float files, repairs
        case 4: x = static_cast<float>(r * 1e6); break;                      // beyond 2^16
        default: x = static_cast<float>(std::floor(r));
      }
    }
    // A single odd value among whole ones must send the sum back to the plain loop.
    if (kind == 5 && n > 0) v[static_cast<size_t>(random.Int(0, n - 1))] = 0.1f;
    if (kind == 6 && n > 0) {
      const float odd[] = {inf, -inf, std::numeric_limits<float>::quiet_NaN(), 65536.0f, 1e-30f};
      v[static_cast<size_t>(random.Int(0, n - 1))] = odd[trial % 5];
    }
    std::feclearexcept(FE_ALL_EXCEPT);
    const double a = Plain(v);
    const int flagsA = std::fetestexcept(FE_INVALID | FE_OVERFLOW);
    std::feclearexcept(FE_ALL_EXCEPT);
    const double b = SumInOrder(v.data(), n);
    const int flagsB = std::fetestexcept(FE_INVALID | FE_OVERFLOW);
    std::feclearexcept(FE_ALL_EXCEPT);
    if (std::isnan(a)) {
      ASSERT_TRUE(std::isnan(b)) << trial;
    } else {
      ASSERT_EQ(0, std::memcmp(&a, &b, sizeof a)) << "trial " << trial << " kind " << kind << " n " << n;
    }
    ASSERT_EQ(flagsA, flagsB) << trial;
  }
}

}  // namespace
}  // namespace klarwell
