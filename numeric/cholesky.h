#pragma once

// Symmetric positive definite systems by Cholesky factorisation, in place, in double: a dense one
// and a banded one, each with its right-hand side stored beside the lower triangle. Neither
// allocates; both are re-entrant.

#include <cstdint>

namespace klarwell {

// Solves A x = b for n unknowns. `system` holds n rows of n + 1 doubles: row i carries A[i][0 .. i]
// (the lower triangle; the rest of the row's first n entries is not read) and b[i] in its last
// entry. It is overwritten by the factor. False, with x unset, when a pivot is not above minPivot
// (the matrix is not safely positive definite).
bool SolveCholesky(double* system, int32_t n, double minPivot, double* x);

// Solves A x = b for n unknowns where A[i][j] = 0 for |i - j| > band. `system` holds n rows of
// band + 2 doubles: row i carries A[i][i - band .. i] (entries before column 0 are not read), then
// b[i]. It is overwritten by the factor. False, with x unset, when a pivot is not positive.
bool SolveBandedCholesky(double* system, int32_t n, int32_t band, double* x);

}  // namespace klarwell
