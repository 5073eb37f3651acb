#pragma once

// Fast, exact counterparts of the line fits that the roughness measure runs per analysis frame.
// Each gives bit for bit what TRegress gives for the same calls (regress.h), when the x values are
// integers of magnitude at most 4095, as bin indices are:
//  - LineFitRange: Clear, Add(k, y[k]) for k = lo … hi, then LineFit;
//  - TSlidingFit: a window of points sliding along the bins, with MeanAbsResidual per position.
// Not thread-safe per object; distinct objects may be used on distinct threads.

#include <cstdint>
#include <memory>

namespace klarwell {

// The least-squares line through (k, y[k]) for k = lo … hi (hi - lo + 1 ≥ 1 points), as
// TRegress::LineFit over those points.
void LineFitRange(const float* y, int32_t lo, int32_t hi, float& slope, float& intercept);

class TSlidingFit {
 public:
  // At most `capacity` points (1 ≤ capacity, checked). Allocates here, and never again.
  explicit TSlidingFit(int capacity);
  ~TSlidingFit();
  TSlidingFit(const TSlidingFit&) = delete;
  TSlidingFit& operator=(const TSlidingFit&) = delete;

  void Clear();
  // Appends (x, y), |x| ≤ 4095; on a full window the oldest point is dropped first.
  void Add(int32_t x, float y);
  // Add(first + i, y[i]) for i = 0 … count − 1, with first + count − 1 ≤ 4095.
  void AddRun(int32_t first, const float* y, int count);
  // Removes the min(n, Count) oldest points; nothing when n ≤ 0.
  void DropOldestN(int n);
  // When Count > k, removes the oldest points so that k remain (none when k ≤ 0).
  void KeepNewest(int k);
  // As TRegress::MeanAbsResidual.
  double MeanAbsResidual() const;

  int Count() const { return Count_; }

 private:
  void DropFirst(int m);
  void Compact();

  // Points live in a room four times the capacity and the window moves along it; the rare
  // compaction keeps the held points contiguous for the residual's vector loop.
  std::unique_ptr<float[]> X_;
  std::unique_ptr<float[]> Y_;
  std::unique_ptr<float[]> XY_;  // x·y rounded to 32 bits, as TRegress subtracts it on a drop
  std::unique_ptr<float[]> Fitted_;  // the residual's scratch: the fitted values of the held points
  int Capacity_ = 0;
  int Room_ = 0;
  int Start_ = 0;
  int Count_ = 0;
  // x and x² are integers, so their sums are kept exactly in integers: the same values TRegress's
  // extended-precision sums hold. The sums of y and x·y take TRegress's rounding step for step.
  int64_t SumX_ = 0;
  int64_t SumXX_ = 0;
  long double SumXY_ = 0;
  long double SumY_ = 0;
};

}  // namespace klarwell
