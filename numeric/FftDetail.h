#pragma once

// The parts of the transforms that sit on top of the complex FFT (the real FFT's split, the dB,
// magnitude and inverse spectra), written once over the transforms they call, so that the
// reference and the fast routine sets share them operation for operation. Internal to numeric/.

#include <bit>
#include <cfloat>
#include <cmath>

#include "numeric/Contract.h"
#include "numeric/fftunit.h"

namespace klarwell::detail {

using TComplexFft = void (*)(float* data, int nn, int isign);
using TRealFft = void (*)(float* data, int nn, int isign);

// 2π to extended precision; as a double this is the nearest double to 2π.
inline constexpr double kTwoPi = 6.283185307179586477;

inline bool IsPowerOfTwo(int v) {
  return v > 0 && (v & (v - 1)) == 0;
}

// The smallest s with 2^s >= v, for v >= 1: the log2 of a power of two.
inline int Log2(int v) {
  return static_cast<int>(std::bit_width(static_cast<unsigned>(v - 1)));
}

// 1-based view of an array, so the index arithmetic reads as in its classic derivation
// without forming a pointer before the array's start.
struct OneBased {
  float* Data;
  float& operator[](int j) const { return Data[j - 1]; }
};

// Bit-reversal reordering of the nn complex pairs of data (2·nn floats), in place.
inline void BitReverse(float* data, int nn) {
  auto d = OneBased{data};
  const int n = nn << 1;
  int j = 1;
  for (int i = 1; i < n; i += 2) {
    if (j > i) {
      float t = d[j];
      d[j] = d[i];
      d[i] = t;
      t = d[j + 1];
      d[j + 1] = d[i + 1];
      d[i + 1] = t;
    }
    int m = nn;
    while (m >= 2 && j > m) {
      j -= m;
      m >>= 1;
    }
    j += m;
  }
}

// The twiddles of the real FFT's split, advanced by the recurrence as the loop goes.
class TRecurrenceTwiddles {
 public:
  // n: real points; isign as RealFft's.
  TRecurrenceTwiddles(int n, int isign) {
    double theta = kTwoPi / static_cast<double>(n);
    if (isign != 1) theta = -theta;
    const double wtemp = std::sin(0.5 * theta);
    wpr_ = -2.0 * wtemp * wtemp;
    wpi_ = std::sin(theta);
    wr_ = 1.0 + wpr_;
    wi_ = wpi_;
  }
  double Wr() const { return wr_; }
  double Wi() const { return wi_; }
  void Advance() {
    const double wprev = wr_;
    wr_ = wr_ * wpr_ - wi_ * wpi_ + wr_;
    wi_ = wi_ * wpr_ + wprev * wpi_ + wi_;
  }

