// The engine's sizes from the sample rate, and the window tables its stages build from them.

#include "engine/EngineSizes.h"

#include <algorithm>
#include <cmath>

#include "audio/SampleCodec.h"
#include "engine/EngineDetail.h"

namespace klarwell {

namespace {

// ---- Sizes from the sample rate.
// Neighbouring blocks overlap by a tenth of a second (SR div 10), so that a click at one block's edge
// lies inside the next.
constexpr int32_t kOverlapDivisor = 10;
// The region around a click is 10 ms: the stretch the second trace, the location and the repair
// work in.
constexpr double kRegionSeconds = 0.01;
// The short trace window is the power of two nearest a quarter of the region (2.5 ms), the tiny
// one half of that: they decide how finely the two traces place a click.
constexpr double kShortWindowsPerRegion = 4.0;
// An analysis frame is the power of two nearest 20 ms: the time resolution of the roughness curve
// and the frequency resolution of the spectrum it is measured on.
constexpr double kFrameSeconds = 0.02;
// From 88.2 kHz on every second sample is analysed, with frames half as many points long, so that a
// frame spans about the same time and its bins about the same frequencies as at lower rates.
constexpr int32_t kDecimateRate = 88200;
// 30 bins at each end of the frame's spectrum (about 1.3 kHz at 44.1 kHz) stay out of the tilt fit
// and the roughness. At high rates the top cut grows so that nothing above 20 kHz counts (the
// formula takes the file's rate, twice a decimated frame's, hence twice the limit there).
constexpr int32_t kBandCutBins = 30;
constexpr double kTopFrequency = 20000.0;
// The repair trains its predictions on an eighth to a half of the region, in about 20 steps.
constexpr int32_t kTrainMinDivisor = 8;
constexpr int32_t kTrainMaxDivisor = 2;
constexpr int32_t kTrainSteps = 20;
// About 0.35 ms of history (RegionLen / 28, at least 8): enough to carry the music's resonances
// across a gap, few enough coefficients to fit on a few milliseconds of intact context.
constexpr int32_t kRefineMinOrder = 8;
constexpr int32_t kRefineOrderDivisor = 28;

// ---- Levels.
// 0 dB of a frame's spectrum: the bin of a full-scale (32767) sine, FrameLen × 32767 / 2, less the
// window's gain of about a third, so that the loudest tone reads about 0 dB whatever the frame length.
constexpr double kFullScale = 32767.0;
constexpr double kWindowGainDivisor = 3.0;

int32_t PowerOfTwoNear(double value) {
  const long k = std::lrint(std::log(value) / std::log(2.0));
  return static_cast<int32_t>(std::lrint(std::pow(2.0, static_cast<double>(k))));
}

}  // namespace

void BuildWindow(std::vector<float>& w, int32_t n) {
  w.assign(static_cast<size_t>(n), 0.0f);
  const int32_t half = n / 2;
  for (int32_t i = 0; i < half; ++i) {
    const float x = static_cast<float>(i) / static_cast<float>(half - 1);
    const double v = 0.35875 - 0.48829 * std::cos(detail::Pi * x) + 0.14128 * std::cos(2.0 * detail::Pi * x) -
                     0.01168 * std::cos(3.0 * detail::Pi * x);
    w[static_cast<size_t>(i)] = static_cast<float>(v);
    w[static_cast<size_t>(n - 1 - i)] = static_cast<float>(v);
  }
}

// Every size from the sample rate alone (and the file's length, for a file shorter than a block);
// then the spectra's floor and reference, and the scale that brings the format's samples to 16-bit
// units.
TEngineSizes MakeEngineSizes(const TWavRecord& format, int32_t floorDb, int32_t blockSeconds) {
  TEngineSizes z;
  const uint32_t sampleRate = format.Format.nSamplesPerSec;
  const uint32_t fileFrames = format.NumFrames;
  z.SampleRate = sampleRate;
  z.BlockAlign = format.Format.nBlockAlign;
  const int32_t sr = static_cast<int32_t>(sampleRate);
  z.BlockFrames = blockSeconds * sr;
  if (fileFrames < static_cast<uint32_t>(z.BlockFrames)) z.BlockFrames = static_cast<int32_t>(fileFrames);

  z.RegionLen = static_cast<int32_t>(std::lrint(sr * kRegionSeconds));
  z.ShortLen = PowerOfTwoNear(z.RegionLen / kShortWindowsPerRegion);
  z.HalfShortLen = z.ShortLen / 2;
  z.FrameLen = PowerOfTwoNear(sr * kFrameSeconds);
  z.LowCutBins = kBandCutBins;
  z.HighCutBins = kBandCutBins;
  z.Decimate = false;
  double limit = kTopFrequency;
  if (sr >= kDecimateRate) {
    z.Decimate = true;
    z.FrameLen /= 2;
    limit = 2.0 * kTopFrequency;
  }
  if (sr * (0.5 - static_cast<double>(kBandCutBins) / z.FrameLen) > limit) {
    z.HighCutBins = static_cast<int32_t>(std::lrint((0.5 - limit / sr) * z.FrameLen));
  }
  z.TrainMin = z.RegionLen / kTrainMinDivisor;
  z.TrainMax = z.RegionLen / kTrainMaxDivisor;
  z.TrainStep = (z.TrainMax - z.TrainMin) / kTrainSteps;
  z.OverlapFrames = sr / kOverlapDivisor;
  z.RefineOrder = std::max(kRefineMinOrder, z.RegionLen / kRefineOrderDivisor);

  z.FloorDb = floorDb;
  const double floorAmplitude = std::pow(10.0, floorDb / 20.0);
  z.FloorPower = floorAmplitude * floorAmplitude;
  const double ref = (z.FrameLen * kFullScale / 2.0) / kWindowGainDivisor;
  z.RefPower = ref * ref;
  z.SampleScale = GetSampleScale(format);
  return z;
}

}  // namespace klarwell
