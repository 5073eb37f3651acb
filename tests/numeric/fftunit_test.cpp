#include "numeric/fftunit.h"

#include <gtest/gtest.h>

#include <cmath>
#include <complex>
#include <vector>

#include "tests/numeric/FpTraps.h"
#include "tests/support/SignalGen.h"

namespace klarwell {
namespace {

using Cplx = std::complex<double>;

// Direct DFT in double: X[k] = sum x[j]·exp(+2πi·jk/n), the transforms' sign convention.
std::vector<Cplx> DirectDft(const std::vector<Cplx>& x, int sign) {
  const int n = static_cast<int>(x.size());
  std::vector<Cplx> out(n);
  for (int k = 0; k < n; ++k) {
    Cplx sum = 0;
    for (int j = 0; j < n; ++j) {
      const double angle = sign * 2.0 * M_PI * static_cast<double>((static_cast<long long>(j) * k) % n) / n;
      sum += x[j] * Cplx(std::cos(angle), std::sin(angle));
    }
    out[k] = sum;
  }
  return out;
}

std::vector<float> RandomSignal(int n, uint64_t seed) {
  test::TRandom random(seed);
  std::vector<float> x(n + 2, 0.0f);
  for (int i = 0; i < n; ++i) x[i] = static_cast<float>(random.Range(-1000.0, 1000.0));
  return x;
}

double Energy(const std::vector<float>& x, int n) {
  double e = 0;
  for (int i = 0; i < n; ++i) e += static_cast<double>(x[i]) * x[i];
  return e;
}

// Float rounding grows with log2(n); a wrong index or twiddle gives errors of the order of the
// spectrum's norm sqrt(n·energy), far above this bound.
double Bound(int n, double energy) {
  return 4e-7 * std::log2(n) * std::sqrt(n * energy);
}

TEST(FftUnit, LN10IsTheRoundedFloat) {
  EXPECT_EQ(LN10, 2.3025851249694824f);
  EXPECT_EQ(LN10, static_cast<float>(std::log(10.0)));
}

// Catches a wrong bit reversal, butterfly or sign in the complex transform.
TEST(FftUnit, ComplexFftMatchesDirectDftBothDirections) {
  for (int nn = 1; nn <= 1024; nn *= 2) {
    for (int sign : {+1, -1}) {
      std::vector<float> data = RandomSignal(2 * nn, 100 + nn);
      std::vector<Cplx> x(nn);
      for (int k = 0; k < nn; ++k) x[k] = Cplx(data[2 * k], data[2 * k + 1]);
      const double bound = Bound(std::max(2, 2 * nn), Energy(data, 2 * nn));
      const std::vector<Cplx> expected = DirectDft(x, sign);
      ComplexFft(data.data(), nn, sign);
      for (int k = 0; k < nn; ++k) {
        ASSERT_NEAR(data[2 * k], expected[k].real(), bound)
            << "nn " << nn << " sign " << sign << " bin " << k;
        ASSERT_NEAR(data[2 * k + 1], expected[k].imag(), bound)
            << "nn " << nn << " sign " << sign << " bin " << k;
      }
    }
  }
}

// Catches a wrong unpacking of the half-length transform (index i3/i4, the twiddle start, c2).
TEST(FftUnit, RealFftPackingMatchesDirectDft) {
  for (int n = 4; n <= 2048; n *= 2) {
    std::vector<float> data = RandomSignal(n, 7 + n);
    std::vector<Cplx> x(data.begin(), data.begin() + n);
    const double bound = Bound(n, Energy(data, n));
    const std::vector<Cplx> expected = DirectDft(x, +1);
    RealFft(data.data(), n / 2, 1);
    EXPECT_NEAR(data[0], expected[0].real(), bound) << "DC, n " << n;
    EXPECT_NEAR(data[1], expected[n / 2].real(), bound) << "Nyquist, n " << n;
    for (int k = 1; k < n / 2; ++k) {
      ASSERT_NEAR(data[2 * k], expected[k].real(), bound) << "n " << n << " bin " << k;
      ASSERT_NEAR(data[2 * k + 1], expected[k].imag(), bound) << "n " << n << " bin " << k;
    }
  }
}

// Catches a wrong bin mapping, a missing rounding step or dB taken with the wrong logarithm.
TEST(FftUnit, PowerSpectrumDbMatchesDirectPower) {
  const double reference = 4.0e6;
  const double floor = 1e-12;
  for (int n = 4; n <= 2048; n *= 2) {
    std::vector<float> data = RandomSignal(n, 900 + n);
    std::vector<Cplx> x(data.begin(), data.begin() + n);
    const double energy = Energy(data, n);
    const std::vector<Cplx> expected = DirectDft(x, +1);
    std::vector<float> out(n / 2);
    PowerSpectrumDb(n, data.data(), out.data(), reference, floor);
    // Power error relative to the whole spectrum's power n·energy.
    const double powerBound = 4.0 * Bound(n, energy) * std::sqrt(n * energy) / reference;
    for (int k = 0; k < n / 2; ++k) {
      double power = std::norm(expected[k]);
      if (k == 0) power += std::norm(expected[n / 2]);  // bin 0 carries DC and Nyquist
      power /= reference;
      const double got = std::pow(10.0, out[k] / 10.0);
      ASSERT_NEAR(got, std::max(power, floor), powerBound + 1e-5 * power) << "n " << n << " bin " << k;
    }
  }
}

TEST(FftUnit, PowerSpectrumDbOfSilenceIsTheFloorInEveryBin) {
  const int n = 64;
  std::vector<float> data(n + 2, 0.0f);
  std::vector<float> out(n / 2, 1.0f);
  PowerSpectrumDb(n, data.data(), out.data(), 1.0, 1e-12);
  const float expected = static_cast<float>(10.0 * std::log(static_cast<double>(static_cast<float>(1e-12))) /
                                            static_cast<double>(LN10));
  for (int k = 0; k < n / 2; ++k) EXPECT_EQ(out[k], expected) << k;
  EXPECT_NEAR(expected, -120.0, 1e-4);
}

TEST(FftUnit, PowerSpectrumDbOfFourPeriodCosine) {
  const int n = 64;
  std::vector<float> data(n + 2, 0.0f);
  for (int i = 0; i < n; ++i) data[i] = static_cast<float>(std::cos(2.0 * M_PI * 4.0 * i / n));
  std::vector<float> out(n / 2);
  PowerSpectrumDb(n, data.data(), out.data(), 1.0, 1e-12);
  int top = 0;
  for (int k = 1; k < n / 2; ++k)
    if (out[k] > out[top]) top = k;
  EXPECT_EQ(top, 4);
  // (n/2)² = 1024 before the conversion.
  EXPECT_NEAR(out[4], 10.0 * std::log(1024.0) / LN10, 1e-4);
}

// Guards for arguments the engine never passes: a floor of 0 on silence would take ln(0), a
// reference of 0 would divide by zero. With traps on, either kills the test.
TEST(FftUnit, PowerSpectrumDbNeverFaultsOnZeroFloorOrReference) {
  const int n = 32;
  struct Case {
    double reference;
    double floor;
  } cases[] = {{1.0, 0.0}, {0.0, 1e-12}, {0.0, 0.0}, {1.0, 1e-60}, {-1.0, -1.0}};
  for (const Case& c : cases) {
    std::vector<float> data(n + 2, 0.0f);
    std::vector<float> out(n / 2);
    {
      test::TFpTraps traps;
      PowerSpectrumDb(n, data.data(), out.data(), c.reference, c.floor);
    }
    for (float v : out) EXPECT_TRUE(std::isfinite(v)) << c.reference << " " << c.floor;
  }
}

TEST(FftUnit, RealSpectrumOfConstant) {
  const int n = 64;
  const float c = 0.75f;
  std::vector<float> data(n + 2, c);
  std::vector<float> re(n / 2), im(n / 2), mag(n / 2);
  RealSpectrum(n, data.data(), re.data(), im.data(), mag.data());
  EXPECT_EQ(re[0], n * c);
  EXPECT_EQ(mag[0], n * c);
  EXPECT_EQ(im[0], 0.0f);
  for (int k = 1; k < n / 2; ++k) {
    EXPECT_EQ(re[k], 0.0f) << k;
    EXPECT_EQ(im[k], 0.0f) << k;
    EXPECT_EQ(mag[k], 0.0f) << k;
  }
}

// RealSpectrum drops the Nyquist term; the pair must give back everything else.
TEST(FftUnit, SpectrumRoundTripLosesOnlyTheNyquistTerm) {
  for (int n = 4; n <= 2048; n *= 2) {
    std::vector<float> data = RandomSignal(n, 50 + n);
    const std::vector<float> original = data;
    double nyquist = 0;
    for (int i = 0; i < n; ++i) nyquist += (i % 2 == 0 ? 1.0 : -1.0) * original[i];
    std::vector<float> re(n / 2), im(n / 2), mag(n / 2), out(n + 2, 7.0f);
    RealSpectrum(n, data.data(), re.data(), im.data(), mag.data());
    EXPECT_EQ(im[0], 0.0f);
    for (int k = 0; k < n / 2; ++k) ASSERT_NEAR(mag[k], std::hypot(re[k], im[k]), 1e-6 * mag[k] + 1e-6);
    InverseRealSpectrum(n, re.data(), im.data(), out.data());
    EXPECT_EQ(out[n], 0.0f);
    const double bound = 4.0 * Bound(n, Energy(original, n)) / n;
    for (int i = 0; i < n; ++i) {
      const double expected = original[i] - (i % 2 == 0 ? 1.0 : -1.0) * nyquist / n;
      ASSERT_NEAR(out[i], expected, bound) << "n " << n << " i " << i;
    }
  }
}

TEST(FftUnit, AlternatingSignalComesBackAsZeros) {
  const int n = 128;
  std::vector<float> data(n + 2);
  for (int i = 0; i < n; ++i) data[i] = i % 2 == 0 ? 1.0f : -1.0f;
  std::vector<float> re(n / 2), im(n / 2), mag(n / 2), out(n + 2, 7.0f);
  RealSpectrum(n, data.data(), re.data(), im.data(), mag.data());
  InverseRealSpectrum(n, re.data(), im.data(), out.data());
  for (int i = 0; i <= n; ++i) EXPECT_NEAR(out[i], 0.0f, 1e-6) << i;
}

TEST(FftUnit, AllocFftBufferReplacesTheHeldBuffer) {
  TFftBuffer buffer;
  ASSERT_TRUE(AllocFftBuffer(64, buffer));
  ASSERT_NE(buffer, nullptr);
  for (int i = 0; i < 66; ++i) buffer[i] = 1.0f;
  // A held buffer is given up and a fresh, doubled one takes its place; every float of it is usable.
  ASSERT_TRUE(AllocFftBuffer(64, buffer, 1));
  ASSERT_NE(buffer, nullptr);
  for (int i = 0; i < 2 * 66; ++i) ASSERT_EQ(buffer[i], 0.0f) << i;
  EXPECT_FALSE(AllocFftBuffer(64, buffer, 2));
  EXPECT_EQ(buffer, nullptr);
}

// A length that is not a power of two would make the butterflies write past the buffer.
TEST(FftUnitDeathTest, LengthThatIsNotAPowerOfTwoIsRefused) {
  std::vector<float> data(16, 0.0f);
  EXPECT_DEATH(ComplexFft(data.data(), 3, 1), "ComplexFft");
  EXPECT_DEATH(RealFft(data.data(), 0, 1), "RealFft");
  EXPECT_DEATH(RealFft(data.data(), 6, -1), "RealFft");
}

}  // namespace
}  // namespace klarwell
