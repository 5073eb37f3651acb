#include "numeric/fftfloat.h"

#include <gtest/gtest.h>

#include <cfenv>
#include <cmath>
#include <cstring>
#include <vector>

#include "tests/support/SignalGen.h"

namespace klarwell {
namespace {

constexpr int kFaults = FE_INVALID | FE_DIVBYZERO | FE_OVERFLOW;
constexpr double kFloor = 1e-12;

// The engine's reference power for a frame of n points.
double Reference(int n) {
  const double r = n * 32767.0 / 2.0 / 3.0;
  return r * r;
}

// n samples of one kind in a work buffer of the float road: music-like samples at full scale,
// a quiet signal near the floor, silence, and a signal with a DC offset and a Nyquist component.
TFftBuffer Input(int n, int kind, uint64_t seed) {
  TFftBuffer buf;
  EXPECT_TRUE(AllocFloatFftBuffer(n, buf));
  test::TRandom random(seed);
  for (int i = 0; i < n; ++i) {
    switch (kind) {
      case 0:
        buf[i] = static_cast<float>(random.Range(-32768.0, 32767.0) * std::sin(0.01 * i));
        break;
      case 1:
        buf[i] = static_cast<float>(random.Range(-1e-3, 1e-3));
        break;
      case 2:
        buf[i] = 0.0f;
        break;
      default:
        buf[i] = static_cast<float>(1000.0 + ((i & 1) ? 3000.0 : -3000.0) + random.Range(-10.0, 10.0));
    }
  }
  return buf;
}

// Catches a transform, a packing (bin 0 holding DC and Nyquist together), a scaling or a logarithm
// of the float road that strays from the reference dB spectrum by more than float rounding can
// explain, at every length the engine uses, and a fault the reference does not raise.
TEST(FftFloat, DbSpectrumAgreesWithTheReferenceToFloatRounding) {
  for (int n = 4; n <= 4096; n *= 2) {
    ASSERT_TRUE(PrepareFloatFft(n));
    for (int kind = 0; kind < 4; ++kind) {
      TFftBuffer a = Input(n, kind, 7 * n + kind), b = Input(n, kind, 7 * n + kind);
      std::vector<float> outA(n / 2), outB(n / 2);
      PowerSpectrumDb(n, a.get(), outA.data(), Reference(n), kFloor);
      std::feclearexcept(FE_ALL_EXCEPT);
      PowerSpectrumDbFloat(n, b.get(), outB.data(), Reference(n), kFloor);
      EXPECT_EQ(std::fetestexcept(kFaults), 0) << n << " kind " << kind;
      float top = -1000.0f;
      for (float v : outA) top = std::max(top, v);
      for (int k = 0; k < n / 2; ++k) {
        // Float rounding of the transform is relative to the largest bin: bins far below it keep
        // fewer exact digits.
        const double tolerance = outA[k] > top - 60.0f ? 2e-3 : 0.5;
        ASSERT_NEAR(outB[k], outA[k], tolerance) << "n " << n << " kind " << kind << " bin " << k;
      }
    }
  }
}

// Catches a sign convention, a lost or doubled Nyquist term or a scaling of the lifter's forward and
// inverse spectra that differs from the reference pair.
TEST(FftFloat, ForwardAndInverseSpectraAgreeWithTheReference) {
  for (int n = 4; n <= 2048; n *= 2) {
    ASSERT_TRUE(PrepareFloatFft(n));
    for (int kind : {0, 3}) {
      TFftBuffer a = Input(n, kind, 11 * n + kind), b = Input(n, kind, 11 * n + kind);
      std::vector<float> reA(n / 2), imA(n / 2), magA(n / 2), reB(n / 2), imB(n / 2), magB(n / 2);
      RealSpectrum(n, a.get(), reA.data(), imA.data(), magA.data());
      RealSpectrumFloat(n, b.get(), reB.data(), imB.data(), magB.data());
      float top = 0.0f;
      for (float v : magA) top = std::max(top, v);
      const float tolerance = 1e-5f * top + 1e-6f;
      for (int k = 0; k < n / 2; ++k) {
        ASSERT_NEAR(reB[k], reA[k], tolerance) << n << " bin " << k;
        ASSERT_NEAR(imB[k], imA[k], tolerance) << n << " bin " << k;
        ASSERT_NEAR(magB[k], magA[k], tolerance) << n << " bin " << k;
      }
      // A Nyquist term in im[0] must come back as the reference inverse gives it.
      imA[0] = imB[0] = 0.25f * top;
      TFftBuffer outA, outB;
      ASSERT_TRUE(AllocFftBuffer(n, outA));
      ASSERT_TRUE(AllocFloatFftBuffer(n, outB));
      InverseRealSpectrum(n, reA.data(), imA.data(), outA.get());
      InverseRealSpectrumFloat(n, reB.data(), imB.data(), outB.get());
      for (int i = 0; i < n; ++i) ASSERT_NEAR(outB[i], outA[i], 2.0f * tolerance) << n << " sample " << i;
      EXPECT_EQ(outB[n], 0.0f);
    }
  }
}

// Catches a trace value of the float road (a mean, a window, the sum of logarithms taken as the
// logarithm of products) that strays from the reference's beyond float rounding, at every window
// length the engine uses, silence included.
TEST(FftFloat, TraceValueAgreesWithTheReference) {
  for (int n = 8; n <= 512; n *= 2) {
    ASSERT_TRUE(PrepareFloatFft(n));
    TFftBuffer window = Input(n, 0, 3), workA, workB;
    ASSERT_TRUE(AllocFftBuffer(n, workA));
    ASSERT_TRUE(AllocFloatFftBuffer(n, workB));
    std::vector<float> specA(n / 2), specB(n / 2);
    for (int kind = 0; kind < 4; ++kind) {
      const TFftBuffer x = Input(n, kind, 13 * n + kind);
      const float a = WindowTrace(n, x.get(), window.get(), workA.get(), specA.data(), Reference(n), kFloor);
      std::feclearexcept(FE_ALL_EXCEPT);
      const float b =
          WindowTraceFloat(n, x.get(), window.get(), workB.get(), specB.data(), Reference(n), kFloor);
      EXPECT_EQ(std::fetestexcept(kFaults), 0) << n << " kind " << kind;
      // Bins far below the window's strongest keep fewer exact digits (see the dB spectrum's test).
      EXPECT_NEAR(b, a, 1e-4 * std::fabs(a) + 0.5) << "n " << n << " kind " << kind;
    }
  }
}

// Catches a logarithm whose error grows beyond float rounding anywhere in the range of powers the
// dB spectrum can meet (the floor up to the largest float), including both sides of √2 where the
// mantissa is halved.
TEST(FftFloat, DbOfPowerFollowsTheTrueLogarithmOverTheFloatRange) {
  test::TRandom random(5);
  for (int i = 0; i < 200000; ++i) {
    const auto v = static_cast<float>(std::ldexp(random.Range(1.0, 2.0), random.Int(-126, 127)));
    const double exact = 10.0 * std::log10(static_cast<double>(v));
    ASSERT_NEAR(detail::DbOfPower(v), exact, 1e-6 * std::fabs(exact) + 2e-6) << v;
  }
  for (float v : {1.0f, 1.41421354f, 1.41421366f, 2.0f, 1e-12f, 3.4e38f}) {
    ASSERT_NEAR(detail::DbOfPower(v), 10.0 * std::log10(static_cast<double>(v)), 2e-5) << v;
  }
}

// Catches results that depend on where a buffer lies (a plan that takes another road for another
// alignment would make a run's bytes depend on the allocator).
TEST(FftFloat, SameInputGivesTheSameBitsInAnyBuffer) {
  constexpr int n = 1024;
  ASSERT_TRUE(PrepareFloatFft(n));
  std::vector<float> first(n / 2);
  for (int copy = 0; copy < 4; ++copy) {
    std::vector<TFftBuffer> spacers(static_cast<size_t>(copy));
    for (auto& s : spacers) ASSERT_TRUE(AllocFftBuffer(16 * copy + 1, s));
    TFftBuffer buf = Input(n, 0, 99);
    std::vector<float> out(n / 2);
    PowerSpectrumDbFloat(n, buf.get(), out.data(), Reference(n), kFloor);
    if (copy == 0) first = out;
    ASSERT_EQ(std::memcmp(out.data(), first.data(), sizeof(float) * out.size()), 0) << copy;
  }
}

// The plans were made on aligned arrays; an unaligned one would take vector loads where they fault.
TEST(FftFloatDeathTest, MisalignedBufferIsRefused) {
  constexpr int n = 64;
  ASSERT_TRUE(PrepareFloatFft(n));
  std::vector<float> data(n + 4), out(n / 2);
  EXPECT_DEATH(PowerSpectrumDbFloat(n, data.data() + 1, out.data(), Reference(n), kFloor), "argument check");
}

}  // namespace
}  // namespace klarwell
