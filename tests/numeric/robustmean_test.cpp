#include "numeric/robustmean.h"

#include <gtest/gtest.h>

#include <vector>

namespace klarwell {
namespace {

// Hand-computed: an outlier that the first round drops, a spread that no round shrinks (the plain
// mean stays), and the degenerate counts.
TEST(RobustMean, DropsOutliersOnlyWhenThatShrinksTheSpread) {
  const struct {
    std::vector<double> values;
    double mean, spread;
  } cases[] = {
      {{}, 0.0, 0.0},
      {{5.0}, 5.0, 0.0},
      {{1.0, 2.0, 3.0}, 2.0, 1.0},  // every value inside the cut: nothing changes
      // Mean 10, spread 20, cut 2.93 · 20: the 100 goes, then the zeros have no spread left.
      {{0, 0, 0, 0, 0, 0, 0, 0, 0, 100}, 0.0, 0.0},
      // Mean 20, spread 40, cut 2.39 · 40 = 95.6 > 80: with five values the outlier stays.
      {{0, 0, 0, 0, 100}, 20.0, 40.0},
      // Two rounds: mean 1.4, spread 1.05, the 5 goes (3.6 > 2.93 · 1.05); then mean 10/9, spread 2/9,
      // cut 2.86 · 2/9, and the 2 goes.
      {{1, 1, 1, 1, 1, 1, 1, 1, 2, 5}, 1.0, 0.0},
  };
  for (const auto& c : cases) {
    double mean = -1.0, spread = -1.0;
    RobustMean(c.values.data(), static_cast<int32_t>(c.values.size()), mean, spread);
    EXPECT_DOUBLE_EQ(mean, c.mean) << c.values.size() << " values";
    EXPECT_DOUBLE_EQ(spread, c.spread) << c.values.size() << " values";
  }
}

}  // namespace
}  // namespace klarwell
