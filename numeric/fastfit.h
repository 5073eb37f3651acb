#pragma once

// The float road's line fits over runs of bins: the same fits as TRegress (regress.h) and their
// exact counterparts (slidingfit.h), with sums in double in whatever order is quickest and the
// residuals in float. Results agree with TRegress to float rounding, not bit for bit.
// Not thread-safe per object; distinct objects may be used on distinct threads.

#include <cstdint>
#include <memory>

namespace klarwell {

// The least-squares line through (k, y[k]) for k = lo … hi (hi ≥ lo). A single point gives the
// horizontal line through it.
void LineFitRangeFast(const float* y, int32_t lo, int32_t hi, float& slope, float& intercept);

// A window of points (x integers, |x| ≤ 2^20) sliding along a run of bins, with the mean absolute
// distance of its points from their least-squares line per position. The interface is TSlidingFit's.
class TFastSlidingFit {
 public:
  // At most `capacity` points (1 ≤ capacity, checked). Allocates here, and never again.
  explicit TFastSlidingFit(int capacity);
  ~TFastSlidingFit();
  TFastSlidingFit(const TFastSlidingFit&) = delete;
  TFastSlidingFit& operator=(const TFastSlidingFit&) = delete;

  void Clear();
  // Appends (first + i, y[i]) for i = 0 … count − 1; on a full window the oldest points go first.
  void AddRun(int32_t first, const float* y, int count);
  // Removes the min(n, Count) oldest points; nothing when n ≤ 0.
  void DropOldestN(int n);
  // When Count > k, removes the oldest points so that k remain (none when k ≤ 0).
  void KeepNewest(int k);
  // Mean |fitted − y| over the held points; 0 when empty. Points that all share one x are measured
  // against their mean.
  double MeanAbsResidual() const;

  int Count() const { return Count_; }

 private:
  void DropFirst(int m);

  // Points live in a room four times the capacity and the window moves along it, compacted rarely.
  std::unique_ptr<float[]> X_;
  std::unique_ptr<float[]> Y_;
  int Capacity_ = 0;
  int Room_ = 0;
  int Start_ = 0;
  int Count_ = 0;
  int64_t SumX_ = 0;
  int64_t SumXX_ = 0;
  double SumY_ = 0;
  double SumXY_ = 0;
};

}  // namespace klarwell
