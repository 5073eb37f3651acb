// Baselines for later speed work on the numeric routines, at the sizes the engine uses.

#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdint>
#include <vector>

#include "numeric/fftunit.h"
#include "numeric/peak.h"
#include "numeric/prediction.h"

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
