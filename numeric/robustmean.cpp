#include "numeric/robustmean.h"

#include <cmath>

namespace klarwell {

namespace {

// The cut t, in mean absolute deviations, is about 3.8 for many values and widens by 53.5 / n² for
// few, whose spread is known poorly: about 6 for five values, almost 10 for three. Both are tuning
// constants of the click location, which takes its envelope's level from here: other values find
// other clicks. The cut applied, (n - 1)·t / ((n - 1) + t), stays below both t and n - 1.
constexpr double kCutFactor = 3.8;
constexpr double kCutWidening = 53.5;
constexpr int kRounds = 3;

}  // namespace

void RobustMean(const double* v, int32_t count, double& mean, double& spread) {
  mean = 0.0;
  spread = 0.0;
  if (count <= 0) return;
  double sum = 0.0;
  for (int32_t i = 0; i < count; ++i) sum += v[i];
  mean = sum / count;
  if (count < 2) return;
  double dev = 0.0;
  for (int32_t i = 0; i < count; ++i) dev += std::fabs(v[i] - mean);
  spread = dev / (count - 1);

  int32_t prev = count;
  for (int round = 0; round < kRounds; ++round) {
    const float t = static_cast<float>(kCutWidening / (static_cast<double>(prev) * prev) + kCutFactor);
    const float g =
        static_cast<float>((prev - 1) * static_cast<double>(t) / ((prev - 1) + static_cast<double>(t)));
    const double cut = g * spread;
    int32_t kept = 0;
    double keptSum = 0.0;
    for (int32_t i = 0; i < count; ++i) {
      if (std::fabs(v[i] - mean) < cut) {
        keptSum += v[i];
        ++kept;
      }
    }
    if (kept < 3) break;
    const double newMean = keptSum / kept;
    double newDev = 0.0;
    for (int32_t i = 0; i < count; ++i) {
      const double d = std::fabs(v[i] - newMean);
      if (d < cut) newDev += d;
    }
    const double newSpread = newDev / (kept - 1);
    if (newSpread >= spread) break;
    mean = newMean;
    spread = newSpread;
    if (kept == prev) break;
    prev = kept;
  }
}

}  // namespace klarwell
