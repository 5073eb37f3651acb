#pragma once

// Eight float lanes (and four double lanes) for the float road's kernels, as the compiler's generic
// vectors: each lane's arithmetic is the scalar IEEE operation, so a kernel gives the same bits
// whether the compiler maps the lanes to one AVX2 register, two SSE registers or scalar code (at
// -O0), and on every processor.
// Internal to numeric/.

#include <cstdint>
#include <cstring>

// The kernels over these lanes are compiled twice on x86-64 with GCC, for AVX2 and for the baseline,
// and the processor picks one when the program loads; both give the same bits (see above). (Clang
// refuses helpers without AVX inside an AVX2 clone; its builds take the baseline only.) Sanitizer
// builds take the baseline too: the loader runs the clones' resolvers before the sanitizer's runtime
// is up, and an instrumented resolver crashes there.
#if defined(__x86_64__) && defined(__GNUC__) && !defined(__clang__) && !defined(__SANITIZE_THREAD__) && \
    !defined(__SANITIZE_ADDRESS__)
#define KLARWELL_LANE_CLONES __attribute__((target_clones("avx2", "default")))
#else
#define KLARWELL_LANE_CLONES
#endif

// The helpers pass lane vectors by value; a kernel's AVX2 clone and a helper compiled for the
// baseline would disagree on how (in one register or in memory), so the helpers are always inlined,
// at every optimisation level, into the clone that calls them.
#define KLARWELL_LANE_INLINE inline __attribute__((always_inline))

namespace klarwell::detail {

using TFloat8 = float __attribute__((vector_size(32)));
using TInt8 = int32_t __attribute__((vector_size(32)));

inline constexpr int kLanes8 = 8;

KLARWELL_LANE_INLINE TFloat8 Load8(const float* p) {
  TFloat8 v;
  std::memcpy(&v, p, sizeof v);
  return v;
}

KLARWELL_LANE_INLINE void Store8(float* p, TFloat8 v) {
  std::memcpy(p, &v, sizeof v);
}

KLARWELL_LANE_INLINE TFloat8 Splat8(float v) {
  return TFloat8{v, v, v, v, v, v, v, v};
}

// The even and the odd lanes of the sixteen floats a, b (re and im of eight interleaved bins).
KLARWELL_LANE_INLINE TFloat8 Even8(TFloat8 a, TFloat8 b) {
  return __builtin_shufflevector(a, b, 0, 2, 4, 6, 8, 10, 12, 14);
}
KLARWELL_LANE_INLINE TFloat8 Odd8(TFloat8 a, TFloat8 b) {
  return __builtin_shufflevector(a, b, 1, 3, 5, 7, 9, 11, 13, 15);
}

KLARWELL_LANE_INLINE TInt8 Bits8(TFloat8 v) {
  TInt8 b;
  std::memcpy(&b, &v, sizeof b);
  return b;
}

KLARWELL_LANE_INLINE TFloat8 FromBits8(TInt8 b) {
  TFloat8 v;
  std::memcpy(&v, &b, sizeof v);
  return v;
}

KLARWELL_LANE_INLINE TFloat8 Abs8(TFloat8 v) {
  return FromBits8(Bits8(v) & 0x7fffffff);
}

// a where mask is set (all ones), b elsewhere.
KLARWELL_LANE_INLINE TFloat8 Select8(TInt8 mask, TFloat8 a, TFloat8 b) {
  return FromBits8((Bits8(a) & mask) | (Bits8(b) & ~mask));
}

// v < floor ? floor : v, lane by lane: an ordered comparison, as the scalar one.
KLARWELL_LANE_INLINE TFloat8 AtLeast8(TFloat8 v, TFloat8 floor) {
  return Select8(v < floor, floor, v);
}

// The lanes' sum in a fixed order, in double.
KLARWELL_LANE_INLINE double Sum8(TFloat8 v) {
  return ((static_cast<double>(v[0]) + v[1]) + (static_cast<double>(v[2]) + v[3])) +
         ((static_cast<double>(v[4]) + v[5]) + (static_cast<double>(v[6]) + v[7]));
}

// 10·log10(v) for normal, finite, positive floats: v = 2^e·m with m in [√½, √2), ln m from a
// polynomial in m − 1 (Moshier's single-precision coefficients, a few units of float rounding). Only
// integer steps and an integer comparison before the polynomial, so no value raises a fault; other
// values give meaningless results. T is float or TFloat8 (with I its integer type): the same
// operations in both, so a lane and a scalar give the same bits.
template <class T, class I>
KLARWELL_LANE_INLINE T DbOfPowerT(T v, I bits) {
  I mantissa = (bits & 0x007fffff) | 0x3f800000;
  const I high = (-(mantissa > 0x3fb504f3)) & 1;  // m > √2: halve it (a true comparison is 1 or -1)
  mantissa -= high << 23;
  I exponent = ((bits >> 23) & 0x1ff) + high - 127;
  T x;
  std::memcpy(&x, &mantissa, sizeof x);
  x = x - 1.0f;
  T e;
  if constexpr (sizeof(T) == sizeof(float)) {
    e = static_cast<float>(exponent);
  } else {
    e = __builtin_convertvector(exponent, TFloat8);
  }
  (void)v;
  const T z = x * x;
  T y = x * 7.0376836292e-2f - 1.1514610310e-1f;
  y = y * x + 1.1676998740e-1f;
  y = y * x - 1.2420140846e-1f;
  y = y * x + 1.4249322787e-1f;
  y = y * x - 1.6668057665e-1f;
  y = y * x + 2.0000714765e-1f;
  y = y * x - 2.4999993993e-1f;
  y = y * x + 3.3333331174e-1f;
  y = y * x * z - 0.5f * z;
  // 10 / ln 10 and 10·log10(2).
  return (x + y) * 4.3429448190f + e * 3.0102999566f;
}

KLARWELL_LANE_INLINE float DbOfPower1(float v) {
  int32_t bits;
  std::memcpy(&bits, &v, sizeof bits);
  return DbOfPowerT<float, int32_t>(v, bits);
}

KLARWELL_LANE_INLINE TFloat8 DbOfPower8(TFloat8 v) {
  return DbOfPowerT<TFloat8, TInt8>(v, Bits8(v));
}

// Four double lanes, for the prediction's sums.
using TDouble4 = double __attribute__((vector_size(32)));

KLARWELL_LANE_INLINE TDouble4 Load4(const double* p) {
  TDouble4 v;
  std::memcpy(&v, p, sizeof v);
  return v;
}

KLARWELL_LANE_INLINE void Store4(double* p, TDouble4 v) {
  std::memcpy(p, &v, sizeof v);
}

// The lanes' sum in a fixed order.
KLARWELL_LANE_INLINE double Total4(TDouble4 v) {
  return (v[0] + v[1]) + (v[2] + v[3]);
}

}  // namespace klarwell::detail
