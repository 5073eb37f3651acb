#include "numeric/fastfit.h"

#include <algorithm>
#include <cmath>

#include "numeric/Contract.h"
#include "numeric/FloatLanes.h"

namespace klarwell {

namespace {

// Eight independent sums, so that the loops vectorise without the compiler reordering a sum: the
// order is written here, and is the same at every optimisation level.
constexpr int kLanes = 8;

// The mean distance of the points (i, y[i]), i = 0 … count − 1 (count ≥ 1), from their least-squares
// line: the sums in float lanes (a window is short), the line through the points' centre, since slope·x
// and the intercept can be large and of opposite sign and their sum in float would lose the digits that
// the distances are made of.
KLARWELL_LANE_CLONES double WindowResidual(const float* y, int count) {
  using detail::TFloat8;
  const TFloat8 first = {0, 1, 2, 3, 4, 5, 6, 7};
  TFloat8 sumY = {}, sumXY = {}, x = first;
  int i = 0;
  for (; i + detail::kLanes8 <= count; i += detail::kLanes8) {
    const TFloat8 v = detail::Load8(y + i);
    sumY += v;
    sumXY += x * v;
    x += 8.0f;
  }
  double sy = detail::Sum8(sumY), sxy = detail::Sum8(sumXY);
  for (int k = i; k < count; ++k) {
    sy += y[k];
    sxy += static_cast<double>(k) * y[k];
  }
  const double n = count;
  const double meanX = (n - 1.0) / 2.0;
  const double meanY = sy / n;
  const double spread = n * (n * n - 1.0) / 12.0;  // Σ (x − mean x)²
  const auto slope = static_cast<float>(spread > 0.0 ? (sxy - meanX * sy) / spread : 0.0);
  const auto centreX = static_cast<float>(meanX);
  const auto centreY = static_cast<float>(meanY);
  TFloat8 sum = {};
  x = first;
  for (i = 0; i + detail::kLanes8 <= count; i += detail::kLanes8) {
    sum += detail::Abs8(slope * (x - centreX) + centreY - detail::Load8(y + i));
    x += 8.0f;
  }
  double e = detail::Sum8(sum);
  for (; i < count; ++i) e += std::fabs(slope * (static_cast<float>(i) - centreX) + centreY - y[i]);
  return e / n;
}

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
}

void TFastSlidingFit::Bind(const float* y, int bins) {
  KLARWELL_REQUIRE("TFastSlidingFit::Bind", bins >= 0);
  Y_ = y;
  Bins_ = bins;
  Start_ = End_ = 0;
}

void TFastSlidingFit::AddRun(int32_t first, const float* y, int count) {
  if (count <= 0) return;
  if (Start_ == End_) Start_ = End_ = first;
  KLARWELL_REQUIRE("TFastSlidingFit::AddRun", first == End_ && y == Y_ + first && first + count <= Bins_);
  End_ += count;
  Start_ = std::max(Start_, End_ - Capacity_);
}

void TFastSlidingFit::DropOldestN(int n) {
  if (n <= 0) return;
  Start_ = std::min(End_, Start_ + n);
}

void TFastSlidingFit::KeepNewest(int k) {
  if (k < 0) k = 0;
  Start_ = std::max(Start_, End_ - k);
}

double TFastSlidingFit::MeanAbsResidual() const {
  return End_ == Start_ ? 0.0 : WindowResidual(Y_ + Start_, End_ - Start_);
}

}  // namespace klarwell
