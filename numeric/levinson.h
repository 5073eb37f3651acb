#pragma once

// An autoregressive model from autocorrelations, by the Levinson-Durbin recursion. Fixed work on the
// stack, no allocation; re-entrant, any thread.

#include <cstdint>

namespace klarwell {

// The longest model Levinson takes.
inline constexpr int32_t kMaxLevinsonOrder = 96;

// Prediction coefficients a[0 .. p - 1] (x[n] ~ sum a[k] x[n - 1 - k]) from the autocorrelations
// r[0 .. p]. The recursion stops early, leaving the later coefficients 0, when the prediction error
// stops being positive (a sequence the lower orders already predict). False when r[0] is not positive
// or p lies outside 1 .. kMaxLevinsonOrder; `a` is then all 0.
bool LevinsonDurbin(const double* r, int32_t p, double* a);

}  // namespace klarwell
