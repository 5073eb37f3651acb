#include "numeric/fftfast.h"

#include <gtest/gtest.h>

#include <cfenv>
#include <cmath>
#include <cstring>
#include <limits>
#include <vector>

#include "numeric/FftDetail.h"
#include "tests/support/SignalGen.h"

namespace klarwell {
namespace {

constexpr int kFaults = FE_INVALID | FE_DIVBYZERO | FE_OVERFLOW;

// Inputs that reach every kind of value a butterfly can meet: ordinary samples, a dB-like spread,
// values close to the float range's ends, and (kind 3) infinities and NaNs among them.
std::vector<float> Input(int count, int kind, uint64_t seed) {
  test::TRandom random(seed);
  std::vector<float> x(static_cast<size_t>(count) + 2, 0.0f);
  for (int i = 0; i < count; ++i) {
    switch (kind) {
      case 0: x[i] = static_cast<float>(random.Range(-32768.0, 32767.0)); break;
      case 1: x[i] = static_cast<float>(std::ldexp(random.Range(-1.0, 1.0), random.Int(-140, 120))); break;
      case 2: x[i] = static_cast<float>(random.Range(-1.0, 1.0) * 3e37); break;
      default: {
        const int pick = random.Int(0, 9);
        x[i] = pick == 0   ? std::numeric_limits<float>::infinity()
               : pick == 1 ? -std::numeric_limits<float>::infinity()
               : pick == 2 ? std::numeric_limits<float>::quiet_NaN()
                           : static_cast<float>(random.Range(-1.0, 1.0));
      }
    }
  }
  return x;
}

// The same bits, NaNs aside: which NaN a sum of two NaNs keeps depends on the order of the operands,
// which addition leaves to the compiler. Every NaN compares as every other NaN.
bool SameValues(const std::vector<float>& a, const std::vector<float>& b) {
  for (size_t i = 0; i < a.size(); ++i) {
    if (std::isnan(a[i]) && std::isnan(b[i])) continue;
    if (std::memcmp(&a[i], &b[i], sizeof(float)) != 0) return false;
  }
  return true;
}

// The same values, and the same faults raised.
void ExpectSameRun(const std::vector<float>& input, void (*reference)(std::vector<float>&),
                   void (*fast)(std::vector<float>&), const char* what, int n) {
  std::vector<float> a = input, b = input;
  std::feclearexcept(FE_ALL_EXCEPT);
  reference(a);
  const int flagsA = std::fetestexcept(kFaults);
  std::feclearexcept(FE_ALL_EXCEPT);
  fast(b);
  const int flagsB = std::fetestexcept(kFaults);
  std::feclearexcept(FE_ALL_EXCEPT);
  ASSERT_TRUE(SameValues(a, b)) << what << " n=" << n;
  ASSERT_EQ(flagsA, flagsB) << what << " n=" << n;
}

int gN = 0;
int gSign = 1;

// Catches a twiddle, butterfly order or rounding step of the fast complex transforms (both the AVX2
// and the portable one) that differs from the reference in a single bit or a raised fault.
TEST(FftFast, ComplexTransformsGiveTheReferenceBitsForEveryLengthSignAndInput) {
  ASSERT_TRUE(PrepareFftTables(1 << 14));
  for (int nn = 1; nn <= (1 << 14); nn *= 2) {
    for (int sign : {+1, -1}) {
      for (int kind = 0; kind < 4; ++kind) {
        gN = nn;
        gSign = sign;
        const std::vector<float> x = Input(2 * nn, kind, 1000 * nn + 10 * kind + (sign > 0));
        ExpectSameRun(x, [](std::vector<float>& d) { ComplexFft(d.data(), gN, gSign); },
                      [](std::vector<float>& d) { ComplexFftFast(d.data(), gN, gSign); }, "fast", nn);
        ExpectSameRun(x, [](std::vector<float>& d) { ComplexFft(d.data(), gN, gSign); },
                      [](std::vector<float>& d) { detail::ComplexFftPortable(d.data(), gN, gSign); },
                      "portable", nn);
      }
    }
  }
}

// Catches a length beyond the prepared tables that reads a missing table instead of taking the
// reference road.
TEST(FftFast, LengthsBeyondTheTablesStillGiveTheReferenceBits) {
  gN = 1 << 17;
  gSign = 1;
  const std::vector<float> x = Input(2 * gN, 0, 7);
  ExpectSameRun(x, [](std::vector<float>& d) { ComplexFft(d.data(), gN, gSign); },
                [](std::vector<float>& d) { ComplexFftFast(d.data(), gN, gSign); }, "fast", gN);
}

// Catches a slot of the fast routine table whose routine differs from the reference slot's, for the
// lengths the engine uses at 8 to 192 kHz.
TEST(FftFast, EveryRoutineOfTheFastTableMatchesTheReferenceTable) {
  const TFftRoutines& ref = BindFftRoutines(TRoutineSet::Reference);
  const TFftRoutines& fast = BindFftRoutines(TRoutineSet::Exact);
  ASSERT_NE(&ref, &fast);
  for (int n = 4; n <= 4096; n *= 2) {
    TFftBuffer buf;
    ASSERT_TRUE(fast.AllocLongBuffer(n, buf, 1));
    for (int kind = 0; kind < 4; ++kind) {
      const std::vector<float> x = Input(n, kind, 31 * n + kind);
      // dB spectra, with the engine's reference power and floor.
      for (auto slot : {&TFftRoutines::LongSpectrumDb, &TFftRoutines::ShortSpectrumDb,
                        &TFftRoutines::TinySpectrumDb}) {
        std::vector<float> a = x, b = x, outA(n / 2), outB(n / 2);
        std::feclearexcept(FE_ALL_EXCEPT);
        (ref.*slot)(n, a.data(), outA.data(), 1.5e8, 1e-12);
        const int flagsA = std::fetestexcept(kFaults);
        std::feclearexcept(FE_ALL_EXCEPT);
        (fast.*slot)(n, b.data(), outB.data(), 1.5e8, 1e-12);
        const int flagsB = std::fetestexcept(kFaults);
        std::feclearexcept(FE_ALL_EXCEPT);
        ASSERT_TRUE(SameValues(outA, outB)) << n;
        ASSERT_EQ(flagsA, flagsB) << n;
      }
      // The lifter's forward spectrum and its inverse.
      std::vector<float> a = x, b = x;
      std::vector<float> reA(n / 2), imA(n / 2), magA(n / 2), reB(n / 2), imB(n / 2), magB(n / 2);
      ref.ForwardSpectrum(n, a.data(), reA.data(), imA.data(), magA.data());
      fast.ForwardSpectrum(n, b.data(), reB.data(), imB.data(), magB.data());
      ASSERT_TRUE(SameValues(reA, reB)) << n;
      ASSERT_TRUE(SameValues(imA, imB)) << n;
      ASSERT_TRUE(SameValues(magA, magB)) << n;
      std::vector<float> outA(n + 2), outB(n + 2);
      ref.InverseSpectrum(n, reA.data(), imA.data(), outA.data());
      fast.InverseSpectrum(n, reB.data(), imB.data(), outB.data());
      ASSERT_TRUE(SameValues(outA, outB)) << n;
      // The trace value of a window.
      const std::vector<float> window = Input(n, 0, 5 * n);
      std::vector<float> workA(n + 2), workB(n + 2), specA(n / 2), specB(n / 2);
      for (auto slot : {&TFftRoutines::ShortTraceValue, &TFftRoutines::TinyTraceValue}) {
        const float traceA =
            (ref.*slot)(n, x.data(), window.data(), workA.data(), specA.data(), 1.5e8, 1e-12);
        const float traceB =
            (fast.*slot)(n, x.data(), window.data(), workB.data(), specB.data(), 1.5e8, 1e-12);
        ASSERT_TRUE(SameValues({traceA}, {traceB})) << n;
      }
    }
    std::feclearexcept(FE_ALL_EXCEPT);
  }
}

// Catches a logarithm estimate that is trusted where it decides the rounded dB value differently from
// the library's logarithm: powers over the whole float range (subnormal, floor, near 1 where the dB
// value is near 0 and floats are dense, huge, infinite) and reference powers that are not 1.
TEST(FftFast, DbConversionGivesTheReferenceBitsOverTheWholeFloatRange) {
  test::TRandom random(11);
  constexpr int kBins = 4096;
  std::vector<float> packed(2 * kBins), a(kBins), b(kBins);
  for (int round = 0; round < 600; ++round) {
    for (int k = 0; k < kBins; ++k) {
      double power;
      switch (round % 4) {
        case 0: power = std::ldexp(random.Range(1.0, 2.0), random.Int(-160, 126)); break;
        case 1: power = 1.0 + random.Range(-1e-3, 1e-3); break;
        case 2: power = std::ldexp(1.0, random.Int(-149, 127)); break;
        default: power = random.Range(0.0, 3e38);
      }
      packed[2 * k] = static_cast<float>(std::sqrt(power) * (random.Int(0, 1) ? 1 : -1));
      packed[2 * k + 1] = round % 8 == 3 ? static_cast<float>(random.Range(-1e19, 1e19)) : 0.0f;
    }
    if (round % 50 == 7) {
      packed[2] = std::numeric_limits<float>::infinity();
      packed[5] = std::numeric_limits<float>::quiet_NaN();
    }
    const double reference = round % 3 == 0 ? 1.0 : random.Range(0.5, 3e8);
    const double floor = round % 5 == 0 ? 1e-12 : 1e-40;
    std::feclearexcept(FE_ALL_EXCEPT);
    detail::DbFromPacked(packed.data(), a.data(), 0, kBins, detail::DbScale(reference, floor));
    const int flagsA = std::fetestexcept(kFaults);
    std::feclearexcept(FE_ALL_EXCEPT);
    detail::DbFromPackedFast(packed.data(), b.data(), kBins, reference, floor);
    const int flagsB = std::fetestexcept(kFaults);
    std::feclearexcept(FE_ALL_EXCEPT);
    ASSERT_TRUE(SameValues(a, b)) << "round " << round;
    ASSERT_EQ(flagsA, flagsB) << "round " << round;
  }
}

}  // namespace
}  // namespace klarwell
