#include "numeric/fftunit.h"

#include <algorithm>
#include <cfloat>
#include <cmath>
#include <new>

#include "numeric/Contract.h"
#include "numeric/FftDetail.h"

namespace klarwell {

using detail::IsPowerOfTwo;
using detail::kTwoPi;
using detail::OneBased;

void ComplexFft(float* data, int nn, int isign) {
  // The butterflies index up to i + mmax, which stays inside 2·nn floats only for powers of two.
  KLARWELL_REQUIRE("ComplexFft", IsPowerOfTwo(nn));
  // The loops count in the classic 1-based indices; element j is data[j - 1].
  auto d = OneBased{data};
  const int n = nn << 1;

  detail::BitReverse(data, nn);

  // Danielson-Lanczos passes. The twiddle advances by the recurrence (two sines per pass); its
  // −2·sin²(θ/2) form keeps the rounding error small for small θ.
  int mmax = 2;
  while (n > mmax) {
    const int istep = mmax << 1;
    const double theta = kTwoPi / static_cast<double>(isign * mmax);
    const double wtemp = std::sin(0.5 * theta);
    const double wpr = -2.0 * wtemp * wtemp;
    const double wpi = std::sin(theta);
    double wr = 1.0;
    double wi = 0.0;
    for (int m = 1; m < mmax; m += 2) {
      for (int i = m; i <= n; i += istep) {
        const int k = i + mmax;
        const double tempr = wr * d[k] - wi * d[k + 1];
        const double tempi = wr * d[k + 1] + wi * d[k];
        d[k] = static_cast<float>(d[i] - tempr);
        d[k + 1] = static_cast<float>(d[i + 1] - tempi);
        d[i] = static_cast<float>(d[i] + tempr);
        d[i + 1] = static_cast<float>(d[i + 1] + tempi);
      }
      const double wprev = wr;
      wr = wr * wpr - wi * wpi + wr;
      wi = wi * wpr + wprev * wpi + wi;
    }
    mmax = istep;
  }
}

void RealFft(float* data, int nn, int isign) {
  detail::RealFftWith<&ComplexFft>(data, nn, isign);
}

bool AllocFftBuffer(int n, TFftBuffer& buffer, int doubling) {
  buffer.reset();  // the old buffer goes before the new one is asked for
  const long long count = static_cast<long long>(doubling + 1) * (static_cast<long long>(n) + 2);
  if (n < 0 || doubling < 0 || doubling > 1) return false;
  const auto floats = static_cast<std::size_t>(count);
  void* memory =
      ::operator new[](sizeof(float) * floats, std::align_val_t{detail::kFftBufferAlign}, std::nothrow);
  if (memory == nullptr) return false;
  auto* floatsAt = static_cast<float*>(memory);
  std::fill_n(floatsAt, floats, 0.0f);
  buffer.reset(floatsAt);
  return true;
}

bool AllocFftBuffer(int n, TFftBuffer& buffer) {
  return AllocFftBuffer(n, buffer, 0);
}

void PowerSpectrumDb(int n, float* data, float* out, double reference, double floor) {
  detail::PowerSpectrumDbWith<&RealFft>(n, data, out, reference, floor);
}

void RealSpectrum(int n, float* data, float* re, float* im, float* mag) {
  detail::RealSpectrumWith<&RealFft>(n, data, re, im, mag);
}

void InverseRealSpectrum(int n, const float* re, const float* im, float* out) {
  detail::InverseRealSpectrumWith<&RealFft>(n, re, im, out);
}

float WindowTrace(int n, const float* x, const float* window, float* work, float* spectrum, double reference,
                  double floor) {
  return detail::WindowTraceWith<&PowerSpectrumDb>(n, x, window, work, spectrum, reference, floor);
}

void CentreAndWindowInOrder(const float* x, int stride, int n, const float* window, float* out) {
  for (int k = 0; k < n; ++k) out[k] = x[stride * k];
  double sum = 0.0;
  for (int k = 0; k < n; ++k) sum += out[k];
  const double mean = sum / n;
  for (int k = 0; k < n; ++k) {
    out[k] = static_cast<float>(out[k] - mean);
    out[k] = out[k] * window[k];
  }
}

}  // namespace klarwell
