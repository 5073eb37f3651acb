#include "numeric/fftfast.h"

#include <algorithm>
#include <array>
#include <atomic>
#include <cstdint>
#include <cmath>
#include <mutex>
#include <new>

#include "numeric/Contract.h"
#include "numeric/FftDetail.h"
#include "numeric/Simd.h"


namespace klarwell {

#ifdef KLARWELL_HAVE_X86
using detail::HaveAvx2;
#endif

namespace {

constexpr int kMaxLog = 16;  // tables for transforms of up to 2^16 complex points

// Twiddles of the pass whose butterflies span mmax floats: mmax / 2 complex factors, each stored
// twice in a row (wr, wr and wi, wi) so that two butterflies load theirs with one access.
struct TStageTable {
  double* Re;
  double* Im;
};

// Index: isign (0 for -1, 1 for +1), log2(mmax). Published once, never changed or freed: the
// tables live for the process, a few hundred kilobytes at most.
std::array<std::array<std::atomic<double*>, kMaxLog + 2>, 2> gStages{};
// Bit reversal per log2(nn): the swapped pairs of complex points, as the reference loop finds them
// (entry 0 holds the pair count). Published once, never freed.
std::array<std::atomic<uint32_t*>, kMaxLog + 1> gReversals{};
// The real FFT's split twiddles per log2(n) (n real points) and sign: the recurrence's values for
// i = 2 … n/4, re then im.
std::array<std::array<std::atomic<double*>, kMaxLog + 2>, 2> gSplits{};
std::mutex gPrepare;

int SignIndex(int isign) {
  return isign > 0 ? 1 : 0;
}

// The reference's recurrence for one pass, written down instead of run inside the butterflies.
double* MakeStage(int mmax, int isign) {
  const int half = mmax / 2;
  auto* table = new (std::nothrow) double[static_cast<size_t>(2 * mmax)];
  if (table == nullptr) return nullptr;
  double* re = table;
  double* im = table + mmax;
  const double theta = detail::kTwoPi / static_cast<double>(isign * mmax);
  const double wtemp = std::sin(0.5 * theta);
  const double wpr = -2.0 * wtemp * wtemp;
  const double wpi = std::sin(theta);
  double wr = 1.0;
  double wi = 0.0;
  for (int j = 0; j < half; ++j) {
    re[2 * j] = re[2 * j + 1] = wr;
    im[2 * j] = im[2 * j + 1] = wi;
    const double wprev = wr;
    wr = wr * wpr - wi * wpi + wr;
    wi = wi * wpr + wprev * wpi + wi;
  }
  return table;
}

double* MakeSplit(int n, int isign) {
  const int count = std::max(0, n / 4 - 1);
  auto* table = new (std::nothrow) double[2 * static_cast<size_t>(count) + 2];
  if (table == nullptr) return nullptr;
  detail::TRecurrenceTwiddles w(n, isign);
  for (int k = 0; k < count; ++k) {
    table[k] = w.Wr();
    table[count + k] = w.Wi();
    w.Advance();
  }
  return table;
}

class TTableTwiddles {
 public:
  TTableTwiddles(const double* table, int n) : re_(table), im_(table + std::max(0, n / 4 - 1)) {}
  double Wr() const { return *re_; }
  double Wi() const { return *im_; }
  void Advance() {
    ++re_;
    ++im_;
  }

