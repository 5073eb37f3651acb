#include "numeric/prediction.h"

#include "numeric/Contract.h"

namespace klarwell {

void BurgCoefficients(const double* x, int n, int m, double* d) {
  // The work arrays are fixed; larger arguments would run past them.
  KLARWELL_REQUIRE("BurgCoefficients", n <= kMaxTrainLen && m <= kMaxOrder && m >= 0 && m < n);
  double f[kMaxTrainLen];  // forward errors
  double b[kMaxTrainLen];  // backward errors
  double w[kMaxOrder];     // previous stage's coefficients
  for (int j = 0; j + 1 < n; ++j) {
    f[j] = x[j];
    b[j] = x[j + 1];
  }
  // d[k - 1] and w[k - 1] hold the coefficient of stage k.
  for (int k = 1; k <= m; ++k) {
    double num = 0.0;
    double den = 0.0;
    for (int j = 0; j <= n - k - 1; ++j) {
      num += f[j] * b[j];
      den += f[j] * f[j] + b[j] * b[j];
    }
    // All errors are zero: the previous stage already predicts the run exactly (or the run is
    // silent), so this stage adds nothing. Its numerator is zero as well.
    d[k - 1] = den == 0.0 ? 0.0 : 2.0 * num / den;
    for (int i = 1; i <= k - 1; ++i) d[i - 1] = w[i - 1] - d[k - 1] * w[k - i - 1];
    if (k == m) return;
    for (int i = 1; i <= k; ++i) w[i - 1] = d[i - 1];
    const double wk = w[k - 1];
    for (int j = 0; j <= n - k - 2; ++j) {
      f[j] = f[j] - wk * b[j];
      b[j] = b[j + 1] - wk * f[j + 1];  // f[j + 1] is still this stage's input
    }
  }
}

void PredictAhead(const double* x, int n, const double* d, int m, double* future, int p) {
  KLARWELL_REQUIRE("PredictAhead", m >= 0 && m <= n && m <= kMaxOrder && p >= 0);
  double r[kMaxOrder];  // r[k - 1]: the value k steps back
  for (int i = 1; i <= m; ++i) r[i - 1] = x[n - i];
  for (int t = 0; t < p; ++t) {
    double s = 0.0;
    for (int k = 1; k <= m; ++k) s += d[k - 1] * r[k - 1];
    for (int k = m; k >= 2; --k) r[k - 1] = r[k - 2];
    if (m >= 1) r[0] = s;
    future[t] = s;
  }
}

void BurgPredict(const double* x, int n, int m, int p, double* future) {
  double d[kMaxOrder];
  BurgCoefficients(x, n, m, d);
  PredictAhead(x, n, d, m, future, p);
}

}  // namespace klarwell
