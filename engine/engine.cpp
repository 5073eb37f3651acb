// The engine frame: per-file set-up, block read and write, and the pass loop.

#include "engine/engine.h"

#include <algorithm>
#include <cfenv>
#include <cmath>
#include <cstring>
#include <new>

#include "audio/SampleCodec.h"
#include "engine/EngineDetail.h"
#include "engine/PassCache.h"
#include "numeric/RoutineSet.h"
#include "numeric/fastfit.h"
#include "numeric/fftunit.h"
#include "numeric/peak.h"
#include "numeric/peaksearch.h"
#include "numeric/regress.h"
#include "text/LangText.h"

namespace klarwell {

namespace {

enum TEngineText { OutOfMemory, LockFailed, UnsupportedRate, BadPosition, EngineTextCount };

// The engine's messages. LockFailed belongs to allocators with a separate locking step; ours has
// none, but the pair stays so that the table is the same in every build.
constexpr TTextPair EngineTexts[EngineTextCount] = {
    {"Kein Speicher", "Out of Memory"},
    {"Kann Speicher nicht locken", "Failed to Lock Mem"},
    {"Nicht unterstützte Abtastrate", "Unsupported sample rate"},
    {"Ungültige Blockposition", "Invalid block position"},
};

// Grid offsets of the passes after the first: each re-analysis looks at the block through frames
// moved by a third of a step, so that a click on a frame border in one pass lies inside a frame in
// the next.
constexpr float GridOffsets[3] = {0.0f, 1.0f / 3.0f, 2.0f / 3.0f};

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

// ---- Capacities.
// The roughness window's accumulators: the 60-bin window with room to spare.
constexpr int32_t kRoughFitCapacity = 121;

// Four-term window stretched so that both middle points are exactly 1.0.
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

int32_t PowerOfTwoNear(double value) {
  const long k = std::lrint(std::log(value) / std::log(2.0));
  return static_cast<int32_t>(std::lrint(std::pow(2.0, static_cast<double>(k))));
}

}  // namespace

namespace detail {

void CheckFloatingPoint() {
  const int raised = std::fetestexcept(FE_INVALID | FE_DIVBYZERO | FE_OVERFLOW);
  if (raised == 0) return;
  std::feclearexcept(FE_ALL_EXCEPT);
  if (raised & FE_INVALID) throw TFloatingPointError("Floating point error: invalid operation");
  if (raised & FE_DIVBYZERO) throw TFloatingPointError("Floating point error: division by zero");
  throw TFloatingPointError("Floating point error: overflow");
}

}  // namespace detail

TClickEngine::TClickEngine() : PassCache_(std::make_unique<TPassCache>()) {}
TClickEngine::~TClickEngine() = default;

bool TClickEngine::InitEngine(const TWavRecord& format, int32_t floorDb, std::string& errorText,
                              const TEngineOptions& options) {
  errorText.clear();
  Options_ = options;
  Routines_ = &RoutinesOf(options.Routines);

  // The previous file's block is released before anything else, so that a failure below never
  // leaves a block of the old size behind.
  ReleaseBlock();
  FrameCount_ = 0;

  const uint32_t sampleRate = format.Format.nSamplesPerSec;
  // The window tables and work arrays are sized from the rate; below 8 kHz the analysis bands run
  // out of bins, above 192 kHz the prediction's training outgrows its fixed arrays.
  if (sampleRate < MinSampleRate || sampleRate > MaxSampleRate) {
    errorText = Text(EngineTexts[UnsupportedRate]);
    return false;
  }
  SampleRate_ = sampleRate;
  BlockAlign_ = format.Format.nBlockAlign;
  DeriveSizes(sampleRate, format.NumFrames);
  DeriveLevels(format, floorDb);

  try {
    AllocateBuffers();
    BindRoad();
  } catch (const std::bad_alloc&) {
    ReleaseBlock();
    errorText = Text(EngineTexts[OutOfMemory]);
    return false;
  }
  if (!AllocateTransformBuffers()) {
    ReleaseBlock();
    errorText = Text(EngineTexts[OutOfMemory]);
    return false;
  }

  ScanIndex_ = 0;
  RegionStart_ = RepairStart_ = RepairEnd_ = 0;
  LastRepaired_ = -1;
  WriteSkip_ = 0;
  return true;
}

void TClickEngine::ReleaseBlock() {
  BlockBytes_.clear();
  BlockBytes_.shrink_to_fit();
  BlockFrames_ = 0;
}

// Every size the stages use, from the sample rate alone (and the file's length, for a file shorter
// than a block).
void TClickEngine::DeriveSizes(uint32_t sampleRate, uint32_t fileFrames) {
  const int32_t sr = static_cast<int32_t>(sampleRate);
  BlockFrames_ = BlockSeconds * sr;
  if (fileFrames < static_cast<uint32_t>(BlockFrames_)) BlockFrames_ = static_cast<int32_t>(fileFrames);

  RegionLen_ = static_cast<int32_t>(std::lrint(sr * kRegionSeconds));
  ShortLen_ = PowerOfTwoNear(RegionLen_ / kShortWindowsPerRegion);
  HalfShortLen_ = ShortLen_ / 2;
  FrameLen_ = PowerOfTwoNear(sr * kFrameSeconds);
  LowCutBins_ = kBandCutBins;
  HighCutBins_ = kBandCutBins;
  Decimate_ = false;
  double limit = kTopFrequency;
  if (sr >= kDecimateRate) {
    Decimate_ = true;
    FrameLen_ /= 2;
    limit = 2.0 * kTopFrequency;
  }
  if (sr * (0.5 - static_cast<double>(kBandCutBins) / FrameLen_) > limit) {
    HighCutBins_ = static_cast<int32_t>(std::lrint((0.5 - limit / sr) * FrameLen_));
  }
  TrainMin_ = RegionLen_ / kTrainMinDivisor;
  TrainMax_ = RegionLen_ / kTrainMaxDivisor;
  TrainStep_ = (TrainMax_ - TrainMin_) / kTrainSteps;
  OverlapFrames_ = sr / kOverlapDivisor;
  RefineOrder_ = std::max(kRefineMinOrder, RegionLen_ / kRefineOrderDivisor);
}

// The spectra's floor and reference, and the scale that brings the format's samples to 16-bit units.
void TClickEngine::DeriveLevels(const TWavRecord& format, int32_t floorDb) {
  FloorDb_ = floorDb;
  const double floorAmplitude = std::pow(10.0, floorDb / 20.0);
  FloorPower_ = floorAmplitude * floorAmplitude;
  const double ref = (FrameLen_ * kFullScale / 2.0) / kWindowGainDivisor;
  RefPower_ = ref * ref;
  SampleScale_ = GetSampleScale(format);
}

// The block, the window tables, the analysis arrays and the stages' work arrays, all sized here so
// that no block or click allocates. Throws std::bad_alloc.
void TClickEngine::AllocateBuffers() {
  BlockBytes_.assign(static_cast<size_t>(BlockAlign_) * static_cast<size_t>(BlockFrames_), 0);
  const size_t frames = static_cast<size_t>(BlockFrames_);
  LeftBuf_.assign(frames, 0.0f);
  RightBuf_.assign(frames, 0.0f);
  TraceBuf_.assign(frames, 0.0f);

  BuildWindow(WindowLong_, FrameLen_);
  BuildWindow(WindowShort_, ShortLen_);
  BuildWindow(WindowTiny_, HalfShortLen_);

  FrameCentre_.assign(MaxFrames, 0.0f);
  for (int c = 0; c < 2; ++c) {
    FrameLevel_[c].assign(MaxFrames, 0.0f);
    SmoothLevel_[c].assign(MaxFrames, 0.0f);
  }

  const auto frameLen = static_cast<size_t>(FrameLen_);
  Spectrum_.assign(frameLen / 2 + 1, 0.0f);
  CepRe_.assign(frameLen / 4 + 1, 0.0f);
  CepIm_.assign(frameLen / 4 + 1, 0.0f);
  CepMag_.assign(frameLen / 4 + 1, 0.0f);
  WindowSpectrum_.assign(static_cast<size_t>(ShortLen_) / 2 + 1, 0.0f);

  // A candidate stretch spans at most 35 frame steps, a region RegionLen samples; both lie
  // inside the block, so one block's worth of scratch always suffices.
  const size_t scratch = frames + 2;
  Scratch_.assign(scratch, 0.0f);
  Scratch2_.assign(scratch, 0.0f);
  Envelope_.assign(scratch, 0.0);
  Extrema_.assign(kMaxExtrema, 0);
  Maxima_.assign(kMaxExtrema, 0);
  FeetLeft_.assign(kMaxExtrema, 0);
  FeetRight_.assign(kMaxExtrema, 0);
  SampleLo_.assign(kMaxExtrema, 0.0);
  SampleHi_.assign(kMaxExtrema, 0.0);

  // 3L <= RegionLen for every repaired click (the edge test), so L <= RegionLen / 3.
  const auto maxGap = static_cast<size_t>(RegionLen_ / 3 + 2);
  Training_.assign(static_cast<size_t>(std::max(TrainMax_, RegionLen_)) + 2, 0.0);
  Prediction_.assign(2 * maxGap + 2, 0.0);
  Forward_.assign(maxGap, 0.0f);
  Backward_.assign(maxGap, 0.0f);
  Blend_.assign(maxGap, 0.0f);
  // A click left at its region's edge may be longer than a repaired one; none is longer than its region.
  Replaced_.assign(static_cast<size_t>(RegionLen_) + 2, 0.0f);
  const auto order = static_cast<size_t>(RefineOrder_);
  ArNormal_.assign(order * (order + 1), 0.0);
  ArCoef_.assign(order + 1, 0.0);
  // The refined fill's banded equations; the default mode never needs them.
  GapSystem_.assign(Options_.Refine ? maxGap * (order + 2) : 0, 0.0);
  GapKnown_.assign(Options_.Refine ? maxGap + order + 1 : 0, 0.0);
  GapFill_.assign(Options_.Refine ? maxGap : 0, 0.0);
}

// The fits, the peak search and the pass cache the routine set asks for. Throws std::bad_alloc.
void TClickEngine::BindRoad() {
  Roughness_ = std::make_unique<TRegress>(kRoughFitCapacity);
  FastFit_.reset();
  if (Routines_->FloatFits) FastFit_ = std::make_unique<TFastSlidingFit>(kRoughFitCapacity);
  SinePeak_.reset();
  // The longest range searched: a dip's 35 frame steps, each at most a thousandth of the block and
  // a sample, or a 10 ms region. A longer one would only take the plain loop.
  if (Routines_->SkipHopelessPeaks)
    SinePeak_ =
        std::make_unique<TSinePeak>(std::max(detail::kMaxDipFrames * (BlockFrames_ / 1000 + 2), RegionLen_ + 2));
  Fit_ = std::make_unique<TRegress>(std::max(FrameLen_, RegionLen_ + 2) + 2);
  // The reference road computes every trace value afresh, as it always did.
  if (Routines_->ReusePasses) {
    PassCache_->Allocate(BlockFrames_, MaxFrames, SampleRate_, ShortLen_, (Decimate_ ? 2 : 1) * FrameLen_);
  } else {
    PassCache_->Allocate(0, 0, 0, 0, 0);
  }
}

// The transforms' work buffers, from the routine set's allocator. False when one cannot be had.
bool TClickEngine::AllocateTransformBuffers() {
  const auto alloc = Routines_->AllocBuffer;
  bool allocated = alloc(FrameLen_, FrameWork_, Decimate_ ? 1 : 0);
  allocated = allocated && alloc(ShortLen_, ShortWork_, 0);
  allocated = allocated && alloc(HalfShortLen_, TinyWork_, 0);
  // The lifter transforms a copy of the FrameLen / 2 point spectrum, so that the spectrum itself
  // stays as it is when no ripple is found; the spectrum's own array has room for FrameLen values.
  allocated = allocated && alloc(FrameLen_ / 2, HalfWork_, 0);
  allocated = allocated && alloc(FrameLen_, Flat_, 0);
  return allocated;
}

bool TClickEngine::ReadBlock(const TWavRecord& in, int32_t position, std::string& errorText,
                             int* errorNumber) {
  errorText.clear();
  if (errorNumber) *errorNumber = 0;
  // A negative frame would turn into an offset far beyond the file; reading block 0 instead
  // would hand the wrong samples on as if they were right.
  if (position < 0) {
    errorText = Text(EngineTexts[BadPosition]);
    return false;
  }
  const uint64_t byteOffset = static_cast<uint64_t>(BlockAlign_) * static_cast<uint64_t>(position);
  const auto byteCount = static_cast<uint32_t>(BlockBytes_.size());
  if (!ReadWavData(in, BlockBytes_.data(), byteOffset, byteCount, errorText, errorNumber)) return false;
  DecodeFrames(BlockFrames_, BlockBytes_.data(), in, SampleScale_, LeftBuf_.data(), RightBuf_.data());
  PassCache_->End();
  return true;
}

void TClickEngine::LoadBlock(const TWavRecord& format, const uint8_t* frames) {
  if (!BlockBytes_.empty()) std::memcpy(BlockBytes_.data(), frames, BlockBytes_.size());
  DecodeFrames(BlockFrames_, BlockBytes_.data(), format, SampleScale_, LeftBuf_.data(), RightBuf_.data());
  PassCache_->End();
}

bool TClickEngine::WriteBlock(const TWavRecord& out, int32_t position, int32_t skip, std::string& errorText,
                              int* errorNumber) {
  errorText.clear();
  if (errorNumber) *errorNumber = 0;
  // A skip outside the block would make the byte count wrap around; nothing of the block lies
  // beyond its end, so it is limited to the block.
  skip = std::clamp(skip, 0, BlockFrames_);
  if (position < 0) {
    errorText = Text(EngineTexts[BadPosition]);
    return false;
  }
  const uint32_t count = static_cast<uint32_t>(BlockFrames_ - skip) * BlockAlign_;
  if (count == 0) return true;
  const uint64_t byteOffset =
      (static_cast<uint64_t>(position) + static_cast<uint64_t>(skip)) * static_cast<uint64_t>(BlockAlign_);
  return WriteWavData(out, BlockBytes_.data(), byteOffset, count, static_cast<uint32_t>(skip) * BlockAlign_,
                      errorText, errorNumber);
}

void TClickEngine::AnalyseBlock(bool isStereo, const TOnFrame& onFrame, float gridOffset) {
  std::feclearexcept(FE_ALL_EXCEPT);
  // The passes that follow may reuse this analysis's frame levels.
  PassCache_->Begin();
  AnalyseFrames(isStereo, onFrame, gridOffset);
  detail::CheckFloatingPoint();
}

int32_t TClickEngine::ProcessBlock(const TWavRecord& format, int32_t maxPasses, int32_t& passes,
                                   bool shiftGrid, const TOnFrame& onFrame, const TOnClick& onClick) {
  std::feclearexcept(FE_ALL_EXCEPT);
  passes = 0;
  LastRepaired_ = -1;
  int32_t counted = 0;
  const bool isStereo = format.Format.nChannels == 2;

  // What one pass computed stays valid for the next wherever no repair touched its samples. The
  // analysis just before the passes has begun the cache already; after the passes the channel
  // buffers may change behind the engine's back.
  if (!PassCache_->Active()) PassCache_->Begin();
  struct TEndCache {
    TPassCache& Cache;
    ~TEndCache() { Cache.End(); }
  } endCache{*PassCache_};

  bool progress = false;
  do {
    int32_t found = 0;
    int32_t failed = 0;
    for (int channel = 0; channel < (isStereo ? 2 : 1); ++channel) {
      const bool isLeft = channel == 0;
      ResetScan();
      int32_t pos = 0;
      while (FindNextClick(isLeft, pos)) {
        if (!LocateClick(isLeft, pos)) continue;  // not a click: the scan goes on
        if (Options_.Refine && !RefineSpan(isLeft)) continue;
        ++found;
        TClickEvent click;
        click.Channel = channel;
        click.Pass = passes;
        click.First = RepairStart_ + 1;
        click.Last = RepairEnd_ - 1;
        click.Position = pos;
        click.RegionFirst = RegionStart_;
        click.RegionLast = RegionStart_ + 2 * (RegionLen_ / 2);
        click.Counted = pos > WriteSkip_;
        click.Outcome = RepairClick(format, isLeft);
        click.Replaced = Replaced_.data();
        if (click.Outcome == TClickOutcome::Unchanged) ++failed;
        if (click.Counted) ++counted;
        detail::CallGuarded(onClick, click);
      }
    }
    // A pass whose repairs all reproduced the stored bytes would only repeat itself; a click left at
    // its region's edge counts as progress, since the next pass's grid may place it better.
    progress = failed < found;
    // A fault in this pass would feed the next analysis; stop the block here.
    detail::CheckFloatingPoint();
    if (progress) {
      const float offset = shiftGrid ? GridOffsets[(passes + 1) % 3] : 0.0f;
      AnalyseFrames(isStereo, onFrame, offset);
    }
    ++passes;
  } while (progress && passes <= maxPasses);

  detail::CheckFloatingPoint();
  return counted;
}

}  // namespace klarwell