 private:
  const double* re_;
  const double* im_;
};

uint32_t* MakeReversal(int nn) {
  // nn / 2 pairs at most: each swap moves two points.
  auto* table = new (std::nothrow) uint32_t[static_cast<size_t>(nn) + 1];
  if (table == nullptr) return nullptr;
  uint32_t count = 0;
  const int n = nn << 1;
  int j = 1;
  for (int i = 1; i < n; i += 2) {
    if (j > i) {
      table[1 + 2 * count] = static_cast<uint32_t>(i - 1);
      table[2 + 2 * count] = static_cast<uint32_t>(j - 1);
      ++count;
    }
    int m = nn;
    while (m >= 2 && j > m) {
      j -= m;
      m >>= 1;
    }
    j += m;
  }
  table[0] = count;
  return table;
}

// The reference's swaps from the table: the same exchanges, without the index search.
void BitReverseTabled(float* data, const uint32_t* table) {
  const uint32_t count = table[0];
  for (uint32_t p = 0; p < count; ++p) {
    float* a = data + table[1 + 2 * p];
    float* b = data + table[2 + 2 * p];
    const float re = a[0], im = a[1];
    a[0] = b[0];
    a[1] = b[1];
    b[0] = re;
    b[1] = im;
  }
}

bool StagesReady(int n, int isign, TStageTable* stages) {
  int s = 2;  // log2 of mmax = 4, the first pass with more than one twiddle
  for (int mmax = 4; mmax < n; mmax <<= 1, ++s) {
    if (s > kMaxLog) return false;
    double* table = gStages[SignIndex(isign)][s].load(std::memory_order_acquire);
    if (table == nullptr) return false;
    stages[s] = {table, table + mmax};
  }
  return true;
}

// The first pass (mmax = 2): one twiddle, 1 + 0i, applied with the same multiplications as in the
// reference so that infinities and NaNs come out the same.
// The reference's butterfly on the points a and b with the twiddle wr + i·wi.
inline void Butterfly(float* a, float* b, double wr, double wi) {
  const double tempr = wr * b[0] - wi * b[1];
  const double tempi = wr * b[1] + wi * b[0];
  b[0] = static_cast<float>(a[0] - tempr);
  b[1] = static_cast<float>(a[1] - tempi);
  a[0] = static_cast<float>(a[0] + tempr);
  a[1] = static_cast<float>(a[1] + tempi);
}

void FirstPass(float* data, int n) {
  for (int i = 0; i < n; i += 4) Butterfly(data + i, data + i + 2, 1.0, 0.0);
}

// One pass with mmax >= 4, butterflies in memory order.
void PassPortable(float* data, int n, int mmax, const TStageTable& t) {
  const int istep = mmax << 1;
  for (int g = 0; g < n; g += istep) {
    for (int j = 0; j < mmax; j += 2) Butterfly(data + g + j, data + g + j + mmax, t.Re[j], t.Im[j]);
  }
}

#ifdef KLARWELL_HAVE_X86
// Two butterflies per step: lanes (re, im, re, im) of two points. addsub gives wr·re − wi·im in the
// real lanes and wr·im + wi·re in the imaginary ones, the reference's two sums; no fused
// multiply-add is used, so every product and sum is rounded as in the scalar code.
__attribute__((target("avx2"))) void PassAvx2(float* data, int n, int mmax, const TStageTable& t) {
  const int istep = mmax << 1;
  for (int g = 0; g < n; g += istep) {
    for (int j = 0; j < mmax; j += 4) {
      float* a = data + g + j;
      float* b = a + mmax;
      const __m256d xb = _mm256_cvtps_pd(_mm_loadu_ps(b));
      const __m256d xa = _mm256_cvtps_pd(_mm_loadu_ps(a));
      const __m256d wr = _mm256_loadu_pd(t.Re + j);
      const __m256d wi = _mm256_loadu_pd(t.Im + j);
      const __m256d swapped = _mm256_permute_pd(xb, 0x5);
      const __m256d temp = _mm256_addsub_pd(_mm256_mul_pd(wr, xb), _mm256_mul_pd(wi, swapped));
      _mm_storeu_ps(b, _mm256_cvtpd_ps(_mm256_sub_pd(xa, temp)));
      _mm_storeu_ps(a, _mm256_cvtpd_ps(_mm256_add_pd(xa, temp)));
    }
  }
}

// The first pass two butterflies at a time: each group of four floats holds a (the sum's place) and b
// (the difference's); the lanes are regrouped so that the butterfly's arithmetic is PassAvx2's.
__attribute__((target("avx2"))) void FirstPassAvx2(float* data, int n) {
  const __m256d wr = _mm256_set1_pd(1.0);
  const __m256d wi = _mm256_set1_pd(0.0);
  int i = 0;
  for (; i + 8 <= n; i += 8) {
    const __m256d g0 = _mm256_cvtps_pd(_mm_loadu_ps(data + i));
    const __m256d g1 = _mm256_cvtps_pd(_mm_loadu_ps(data + i + 4));
    const __m256d xa = _mm256_permute2f128_pd(g0, g1, 0x20);
    const __m256d xb = _mm256_permute2f128_pd(g0, g1, 0x31);
    const __m256d swapped = _mm256_permute_pd(xb, 0x5);
    const __m256d temp = _mm256_addsub_pd(_mm256_mul_pd(wr, xb), _mm256_mul_pd(wi, swapped));
    const __m256d sum = _mm256_add_pd(xa, temp);
    const __m256d diff = _mm256_sub_pd(xa, temp);
    _mm_storeu_ps(data + i, _mm256_cvtpd_ps(_mm256_permute2f128_pd(sum, diff, 0x20)));
    _mm_storeu_ps(data + i + 4, _mm256_cvtpd_ps(_mm256_permute2f128_pd(sum, diff, 0x31)));
  }
  if (i < n) FirstPass(data + i, n - i);
}

// ln p of four normal, finite, positive floats, within 1e-12 of the true value: p = 2^k·m with
// m in [√½, √2), ln m = 2·atanh(s), s = (m − 1)/(m + 1), |s| < 0.172, from the series to s^15
// (truncation below 1e-14, rounding a few units of 2^-52). The library's logarithm is within an
// ulp of the true value too, so the two differ by far less than the 1e-10 dB plus 2^-40 relative
// that the caller allows before it trusts a rounding. Lanes that are not normal floats give
// meaningless values; the caller does not use them.
__attribute__((target("avx2"))) __m256d LogEstimate(__m128 p) {
  const __m128i bits = _mm_castps_si128(p);
  const __m128i k = _mm_sub_epi32(_mm_srli_epi32(_mm_and_si128(bits, _mm_set1_epi32(0x7f800000)), 23),
                                  _mm_set1_epi32(127));
  const __m128 mantissa =
      _mm_castsi128_ps(_mm_or_si128(_mm_and_si128(bits, _mm_set1_epi32(0x007fffff)), _mm_set1_epi32(0x3f800000)));
  __m256d m = _mm256_cvtps_pd(mantissa);
  __m256d kd = _mm256_cvtepi32_pd(k);
  const __m256d high = _mm256_cmp_pd(m, _mm256_set1_pd(1.4142135623730951), _CMP_GT_OQ);
  m = _mm256_blendv_pd(m, _mm256_mul_pd(m, _mm256_set1_pd(0.5)), high);
  kd = _mm256_add_pd(kd, _mm256_and_pd(high, _mm256_set1_pd(1.0)));
  const __m256d one = _mm256_set1_pd(1.0);
  const __m256d sv = _mm256_div_pd(_mm256_sub_pd(m, one), _mm256_add_pd(m, one));
  const __m256d z = _mm256_mul_pd(sv, sv);
  __m256d poly = _mm256_set1_pd(1.0 / 15.0);
  for (const double c : {1.0 / 13.0, 1.0 / 11.0, 1.0 / 9.0, 1.0 / 7.0, 1.0 / 5.0, 1.0 / 3.0, 1.0}) {
    poly = _mm256_add_pd(_mm256_mul_pd(poly, z), _mm256_set1_pd(c));
  }
  const __m256d lnM = _mm256_mul_pd(_mm256_mul_pd(_mm256_set1_pd(2.0), sv), poly);
  return _mm256_add_pd(_mm256_mul_pd(kd, _mm256_set1_pd(0.69314718055994531)), lnM);
}

// The dB spectrum's per-bin arithmetic four bins at a time, the logarithm estimated and checked.
// Every product, sum, quotient and rounding up to the logarithm is the scalar loop's, in its order.
__attribute__((target("avx2"))) void DbFromPackedAvx2(const float* data, float* out, int bins,
                                                      const detail::TDbScale& s) {
  constexpr int kChunk = 16;
  alignas(32) float power[kChunk];
  const __m256d reference = _mm256_set1_pd(s.Reference);
  const __m256d floorD = _mm256_set1_pd(s.FloorD);
  const __m128 floorF = _mm_set1_ps(s.FloorF);
  const __m256i pickLow = _mm256_setr_epi32(0, 2, 4, 6, 1, 3, 5, 7);
  const __m256d absMask = _mm256_castsi256_pd(_mm256_set1_epi64x(0x7fffffffffffffffLL));
  const __m256d relative = _mm256_set1_pd(0x1p-40);
  const __m256d inverse = _mm256_set1_pd(1.0 / s.Reference);
  const __m256d fourUnits = _mm256_set1_pd(0x1p-51);
  const __m256d tiny = _mm256_set1_pd(0x1p-1000);
  const __m256d huge = _mm256_set1_pd(0x1p127);  // below the float range's end: the ends never overflow
  const __m256d tenOverLn10 = _mm256_set1_pd(10.0 / static_cast<double>(LN10));
  int k0 = 0;
  for (; k0 + kChunk <= bins; k0 += kChunk) {
    for (int j = 0; j < kChunk; j += 4) {
      const float* bin = data + 2 * (k0 + j);
      __m256d lo = _mm256_cvtps_pd(_mm_loadu_ps(bin));      // re0 im0 re1 im1
      __m256d hi = _mm256_cvtps_pd(_mm_loadu_ps(bin + 4));  // re2 im2 re3 im3
      lo = _mm256_mul_pd(lo, lo);
      hi = _mm256_mul_pd(hi, hi);
      // re² + im² per bin, back in bin order.
      const __m256d sums = _mm256_permute4x64_pd(_mm256_hadd_pd(lo, hi), 0xD8);
      const __m128 p = _mm256_cvtpd_ps(sums);
      // p / reference, rounded to a float as the plain loop does (through the double quotient):
      // the product with the reciprocal lies within two double units of the quotient, so when
      // both ends of four units round to one float, so does the quotient. Rarely it does not, and
      // the quotient is taken.
      const __m256d pd = _mm256_cvtps_pd(p);
      const __m256d product = _mm256_mul_pd(pd, inverse);
      // Near or beyond the float range's ends (infinite, NaN) the slack means nothing, inf − inf would
      // raise a fault and an end could overflow where the quotient does not; such powers take the
      // quotient.
      const __m256d magnitude = _mm256_and_pd(product, absMask);
      const __m256d ordinary =
          _mm256_and_pd(_mm256_cmp_pd(magnitude, tiny, _CMP_GT_OQ), _mm256_cmp_pd(magnitude, huge, _CMP_LT_OQ));
      const __m256d safe = _mm256_blendv_pd(_mm256_set1_pd(1.0), product, ordinary);
      const __m256d slack = _mm256_mul_pd(_mm256_and_pd(safe, absMask), fourUnits);
      const __m128 below4 = _mm256_cvtpd_ps(_mm256_sub_pd(safe, slack));
      const __m128 above4 = _mm256_cvtpd_ps(_mm256_add_pd(safe, slack));
      __m128 scaled = below4;
      if (_mm_movemask_ps(_mm_cmp_ps(below4, above4, _CMP_EQ_OQ)) != 0xF || _mm256_movemask_pd(ordinary) != 0xF) {
        scaled = _mm256_cvtpd_ps(_mm256_div_pd(pd, reference));
      }
      // An ordered, signalling comparison, as the scalar p < floor.
      const __m256d below = _mm256_cmp_pd(_mm256_cvtps_pd(scaled), floorD, _CMP_LT_OS);
      // The low halves of the four 64-bit masks, as a mask of four floats.
      const __m256i halves = _mm256_permutevar8x32_epi32(_mm256_castpd_si256(below), pickLow);
      const __m128 mask = _mm_castsi128_ps(_mm256_castsi256_si128(halves));
      _mm_store_ps(power + j, _mm_blendv_ps(scaled, floorF, mask));
    }
    for (int j = 0; j < kChunk; j += 4) {
      const __m128 p = _mm_load_ps(power + j);
      const __m256d db = _mm256_mul_pd(LogEstimate(p), tenOverLn10);
      // The reference's dB value lies within this of db (see LogEstimate; the product with 10 / ln 10
      // adds a few double units); when both ends of the interval round to one float, that float is
      // the reference's.
      const __m256d bound = _mm256_add_pd(_mm256_set1_pd(1e-10), _mm256_mul_pd(_mm256_and_pd(db, absMask), relative));
      const __m128 lo = _mm256_cvtpd_ps(_mm256_sub_pd(db, bound));
      const __m128 hi = _mm256_cvtpd_ps(_mm256_add_pd(db, bound));
      // Only normal, finite, positive powers have an estimate.
      const __m128i bits = _mm_castps_si128(p);
      const __m128i exponent = _mm_srli_epi32(bits, 23);  // the sign bit makes negatives huge
      const __m128i normal = _mm_and_si128(_mm_cmpgt_epi32(exponent, _mm_setzero_si128()),
                                           _mm_cmplt_epi32(exponent, _mm_set1_epi32(255)));
      const int usable = _mm_movemask_ps(_mm_and_ps(_mm_cmp_ps(lo, hi, _CMP_EQ_OQ), _mm_castsi128_ps(normal)));
      _mm_storeu_ps(out + k0 + j, lo);
      if (usable != 0xF) {
        for (int k = 0; k < 4; ++k) {
          if (usable & (1 << k)) continue;
          const double lg = std::log(static_cast<double>(power[j + k]));
          out[k0 + j + k] = static_cast<float>(10.0 * lg / static_cast<double>(LN10));
        }
      }
    }
  }
  detail::DbFromPacked(data, out, k0, bins, s);
}

template <detail::TRealFft Real>
void PowerSpectrumDbAvx2(int n, float* data, float* out, double reference, double floor) {
  const detail::TDbScale scale = detail::DbScale(reference, floor);
  Real(data, n / 2, 1);
  DbFromPackedAvx2(data, out, n / 2, scale);
}

#endif

template <bool Avx2>
void ComplexFftTables(float* data, int nn, int isign) {
  KLARWELL_REQUIRE("ComplexFft", detail::IsPowerOfTwo(nn));
  const int n = nn << 1;
  TStageTable stages[kMaxLog + 2];
  const int log = detail::Log2(nn);
  const uint32_t* reversal = log <= kMaxLog ? gReversals[log].load(std::memory_order_acquire) : nullptr;
  if (reversal == nullptr || !StagesReady(n, isign, stages)) {
    ComplexFft(data, nn, isign);
    return;
  }
  BitReverseTabled(data, reversal);
  if constexpr (Avx2) {
#ifdef KLARWELL_HAVE_X86
    if (n > 2) FirstPassAvx2(data, n);
    int s = 2;
    for (int mmax = 4; mmax < n; mmax <<= 1, ++s) PassAvx2(data, n, mmax, stages[s]);
    return;
#endif
  }
  if (n > 2) FirstPass(data, n);
  int s = 2;
  for (int mmax = 4; mmax < n; mmax <<= 1, ++s) PassPortable(data, n, mmax, stages[s]);
}

#ifdef KLARWELL_HAVE_X86
void ComplexFftAvx2(float* data, int nn, int isign) {
  ComplexFftTables<true>(data, nn, isign);
}
#endif

// The real FFT with its split twiddles from the table (the recurrence's values), falling back to the
// recurrence for lengths without one.
template <detail::TComplexFft Complex>
void RealFftTabled(float* data, int nn, int isign) {
  KLARWELL_REQUIRE("RealFft", detail::IsPowerOfTwo(nn));
  const int n = nn << 1;
  const int log = detail::Log2(n);
  const double* table = log <= kMaxLog + 1 ? gSplits[SignIndex(isign)][log].load(std::memory_order_acquire) : nullptr;
  if (table == nullptr) {
    detail::RealFftWith<Complex>(data, nn, isign);
    return;
  }
  detail::RealFftWith<Complex>(data, nn, isign, TTableTwiddles(table, n));
}

bool AllocWithTables(int n, TFftBuffer& buffer, int doubling) {
  if (!AllocFftBuffer(n, buffer, doubling)) return false;
  // A refused table only costs speed: the transform then takes the reference road.
  PrepareFftTables(n);
  return true;
}

bool AllocWithTables(int n, TFftBuffer& buffer) {
  return AllocWithTables(n, buffer, 0);
}

template <detail::TComplexFft Complex, bool Avx2>
TFftRoutines MakeTable() {
  constexpr detail::TRealFft Real = &RealFftTabled<Complex>;
  TFftRoutines t;
  t.AllocLongBuffer = static_cast<bool (*)(int, TFftBuffer&, int)>(&AllocWithTables);
  t.AllocBuffer2 = static_cast<bool (*)(int, TFftBuffer&)>(&AllocWithTables);
  t.AllocBuffer3 = t.AllocBuffer2;
  t.LongSpectrumDb = &detail::PowerSpectrumDbWith<Real>;
#ifdef KLARWELL_HAVE_X86
  if constexpr (Avx2) t.LongSpectrumDb = &PowerSpectrumDbAvx2<Real>;
#endif
  t.ShortSpectrumDb = t.LongSpectrumDb;
  t.TinySpectrumDb = t.LongSpectrumDb;
  t.AllocBuffer7 = t.AllocBuffer2;
  t.AllocBuffer8 = t.AllocBuffer2;
  t.ForwardSpectrum = &detail::RealSpectrumWith<Real>;
  t.InverseSpectrum = &detail::InverseRealSpectrumWith<Real>;
  t.ShortTraceValue = &detail::WindowTraceWith<&detail::PowerSpectrumDbWith<Real>>;
#ifdef KLARWELL_HAVE_X86
  if constexpr (Avx2) t.ShortTraceValue = &detail::WindowTraceWith<&PowerSpectrumDbAvx2<Real>>;
#endif
  t.TinyTraceValue = t.ShortTraceValue;
  return t;
}

}  // namespace

void detail::ComplexFftPortable(float* data, int nn, int isign) {
  ComplexFftTables<false>(data, nn, isign);
}

void detail::DbFromPackedFast(const float* data, float* out, int bins, double reference, double floor) {
  const TDbScale scale = DbScale(reference, floor);
#ifdef KLARWELL_HAVE_X86
  if (HaveAvx2()) {
    DbFromPackedAvx2(data, out, bins, scale);
    return;
  }
#endif
  DbFromPacked(data, out, 0, bins, scale);
}

bool PrepareFftTables(int nn) {
  if (nn < 1) return true;
  const int n = 2 * std::min(nn, 1 << kMaxLog);
  std::lock_guard<std::mutex> lock(gPrepare);
  bool ok = true;
  for (int m = 1, log = 0; m <= n / 2; m <<= 1, ++log) {
    if (gReversals[log].load(std::memory_order_relaxed) != nullptr) continue;
    uint32_t* table = MakeReversal(m);
    if (table == nullptr) return false;
    gReversals[log].store(table, std::memory_order_release);
  }
  for (int sign = 0; sign < 2; ++sign) {
    // Real transforms of up to 2·nn points (their complex halves are nn points).
    for (int real = 4, log = 2; real <= n && log <= kMaxLog + 1; real <<= 1, ++log) {
      auto& slot = gSplits[sign][log];
      if (slot.load(std::memory_order_relaxed) != nullptr) continue;
      double* table = MakeSplit(real, sign == 1 ? 1 : -1);
      if (table == nullptr) return false;
      slot.store(table, std::memory_order_release);
    }
    int s = 2;
    for (int mmax = 4; mmax < n; mmax <<= 1, ++s) {
      auto& slot = gStages[sign][s];
      if (slot.load(std::memory_order_relaxed) != nullptr) continue;
      double* table = MakeStage(mmax, sign == 1 ? 1 : -1);
      if (table == nullptr) {
        ok = false;
        break;
      }
      slot.store(table, std::memory_order_release);
    }
  }
  return ok;
}

void ComplexFftFast(float* data, int nn, int isign) {
#ifdef KLARWELL_HAVE_X86
  if (HaveAvx2()) {
    ComplexFftAvx2(data, nn, isign);
    return;
  }
#endif
  detail::ComplexFftPortable(data, nn, isign);
}

const TFftRoutines& FastFftRoutines() {
  static const TFftRoutines table = [] {
#ifdef KLARWELL_HAVE_X86
    if (HaveAvx2()) return MakeTable<&ComplexFftAvx2, true>();
#endif
    return MakeTable<&detail::ComplexFftPortable, false>();
  }();
  return table;
}

}  // namespace klarwell
