#include "numeric/fastburg.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <vector>

#include "numeric/prediction.h"
#include "tests/support/SignalGen.h"

namespace klarwell {
namespace {

// The lane road sums in another order than the plain one: its continuation must stay within a
// rounding-sized distance of the plain routine's, for music, a pure tone (an ill-conditioned model of
// high order), silence (every stage's errors zero), the smallest orders, and a continuation longer
// than the window's buffer, which makes it move back.
TEST(FastBurg, FollowsThePlainRoutine) {
  const test::TSignal music = test::MakeMusic(0.1, 96000, 1, 41);
  const test::TSignal tone = test::MakeTone(0.1, 96000, 1, 997.0, 9000.0);
  struct TCase {
    const char* Name;
    const test::TSignal* Source;  // null: silence
    int N, M, P;
  } const cases[] = {
      {"music, the 96 kHz maximum", &music, 481, 240, 640},
      {"music, odd order", &music, 123, 61, 200},
      {"tone", &tone, 301, 150, 400},
      {"silence", nullptr, 200, 100, 50},
      {"order 0", &music, 5, 0, 7},
      {"order 1", &music, 2, 1, 3},
      {"long continuation", &music, 40, 7, 2500},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.Name);
    std::vector<double> x(static_cast<size_t>(c.N), 0.0);
    if (c.Source) {
      for (int i = 0; i < c.N; ++i) x[static_cast<size_t>(i)] = c.Source->Channels[0][static_cast<size_t>(i + 500)];
    }
    std::vector<double> plain(static_cast<size_t>(c.P), -1.0), lanes(static_cast<size_t>(c.P), -2.0);
    BurgPredict(x.data(), c.N, c.M, c.P, plain.data());
    BurgPredictLanes(x.data(), c.N, c.M, c.P, lanes.data());
    double scale = 1.0;
    for (double v : x) scale = std::max(scale, std::fabs(v));
    // Each predicted value feeds the next, so a rounding difference grows along the continuation;
    // a pure tone's model of high order is nearly singular and lets it grow most. A fault (a lane
    // reading the wrong error, a sum missing its tail) is off by far more.
    const double tolerance = scale * 1e-6;
    for (int t = 0; t < c.P; ++t) {
      ASSERT_NEAR(lanes[static_cast<size_t>(t)], plain[static_cast<size_t>(t)], tolerance) << "step " << t;
    }
  }
}

}  // namespace
}  // namespace klarwell
