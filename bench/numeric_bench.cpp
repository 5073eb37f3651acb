// The numeric routines at the sizes the engine uses.

#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdint>
#include <vector>

#include "numeric/fftunit.h"
#include "numeric/peak.h"
#include "numeric/prediction.h"
#include "numeric/regress.h"

namespace {

// A fixed pseudo-random signal (integer generator, same on every machine).
std::vector<float> Signal(int n, std::uint32_t seed) {
  std::vector<float> x(n);
  std::uint32_t s = seed;
  for (int i = 0; i < n; ++i) {
    s = s * 1664525u + 1013904223u;
    x[i] = static_cast<float>(static_cast<int>(s >> 16) - 32768) * 0.3f +
           static_cast<float>(8000.0 * std::sin(0.05 * i));
  }
  return x;
}

// One dB spectrum per frame, as the block analysis and the trace windows compute it.
void BM_PowerSpectrumDb(benchmark::State& state) {
  const int n = static_cast<int>(state.range(0));
  const std::vector<float> input = Signal(n, 1);
  std::vector<float> work(n + 2), out(n / 2);
  const double reference = std::pow(n * 32767.0 / 2.0 / 3.0, 2.0);
  for (auto _ : state) {
    std::copy(input.begin(), input.end(), work.begin());
    klarwell::PowerSpectrumDb(n, work.data(), out.data(), reference, 1e-12);
    benchmark::DoNotOptimize(out.data());
  }
}
BENCHMARK(BM_PowerSpectrumDb)->Arg(64)->Arg(128)->Arg(1024);

// The roughness measure's sliding line fit over one frame's 512 bins: windows of up to 121 points
// moved by 10 bins, a mean residual per position; points added as the engine adds them.
void AddRun(klarwell::TRegress& fit, int first, const float* y, int count) {
  for (int i = 0; i < count; ++i) fit.Add(static_cast<float>(first + i), y[i]);
}

template <class TFit>
void SlideOverFrame(TFit& fit, const std::vector<float>& w) {
  fit.Clear();
  const int n = static_cast<int>(w.size());
  int next = 0;
  double total = 0.0;
  for (int b = 30; b + 60 <= n - 2; b += 10) {
    const int e = b < 60 ? 2 * b : b + 60;
    fit.DropOldestN(e - next);
    AddRun(fit, next + 1, w.data() + next + 1, e - next);
    next = e;
    total += fit.MeanAbsResidual();
  }
  benchmark::DoNotOptimize(total);
}

std::vector<float> Bins() {
  std::vector<float> w = Signal(512, 3);
  for (float& v : w) v *= 1e-3f;  // about ±20, like a detrended dB spectrum
  return w;
}

void BM_SlidingFitReference(benchmark::State& state) {
  klarwell::TRegress fit(121);
  const std::vector<float> w = Bins();
  for (auto _ : state) SlideOverFrame(fit, w);
}
BENCHMARK(BM_SlidingFitReference);

// One candidate scan along a block's level curve of 1000 frames.
void BM_FindDipSweep(benchmark::State& state) {
  const int n = 1000;
  std::vector<float> curve(n);
  const std::vector<float> noise = Signal(n, 2);
  for (int i = 0; i < n; ++i) curve[i] = 20000.0f + 4000.0f * std::sin(0.37f * i) + noise[i] * 0.2f;
  for (auto _ : state) {
    int pos = 0, l, b, r, found = 0;
    bool qualifies;
    float level;
    while (pos < n - 1) {
      if (klarwell::FindDip(pos, n, curve.data(), 2200.0f, l, b, r, 10, qualifies, level)) ++found;
    }
    benchmark::DoNotOptimize(found);
  }
}
BENCHMARK(BM_FindDipSweep);

// One repair trial: order 110 on 221 training samples, predicting a 40-sample gap twice over.
void BM_BurgPredict(benchmark::State& state) {
  const std::vector<float> input = Signal(221, 3);
  const std::vector<double> x(input.begin(), input.end());
  std::vector<double> future(80);
  for (auto _ : state) {
    klarwell::BurgPredict(x.data(), 221, 110, 80, future.data());
    benchmark::DoNotOptimize(future.data());
  }
}
BENCHMARK(BM_BurgPredict);

}  // namespace
