#include "numeric/regress.h"

#include <algorithm>
#include <cfloat>
#include <cmath>

#include "numeric/Contract.h"

namespace klarwell {

TRegress::TRegress(int capacity) {
  // Add writes at index Count after making room, so at least one slot must exist.
  KLARWELL_REQUIRE("TRegress", capacity >= 1);
  Capacity_ = capacity;
  X_ = std::make_unique<float[]>(static_cast<std::size_t>(capacity));
  Y_ = std::make_unique<float[]>(static_cast<std::size_t>(capacity));
  XX_ = std::make_unique<float[]>(static_cast<std::size_t>(capacity));
  XY_ = std::make_unique<float[]>(static_cast<std::size_t>(capacity));
}

TRegress::~TRegress() = default;

void TRegress::Clear() {
  Count_ = 0;
  SumX_ = 0;
  SumXX_ = 0;
  SumXY_ = 0;
  SumY_ = 0;
}

void TRegress::Add(float x, float y) {
  if (Count_ == Capacity_) DropOldest();
  const long double lx = x;
  const long double ly = y;
  X_[Count_] = x;
  Y_[Count_] = y;
  XX_[Count_] = static_cast<float>(lx * lx);
  XY_[Count_] = static_cast<float>(lx * ly);
  // The sums take the exact products (a float product is exact in 64 mantissa bits); a drop
  // later subtracts the rounded ones kept in XX and XY.
  SumX_ += lx;
  SumY_ += ly;
  SumXX_ += lx * lx;
  SumXY_ += lx * ly;
  ++Count_;
}

void TRegress::DropFirst(int m) {
  for (int i = 0; i < m; ++i) {
    SumX_ -= X_[i];
    SumXX_ -= XX_[i];
    SumXY_ -= XY_[i];
    SumY_ -= Y_[i];
  }
  const int rest = Count_ - m;
  std::copy(X_.get() + m, X_.get() + Count_, X_.get());
  std::copy(Y_.get() + m, Y_.get() + Count_, Y_.get());
  std::copy(XX_.get() + m, XX_.get() + Count_, XX_.get());
  std::copy(XY_.get() + m, XY_.get() + Count_, XY_.get());
  Count_ = rest;
}

void TRegress::DropOldest() {
  if (Count_ > 0) DropFirst(1);
}

void TRegress::DropOldestN(int n) {
  if (n <= 0) return;
  DropFirst(std::min(n, Count_));
}

void TRegress::KeepNewest(int k) {
  if (k < 0) k = 0;
  if (Count_ > k) DropFirst(Count_ - k);
}

void TRegress::LineFit(float& slope, float& intercept) const {
  double sx = 0;
  double sy = 0;
  double sxx = 0;
  double sxy = 0;
  for (int i = 0; i < Count_; ++i) {
    const double x = X_[i];
    const double y = Y_[i];
    sx += x;
    sy += y;
    sxx += x * x;
    sxy += x * y;
  }
  const double n = Count_;
  const double det = n * sxx - sx * sx;
  if (det == 0.0) {
    // Fewer than two distinct x: no slope is defined; the level of the points is.
    slope = 0.0f;
    intercept = Count_ > 0 ? static_cast<float>(sy / n) : 0.0f;
    return;
  }
  slope = static_cast<float>((n * sxy - sx * sy) / det);
  intercept = static_cast<float>((sy * sxx - sx * sxy) / det);
}

double TRegress::MeanAbsResidual() const {
  if (Count_ == 0) return 0.0;
  const long double n = Count_;
  const long double det = n * SumXX_ - SumX_ * SumX_;
  const long double a = n * SumXY_ - SumX_ * SumY_;
  const long double b = SumY_ * SumXX_ - SumX_ * SumXY_;
  const bool degenerate = det == 0.0L;
  const float mean = static_cast<float>(SumY_ / n);
  double e = 0.0;
  for (int i = 0; i < Count_; ++i) {
    const float f = degenerate ? mean : static_cast<float>((a * X_[i] + b) / det);
    e += std::fabs(static_cast<double>(f) - static_cast<double>(Y_[i]));
  }
  return e / static_cast<double>(Count_);
}

bool QuadFit(int n, const float* v, float& c0, float& c1, float& c2) {
  double s1 = 0, s2 = 0, s3 = 0, s4 = 0;
  double t0 = 0, t1 = 0, t2 = 0;
  for (int i = 0; i < n; ++i) {
    const double x = i;
    const double x2 = x * x;
    const double y = v[i];
    s1 += x;
    s2 += x2;
    s3 += x2 * x;
    s4 += x2 * x2;
    t0 += y;
    t1 += x * y;
    t2 += x2 * y;
  }
  const double dn = n;
  const double det = s4 * (s2 * dn - s1 * s1) - s3 * (s3 * dn - s2 * s1) + s2 * (s3 * s1 - s2 * s2);
  // Singular for n < 3, where the sums make the determinant exactly 0. Tested before dividing
  // so that no floating-point fault is raised.
  if (det == 0.0) return false;
  const double r2 = (t2 * (s2 * dn - s1 * s1) - s3 * (t1 * dn - s1 * t0) + s2 * (t1 * s1 - s2 * t0)) / det;
  const double r1 = (s4 * (t1 * dn - s1 * t0) - t2 * (s3 * dn - s1 * s2) + s2 * (s3 * t0 - t1 * s2)) / det;
  const double r0 = (s4 * (s2 * t0 - s1 * t1) - s3 * (s3 * t0 - s2 * t1) + t2 * (s3 * s1 - s2 * s2)) / det;
  // A value beyond the float range (or a NaN from non-finite input) would fault when stored.
  const auto fits = [](double c) { return std::fabs(c) <= static_cast<double>(FLT_MAX); };
  if (!fits(r2) || !fits(r1) || !fits(r0)) return false;
  c2 = static_cast<float>(r2);
  c1 = static_cast<float>(r1);
  c0 = static_cast<float>(r0);
  return true;
}

}  // namespace klarwell
