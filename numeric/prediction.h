#pragma once

// Linear prediction by Burg's maximum-entropy method: coefficients of an autoregressive model
// from a training sequence, and the continuation of the sequence with them. Fixed arrays on the
// stack, no allocation; re-entrant, any thread.

namespace klarwell {

// Largest training sequence and order. Enough for 192 kHz, where a click region of 1920 samples
// trains on at most 961 samples with an order of at most 480.
inline constexpr int kMaxTrainLen = 1000;
inline constexpr int kMaxOrder = 500;

// Burg coefficients d[0 … m − 1] (d[0] weighs the last value) of x (n doubles).
// Requires 0 ≤ m < n ≤ kMaxTrainLen and m ≤ kMaxOrder (checked). A stage whose errors are all
// zero gets the coefficient 0.
void BurgCoefficients(const double* x, int n, int m, double* d);

// The p values following x (n doubles) under the model d (m doubles): future (p doubles).
// Requires 0 ≤ m ≤ n, m ≤ kMaxOrder and p ≥ 0 (checked); p = 0 leaves future untouched.
void PredictAhead(const double* x, int n, const double* d, int m, double* future, int p);

// BurgCoefficients followed by PredictAhead with the same sequence, n and m.
void BurgPredict(const double* x, int n, int m, int p, double* future);

}  // namespace klarwell
