#pragma once

// Prediction residuals of an autoregressive model, and where an outlying run of them ends: the
// search that marks a click's first and last damaged sample.

#include <cstdint>

namespace klarwell {

// Forward residual at n: x[n] against its prediction from the p samples before it,
// x[n] - sum a[k - 1] x[n - k], k = 1 .. p.
double ForwardResidual(const float* x, int32_t n, const double* a, int32_t p);

// Backward residual at n: x[n] against its prediction from the p samples after it,
// x[n] - sum a[k - 1] x[n + k], k = 1 .. p.
double BackwardResidual(const float* x, int32_t n, const double* a, int32_t p);

// Where an outlying run of residuals within s .. e ends on one side (-1 when no residual's magnitude
// passes the limit): from the strongest forward residual (the first, on ties) towards earlier samples,
// or from the strongest backward one towards later samples, as long as the next residual over the
// limit lies within p samples of the last one kept. x must hold the model's p samples of history
// beyond s .. e on the side the residuals read. Re-entrant, allocates nothing.
int32_t OutlierEdge(const float* x, int32_t s, int32_t e, const double* a, int32_t p, double limit,
                    bool backward);

}  // namespace klarwell
