#include "numeric/fastfit.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "numeric/Contract.h"

namespace klarwell {

namespace {

// Eight independent sums, so that the loops vectorise without the compiler reordering a sum: the
// order is written here, and is the same at every optimisation level.
constexpr int kLanes = 8;

double SumOfLanes(const double (&lanes)[kLanes]) {
  return ((lanes[0] + lanes[1]) + (lanes[2] + lanes[3])) + ((lanes[4] + lanes[5]) + (lanes[6] + lanes[7]));
}

// The line from the sums over count points; (0, mean) when every x is the same.
void LineFromSums(double count, double sumX, double sumXX, double sumY, double sumXY, float& slope,
                  float& intercept) {
  const double det = count * sumXX - sumX * sumX;
  if (!(det > 0.0)) {
    slope = 0.0f;
    intercept = count > 0.0 ? static_cast<float>(sumY / count) : 0.0f;
    return;
  }
  slope = static_cast<float>((count * sumXY - sumX * sumY) / det);
  intercept = static_cast<float>((sumY * sumXX - sumX * sumXY) / det);
}

}  // namespace

void LineFitRangeFast(const float* y, int32_t lo, int32_t hi, float& slope, float& intercept) {
  // Sums relative to lo keep the products small; the x sums have closed forms.
  const int32_t count = hi - lo + 1;
  double sumY[kLanes] = {};
  double sumXY[kLanes] = {};
  int32_t i = 0;
  for (; i + kLanes <= count; i += kLanes) {
    for (int l = 0; l < kLanes; ++l) {
      const double v = y[lo + i + l];
      sumY[l] += v;
      sumXY[l] += static_cast<double>(i + l) * v;
    }
  }
  double sy = SumOfLanes(sumY);
  double sxy = SumOfLanes(sumXY);
  for (; i < count; ++i) {
    sy += y[lo + i];
    sxy += static_cast<double>(i) * y[lo + i];
  }
  const double n = count;
  const double sx = n * (n - 1.0) / 2.0;
  const double sxx = (n - 1.0) * n * (2.0 * n - 1.0) / 6.0;
  float relSlope = 0.0f, relIntercept = 0.0f;
  LineFromSums(n, sx, sxx, sy, sxy, relSlope, relIntercept);
  slope = relSlope;
  intercept = static_cast<float>(relIntercept - static_cast<double>(relSlope) * lo);
}

TFastSlidingFit::TFastSlidingFit(int capacity) {
  KLARWELL_REQUIRE("TFastSlidingFit", capacity >= 1);
  Capacity_ = capacity;
  Room_ = 4 * capacity;
  X_ = std::make_unique<float[]>(static_cast<size_t>(Room_));
  Y_ = std::make_unique<float[]>(static_cast<size_t>(Room_));
}

TFastSlidingFit::~TFastSlidingFit() = default;

void TFastSlidingFit::Clear() {
  Start_ = 0;
  Count_ = 0;
  SumX_ = 0;
  SumXX_ = 0;
  SumY_ = 0;
  SumXY_ = 0;
}

void TFastSlidingFit::AddRun(int32_t first, const float* y, int count) {
  for (int i = 0; i < count; ++i) {
    if (Count_ == Capacity_) DropFirst(1);
    if (Start_ + Count_ == Room_) {
      std::memmove(X_.get(), X_.get() + Start_, sizeof(float) * static_cast<size_t>(Count_));
      std::memmove(Y_.get(), Y_.get() + Start_, sizeof(float) * static_cast<size_t>(Count_));
      Start_ = 0;
    }
    const int32_t x = first + i;
    const int at = Start_ + Count_;
    X_[static_cast<size_t>(at)] = static_cast<float>(x);
    Y_[static_cast<size_t>(at)] = y[i];
    SumX_ += x;
    SumXX_ += static_cast<int64_t>(x) * x;
    SumY_ += y[i];
    SumXY_ += static_cast<double>(x) * y[i];
    ++Count_;
  }
}

void TFastSlidingFit::DropFirst(int m) {
  for (int i = Start_; i < Start_ + m; ++i) {
    const auto x = static_cast<int64_t>(X_[static_cast<size_t>(i)]);
    const float v = Y_[static_cast<size_t>(i)];
    SumX_ -= x;
    SumXX_ -= x * x;
    SumY_ -= v;
    SumXY_ -= static_cast<double>(x) * v;
  }
  Start_ += m;
  Count_ -= m;
}

void TFastSlidingFit::DropOldestN(int n) {
  if (n <= 0) return;
  DropFirst(std::min(n, Count_));
}

void TFastSlidingFit::KeepNewest(int k) {
  if (k < 0) k = 0;
  if (Count_ > k) DropFirst(Count_ - k);
}

double TFastSlidingFit::MeanAbsResidual() const {
  if (Count_ == 0) return 0.0;
  const double n = Count_;
  const double meanX = static_cast<double>(SumX_) / n;
  const double meanY = SumY_ / n;
  // The line through the centre of the points: slope·x and the intercept can be large and of opposite
  // sign, and their sum in float would lose the digits that the residuals are made of.
  const double spread = static_cast<double>(SumXX_) - static_cast<double>(SumX_) * meanX;
  const double slopeD = spread > 0.0 ? (SumXY_ - static_cast<double>(SumX_) * meanY) / spread : 0.0;
  const auto slope = static_cast<float>(slopeD);
  const auto centreX = static_cast<float>(meanX);
  const auto centreY = static_cast<float>(meanY);
  const float* x = X_.get() + Start_;
  const float* y = Y_.get() + Start_;
  float lanes[kLanes] = {};
  int i = 0;
  for (; i + kLanes <= Count_; i += kLanes) {
    for (int l = 0; l < kLanes; ++l) lanes[l] += std::fabs(slope * (x[i + l] - centreX) + centreY - y[i + l]);
  }
  double e = 0.0;
  for (; i < Count_; ++i) e += std::fabs(slope * (x[i] - centreX) + centreY - y[i]);
  for (const float lane : lanes) e += lane;
  return e / n;
}

}  // namespace klarwell
