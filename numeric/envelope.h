#pragma once

// The energy envelope of a short stretch for a trial half-period: the tone and ringing tests of the
// click location look for the half-period that makes it flattest.

#include <cstdint>

namespace klarwell {

// env[j] for j = 0 … n − 1 from the n + 1 samples y[0 … n]: with m the mean of y[j] and y[j + 1] and
// d their difference times halfPeriod / π, env[j] = (m² + d²) / 10000. For a sinusoid whose
// half-period is halfPeriod samples, m and d are its sine and cosine parts, so env is nearly
// constant. d and the sum are taken in long double. Re-entrant, allocates nothing.
void EnergyEnvelope(const float* y, int32_t n, long double halfPeriod, double* env);

}  // namespace klarwell
