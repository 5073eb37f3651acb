// The engine frame: per-file set-up, block read and write, and the pass loop.

#include "engine/engine.h"

#include <algorithm>
#include <cfenv>
#include <cmath>
#include <cstring>
#include <new>

#include "audio/SampleCodec.h"
#include "engine/EngineDetail.h"
#include "numeric/RoutineSet.h"
#include "numeric/fastfit.h"
#include "numeric/fftunit.h"
#include "numeric/peak.h"
#include "numeric/peaksearch.h"
#include "numeric/regress.h"
#include "numeric/slidingfit.h"
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

TClickEngine::TClickEngine() = default;
TClickEngine::~TClickEngine() = default;

bool TClickEngine::InitEngine(const TWavRecord& format, int32_t floorDb, std::string& errorText,
                              const TEngineOptions& options) {
  errorText.clear();
  Options_ = options;
  const TRoutineSet routines = SelectedRoutineSet();
  Fft_ = &BindFftRoutines(routines);

  // The previous file's block is released before anything else, so that a failure below never
  // leaves a block of the old size behind.
  BlockBytes_.clear();
  BlockBytes_.shrink_to_fit();
  BlockFrames_ = 0;
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
  const int32_t sr = static_cast<int32_t>(sampleRate);

  BlockFrames_ = 2 * sr;
  if (format.NumFrames < static_cast<uint32_t>(BlockFrames_))
    BlockFrames_ = static_cast<int32_t>(format.NumFrames);

  RegionLen_ = static_cast<int32_t>(std::lrint(sr * 0.01));
  ShortLen_ = PowerOfTwoNear(RegionLen_ / 4.0);
  HalfShortLen_ = ShortLen_ / 2;
  FrameLen_ = PowerOfTwoNear(sr * 0.02);
  LowCutBins_ = 30;
  HighCutBins_ = 30;
  Decimate_ = false;
  double limit = 20000.0;
  if (sr >= 88200) {
    Decimate_ = true;
    FrameLen_ /= 2;
    limit = 40000.0;
  }
  if (sr * (0.5 - 30.0 / FrameLen_) > limit) {
    HighCutBins_ = static_cast<int32_t>(std::lrint((0.5 - limit / sr) * FrameLen_));
  }
  TrainMin_ = RegionLen_ / 8;
  TrainMax_ = RegionLen_ / 2;
  TrainStep_ = (TrainMax_ - TrainMin_) / 20;
  OverlapFrames_ = sr / 10;
  // About 0.35 ms of history: enough to carry the music's resonances across a gap, few enough
  // coefficients to fit on a few milliseconds of intact context.
  RefineOrder_ = std::max(8, RegionLen_ / 28);

  FloorDb_ = floorDb;
  const double floorAmplitude = std::pow(10.0, floorDb / 20.0);
  FloorPower_ = floorAmplitude * floorAmplitude;
  const double ref = (FrameLen_ * 32767.0 / 2.0) / 3.0;
  RefPower_ = ref * ref;
  SampleScale_ = GetSampleScale(format);

  try {
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
    const auto order = static_cast<size_t>(RefineOrder_);
    ArNormal_.assign(order * (order + 1), 0.0);
    ArCoef_.assign(order + 1, 0.0);
    // The refined fill's banded equations; the default mode never needs them.
    GapSystem_.assign(options.Refine ? maxGap * (order + 2) : 0, 0.0);
    GapKnown_.assign(options.Refine ? maxGap + order + 1 : 0, 0.0);

    Roughness_ = std::make_unique<TRegress>(121);
    Sliding_.reset();
    FastFit_.reset();
    if (routines == TRoutineSet::Exact) Sliding_ = std::make_unique<TSlidingFit>(121);
    if (routines == TRoutineSet::Fast) FastFit_ = std::make_unique<TFastSlidingFit>(121);
    SinePeak_.reset();
    // The longest range searched: a dip's 35 frame steps, each at most a thousandth of the block and
    // a sample, or a 10 ms region. A longer one would only take the plain loop.
    if (routines != TRoutineSet::Reference)
      SinePeak_ = std::make_unique<TSinePeak>(std::max(36 * (BlockFrames_ / 1000 + 2), RegionLen_ + 2));
    Fit_ = std::make_unique<TRegress>(std::max(FrameLen_, RegionLen_ + 2) + 2);
    // The reference road computes every trace value afresh, as it always did.
    LanePrediction_ = routines == TRoutineSet::Fast;
    if (routines != TRoutineSet::Reference) {
      PassCache_.Allocate(static_cast<int32_t>(frames), MaxFrames, SampleRate_, ShortLen_,
                          (Decimate_ ? 2 : 1) * FrameLen_);
    } else {
      PassCache_.Allocate(0, 0, 0, 0, 0);
    }

  } catch (const std::bad_alloc&) {
    BlockBytes_.clear();
    BlockBytes_.shrink_to_fit();
    BlockFrames_ = 0;
    errorText = Text(EngineTexts[OutOfMemory]);
    return false;
  }

  bool allocated = Fft_->AllocLongBuffer(FrameLen_, FrameWork_, Decimate_ ? 1 : 0);
  allocated = allocated && Fft_->AllocBuffer2(ShortLen_, ShortWork_);
  allocated = allocated && Fft_->AllocBuffer3(HalfShortLen_, TinyWork_);
  // The lifter transforms a copy of the FrameLen / 2 point spectrum, so that the spectrum itself
  // stays as it is when no ripple is found; the spectrum's own array has room for FrameLen values.
  allocated = allocated && Fft_->AllocBuffer7(FrameLen_ / 2, HalfWork_);
  allocated = allocated && Fft_->AllocBuffer8(FrameLen_, Flat_);
  if (!allocated) {
    BlockBytes_.clear();
    BlockBytes_.shrink_to_fit();
    BlockFrames_ = 0;
    errorText = Text(EngineTexts[OutOfMemory]);
    return false;
  }

  ScanIndex_ = 0;
  RegionStart_ = RepairStart_ = RepairEnd_ = 0;
  LastRepaired_ = -1;
  WriteSkip_ = 0;
  return true;
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
  PassCache_.End();
  return true;
}

