#include "numeric/slidingfit.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "numeric/Contract.h"
#include "numeric/Simd.h"


namespace klarwell {

#ifdef KLARWELL_HAVE_X86
using detail::HaveAvx2;
#endif

void LineFitRange(const float* y, int32_t lo, int32_t hi, float& slope, float& intercept) {
  double sx = 0;
  double sy = 0;
  double sxx = 0;
  double sxy = 0;
  for (int32_t k = lo; k <= hi; ++k) {
    const double x = static_cast<float>(k);
    const double v = y[k];
    sx += x;
    sy += v;
    sxx += x * x;
    sxy += x * v;
  }
  const double n = hi - lo + 1;
  const double det = n * sxx - sx * sx;
  if (det == 0.0) {
    slope = 0.0f;
    intercept = hi >= lo ? static_cast<float>(sy / n) : 0.0f;
    return;
  }
  slope = static_cast<float>((n * sxy - sx * sy) / det);
  intercept = static_cast<float>((sy * sxx - sx * sxy) / det);
}

namespace {

// The residual of one point exactly as TRegress computes it.
inline float FittedReference(long double a, long double b, long double det, float x) {
  return static_cast<float>((a * x + b) / det);
}

// The parameters stay far inside the double range (no overflow, no subnormals), and det is an
// integer that a double holds exactly: then a double estimate of the fitted value, with a bound of
// its distance from the extended-precision value, decides the rounded float in all but rare cases.
bool DoubleEstimateUsable(long double a, long double b, long double det) {
  const auto moderate = [](long double v) {
    if (!std::isfinite(v)) return false;
    const long double m = std::fabs(v);
    return m == 0.0L || (m > 0x1p-900L && m < 0x1p900L);
  };
  return moderate(a) && moderate(b) && det >= 1.0L && det < 0x1p53L;
}

double ResidualReference(const float* x, const float* y, int count, long double a, long double b,
                         long double det, int from, double e) {
  for (int i = from; i < count; ++i) {
    const float f = FittedReference(a, b, det, x[i]);
    e += std::fabs(static_cast<double>(f) - static_cast<double>(y[i]));
  }
  return e;
}

#ifdef KLARWELL_HAVE_X86
// Four points per step. With u = 2^-53, the double estimate q = (a·x + b)·(1/det) and the extended
// value Q of (a·x + b) / det differ by less than 4.2·u·(|a·x| + |b|) / det + 2.1·u·|q|. The bound
// below is over three times that; when both ends of [q - bound, q + bound] round to the same float,
// so does Q (rounding is monotone), and that float is TRegress's. Otherwise the point is computed
// as there.
//
// The sum of the distances is TRegress's in-order sum whenever its order cannot matter: when every
// fitted value and every y is 0 or between 2^-14 and 2^8 in magnitude, all are multiples of 2^-37,
// each distance is exact, and up to 128 of them sum exactly in any order. Otherwise the distances
// are summed again in order. fitted: count floats of scratch.
// Whether each float lies in the range where distances sum exactly in any order (quiet comparisons:
// a NaN is simply out of range).
__attribute__((target("avx2"))) inline __m128 InExactRange(__m128 v) {
  const __m128 m = _mm_and_ps(v, _mm_castsi128_ps(_mm_set1_epi32(0x7fffffff)));
  return _mm_and_ps(_mm_cmp_ps(m, _mm_set1_ps(256.0f), _CMP_LT_OQ),
                    _mm_or_ps(_mm_cmp_ps(m, _mm_set1_ps(0x1p-14f), _CMP_GE_OQ),
                              _mm_cmp_ps(m, _mm_setzero_ps(), _CMP_EQ_OQ)));
}

__attribute__((target("avx2"))) double ResidualAvx2(const float* x, const float* y, int count, long double a,
                                                    long double b, long double det, float* fitted) {
  const double ad = static_cast<double>(a);
  const double bd = static_cast<double>(b);
  const double dd = static_cast<double>(det);
  const __m256d va = _mm256_set1_pd(ad);
  const __m256d vb = _mm256_set1_pd(bd);
  const __m256d vinv = _mm256_set1_pd(1.0 / dd);
  const __m256d vabsb = _mm256_set1_pd(std::fabs(bd));
  const __m256d scale = _mm256_set1_pd(0x1p-49);
  const __m256d limit = _mm256_set1_pd(0x1p100);
  const __m256d absMask = _mm256_castsi256_pd(_mm256_set1_epi64x(0x7fffffffffffffffLL));
  __m128 exact = _mm_castsi128_ps(_mm_set1_epi32(-1));
  __m256d sum = _mm256_setzero_pd();
  int i = 0;
  for (; i + 4 <= count; i += 4) {
    const __m256d vx = _mm256_cvtps_pd(_mm_loadu_ps(x + i));
    const __m256d s1 = _mm256_mul_pd(va, vx);
    const __m256d q = _mm256_mul_pd(_mm256_add_pd(s1, vb), vinv);
    const __m256d absQ = _mm256_and_pd(q, absMask);
    // A fitted value near the float range's end would raise an overflow that TRegress need not.
    if (_mm256_movemask_pd(_mm256_cmp_pd(absQ, limit, _CMP_LT_OQ)) != 0xF) {
      for (int k = i; k < i + 4; ++k) fitted[k] = FittedReference(a, b, det, x[k]);
    } else {
      const __m256d m = _mm256_add_pd(_mm256_and_pd(s1, absMask), vabsb);
      const __m256d bound = _mm256_mul_pd(_mm256_add_pd(_mm256_mul_pd(m, vinv), absQ), scale);
      const __m128 lo = _mm256_cvtpd_ps(_mm256_sub_pd(q, bound));
      const __m128 hi = _mm256_cvtpd_ps(_mm256_add_pd(q, bound));
      const int same = _mm_movemask_ps(_mm_cmp_ps(lo, hi, _CMP_EQ_OQ));
      _mm_storeu_ps(fitted + i, lo);
      if (same != 0xF) {
        for (int k = 0; k < 4; ++k) {
          if (!(same & (1 << k))) fitted[i + k] = FittedReference(a, b, det, x[i + k]);
        }
      }
    }
    const __m128 f = _mm_loadu_ps(fitted + i);
    const __m128 v = _mm_loadu_ps(y + i);
    exact = _mm_and_ps(exact, _mm_and_ps(InExactRange(f), InExactRange(v)));
    sum = _mm256_add_pd(sum, _mm256_and_pd(_mm256_sub_pd(_mm256_cvtps_pd(f), _mm256_cvtps_pd(v)), absMask));
  }
  for (int k = i; k < count; ++k) fitted[k] = FittedReference(a, b, det, x[k]);
  bool anyOrder = count <= 128 && _mm_movemask_ps(exact) == 0xF;
  double tail = 0.0;
  for (int k = i; k < count && anyOrder; ++k) {
    const float f = fitted[k];
    const float v = y[k];
    anyOrder = _mm_movemask_ps(_mm_and_ps(InExactRange(_mm_set1_ps(f)), InExactRange(_mm_set1_ps(v)))) == 0xF;
    tail += std::fabs(static_cast<double>(f) - static_cast<double>(v));
  }
  if (anyOrder) {
    alignas(32) double lanes[4];
    _mm256_store_pd(lanes, sum);
    return tail + lanes[0] + lanes[1] + lanes[2] + lanes[3];
  }
  double e = 0.0;
  for (int k = 0; k < count; ++k) e += std::fabs(static_cast<double>(fitted[k]) - static_cast<double>(y[k]));
  return e;
}

#endif

}  // namespace

TSlidingFit::TSlidingFit(int capacity) {
  KLARWELL_REQUIRE("TSlidingFit", capacity >= 1);
  Capacity_ = capacity;
  Room_ = 4 * capacity;
  X_ = std::make_unique<float[]>(static_cast<size_t>(Room_));
  Y_ = std::make_unique<float[]>(static_cast<size_t>(Room_));
  XY_ = std::make_unique<float[]>(static_cast<size_t>(Room_));
  Fitted_ = std::make_unique<float[]>(static_cast<size_t>(capacity));
}

TSlidingFit::~TSlidingFit() = default;

void TSlidingFit::Clear() {
  Start_ = 0;
  Count_ = 0;
  SumX_ = 0;
  SumXX_ = 0;
  SumXY_ = 0;
  SumY_ = 0;
}

void TSlidingFit::Add(int32_t x, float y) {
  AddRun(x, &y, 1);
}

void TSlidingFit::Compact() {
  std::memmove(X_.get(), X_.get() + Start_, sizeof(float) * static_cast<size_t>(Count_));
  std::memmove(Y_.get(), Y_.get() + Start_, sizeof(float) * static_cast<size_t>(Count_));
  std::memmove(XY_.get(), XY_.get() + Start_, sizeof(float) * static_cast<size_t>(Count_));
  Start_ = 0;
}

void TSlidingFit::AddRun(int32_t first, const float* y, int count) {
  // The sums stay in registers over the run; a full window or room puts them back for the drop.
  long double sumY = SumY_;
  long double sumXY = SumXY_;
  int64_t sumX = SumX_;
  int64_t sumXX = SumXX_;
  for (int i = 0; i < count; ++i) {
    if (Count_ == Capacity_ || Start_ + Count_ == Room_) {
      SumY_ = sumY, SumXY_ = sumXY, SumX_ = sumX, SumXX_ = sumXX;
      if (Count_ == Capacity_) DropFirst(1);
      if (Start_ + Count_ == Room_) Compact();
      sumY = SumY_, sumXY = SumXY_, sumX = SumX_, sumXX = SumXX_;
    }
    const int32_t x = first + i;
    // x·y is exact in a double (12 + 24 significant bits), so it is the extended product too.
    const double xy = static_cast<double>(x) * static_cast<double>(y[i]);
    const int at = Start_ + Count_;
    X_[at] = static_cast<float>(x);
    Y_[at] = y[i];
    XY_[at] = static_cast<float>(xy);
    sumX += x;
    sumXX += static_cast<int64_t>(x) * x;
    sumY += static_cast<long double>(y[i]);
    sumXY += static_cast<long double>(xy);
    ++Count_;
  }
  SumY_ = sumY, SumXY_ = sumXY, SumX_ = sumX, SumXX_ = sumXX;
}

void TSlidingFit::DropFirst(int m) {
  for (int i = Start_; i < Start_ + m; ++i) {
    const auto x = static_cast<int64_t>(X_[i]);
    SumX_ -= x;
    SumXX_ -= x * x;
    SumXY_ -= XY_[i];
    SumY_ -= Y_[i];
  }
  Start_ += m;
  Count_ -= m;
}

void TSlidingFit::DropOldestN(int n) {
  if (n <= 0) return;
  DropFirst(std::min(n, Count_));
}

void TSlidingFit::KeepNewest(int k) {
  if (k < 0) k = 0;
  if (Count_ > k) DropFirst(Count_ - k);
}

double TSlidingFit::MeanAbsResidual() const {
  if (Count_ == 0) return 0.0;
  const float* x = X_.get() + Start_;
  const float* y = Y_.get() + Start_;
  const long double n = Count_;
  const long double sumX = static_cast<long double>(SumX_);
  const long double sumXX = static_cast<long double>(SumXX_);
  const long double det = n * sumXX - sumX * sumX;
  const long double a = n * SumXY_ - sumX * SumY_;
  const long double b = SumY_ * sumXX - sumX * SumXY_;
  const bool degenerate = det == 0.0L;
  const float mean = static_cast<float>(SumY_ / n);
  double e = 0.0;
  if (degenerate) {
    for (int i = 0; i < Count_; ++i) e += std::fabs(static_cast<double>(mean) - static_cast<double>(y[i]));
  } else {
#ifdef KLARWELL_HAVE_X86
    if (HaveAvx2() && DoubleEstimateUsable(a, b, det)) {
      e = ResidualAvx2(x, y, Count_, a, b, det, Fitted_.get());
    } else
#endif
    {
      e = ResidualReference(x, y, Count_, a, b, det, 0, 0.0);
    }
  }
  return e / static_cast<double>(Count_);
}

}  // namespace klarwell
