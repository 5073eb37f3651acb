#include "numeric/fftunit.h"

#include <cfloat>
#include <cmath>
#include <new>

#include "numeric/Contract.h"

namespace klarwell {

namespace {

// 2π to extended precision; as a double this is the nearest double to 2π.
constexpr double kTwoPi = 6.283185307179586477;

bool IsPowerOfTwo(int v) {
  return v > 0 && (v & (v - 1)) == 0;
}

// 1-based view of an array, so the index arithmetic reads as in its classic derivation
// without forming a pointer before the array's start.
struct OneBased {
  float* Data;
  float& operator[](int j) const { return Data[j - 1]; }
};

}  // namespace

void ComplexFft(float* data, int nn, int isign) {
  // The butterflies index up to i + mmax, which stays inside 2·nn floats only for powers of two.
  KLARWELL_REQUIRE("ComplexFft", IsPowerOfTwo(nn));
  // The loops count in the classic 1-based indices; element j is data[j - 1].
  auto d = OneBased{data};
  const int n = nn << 1;

  // Bit-reversal reordering of the complex pairs.
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
  // θ = π/nn; nn = 0 would make it infinite.
  KLARWELL_REQUIRE("RealFft", IsPowerOfTwo(nn));
  auto d = OneBased{data};  // as in ComplexFft
  const int n = nn << 1;
  double theta = kTwoPi / static_cast<double>(n);
  const double c1 = 0.5;
  double c2;
  if (isign == 1) {
    c2 = -0.5;
    ComplexFft(data, nn, 1);
  } else {
    c2 = 0.5;
    theta = -theta;
  }
  const double wtemp = std::sin(0.5 * theta);
  const double wpr = -2.0 * wtemp * wtemp;
  const double wpi = std::sin(theta);
  double wr = 1.0 + wpr;
  double wi = wpi;
  const int np3 = n + 3;
  // Separates the two half-length transforms packed into the complex one: bins i − 1 and
  // nn − i + 1 are computed together.
  for (int i = 2; i <= (n >> 2); ++i) {
    const int i1 = i + i - 1;
    const int i2 = 1 + i1;
    const int i3 = np3 - i2;
    const int i4 = 1 + i3;
    const double h1r = c1 * (d[i1] + static_cast<double>(d[i3]));
    const double h1i = c1 * (d[i2] - static_cast<double>(d[i4]));
    const double h2r = -c2 * (d[i2] + static_cast<double>(d[i4]));
    const double h2i = c2 * (d[i1] - static_cast<double>(d[i3]));
    d[i1] = static_cast<float>(h1r + wr * h2r - wi * h2i);
    d[i2] = static_cast<float>(h1i + wr * h2i + wi * h2r);
    d[i3] = static_cast<float>(h1r - wr * h2r + wi * h2i);
    d[i4] = static_cast<float>(-h1i + wr * h2i + wi * h2r);
    const double wprev = wr;
    wr = wr * wpr - wi * wpi + wr;
    wi = wi * wpr + wprev * wpi + wi;
  }
  if (isign == 1) {
    const double h1r = d[1];
    d[1] = static_cast<float>(h1r + d[2]);
    d[2] = static_cast<float>(h1r - d[2]);
  } else {
    const double h1r = d[1];
    d[1] = static_cast<float>(c1 * (h1r + d[2]));
    d[2] = static_cast<float>(c1 * (h1r - d[2]));
    ComplexFft(data, nn, -1);
  }
}

bool AllocFftBuffer(int n, TFftBuffer& buffer, int doubling) {
  buffer.reset();  // the old buffer goes before the new one is asked for
  const long long count = static_cast<long long>(doubling + 1) * (static_cast<long long>(n) + 2);
  if (n < 0 || doubling < 0 || doubling > 1) return false;
  buffer.reset(new (std::nothrow) float[static_cast<std::size_t>(count)]());
  return buffer != nullptr;
}

bool AllocFftBuffer(int n, TFftBuffer& buffer) {
  return AllocFftBuffer(n, buffer, 0);
}

void PowerSpectrumDb(int n, float* data, float* out, double reference, double floor) {
  // Guards against arguments the engine never passes; with a positive reference and a floor
  // that survives rounding to a float they change nothing.
  if (!(reference > 0.0)) reference = 1.0;
  double floorD = floor;
  float floorF = static_cast<float>(floor);
  if (!(floorF > 0.0f)) {
    floorD = FLT_TRUE_MIN;
    floorF = FLT_TRUE_MIN;
  }
  RealFft(data, n / 2, 1);
  const int bins = n / 2;
  for (int k = 0; k < bins; ++k) {
    const double re = data[2 * k];
    const double im = data[2 * k + 1];
    float p = static_cast<float>(re * re + im * im);
    p = static_cast<float>(p / reference);
    if (p < floorD) p = floorF;
    out[k] = static_cast<float>(10.0 * std::log(static_cast<double>(p)) / static_cast<double>(LN10));
  }
}

void RealSpectrum(int n, float* data, float* re, float* im, float* mag) {
  RealFft(data, n / 2, 1);
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

void InverseRealSpectrum(int n, const float* re, const float* im, float* out) {
  const int bins = n / 2;
  for (int k = 0; k < bins; ++k) {
    out[2 * k] = re[k];
    out[2 * k + 1] = im[k];
  }
  out[n] = 0.0f;
  RealFft(out, bins, -1);
  const double dn = n;
  for (int i = 0; i < n; ++i) out[i] = static_cast<float>(2.0 * out[i] / dn);
}

const TFftRoutines& BindFftRoutines() {
  // A function-local static is initialised exactly once, even under concurrent first calls.
  // A faster variant of a routine would be chosen here.
  static const TFftRoutines table = [] {
    TFftRoutines t;
    t.AllocLongBuffer = static_cast<bool (*)(int, TFftBuffer&, int)>(&AllocFftBuffer);
    t.AllocBuffer2 = static_cast<bool (*)(int, TFftBuffer&)>(&AllocFftBuffer);
    t.AllocBuffer3 = t.AllocBuffer2;
    t.LongSpectrumDb = &PowerSpectrumDb;
    t.ShortSpectrumDb = &PowerSpectrumDb;
    t.TinySpectrumDb = &PowerSpectrumDb;
    t.AllocBuffer7 = t.AllocBuffer2;
    t.AllocBuffer8 = t.AllocBuffer2;
    t.ForwardSpectrum = &RealSpectrum;
    t.InverseSpectrum = &InverseRealSpectrum;
    return t;
  }();
  return table;
}

}  // namespace klarwell
