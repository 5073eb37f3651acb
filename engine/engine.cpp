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
  Analysis_.Clear();

  const uint32_t sampleRate = format.Format.nSamplesPerSec;
  // The window tables and work arrays are sized from the rate; below 8 kHz the analysis bands run
  // out of bins, above 192 kHz the prediction's training outgrows its fixed arrays.
  if (sampleRate < MinSampleRate || sampleRate > MaxSampleRate) {
    errorText = Text(EngineTexts[UnsupportedRate]);
    return false;
  }
  Sizes_ = MakeEngineSizes(format, floorDb, BlockSeconds);
  if (!PrepareStages()) {
    ReleaseBlock();
    errorText = Text(EngineTexts[OutOfMemory]);
    return false;
  }
  LastRepaired_ = -1;
  WriteSkip_ = 0;
  return true;
}

void TClickEngine::ReleaseBlock() {
  BlockBytes_.clear();
  BlockBytes_.shrink_to_fit();
  Sizes_.BlockFrames = 0;
}

// The block buffers, every stage's work arrays and the pass cache, all sized here so that no block
// or click allocates. False when memory cannot be had.
bool TClickEngine::PrepareStages() {
  try {
    const auto frames = static_cast<size_t>(Sizes_.BlockFrames);
    BlockBytes_.assign(static_cast<size_t>(Sizes_.BlockAlign) * frames, 0);
    LeftBuf_.assign(frames, 0.0f);
    RightBuf_.assign(frames, 0.0f);
    TraceBuf_.assign(frames, 0.0f);
    if (!Analysis_.Prepare(Sizes_, *Routines_) || !Search_.Prepare(Sizes_, *Routines_)) return false;
    Location_.Prepare(Sizes_);
    Refiner_.Prepare(Sizes_, Options_.Refine);
    if (Options_.Refine) Ticks_.Prepare(Sizes_);
    Repair_.Prepare(Sizes_, *Routines_);
    // The reference road computes every trace value afresh, as it always did.
    if (Routines_->ReusePasses) {
      PassCache_->Allocate(Sizes_.BlockFrames, MaxFrames, Sizes_.SampleRate, Sizes_.ShortLen,
                           (Sizes_.Decimate ? 2 : 1) * Sizes_.FrameLen);
    } else {
      PassCache_->Allocate(0, 0, 0, 0, 0);
    }
  } catch (const std::bad_alloc&) {
    return false;
  }
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
  const uint64_t byteOffset = static_cast<uint64_t>(Sizes_.BlockAlign) * static_cast<uint64_t>(position);
  const auto byteCount = static_cast<uint32_t>(BlockBytes_.size());
  if (!ReadWavData(in, BlockBytes_.data(), byteOffset, byteCount, errorText, errorNumber)) return false;
  DecodeFrames(Sizes_.BlockFrames, BlockBytes_.data(), in, Sizes_.SampleScale, LeftBuf_.data(),
               RightBuf_.data());
  PassCache_->End();
  return true;
}

void TClickEngine::LoadBlock(const TWavRecord& format, const uint8_t* frames) {
  if (!BlockBytes_.empty()) std::memcpy(BlockBytes_.data(), frames, BlockBytes_.size());
  DecodeFrames(Sizes_.BlockFrames, BlockBytes_.data(), format, Sizes_.SampleScale, LeftBuf_.data(),
               RightBuf_.data());
  PassCache_->End();
}

bool TClickEngine::WriteBlock(const TWavRecord& out, int32_t position, int32_t skip, std::string& errorText,
                              int* errorNumber) {
  errorText.clear();
  if (errorNumber) *errorNumber = 0;
  // A skip outside the block would make the byte count wrap around; nothing of the block lies
  // beyond its end, so it is limited to the block.
  skip = std::clamp(skip, 0, Sizes_.BlockFrames);
  if (position < 0) {
    errorText = Text(EngineTexts[BadPosition]);
    return false;
  }
  const uint32_t count = static_cast<uint32_t>(Sizes_.BlockFrames - skip) * Sizes_.BlockAlign;
  if (count == 0) return true;
  const uint64_t byteOffset = (static_cast<uint64_t>(position) + static_cast<uint64_t>(skip)) *
                              static_cast<uint64_t>(Sizes_.BlockAlign);
  return WriteWavData(out, BlockBytes_.data(), byteOffset, count,
                      static_cast<uint32_t>(skip) * Sizes_.BlockAlign, errorText, errorNumber);
}