void TClickEngine::LoadBlock(const TWavRecord& format, const uint8_t* frames) {
  if (!BlockBytes_.empty()) std::memcpy(BlockBytes_.data(), frames, BlockBytes_.size());
  DecodeFrames(BlockFrames_, BlockBytes_.data(), format, SampleScale_, LeftBuf_.data(), RightBuf_.data());
  PassCache_.End();
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
  PassCache_.Begin();
  AnalyseFrames(isStereo, onFrame, gridOffset);
  detail::CheckFloatingPoint();
}

int32_t TClickEngine::ProcessBlock(const TWavRecord& format, int32_t maxPasses, int32_t& passes,
                                   bool shiftGrid, const TOnFrame& onFrame,
                                   const TOnClickRepaired& onClickRepaired, const TOnClickFound& onClickFound,
                                   const TOnClickRegion& onClickRegion, const TOnCandidate& onCandidate) {
  std::feclearexcept(FE_ALL_EXCEPT);
  passes = 0;
  LastRepaired_ = -1;
  int32_t counted = 0;
  const bool isStereo = format.Format.nChannels == 2;

  // What one pass computed stays valid for the next wherever no repair touched its samples. The
  // analysis just before the passes has begun the cache already; after the passes the channel
  // buffers may change behind the engine's back.
  if (!PassCache_.Active()) PassCache_.Begin();
  struct TEndCache {
    TPassCache& Cache;
    ~TEndCache() { Cache.End(); }
  } endCache{PassCache_};

  bool progress = false;
  do {
    int32_t found = 0;
    int32_t failed = 0;
    CurrentPass_ = passes;
    for (int channel = 0; channel < (isStereo ? 2 : 1); ++channel) {
      const bool isLeft = channel == 0;
      CurrentIsLeft_ = isLeft;
      ResetScan();
      int32_t pos = 0;
      while (FindNextClick(isLeft, pos, onClickRegion, onCandidate)) {
        if (!LocateClick(isLeft, pos)) continue;  // not a click: the scan goes on
        if (Options_.Refine && !RefineSpan(isLeft)) continue;
        LastClickPosition_ = pos;
        LastClickCounted_ = pos > WriteSkip_;
        detail::CallGuarded(onClickFound);
        ++found;
        LastRepairChanged_ = RepairClick(format, isLeft);
        if (!LastRepairChanged_) ++failed;
        detail::CallGuarded(onClickRepaired);
        if (LastClickCounted_) ++counted;
      }
    }
    // A pass whose repairs all reproduced the stored bytes would only repeat itself.
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
