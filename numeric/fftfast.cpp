#include "numeric/fftfast.h"

#include <algorithm>
#include <array>
#include <atomic>
#include <cmath>
#include <mutex>
#include <new>

#include "numeric/Contract.h"
#include "numeric/FftDetail.h"

#if defined(__x86_64__) || defined(__i386__)
#include <immintrin.h>
#define KLARWELL_HAVE_X86 1
#endif

namespace klarwell {

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
void FirstPass(float* data, int n) {
  const double wr = 1.0;
  const double wi = 0.0;
  for (int i = 0; i < n; i += 4) {
    float* a = data + i;
    float* b = data + i + 2;
    const double tempr = wr * b[0] - wi * b[1];
    const double tempi = wr * b[1] + wi * b[0];
    b[0] = static_cast<float>(a[0] - tempr);
    b[1] = static_cast<float>(a[1] - tempi);
    a[0] = static_cast<float>(a[0] + tempr);
    a[1] = static_cast<float>(a[1] + tempi);
  }
}

// One pass with mmax >= 4, butterflies in memory order.
void PassPortable(float* data, int n, int mmax, const TStageTable& t) {
  const int istep = mmax << 1;
  for (int g = 0; g < n; g += istep) {
    for (int j = 0; j < mmax; j += 2) {
      float* a = data + g + j;
      float* b = a + mmax;
      const double wr = t.Re[j];
      const double wi = t.Im[j];
      const double tempr = wr * b[0] - wi * b[1];
      const double tempi = wr * b[1] + wi * b[0];
      b[0] = static_cast<float>(a[0] - tempr);
      b[1] = static_cast<float>(a[1] - tempi);
      a[0] = static_cast<float>(a[0] + tempr);
      a[1] = static_cast<float>(a[1] + tempi);
    }
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

bool HaveAvx2() {
  static const bool have = __builtin_cpu_supports("avx2");
  return have;
}
#endif

template <bool Avx2>
void ComplexFftTables(float* data, int nn, int isign) {
  KLARWELL_REQUIRE("ComplexFft", detail::IsPowerOfTwo(nn));
  const int n = nn << 1;
  TStageTable stages[kMaxLog + 2];
  if (!StagesReady(n, isign, stages)) {
    ComplexFft(data, nn, isign);
    return;
  }
  detail::BitReverse(data, nn);
  if (n > 2) FirstPass(data, n);
  int s = 2;
  for (int mmax = 4; mmax < n; mmax <<= 1, ++s) {
#ifdef KLARWELL_HAVE_X86
    if constexpr (Avx2) {
      PassAvx2(data, n, mmax, stages[s]);
      continue;
    }
#endif
    PassPortable(data, n, mmax, stages[s]);
  }
}

#ifdef KLARWELL_HAVE_X86
void ComplexFftAvx2(float* data, int nn, int isign) {
  ComplexFftTables<true>(data, nn, isign);
}
#endif

bool AllocWithTables(int n, TFftBuffer& buffer, int doubling) {
  if (!AllocFftBuffer(n, buffer, doubling)) return false;
  // A refused table only costs speed: the transform then takes the reference road.
  PrepareFftTables(n);
  return true;
}

bool AllocWithTables(int n, TFftBuffer& buffer) {
  return AllocWithTables(n, buffer, 0);
}

template <detail::TComplexFft Complex>
TFftRoutines MakeTable() {
  TFftRoutines t;
  t.AllocLongBuffer = static_cast<bool (*)(int, TFftBuffer&, int)>(&AllocWithTables);
  t.AllocBuffer2 = static_cast<bool (*)(int, TFftBuffer&)>(&AllocWithTables);
  t.AllocBuffer3 = t.AllocBuffer2;
  t.LongSpectrumDb = &detail::PowerSpectrumDbWith<Complex>;
  t.ShortSpectrumDb = t.LongSpectrumDb;
  t.TinySpectrumDb = t.LongSpectrumDb;
  t.AllocBuffer7 = t.AllocBuffer2;
  t.AllocBuffer8 = t.AllocBuffer2;
  t.ForwardSpectrum = &detail::RealSpectrumWith<Complex>;
  t.InverseSpectrum = &detail::InverseRealSpectrumWith<Complex>;
  return t;
}

}  // namespace

void detail::ComplexFftPortable(float* data, int nn, int isign) {
  ComplexFftTables<false>(data, nn, isign);
}

bool PrepareFftTables(int nn) {
  if (nn < 1) return true;
  const int n = 2 * std::min(nn, 1 << kMaxLog);
  std::lock_guard<std::mutex> lock(gPrepare);
  bool ok = true;
  for (int sign = 0; sign < 2; ++sign) {
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
    if (HaveAvx2()) return MakeTable<&ComplexFftAvx2>();
#endif
    return MakeTable<&detail::ComplexFftPortable>();
  }();
  return table;
}

}  // namespace klarwell