void TClickEngine::AnalyseBlock(bool isStereo, const TOnFrame& onFrame, float gridOffset) {
  std::feclearexcept(FE_ALL_EXCEPT);
  // The passes that follow may reuse this analysis's frame levels.
  PassCache_->Begin();
  Analysis_.Process(LeftBuf_.data(), RightBuf_.data(), isStereo, onFrame, gridOffset, *PassCache_);
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

  // The refined mode takes the short ticks out first, each with a span of its own; the passes then
  // look at the block without them.
  if (Options_.Refine && RemoveTicks(format, isStereo, onClick, counted))
    Analysis_.Process(LeftBuf_.data(), RightBuf_.data(), isStereo, onFrame, 0.0f, *PassCache_);

  bool progress = false;
  do {
    int32_t found = 0;
    int32_t failed = 0;
    for (int channel = 0; channel < (isStereo ? 2 : 1); ++channel)
      counted += ProcessChannel(format, channel, passes, onClick, found, failed);
    // A pass whose repairs all reproduced the stored bytes would only repeat itself; a click left at
    // its region's edge counts as progress, since the next pass's grid may place it better.
    progress = failed < found;
    // A fault in this pass would feed the next analysis; stop the block here.
    detail::CheckFloatingPoint();
    if (progress) {
      const float offset = shiftGrid ? GridOffsets[(passes + 1) % 3] : 0.0f;
      Analysis_.Process(LeftBuf_.data(), RightBuf_.data(), isStereo, onFrame, offset, *PassCache_);
    }
    ++passes;
  } while (progress && passes <= maxPasses);

  detail::CheckFloatingPoint();
  return counted;
}

// One channel's scan of one pass: every candidate the search finds goes through location,
// refinement (refined mode) and repair, and is reported. Returns the clicks counted; found and
// failed grow by the clicks confirmed and by those whose repair changed nothing.
int32_t TClickEngine::ProcessChannel(const TWavRecord& format, int channel, int32_t pass,
                                     const TOnClick& onClick, int32_t& found, int32_t& failed) {
  const bool isLeft = channel == 0;
  int32_t counted = 0;
  ResetScan();
  TClickSpan span;
  while (FindNextClick(isLeft, span)) {
    if (!LocateClick(isLeft, span)) continue;  // not a click: the scan goes on
    if (Options_.Refine && !RefineSpan(isLeft, span)) continue;
    // What the engine found passes the tick search's test too: no outlier from both sides (or an
    // attack), no click.
    if (Options_.Refine && !Ticks_.Confirms(channel, Channel(isLeft),
                                            format.Format.nChannels == 2 ? Channel(!isLeft) : nullptr,
                                            span.RepairStart + 1, span.RepairEnd - 1))
      continue;
    ++found;
    const TClickEvent click = RepairAndReport(format, channel, pass, span, onClick);
    if (click.Outcome == TClickOutcome::Unchanged) ++failed;
    if (click.Counted) ++counted;
  }
  return counted;
}

// Repairs a confirmed click and tells the host what was done.
TClickEvent TClickEngine::RepairAndReport(const TWavRecord& format, int channel, int32_t pass,
                                          const TClickSpan& span, const TOnClick& onClick) {
  TClickEvent click;
  click.Channel = channel;
  click.Pass = pass;
  click.First = span.RepairStart + 1;
  click.Last = span.RepairEnd - 1;
  click.Position = span.Position;
  click.RegionFirst = span.RegionStart;
  click.RegionLast = span.RegionStart + 2 * (Sizes_.RegionLen / 2);
  click.Counted = span.Position > WriteSkip_;
  click.Outcome = RepairClick(format, channel == 0, span);
  click.Replaced = Repair_.Replaced();
  detail::CallGuarded(onClick, click);
  return click;
}

// The refined mode's tick search over both channels, each tick filled with a model fitted on the
// music around it, over the span the refinement chooses for it (or left, where the fill would bend
// the music). Returns whether a stored sample changed; counted grows by the ticks counted.
bool TClickEngine::RemoveTicks(const TWavRecord& format, bool isStereo, const TOnClick& onClick,
                               int32_t& counted) {
  const int channels = isStereo ? 2 : 1;
  for (int channel = 0; channel < channels; ++channel)
    Ticks_.Process(Channel(channel == 0), isStereo ? Channel(channel != 0) : nullptr, channel);
  if (isStereo) {
    Ticks_.AddCoincident(LeftBuf_.data(), RightBuf_.data(), 0);
    Ticks_.AddCoincident(RightBuf_.data(), LeftBuf_.data(), 1);
  }
  bool changed = false;
  for (int channel = 0; channel < channels; ++channel) {
    float* x = Channel(channel == 0);
    for (int32_t i = 0; i < Ticks_.Count(channel); ++i) {
      TClickSpan span = Ticks_.Span(channel, i);
      span.RepairEnd = Refiner_.ChooseEnd(x, span.RepairStart, Ticks_.Decayed(span), span.RepairEnd,
                                          Ticks_.LongestEnd(span), Ticks_.Sigma(channel, span.Position));
      if (span.RepairEnd < 0) continue;
      span.Modelled = true;
      const TClickEvent click = RepairAndReport(format, channel, 0, span, onClick);
      if (click.Outcome == TClickOutcome::Repaired) changed = true;
      if (click.Counted) ++counted;
    }
  }
  detail::CheckFloatingPoint();
  return changed;
}

bool TClickEngine::FindNextClick(bool isLeft, TClickSpan& span) {
  return Search_.Next(Channel(isLeft), isLeft, Analysis_, TraceBuf_.data(), *PassCache_, span);
}

TClickOutcome TClickEngine::RepairClick(const TWavRecord& format, bool isLeft, const TClickSpan& span) {
  return Repair_.Process(format, Block(), isLeft, span, Options_.Refine ? &Refiner_ : nullptr, *PassCache_,
                         LastRepaired_);
}

}  // namespace klarwell
