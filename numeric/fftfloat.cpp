#include "numeric/fftfloat.h"

#include <fftw3.h>

#include <array>
#include <atomic>
#include <bit>
#include <cmath>
#include <cstdint>
#include <mutex>

#include "numeric/Contract.h"
#include "numeric/FftDetail.h"

namespace klarwell {

namespace {

constexpr int kMaxLog = 16;

// Per log2(n): the forward (real to packed complex) and the inverse plan, both in place. Published
// once under gPlanning and never destroyed: a handful of small plans for the process's lifetime.
std::array<std::atomic<fftwf_plan>, kMaxLog + 1> gForward{};
std::array<std::atomic<fftwf_plan>, kMaxLog + 1> gInverse{};
// The library's planner keeps global state; only its execute functions may run concurrently.
std::mutex gPlanning;

int Log2(int n) {
  int s = 0;
  while ((1 << s) < n) ++s;
  return s;
}

// The plans were made on arrays from the library's allocator; executing one on an array with another
// alignment would take vector loads where they fault, so every buffer must be aligned as those.
void RequireAligned(const char* routine, const float* p) {
  KLARWELL_REQUIRE(routine, fftwf_alignment_of(const_cast<float*>(p)) == 0);
}

fftwf_plan Plan(const std::array<std::atomic<fftwf_plan>, kMaxLog + 1>& plans, const char* routine, int n) {
  KLARWELL_REQUIRE(routine, detail::IsPowerOfTwo(n) && n >= 4 && n <= (1 << kMaxLog));
  const fftwf_plan plan = plans[static_cast<size_t>(Log2(n))].load(std::memory_order_acquire);
  KLARWELL_REQUIRE(routine, plan != nullptr);  // PrepareFloatFft(n) was not called or failed
  return plan;
}

void Forward(int n, float* data, const char* routine) {
  RequireAligned(routine, data);
  fftwf_execute_dft_r2c(Plan(gForward, routine, n), data, reinterpret_cast<fftwf_complex*>(data));
}

// 10·log10(v): v = 2^e·m with m in [√½, √2), ln m from a polynomial in m − 1 (Moshier's single-precision
// coefficients, a few units of float rounding). All integer steps, and the only comparison an integer
// one, so that the loops around it vectorise and no value can raise a fault.
inline float DbOfPowerInline(float v) {
  const auto bits = std::bit_cast<uint32_t>(v);
  uint32_t mantissa = (bits & 0x007fffffu) | 0x3f800000u;
  const uint32_t high = mantissa > 0x3fb504f3u ? 1u : 0u;  // m > √2: halve it
  mantissa -= high << 23;
  const auto e = static_cast<float>(static_cast<int32_t>((bits >> 23) + high) - 127);
  const float x = std::bit_cast<float>(mantissa) - 1.0f;
  const float z = x * x;
  float y = 7.0376836292e-2f;
  y = y * x - 1.1514610310e-1f;
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

// The scaled, floored power of every bin into power (n/2 floats), from the packed spectrum in data.
inline void FlooredPowers(int n, const float* data, float* power, double reference, double floor) {
  const detail::TDbScale scale = detail::DbScale(reference, floor);
  const auto inverse = static_cast<float>(1.0 / scale.Reference);
  const float floorF = scale.FloorF;
  // The reference's packing puts the Nyquist term beside the DC term, so its bin 0 holds both.
  const float p0 = (data[0] * data[0] + data[n] * data[n]) * inverse;
  power[0] = p0 < floorF ? floorF : p0;
  for (int k = 1; k < n / 2; ++k) {
    const float re = data[2 * k];
    const float im = data[2 * k + 1];
    const float p = (re * re + im * im) * inverse;
    power[k] = p < floorF ? floorF : p;
  }
}

constexpr int kLanes = 8;

// The sum of 10·log10 over count powers (normal, finite, positive floats) as one logarithm per lane:
// the exponents are summed as integers and the mantissas (in [1, 2)) multiplied, folded back into
// the exponent sum every 16 products before the product could leave the float range.
double DbSumOfPowers(const float* power, int count) {
  int32_t exponents[kLanes] = {};
  float products[kLanes] = {1, 1, 1, 1, 1, 1, 1, 1};
  int k = 0;
  for (int chunk = 0; k + kLanes <= count; k += kLanes) {
    for (int l = 0; l < kLanes; ++l) {
      const auto bits = std::bit_cast<uint32_t>(power[k + l]);
      exponents[l] += static_cast<int32_t>(bits >> 23) - 127;
      products[l] *= std::bit_cast<float>((bits & 0x007fffffu) | 0x3f800000u);
    }
    if (++chunk == 16) {
      chunk = 0;
      for (int l = 0; l < kLanes; ++l) {
        const auto bits = std::bit_cast<uint32_t>(products[l]);
        exponents[l] += static_cast<int32_t>(bits >> 23) - 127;
        products[l] = std::bit_cast<float>((bits & 0x007fffffu) | 0x3f800000u);
      }
    }
  }
  double total = 0.0;
  int32_t exponentSum = 0;
  for (int l = 0; l < kLanes; ++l) {
    exponentSum += exponents[l];
    total += DbOfPowerInline(products[l]);
  }
  for (; k < count; ++k) total += DbOfPowerInline(power[k]);
  return total + 3.0102999566398120 * exponentSum;
}

bool AllocPlanned(int n, TFftBuffer& buffer, int doubling) {
  if (!AllocFftBuffer(n, buffer, doubling)) return false;
  if (PrepareFloatFft(n)) return true;
  buffer.reset();
  return false;
}

bool AllocPlanned(int n, TFftBuffer& buffer) {
  return AllocPlanned(n, buffer, 0);
}

}  // namespace

float detail::DbOfPower(float v) {
  return DbOfPowerInline(v);
}

float WindowTraceFloat(int n, const float* x, const float* window, float* work, float* spectrum, double reference,
                       double floor) {
  double lanes[kLanes] = {};
  int k = 0;
  for (; k + kLanes <= n; k += kLanes) {
    for (int l = 0; l < kLanes; ++l) lanes[l] += x[k + l];
  }
  double sum = ((lanes[0] + lanes[1]) + (lanes[2] + lanes[3])) + ((lanes[4] + lanes[5]) + (lanes[6] + lanes[7]));
  for (; k < n; ++k) sum += x[k];
  const auto mean = static_cast<float>(sum / n);
  for (int i = 0; i < n; ++i) work[i] = (x[i] - mean) * window[i];
  Forward(n, work, "WindowTraceFloat");
  FlooredPowers(n, work, spectrum, reference, floor);
  return static_cast<float>(DbSumOfPowers(spectrum, n / 2));
}

bool PrepareFloatFft(int n) {
  if (!detail::IsPowerOfTwo(n) || n < 4 || n > (1 << kMaxLog)) return false;
  const auto log = static_cast<size_t>(Log2(n));
  std::lock_guard<std::mutex> lock(gPlanning);
  if (gForward[log].load(std::memory_order_relaxed) != nullptr &&
      gInverse[log].load(std::memory_order_relaxed) != nullptr) {
    return true;
  }
  auto* scratch = static_cast<float*>(fftwf_malloc(sizeof(float) * (static_cast<size_t>(n) + 2)));
  if (scratch == nullptr) return false;
  auto* packed = reinterpret_cast<fftwf_complex*>(scratch);
  // Estimate, never measure: a measured plan depends on the timings of the moment, and with it the
  // rounding of the results.
  const unsigned flags = FFTW_ESTIMATE | FFTW_DESTROY_INPUT;
  if (gForward[log].load(std::memory_order_relaxed) == nullptr) {
    gForward[log].store(fftwf_plan_dft_r2c_1d(n, scratch, packed, flags), std::memory_order_release);
  }
  if (gInverse[log].load(std::memory_order_relaxed) == nullptr) {
    gInverse[log].store(fftwf_plan_dft_c2r_1d(n, packed, scratch, flags), std::memory_order_release);
  }
  fftwf_free(scratch);
  return gForward[log].load(std::memory_order_relaxed) != nullptr &&
         gInverse[log].load(std::memory_order_relaxed) != nullptr;
}

void PowerSpectrumDbFloat(int n, float* data, float* out, double reference, double floor) {
  Forward(n, data, "PowerSpectrumDbFloat");
  FlooredPowers(n, data, out, reference, floor);
  for (int k = 0; k < n / 2; ++k) out[k] = DbOfPowerInline(out[k]);
}

void RealSpectrumFloat(int n, float* data, float* re, float* im, float* mag) {
  Forward(n, data, "RealSpectrumFloat");
  const int bins = n / 2;
  for (int k = 0; k < bins; ++k) {
    const float r = data[2 * k];
    const float i = -data[2 * k + 1];  // the library's forward sign is the reference's conjugate
    re[k] = r;
    im[k] = i;
    mag[k] = std::sqrt(r * r + i * i);
  }
  im[0] = 0.0f;  // the Nyquist term is not kept
}

void InverseRealSpectrumFloat(int n, const float* re, const float* im, float* out) {
  RequireAligned("InverseRealSpectrumFloat", out);
  const fftwf_plan plan = Plan(gInverse, "InverseRealSpectrumFloat", n);
  const int bins = n / 2;
  out[0] = re[0];
  out[1] = 0.0f;
  for (int k = 1; k < bins; ++k) {
    out[2 * k] = re[k];
    out[2 * k + 1] = -im[k];
  }
  // im[0] is read as the Nyquist term, as the reference's packing does.
  out[n] = im[0];
  out[n + 1] = 0.0f;
  fftwf_execute_dft_c2r(plan, reinterpret_cast<fftwf_complex*>(out), out);
  // The library's inverse returns n times the signal; 1/n is a power of two, so the scaling is exact.
  const float scale = 1.0f / static_cast<float>(n);
  for (int i = 0; i < n; ++i) out[i] *= scale;
  out[n] = 0.0f;
}

const TFftRoutines& FloatFftRoutines() {
  static const TFftRoutines table = [] {
    TFftRoutines t;
    t.AllocLongBuffer = static_cast<bool (*)(int, TFftBuffer&, int)>(&AllocPlanned);
    t.AllocBuffer2 = static_cast<bool (*)(int, TFftBuffer&)>(&AllocPlanned);
    t.AllocBuffer3 = t.AllocBuffer2;
    t.LongSpectrumDb = &PowerSpectrumDbFloat;
    t.ShortSpectrumDb = &PowerSpectrumDbFloat;
    t.TinySpectrumDb = &PowerSpectrumDbFloat;
    t.AllocBuffer7 = t.AllocBuffer2;
    t.AllocBuffer8 = t.AllocBuffer2;
    t.ForwardSpectrum = &RealSpectrumFloat;
    t.InverseSpectrum = &InverseRealSpectrumFloat;
    t.ShortTraceValue = &WindowTraceFloat;
    t.TinyTraceValue = &WindowTraceFloat;
    return t;
  }();
  return table;
}

}  // namespace klarwell
