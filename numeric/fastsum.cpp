#include "numeric/fastsum.h"

#include <cmath>

#include "numeric/Simd.h"


namespace klarwell {

#ifdef KLARWELL_HAVE_X86
using detail::HaveAvx2;
#endif

namespace {

double PlainSum(const float* v, int n) {
  double s = 0.0;
  for (int i = 0; i < n; ++i) s += v[i];
  return s;
}

#ifdef KLARWELL_HAVE_X86
__attribute__((target("avx2"))) double SumAvx2(const float* v, int n) {
  const __m256 scale = _mm256_set1_ps(65536.0f);
  const __m256 limit = _mm256_set1_ps(65536.0f);
  const __m256 absMask = _mm256_castsi256_ps(_mm256_set1_epi32(0x7fffffff));
  __m256d s0 = _mm256_setzero_pd();
  __m256d s1 = _mm256_setzero_pd();
  __m256 exact = _mm256_castsi256_ps(_mm256_set1_epi32(-1));
  int i = 0;
  for (; i + 8 <= n; i += 8) {
    const __m256 x = _mm256_loadu_ps(v + i);
    // Quiet comparisons: a NaN fails them without raising anything.
    const __m256 small = _mm256_cmp_ps(_mm256_and_ps(x, absMask), limit, _CMP_LT_OQ);
    const __m256 scaled = _mm256_mul_ps(x, scale);
    const __m256 whole = _mm256_cmp_ps(scaled, _mm256_round_ps(scaled, _MM_FROUND_TO_NEAREST_INT | _MM_FROUND_NO_EXC),
                                       _CMP_EQ_OQ);
    exact = _mm256_and_ps(exact, _mm256_and_ps(small, whole));
    s0 = _mm256_add_pd(s0, _mm256_cvtps_pd(_mm256_castps256_ps128(x)));
    s1 = _mm256_add_pd(s1, _mm256_cvtps_pd(_mm256_extractf128_ps(x, 1)));
  }
  if (_mm256_movemask_ps(exact) != 0xFF) return PlainSum(v, n);
  double s = 0.0;
  for (; i < n; ++i) {
    const float x = v[i];
    const float scaled = x * 65536.0f;
    if (!__builtin_isless(std::fabs(x), 65536.0f) || scaled != std::nearbyint(scaled)) return PlainSum(v, n);
    s += x;
  }
  alignas(32) double lanes[4];
  _mm256_store_pd(lanes, _mm256_add_pd(s0, s1));
  return s + lanes[0] + lanes[1] + lanes[2] + lanes[3];
}

#endif

}  // namespace

double SumInOrder(const float* v, int n) {
#ifdef KLARWELL_HAVE_X86
  if (HaveAvx2()) return SumAvx2(v, n);
#endif
  return PlainSum(v, n);
}

}  // namespace klarwell
