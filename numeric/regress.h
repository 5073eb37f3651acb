#pragma once

// Least-squares fits for the click engine: TRegress, a bounded accumulator of (x, y) points that
// fits a straight line and measures how well it fits, and QuadFit, a parabola through values at
// x = 0, 1, 2, …. Not thread-safe per object; distinct objects may be used on distinct threads.

#include <memory>

namespace klarwell {

class TRegress {
 public:
  // An empty accumulator for at most `capacity` points (capacity ≥ 1, checked). Allocates its
  // four arrays here, and never again.
  explicit TRegress(int capacity);
  virtual ~TRegress();
  TRegress(const TRegress&) = delete;
  TRegress& operator=(const TRegress&) = delete;

  // Count := 0 and all running sums := 0.
  void Clear();
  // Appends a point; on a full accumulator the oldest point is dropped first.
  void Add(float x, float y);
  // Removes the oldest point; nothing when empty.
  void DropOldest();
  // Removes the min(n, Count) oldest points; nothing when n ≤ 0.
  void DropOldestN(int n);
  // When Count > k, removes the oldest points so that k remain (none when k ≤ 0).
  void KeepNewest(int k);

  // Least-squares line y = slope·x + intercept through the held points, from sums recomputed
  // over the held points. Fewer than two distinct x give slope 0 and the mean of y (0 when empty).
  void LineFit(float& slope, float& intercept) const;
  // Mean absolute vertical distance of the held points from the line given by the running sums
  // (which, after drops, may differ from sums over the held points by rounding). 0 when empty;
  // a degenerate system measures the distance from the mean of y.
  double MeanAbsResidual() const;

  int Capacity() const { return Capacity_; }
  int Count() const { return Count_; }
  // Held point i, 0 = oldest (0 ≤ i < Count).
  float X(int i) const { return X_[i]; }
  float Y(int i) const { return Y_[i]; }
  float XX(int i) const { return XX_[i]; }
  float XY(int i) const { return XY_[i]; }
  long double SumX() const { return SumX_; }
  long double SumXX() const { return SumXX_; }
  long double SumXY() const { return SumXY_; }
  long double SumY() const { return SumY_; }

 private:
  void DropFirst(int m);

  std::unique_ptr<float[]> X_;
  std::unique_ptr<float[]> Y_;
  std::unique_ptr<float[]> XX_;  // x², rounded to 32 bits
  std::unique_ptr<float[]> XY_;  // x·y, rounded to 32 bits
  int Capacity_ = 0;
  int Count_ = 0;
  // Added as exact products, subtracted as the rounded XX and XY values.
  long double SumX_ = 0;
  long double SumXX_ = 0;
  long double SumXY_ = 0;
  long double SumY_ = 0;
};

// Least-squares parabola v ≈ c2·x² + c1·x + c0 over x = 0 … n − 1 (v: n floats). True with the
// coefficients; false, with the outputs unchanged, when the system is singular (n < 3) or a
// coefficient does not fit a 32-bit float. Never raises a floating-point fault.
bool QuadFit(int n, const float* v, float& c0, float& c1, float& c2);

}  // namespace klarwell
