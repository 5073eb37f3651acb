#pragma once

// Burg's linear prediction for the float road: the same model and continuation as BurgPredict, but
// the sums of each stage run in four lanes, and a stage's error update and the next stage's sums
// share one pass over the errors. The sums are therefore added in another order than the plain
// routine's, so results differ from it in the last bits; they are the same on every run and at every
// optimisation level. Fixed arrays on the stack, no allocation; re-entrant, any thread.

namespace klarwell {

// As BurgPredict (numeric/prediction.h): the p values following x (n doubles) under a model of
// order m estimated from x. Requires 0 ≤ m < n ≤ kMaxTrainLen, m ≤ kMaxOrder, p ≥ 0 (checked).
void BurgPredictLanes(const double* x, int n, int m, int p, double* future);

}  // namespace klarwell
