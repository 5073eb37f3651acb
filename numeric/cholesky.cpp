#include "numeric/cholesky.h"

#include <algorithm>
#include <cmath>
#include <cstddef>

namespace klarwell {

bool SolveCholesky(double* system, int32_t n, double minPivot, double* x) {
  auto at = [system, n](int32_t i, int32_t j) -> double& {
    return system[static_cast<size_t>(i) * (n + 1) + j];
  };
  for (int32_t j = 0; j < n; ++j) {
    double d = at(j, j);
    for (int32_t k = 0; k < j; ++k) d -= at(j, k) * at(j, k);
    if (!(d > minPivot)) return false;
    const double l = std::sqrt(d);
    at(j, j) = l;
    for (int32_t i = j + 1; i < n; ++i) {
      double v = at(i, j);
      for (int32_t k = 0; k < j; ++k) v -= at(i, k) * at(j, k);
      at(i, j) = v / l;
    }
  }
  // L y = b, then L^T x = y.
  for (int32_t i = 0; i < n; ++i) {
    double v = at(i, n);
    for (int32_t k = 0; k < i; ++k) v -= at(i, k) * x[k];
    x[i] = v / at(i, i);
  }
  for (int32_t i = n - 1; i >= 0; --i) {
    double v = x[i];
    for (int32_t k = i + 1; k < n; ++k) v -= at(k, i) * x[k];
    x[i] = v / at(i, i);
  }
  return true;
}

bool SolveBandedCholesky(double* system, int32_t n, int32_t band, double* x) {
  const int32_t p = band;
  auto at = [system, p](int32_t i, int32_t j) -> double& {
    return system[static_cast<size_t>(i) * (p + 2) + static_cast<size_t>(j - i + p)];
  };
  auto rhs = [system, p](int32_t i) -> double& { return system[static_cast<size_t>(i) * (p + 2) + p + 1]; };
  for (int32_t j = 0; j < n; ++j) {
    const int32_t k0 = std::max(0, j - p);
    double d = at(j, j);
    for (int32_t k = k0; k < j; ++k) d -= at(j, k) * at(j, k);
    if (!(d > 0.0)) return false;
    const double l = std::sqrt(d);
    at(j, j) = l;
    for (int32_t i = j + 1; i < std::min(n, j + p + 1); ++i) {
      double v = at(i, j);
      for (int32_t k = std::max(k0, i - p); k < j; ++k) v -= at(i, k) * at(j, k);
      at(i, j) = v / l;
    }
  }
  for (int32_t i = 0; i < n; ++i) {
    double v = rhs(i);
    for (int32_t k = std::max(0, i - p); k < i; ++k) v -= at(i, k) * x[k];
    x[i] = v / at(i, i);
  }
  for (int32_t i = n - 1; i >= 0; --i) {
    double v = x[i];
    for (int32_t k = i + 1; k < std::min(n, i + p + 1); ++k) v -= at(k, i) * x[k];
    x[i] = v / at(i, i);
  }
  return true;
}

}  // namespace klarwell
