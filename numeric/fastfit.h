#pragma once

// The float road's line fits over runs of bins: the same fits as TRegress (regress.h), with sums in
// double in whatever order is quickest and the residuals in float. Results agree with TRegress to
// float rounding, not bit for bit.
// Not thread-safe per object; distinct objects may be used on distinct threads.

#include <cstdint>

namespace klarwell {

// The least-squares line through (k, y[k]) for k = lo … hi (hi ≥ lo). A single point gives the
// horizontal line through it.
void LineFitRangeFast(const float* y, int32_t lo, int32_t hi, float& slope, float& intercept);

// A window of points (k, y[k]) sliding along one array of bins y, with the mean absolute distance of
// its points from their least-squares line per position. The calls are TRegress's sliding ones, with
// the array bound first: the window always holds a run of consecutive bins, so a move costs nothing per point
// and each residual reads its points where they lie.
class TFastSlidingFit {
 public:
  // At most `capacity` points in the window (≥ 1, checked).
  explicit TFastSlidingFit(int capacity);

  // Binds y (bins floats) and empties the window. y must stay unchanged while it is bound.
  void Bind(const float* y, int bins);
  // Appends the bins first … first + count − 1 of the bound array, y pointing at bin first; they must
  // follow the window's last bin (or start it when empty) and lie inside the array (checked). On a full
  // window the oldest points go first.
  void AddRun(int32_t first, const float* y, int count);
  // Removes the min(n, Count) oldest points; nothing when n ≤ 0.
  void DropOldestN(int n);
  // When Count > k, removes the oldest points so that k remain (none when k ≤ 0).
  void KeepNewest(int k);
  // Mean |fitted − y| over the held points; 0 when empty.
  double MeanAbsResidual() const;

  int Count() const { return End_ - Start_; }

 private:
  int Capacity_ = 0;
  const float* Y_ = nullptr;
  int Bins_ = 0;
  int Start_ = 0;  // first held bin
  int End_ = 0;    // one past the last held bin
};

}  // namespace klarwell
