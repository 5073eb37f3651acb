#include "numeric/fftfloat.h"

#include <fftw3.h>

#include <array>
#include <atomic>
#include <bit>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <mutex>
#include <numbers>

#include "numeric/Contract.h"
#include "numeric/FftDetail.h"
#include "numeric/FloatLanes.h"

namespace klarwell {

namespace {

constexpr int kMaxLog = 16;
constexpr size_t kPlannerHeadroomBytes = 8u << 20;

// From this length on the forward transform is a complex transform of n/2 points followed by our own
// split into the real spectrum (SplitHalfLength). The library's estimated real plans do that split
// with a two-point SSE2 step that took a quarter of all the time on 96 kHz music; the complex plans
// it picks are the very ones its real plans use inside, and the split below is the same arithmetic,
// so the spectrum is the same as the real plan's.
constexpr int kMinHalfLengthLog = 5;

// Per log2(n): the forward plan (real to packed complex, or from kMinHalfLengthLog on the complex plan
// of n/2 points) and the inverse plan, both out of place, and the forward split's twiddles. Published
// once under gPlanning and never destroyed: a handful of small plans for the process's lifetime.
std::array<std::atomic<fftwf_plan>, kMaxLog + 1> gForward{};
std::array<std::atomic<fftwf_plan>, kMaxLog + 1> gInverse{};
std::array<std::atomic<const float*>, kMaxLog + 1> gTwiddles{};
// The library's planner keeps global state; only its execute functions may run concurrently.
std::mutex gPlanning;

// Floats before the packed spectrum: room for the caller's 2·(n + 2) floats (a doubled buffer),
// rounded up to whole cache lines so that the packed spectrum is aligned as the buffer's start.
int PackedOffset(int n) {
  return (2 * (n + 2) + 15) / 16 * 16;
}

// The plans were made on arrays from the library's allocator; executing one on an array with another
// alignment would take vector loads where they fault, so every buffer must be aligned as those.
void RequireAligned(const char* routine, const float* p) {
  KLARWELL_REQUIRE(routine, fftwf_alignment_of(const_cast<float*>(p)) == 0);
}

fftwf_plan Plan(const std::array<std::atomic<fftwf_plan>, kMaxLog + 1>& plans, const char* routine, int n) {
  KLARWELL_REQUIRE(routine, detail::IsPowerOfTwo(n) && n >= 4 && n <= (1 << kMaxLog));
  const fftwf_plan plan = plans[static_cast<size_t>(detail::Log2(n))].load(std::memory_order_acquire);
  KLARWELL_REQUIRE(routine, plan != nullptr);  // PrepareFloatFft(n) was not called or failed
  return plan;
}

// The packed spectrum lies in the buffer behind the room its owner may use; see AllocFloatFftBuffer.
float* Packed(int n, float* data) {
  return data + PackedOffset(n);
}

using detail::kLanes8;
using detail::TFloat8;
using detail::TInt8;

// The real spectrum X of n points from Z, the complex spectrum of the n/2 points z[m] = x[2m] + i·x[2m+1],
// in place in packed (n/2 + 1 complex values, Z in the first n/2): with E and O the spectra of the
// even and the odd samples, X[k] = E[k] + W^k·O[k] and X[n/2 − k] = conj(E[k] − W^k·O[k]), where
// E[k] = (Z[k] + conj Z[n/2 − k]) / 2, O[k] = (Z[k] − conj Z[n/2 − k]) / 2i and W^k = cos − i·sin
// of 2πk/n (twiddles: cos for k = 0 … n/4, then sin for the same k). Each pair k, n/2 − k is read and
// written by itself; eight pairs go through the lanes at a time while the two sides' blocks do not
// meet, with the same operations as the single pair below.
template <class T>
KLARWELL_LANE_INLINE void SplitPair(T ar, T ai, T br, T bi, T c, T s, T& kr, T& ki, T& jr, T& ji) {
  const T er = 0.5f * (ar + br), ei = 0.5f * (ai - bi);
  const T or_ = 0.5f * (ai + bi), oi = 0.5f * (br - ar);
  const T tr = or_ * c + oi * s, ti = oi * c - or_ * s;
  kr = er + tr;
  ki = ei + ti;
  jr = er - tr;
  ji = -(ei - ti);
}

KLARWELL_LANE_INLINE TFloat8 Reverse8(TFloat8 v) {
  return __builtin_shufflevector(v, v, 7, 6, 5, 4, 3, 2, 1, 0);
}

KLARWELL_LANE_INLINE void StoreInterleaved8(float* p, TFloat8 re, TFloat8 im) {
  detail::Store8(p, __builtin_shufflevector(re, im, 0, 8, 1, 9, 2, 10, 3, 11));
  detail::Store8(p + kLanes8, __builtin_shufflevector(re, im, 4, 12, 5, 13, 6, 14, 7, 15));
}

KLARWELL_LANE_CLONES void SplitHalfLength(int n, float* packed, const float* twiddles) {
  const int half = n / 2;
  const float* sines = twiddles + n / 4 + 1;
  const float z0r = packed[0];
  const float z0i = packed[1];
  packed[0] = z0r + z0i;
  packed[1] = 0.0f;
  packed[n] = z0r - z0i;
  packed[n + 1] = 0.0f;
  int k = 1;
  for (; 2 * k + 2 * (kLanes8 - 1) < half; k += kLanes8) {
    float* low = packed + 2 * k;
    float* high = packed + 2 * (half - k - (kLanes8 - 1));  // pairs k + 7 … k, from the top down
    const TFloat8 a0 = detail::Load8(low), a1 = detail::Load8(low + kLanes8);
    const TFloat8 b0 = detail::Load8(high), b1 = detail::Load8(high + kLanes8);
    TFloat8 kr, ki, jr, ji;
    SplitPair(detail::Even8(a0, a1), detail::Odd8(a0, a1), Reverse8(detail::Even8(b0, b1)),
              Reverse8(detail::Odd8(b0, b1)), detail::Load8(twiddles + k), detail::Load8(sines + k), kr, ki, jr,
              ji);
    StoreInterleaved8(low, kr, ki);
    StoreInterleaved8(high, Reverse8(jr), Reverse8(ji));
  }
  for (; k <= half / 2; ++k) {
    const int j = half - k;
    SplitPair(packed[2 * k], packed[2 * k + 1], packed[2 * j], packed[2 * j + 1], twiddles[k], sines[k],
              packed[2 * k], packed[2 * k + 1], packed[2 * j], packed[2 * j + 1]);
  }
}

// The library's transforms run faster out of place than in place (about a third fewer instructions
// at 128 and 1024 points), so the spectrum goes to the buffer's own second half.
float* Forward(int n, float* data, const char* routine) {
  RequireAligned(routine, data);
  float* packed = Packed(n, data);
  const fftwf_plan plan = Plan(gForward, routine, n);
  const int log = detail::Log2(n);
  if (log < kMinHalfLengthLog) {
    fftwf_execute_dft_r2c(plan, data, reinterpret_cast<fftwf_complex*>(packed));
    return packed;
  }
  // The n real samples, read as n/2 complex ones.
  fftwf_execute_dft(plan, reinterpret_cast<fftwf_complex*>(data), reinterpret_cast<fftwf_complex*>(packed));
  SplitHalfLength(n, packed, gTwiddles[static_cast<size_t>(log)].load(std::memory_order_acquire));
  return packed;
}

// The scaled, floored power of every bin into power (n/2 floats), from the packed spectrum in data.
KLARWELL_LANE_CLONES void FlooredPowers(int n, const float* data, float* power, double reference,
                                        double floor) {
  const detail::TDbScale scale = detail::DbScale(reference, floor);
  const auto inverse = static_cast<float>(1.0 / scale.Reference);
  const float floorF = scale.FloorF;
  const int bins = n / 2;
  // The reference's packing puts the Nyquist term beside the DC term, so its bin 0 holds both.
  const float p0 = (data[0] * data[0] + data[n] * data[n]) * inverse;
  power[0] = p0 < floorF ? floorF : p0;
  int k = 1;
  // Eight bins from sixteen floats (re, im interleaved): the squares, then each pair's sum.
  for (; k + kLanes8 <= bins; k += kLanes8) {
    const TFloat8 a = detail::Load8(data + 2 * k);
    const TFloat8 b = detail::Load8(data + 2 * k + kLanes8);
    const TFloat8 re = detail::Even8(a, b);
    const TFloat8 im = detail::Odd8(a, b);
    detail::Store8(power + k, detail::AtLeast8((re * re + im * im) * inverse, detail::Splat8(floorF)));
  }
  for (; k < bins; ++k) {
    const float re = data[2 * k];
    const float im = data[2 * k + 1];
    const float p = (re * re + im * im) * inverse;
    power[k] = p < floorF ? floorF : p;
  }
}

// 10·log10 of count powers in place.
KLARWELL_LANE_CLONES void DbInPlace(float* v, int count) {
  int k = 0;
  for (; k + kLanes8 <= count; k += kLanes8) detail::Store8(v + k, detail::DbOfPower8(detail::Load8(v + k)));
  for (; k < count; ++k) v[k] = detail::DbOfPower1(v[k]);
}

// The sum of 10·log10 over count powers (normal, finite, positive floats) as one logarithm per lane:
// the exponents are summed as integers and the mantissas (in [1, 2)) multiplied, folded back into
// the exponent sum every 16 products before the product could leave the float range.
KLARWELL_LANE_CLONES double DbSumOfPowers(const float* power, int count) {
  TInt8 exponents = {};
  TFloat8 products = detail::Splat8(1.0f);
  int k = 0;
  for (int chunk = 0; k + kLanes8 <= count; k += kLanes8) {
    const TInt8 bits = detail::Bits8(detail::Load8(power + k));
    exponents += ((bits >> 23) & 0x1ff) - 127;
    products *= detail::FromBits8((bits & 0x007fffff) | 0x3f800000);
    if (++chunk == 16) {
      chunk = 0;
      const TInt8 folded = detail::Bits8(products);
      exponents += ((folded >> 23) & 0x1ff) - 127;
      products = detail::FromBits8((folded & 0x007fffff) | 0x3f800000);
    }
  }
  const TFloat8 db = detail::DbOfPower8(products);
  double total = detail::Sum8(db);
  int64_t exponentSum = 0;
  for (int l = 0; l < kLanes8; ++l) exponentSum += exponents[l];
  for (; k < count; ++k) total += detail::DbOfPower1(power[k]);
  return total + 3.0102999566398120 * static_cast<double>(exponentSum);
}

}  // namespace

float detail::DbOfPower(float v) {
  return DbOfPower1(v);
}

KLARWELL_LANE_CLONES void CentreAndWindow(const float* x, int stride, int n, const float* window,
                                          float* out) {
  double sum = 0.0;
  int k = 0;
  if (stride == 1) {
    TFloat8 lo = {}, hi = {};
    // Float lanes hold sums of 16-bit samples exactly up to 2^24, so they are emptied into the double
    // sum every 32 steps.
    for (int steps = 0; k + 2 * kLanes8 <= n; k += 2 * kLanes8) {
      lo += detail::Load8(x + k);
      hi += detail::Load8(x + k + kLanes8);
      if (++steps == 32) {
        steps = 0;
        sum += detail::Sum8(lo) + detail::Sum8(hi);
        lo = hi = TFloat8{};
      }
    }
    sum += detail::Sum8(lo) + detail::Sum8(hi);
  }
  for (; k < n; ++k) sum += x[stride * k];
  const auto mean = static_cast<float>(sum / n);
  k = 0;
  if (stride == 1) {
    for (; k + kLanes8 <= n; k += kLanes8) {
      detail::Store8(out + k, (detail::Load8(x + k) - mean) * detail::Load8(window + k));
    }
  }
  for (; k < n; ++k) out[k] = (x[stride * k] - mean) * window[k];
}

float WindowTraceFloat(int n, const float* x, const float* window, float* work, float* spectrum,
                       double reference, double floor) {
  CentreAndWindow(x, 1, n, window, work);
  FlooredPowers(n, Forward(n, work, "WindowTraceFloat"), spectrum, reference, floor);
  return static_cast<float>(DbSumOfPowers(spectrum, n / 2));
}

bool AllocFloatFftBuffer(int n, TFftBuffer& buffer) {
  buffer.reset();
  if (!detail::IsPowerOfTwo(n) || n < 4 || n > (1 << kMaxLog)) return false;
  // AllocFftBuffer gives m + 2 floats for m.
  if (!AllocFftBuffer(PackedOffset(n) + n, buffer)) return false;
  if (PrepareFloatFft(n)) return true;
  buffer.reset();
  return false;
}

bool PrepareFloatFft(int n) {
  if (!detail::IsPowerOfTwo(n) || n < 4 || n > (1 << kMaxLog)) return false;
  const auto log = static_cast<size_t>(detail::Log2(n));
  std::lock_guard<std::mutex> lock(gPlanning);
  if (gForward[log].load(std::memory_order_relaxed) != nullptr &&
      gInverse[log].load(std::memory_order_relaxed) != nullptr) {
    return true;
  }
  // The library's planner ends the process when one of its own allocations fails, so memory is asked
  // for first and given back just before the planner runs: a wide margin over what the plans take,
  // since under an address-space limit 1 MB still let the planner fail. Executing a plan allocates
  // nothing.
  void* volatile headroom = std::malloc(kPlannerHeadroomBytes);  // volatile: the pair must not be elided
  if (headroom == nullptr) return false;
  std::free(headroom);
  auto* scratch =
      static_cast<float*>(fftwf_malloc(sizeof(float) * static_cast<size_t>(PackedOffset(n) + n + 2)));
  if (scratch == nullptr) return false;
  auto* packed = reinterpret_cast<fftwf_complex*>(Packed(n, scratch));
  // Estimate, never measure: a measured plan depends on the timings of the moment, and with it the
  // rounding of the results.
  const unsigned flags = FFTW_ESTIMATE | FFTW_DESTROY_INPUT;
  if (static_cast<int>(log) >= kMinHalfLengthLog && gTwiddles[log].load(std::memory_order_relaxed) == nullptr) {
    // Twiddles rounded once from double, as the library rounds its own.
    auto* twiddles = static_cast<float*>(fftwf_malloc(sizeof(float) * static_cast<size_t>(n / 2 + 2)));
    if (twiddles == nullptr) {
      fftwf_free(scratch);
      return false;
    }
    for (int k = 0; k <= n / 4; ++k) {
      const double angle = 2.0 * std::numbers::pi * k / n;
      twiddles[k] = static_cast<float>(std::cos(angle));
      twiddles[n / 4 + 1 + k] = static_cast<float>(std::sin(angle));
    }
    gTwiddles[log].store(twiddles, std::memory_order_release);
  }
  if (gForward[log].load(std::memory_order_relaxed) == nullptr) {
    const fftwf_plan forward =
        static_cast<int>(log) >= kMinHalfLengthLog
            ? fftwf_plan_dft_1d(n / 2, reinterpret_cast<fftwf_complex*>(scratch), packed, FFTW_FORWARD, flags)
            : fftwf_plan_dft_r2c_1d(n, scratch, packed, flags);
    gForward[log].store(forward, std::memory_order_release);
  }
  if (gInverse[log].load(std::memory_order_relaxed) == nullptr) {
    gInverse[log].store(fftwf_plan_dft_c2r_1d(n, packed, scratch, flags), std::memory_order_release);
  }
  fftwf_free(scratch);
  return gForward[log].load(std::memory_order_relaxed) != nullptr &&
         gInverse[log].load(std::memory_order_relaxed) != nullptr;
}

void PowerSpectrumDbFloat(int n, float* data, float* out, double reference, double floor) {
  FlooredPowers(n, Forward(n, data, "PowerSpectrumDbFloat"), out, reference, floor);
  DbInPlace(out, n / 2);
}

void RealSpectrumFloat(int n, float* data, float* re, float* im, float* mag) {
  const float* packed = Forward(n, data, "RealSpectrumFloat");
  const int bins = n / 2;
  for (int k = 0; k < bins; ++k) {
    const float r = packed[2 * k];
    const float i = -packed[2 * k + 1];  // the library's forward sign is the reference's conjugate
    re[k] = r;
    im[k] = i;
    mag[k] = std::sqrt(r * r + i * i);
  }
  im[0] = 0.0f;  // the Nyquist term is not kept
}

void InverseRealSpectrumFloat(int n, const float* re, const float* im, float* out) {
  RequireAligned("InverseRealSpectrumFloat", out);
  const fftwf_plan plan = Plan(gInverse, "InverseRealSpectrumFloat", n);
  float* packed = Packed(n, out);
  const int bins = n / 2;
  packed[0] = re[0];
  packed[1] = 0.0f;
  for (int k = 1; k < bins; ++k) {
    packed[2 * k] = re[k];
    packed[2 * k + 1] = -im[k];
  }
  // im[0] is read as the Nyquist term, as the reference's packing does.
  packed[n] = im[0];
  packed[n + 1] = 0.0f;
  fftwf_execute_dft_c2r(plan, reinterpret_cast<fftwf_complex*>(packed), out);
  // The library's inverse returns n times the signal; 1/n is a power of two, so the scaling is exact.
  const float scale = 1.0f / static_cast<float>(n);
  for (int i = 0; i < n; ++i) out[i] *= scale;
  out[n] = 0.0f;
}

bool AllocFloatFftBuffer(int n, TFftBuffer& buffer, int doubling) {
  if (doubling < 0 || doubling > 1) {
    buffer.reset();
    return false;
  }
  return AllocFloatFftBuffer(n, buffer);
}

}  // namespace klarwell
