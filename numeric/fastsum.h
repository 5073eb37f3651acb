#pragma once

// The sum of samples in double, as the plain loop `s = 0; for each v: s += v` gives it, bit for bit,
// but fast when the order does not matter: when every value is a multiple of 2^-16 below 2^16 in
// magnitude (every sample decoded from an integer file, in 16-bit units) every partial sum of up to
// 2^20 of them is exact, whatever the order. Other values take the plain loop.

namespace klarwell {

// v: n floats, 0 ≤ n ≤ 2^20. Any thread; never allocates.
double SumInOrder(const float* v, int n);

}  // namespace klarwell
