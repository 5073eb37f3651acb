#include "numeric/outlieredge.h"

#include <cmath>
#include <cstdlib>

namespace klarwell {

double ForwardResidual(const float* x, int32_t n, const double* a, int32_t p) {
  double prediction = 0.0;
  for (int32_t k = 1; k <= p; ++k) prediction += a[k - 1] * x[n - k];
  return x[n] - prediction;
}

double BackwardResidual(const float* x, int32_t n, const double* a, int32_t p) {
  double prediction = 0.0;
  for (int32_t k = 1; k <= p; ++k) prediction += a[k - 1] * x[n + k];
  return x[n] - prediction;
}

int32_t OutlierEdge(const float* x, int32_t s, int32_t e, const double* a, int32_t p, double limit,
                    bool backward) {
  auto residual = [&](int32_t n) {
    return std::fabs(backward ? BackwardResidual(x, n, a, p) : ForwardResidual(x, n, a, p));
  };
  double strongest = 0.0;
  int32_t core = backward ? e : s;
  for (int32_t n = s; n <= e; ++n) {
    const double r = residual(n);
    if (r > strongest) {
      strongest = r;
      core = n;
    }
  }
  if (!(strongest > limit)) return -1;
  // An outlier farther than the model's reach from the run is the music's own, not this click's.
  int32_t edge = core;
  const int32_t dir = backward ? 1 : -1;
  for (int32_t n = core + dir; n >= s && n <= e && std::abs(n - edge) <= p; n += dir) {
    if (residual(n) > limit) edge = n;
  }
  return edge;
}

}  // namespace klarwell
