#include "numeric/envelope.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <vector>

namespace klarwell {
namespace {

// Hand-computed: from 0 to 2 with half-period π the mean is 1 and the scaled difference 2.
TEST(EnergyEnvelope, TinyStretchByHand) {
  const float y[] = {0.0f, 2.0f, 2.0f};
  double env[2] = {-1.0, -1.0};
  EnergyEnvelope(y, 2, 3.14159265358979323846264338327950288L, env);
  EXPECT_NEAR(env[0], 5.0 / 10000.0, 1e-15);
  EXPECT_NEAR(env[1], 4.0 / 10000.0, 1e-15);
}

// A sinusoid's envelope is flat at its own half-period (amplitude² / 10000) and swings at others,
// which is what the tone and ringing tests rely on.
TEST(EnergyEnvelope, FlatOnlyAtTheSinusoidsHalfPeriod) {
  const double amplitude = 3000.0, halfPeriod = 20.0;
  std::vector<float> y(201);
  for (size_t j = 0; j < y.size(); ++j) y[j] = static_cast<float>(amplitude * std::sin(M_PI * j / halfPeriod));
  std::vector<double> env(200);
  EnergyEnvelope(y.data(), 200, halfPeriod, env.data());
  const double level = amplitude * amplitude / 10000.0;
  EXPECT_GT(*std::min_element(env.begin(), env.end()), 0.99 * level);
  EXPECT_LT(*std::max_element(env.begin(), env.end()), 1.0 * level);
  EnergyEnvelope(y.data(), 200, 5.0L, env.data());
  EXPECT_GT(*std::max_element(env.begin(), env.end()) / *std::min_element(env.begin(), env.end()), 10.0)
      << "a wrong half-period must leave the envelope swinging";
}

}  // namespace
}  // namespace klarwell
