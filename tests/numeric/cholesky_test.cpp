#include "numeric/cholesky.h"

#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <vector>

namespace klarwell {
namespace {

using TMatrix = std::vector<std::vector<double>>;

// A symmetric positive definite matrix with nothing outside the band (band n - 1: dense), diagonally
// dominant, from a fixed seed.
TMatrix MakeSystem(int n, int band, std::mt19937& random) {
  std::uniform_real_distribution<double> value(-1.0, 1.0);
  TMatrix a(n, std::vector<double>(n, 0.0));
  for (int i = 0; i < n; ++i) {
    for (int j = std::max(0, i - band); j < i; ++j) a[i][j] = a[j][i] = value(random);
  }
  for (int i = 0; i < n; ++i) a[i][i] = 2.0 * band + 1.0 + value(random);
  return a;
}

// The plain reference: Gaussian elimination with partial pivoting on the full matrix.
std::vector<double> Gauss(TMatrix a, std::vector<double> b) {
  const int n = static_cast<int>(b.size());
  for (int k = 0; k < n; ++k) {
    int pivot = k;
    for (int i = k + 1; i < n; ++i)
      if (std::fabs(a[i][k]) > std::fabs(a[pivot][k])) pivot = i;
    std::swap(a[k], a[pivot]);
    std::swap(b[k], b[pivot]);
    for (int i = k + 1; i < n; ++i) {
      const double f = a[i][k] / a[k][k];
      for (int j = k; j < n; ++j) a[i][j] -= f * a[k][j];
      b[i] -= f * b[k];
    }
  }
  std::vector<double> x(n);
  for (int i = n - 1; i >= 0; --i) {
    double v = b[i];
    for (int j = i + 1; j < n; ++j) v -= a[i][j] * x[j];
    x[i] = v / a[i][i];
  }
  return x;
}

// Both solvers against elimination, over sizes and bands such as the refined repair's (orders up to
// about 40, gaps up to a few hundred samples).
TEST(Cholesky, DenseAndBandedSolveAsEliminationDoes) {
  std::mt19937 random(5);
  std::uniform_real_distribution<double> value(-100.0, 100.0);
  const struct {
    int n, band;
  } cases[] = {{1, 0}, {2, 1}, {8, 7}, {33, 32}, {5, 1}, {40, 8}, {150, 16}, {3, 8}};
  for (const auto& c : cases) {
    SCOPED_TRACE(std::to_string(c.n) + " unknowns, band " + std::to_string(c.band));
    const TMatrix a = MakeSystem(c.n, std::min(c.band, c.n - 1), random);
    std::vector<double> b(c.n);
    for (double& v : b) v = value(random);
    const std::vector<double> expected = Gauss(a, b);

    std::vector<double> banded(static_cast<size_t>(c.n) * (c.band + 2), 0.0), x(c.n, 0.0);
    for (int i = 0; i < c.n; ++i) {
      for (int j = std::max(0, i - c.band); j <= i; ++j)
        banded[i * (c.band + 2) + (j - i + c.band)] = a[i][j];
      banded[i * (c.band + 2) + c.band + 1] = b[i];
    }
    ASSERT_TRUE(SolveBandedCholesky(banded.data(), c.n, c.band, x.data()));
    for (int i = 0; i < c.n; ++i) EXPECT_NEAR(x[i], expected[i], 1e-9 * (1.0 + std::fabs(expected[i]))) << i;

    if (c.band < c.n - 1) continue;
    std::vector<double> dense(static_cast<size_t>(c.n) * (c.n + 1), 0.0);
    for (int i = 0; i < c.n; ++i) {
      for (int j = 0; j <= i; ++j) dense[i * (c.n + 1) + j] = a[i][j];
      dense[i * (c.n + 1) + c.n] = b[i];
    }
    ASSERT_TRUE(SolveCholesky(dense.data(), c.n, 0.0, x.data()));
    for (int i = 0; i < c.n; ++i) EXPECT_NEAR(x[i], expected[i], 1e-9 * (1.0 + std::fabs(expected[i]))) << i;
  }
}

// A matrix that is not positive definite (here singular, then indefinite) is refused, not solved.
TEST(Cholesky, MatrixThatIsNotPositiveDefiniteIsRefused) {
  // [[1, 1], [1, 1]] and [[1, 2], [2, 1]], dense and with band 1.
  for (double offDiagonal : {1.0, 2.0}) {
    double dense[] = {1.0, 0.0, 1.0, offDiagonal, 1.0, 1.0};
    double banded[] = {0.0, 1.0, 1.0, offDiagonal, 1.0, 1.0};
    double x[2] = {0.0, 0.0};
    EXPECT_FALSE(SolveCholesky(dense, 2, 1e-12, x)) << offDiagonal;
    EXPECT_FALSE(SolveBandedCholesky(banded, 2, 1, x)) << offDiagonal;
  }
}

}  // namespace
}  // namespace klarwell