 private:
  double wr_, wi_, wpr_, wpi_;
};

// The real FFT over the complex transform Complex, its split's twiddles from TTwiddles (the
// recurrence, or a table of the recurrence's values).
template <TComplexFft Complex, class TTwiddles>
void RealFftWith(float* data, int nn, int isign, TTwiddles w) {
  auto d = OneBased{data};
  const int n = nn << 1;
  const double c1 = 0.5;
  double c2;
  if (isign == 1) {
    c2 = -0.5;
    Complex(data, nn, 1);
  } else {
    c2 = 0.5;
  }
  const int np3 = n + 3;
  // Separates the two half-length transforms packed into the complex one: bins i − 1 and
  // nn − i + 1 are computed together.
  for (int i = 2; i <= (n >> 2); ++i) {
    const int i1 = i + i - 1;
    const int i2 = 1 + i1;
    const int i3 = np3 - i2;
    const int i4 = 1 + i3;
    const double wr = w.Wr();
    const double wi = w.Wi();
    const double h1r = c1 * (d[i1] + static_cast<double>(d[i3]));
    const double h1i = c1 * (d[i2] - static_cast<double>(d[i4]));
    const double h2r = -c2 * (d[i2] + static_cast<double>(d[i4]));
    const double h2i = c2 * (d[i1] - static_cast<double>(d[i3]));
    d[i1] = static_cast<float>(h1r + wr * h2r - wi * h2i);
    d[i2] = static_cast<float>(h1i + wr * h2i + wi * h2r);
    d[i3] = static_cast<float>(h1r - wr * h2r + wi * h2i);
    d[i4] = static_cast<float>(-h1i + wr * h2i + wi * h2r);
    w.Advance();
  }
  if (isign == 1) {
    const double h1r = d[1];
    d[1] = static_cast<float>(h1r + d[2]);
    d[2] = static_cast<float>(h1r - d[2]);
  } else {
    const double h1r = d[1];
    d[1] = static_cast<float>(c1 * (h1r + d[2]));
    d[2] = static_cast<float>(c1 * (h1r - d[2]));
    Complex(data, nn, -1);
  }
}

template <TComplexFft Complex>
void RealFftWith(float* data, int nn, int isign) {
  // θ = π/nn; nn = 0 would make it infinite.
  KLARWELL_REQUIRE("RealFft", IsPowerOfTwo(nn));
  RealFftWith<Complex>(data, nn, isign, TRecurrenceTwiddles(nn << 1, isign));
}

// The reference power and the floor of a dB spectrum, made safe: guards against arguments the
// engine never passes; with a positive reference and a floor that survives rounding to a float
// they change nothing.
struct TDbScale {
  double Reference;
  double FloorD;
  float FloorF;
};

inline TDbScale DbScale(double reference, double floor) {
  TDbScale s{reference, floor, static_cast<float>(floor)};
  if (!(s.Reference > 0.0)) s.Reference = 1.0;
  if (!(s.FloorF > 0.0f)) {
    s.FloorD = FLT_TRUE_MIN;
    s.FloorF = FLT_TRUE_MIN;
  }
  return s;
}

// dB values of the packed spectrum's bins from..bins − 1 (data as RealFft leaves it).
inline void DbFromPacked(const float* data, float* out, int from, int bins, const TDbScale& s) {
  for (int k = from; k < bins; ++k) {
    const double re = data[2 * k];
    const double im = data[2 * k + 1];
    float p = static_cast<float>(re * re + im * im);
    p = static_cast<float>(p / s.Reference);
    if (p < s.FloorD) p = s.FloorF;
    out[k] = static_cast<float>(10.0 * std::log(static_cast<double>(p)) / static_cast<double>(LN10));
  }
}

template <TRealFft Real>
void PowerSpectrumDbWith(int n, float* data, float* out, double reference, double floor) {
  const TDbScale scale = DbScale(reference, floor);
  Real(data, n / 2, 1);
  DbFromPacked(data, out, 0, n / 2, scale);
}

using TPowerSpectrumDb = void (*)(int n, float* data, float* out, double reference, double floor);

// The detection trace's value of one window, over the dB spectrum routine PowerDb: the samples less
// their mean (summed in double, in order), times the window, and the sum of the dB spectrum's values
// (in double, in order).
template <TPowerSpectrumDb PowerDb>
float WindowTraceWith(int n, const float* x, const float* window, float* work, float* spectrum,
                      double reference, double floor) {
  double sum = 0.0;
  for (int k = 0; k < n; ++k) {
    work[k] = x[k];
    sum += work[k];
  }
  const double mean = sum / n;
  for (int k = 0; k < n; ++k) {
    work[k] = static_cast<float>(work[k] - mean);
    work[k] = work[k] * window[k];
  }
  PowerDb(n, work, spectrum, reference, floor);
  double total = 0.0;
  for (int k = 0; k < n / 2; ++k) total += spectrum[k];
  return static_cast<float>(total);
}

template <TRealFft Real>
void RealSpectrumWith(int n, float* data, float* re, float* im, float* mag) {
  Real(data, n / 2, 1);
  data[1] = 0.0f;  // the packed Nyquist term is not kept
  const int bins = n / 2;
  for (int k = 0; k < bins; ++k) {
    re[k] = data[2 * k];
    im[k] = data[2 * k + 1];
    const double r = re[k];
    const double i = im[k];
    const float power = static_cast<float>(r * r + i * i);
    mag[k] = static_cast<float>(std::sqrt(static_cast<double>(power)));
  }
}

template <TRealFft Real>
void InverseRealSpectrumWith(int n, const float* re, const float* im, float* out) {
  const int bins = n / 2;
  for (int k = 0; k < bins; ++k) {
    out[2 * k] = re[k];
    out[2 * k + 1] = im[k];
  }
  out[n] = 0.0f;
  Real(out, bins, -1);
  const double dn = n;
  for (int i = 0; i < n; ++i) out[i] = static_cast<float>(2.0 * out[i] / dn);
}

}  // namespace klarwell::detail
