#include "numeric/outlieredge.h"

#include <gtest/gtest.h>

#include <vector>

namespace klarwell {
namespace {

// Hand-computed on models whose residual is the step between neighbours (a = {1}, p = 1; or
// a = {1, 0, 0}, p = 3: the same residual with a reach of three samples). Catches a run grown past
// the model's reach, one not grown through outliers within it, ties taken from the wrong end, the
// limit compared with >= and the two directions swapped.
TEST(OutlierEdge, HandComputedRuns) {
  const std::vector<float> spike = {0, 0, 0, 0, 4, 0, 0, 0, 0, 0};
  const std::vector<float> twoSpikes = {0, 0, 0, 4, 0, 0, 0, 4, 0, 0};
  const std::vector<float> ramp = {0, 0, 0, 1, 3, 6, 6, 6, 6, 6};
  const std::vector<float> twoSteps = {0, 0, 0, 2, 2, 2, 8, 8, 8, 8};
  const std::vector<float> twoStepsDown = {8, 8, 8, 8, 2, 2, 2, 0, 0, 0};
  const std::vector<double> near = {1.0}, far = {1.0, 0.0, 0.0};
  struct TCase {
    const char* Name;
    const std::vector<float>& X;
    int32_t S, E;
    const std::vector<double>& A;
    double Limit;
    bool Backward;
    int32_t Edge;
  };
  const TCase cases[] = {
      {"spike forward: from its rise", spike, 1, 8, near, 1.0, false, 4},
      {"spike backward: grows from the first tie to its fall", spike, 1, 8, near, 1.0, true, 4},
      {"of two equal outliers out of reach, the first is the core", twoSpikes, 1, 8, near, 1.0, false, 3},
      {"a residual equal to the limit is no outlier", spike, 1, 8, near, 4.0, false, -1},
      {"ramp: grows back through every outlier in reach", ramp, 1, 8, near, 0.5, false, 3},
      {"an earlier step beyond the reach stays apart", twoSteps, 3, 8, near, 1.0, false, 6},
      {"the same step within a longer reach joins", twoSteps, 3, 8, far, 1.0, false, 3},
      {"backward: a later step beyond the reach stays apart", twoStepsDown, 1, 6, near, 1.0, true, 3},
      {"backward: within a longer reach it joins", twoStepsDown, 1, 6, far, 1.0, true, 6},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.Name);
    const auto p = static_cast<int32_t>(c.A.size());
    EXPECT_EQ(OutlierEdge(c.X.data(), c.S, c.E, c.A.data(), p, c.Limit, c.Backward), c.Edge);
  }
}

}  // namespace
}  // namespace klarwell
