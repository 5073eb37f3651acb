#pragma once

// The click engine: finds the clicks of one block of audio and replaces the damaged samples.
//
// One TClickEngine serves one file. The driver calls, in this order:
//   InitEngine once per file;
//   per block, in file order: ReadBlock (or LoadBlock) at the block's first frame; AnalyseBlock with
//   grid offset 0 and ProcessBlock on a worker thread; WriteBlock with the block's WriteSkip.
// InitEngine, ReadBlock, LoadBlock and WriteBlock run on the driving thread, AnalyseBlock and
// ProcessBlock on a worker; the two never overlap, so the object needs no lock. Different engines
// share nothing and may run on different threads at the same time.
//
// All positions handed out (click spans, LastRepaired, event fields) are frame indices within the
// current block, 0 .. BlockFrames() - 1. Samples are in 16-bit units: stored value x SampleScale(),
// full scale about +-32767 for every format.
//
// The engine is a frame around five stages, each in its own file pair: the analysis (frame
// roughness), the candidate search, the location, the span refinement and the repair. The refined
// mode adds a sixth, the tick search, which takes the short ticks out before the passes begin and
// whose test the spans of the passes must pass too. The engine owns the block buffers, the pass
// loop and the pass cache; a TClickSpan carries a click from one stage to the next.

#include <cstdint>
#include <functional>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "audio/WavFile.h"
#include "engine/Analysis.h"
#include "engine/CandidateSearch.h"
#include "engine/ClickLocation.h"
#include "engine/ClickRepair.h"
#include "engine/ClickSpan.h"
#include "engine/EngineSizes.h"
#include "engine/SpanRefine.h"
#include "engine/TickSearch.h"
#include "numeric/RoutineSet.h"

namespace klarwell {

class TPassCache;

// One confirmed click, once its repair has run. Positions are block frames.
struct TClickEvent {
  int Channel = 0;      // 0 left, 1 right
  int32_t Pass = 0;     // 0-based pass of the block
  int32_t First = 0;    // the first sample the repair replaces (RepairStart + 1)
  int32_t Last = 0;     // the last one (RepairEnd - 1)
  int32_t Position = 0;  // the candidate position; the click counts when it lies after WriteSkip
  int32_t RegionFirst = 0, RegionLast = 0;  // the region the search examined around it
  TClickOutcome Outcome = TClickOutcome::Unchanged;
  bool Counted = false;  // Position > WriteSkip()
  // Samples First .. Last as they were before the repair; valid during the call only.
  const float* Replaced = nullptr;
};

// Called for every confirmed click after its repair; the channel buffers and TraceBuf() may be read
// during the call.
using TOnClick = std::function<void(const TClickEvent& click)>;

// Thrown out of AnalyseBlock/ProcessBlock when the block's arithmetic raised an invalid operation,
// a division by zero or an overflow. The message names the fault, e.g.
// "Floating point error: division by zero".
class TFloatingPointError : public std::runtime_error {
 public:
  explicit TFloatingPointError(const std::string& what) : std::runtime_error(what) {}
};

// How the engine works on one file, chosen at InitEngine: which span it replaces and with which
// numeric routines. Each engine keeps its own, so files in one process may differ in both.
struct TEngineOptions {
  // Off: the span the location finds is replaced, as it always was. On: the short ticks are found by
  // prediction residuals and filled first, each over a span of its own; then each click the passes
  // accept must show such residuals too, and its span is re-estimated from the waveform (RefineSpan)
  // before anything is reported or repaired.
  bool Refine = false;
  // The numeric routines the engine works with: the reference road's or the default float road's.
  TRoutineSet Routines = TRoutineSet::Fast;
};

namespace detail {
struct TEngineProbe;  // white-box access for the engine's own tests
}

class TClickEngine {
 public:
  // Lowest and highest sample rate the engine processes (Hz).
  static constexpr uint32_t MinSampleRate = 8000;
  static constexpr uint32_t MaxSampleRate = 192000;
  // Analysis frames per block.
  static constexpr int32_t MaxFrames = TFrameAnalysis::MaxFrames;
  // A block is this many seconds of sound (less for a file that is shorter).
  static constexpr int32_t BlockSeconds = 2;

  TClickEngine();
  ~TClickEngine();
  TClickEngine(const TClickEngine&) = delete;
  TClickEngine& operator=(const TClickEngine&) = delete;

  // Derives every size from format's sample rate and allocates all buffers for the file (the
  // previous file's buffers are released first). floorDb is the spectral floor in dB (the driver
  // passes -120). False with a message in errorText ("Out of Memory", "Unsupported sample rate"; in
  // the current language) when the buffers cannot be had or the rate lies outside 8000..192000 Hz.
  // Driving thread.
  // options travel with the file: the next InitEngine may choose differently.
  bool InitEngine(const TWavRecord& format, int32_t floorDb, std::string& errorText,
                  const TEngineOptions& options = {});

  // Reads BlockFrames() frames from frame `position` of the input into BlockBytes() and decodes them
  // into LeftBuf (and RightBuf for stereo). On failure errorText holds the reader's message and the
  // float buffers are left as they were; `errorNumber`, when given, receives the failing system
  // call's errno (0 when none failed). Driving thread.
  bool ReadBlock(const TWavRecord& in, int32_t position, std::string& errorText, int* errorNumber = nullptr);

  // As ReadBlock, from frames already in memory: copies BlockFrames() frames (BlockFrames() x
  // nBlockAlign bytes) from `frames` and decodes them. For hosts that read the file themselves.
  void LoadBlock(const TWavRecord& format, const uint8_t* frames);

  // Measures the spectral roughness of every analysis frame of the block (about 20 ms each, up to
  // 1000 frames) in the left channel and, when isStereo, the right one. gridOffset (0, 1/3, 2/3)
  // shifts every frame start by that fraction of the frame step. onFrame may be empty; an exception
  // it throws leaves this call (the block is then abandoned). Throws TFloatingPointError on a
  // floating-point fault. Worker thread.
  void AnalyseBlock(bool isStereo, const TOnFrame& onFrame, float gridOffset);

  // The pass loop: finds, locates and repairs clicks in both channels (left only for mono), and
  // re-analyses and repeats while a pass changed stored data, at most maxPasses + 1 passes; passes
  // receives the number run. shiftGrid moves the analysis grid by 1/3 frame step per pass. Returns
  // the clicks counted in this block (those after WriteSkip()). Callbacks may be empty; an exception
  // thrown by one leaves this call. Throws TFloatingPointError on a floating-point fault. Worker
  // thread; AnalyseBlock must have run on the block first.
  int32_t ProcessBlock(const TWavRecord& format, int32_t maxPasses, int32_t& passes, bool shiftGrid,
                       const TOnFrame& onFrame, const TOnClick& onClick);

  // Writes BlockBytes() from frame `skip` to the end of the block at file frame position + skip of
  // the output. False with the writer's message in errorText (and, when given, the failing system
  // call's errno in errorNumber, else 0). Driving thread.
  bool WriteBlock(const TWavRecord& out, int32_t position, int32_t skip, std::string& errorText,
                  int* errorNumber = nullptr);

  // ---- The stages, in the order ProcessBlock runs them, on the current block's channel buffers;
  // public so that hosts and tests can drive them one by one. Worker thread.

  // Starts a channel's scan along the roughness curve from its first frame.
  void ResetScan() { Search_.Reset(); }
  // The next click candidate of the channel: true with span.RegionStart and span.Position set;
  // false when the scan reached the end of the curve.
  bool FindNextClick(bool isLeft, TClickSpan& span);
  // Decides whether the candidate is a click: true with span.RepairStart / RepairEnd set,
  // RepairEnd - RepairStart >= 3.
  bool LocateClick(bool isLeft, TClickSpan& span) {
    return Location_.Process(Channel(isLeft), TraceBuf_.data(), span);
  }
  // Refined mode's span, re-estimated from the waveform; false when no residual stands out (no
  // click after all: the scan goes on).
  bool RefineSpan(bool isLeft, TClickSpan& span) { return Refiner_.Process(Channel(isLeft), span); }
  // Replaces the span's damaged samples in the channel buffer and in BlockBytes(), keeping the
  // samples it replaces (ReplacedSamples()). A click too close to its region's edge is left alone.
  TClickOutcome RepairClick(const TWavRecord& format, bool isLeft, const TClickSpan& span);
  // The samples the last RepairClick replaced, as they were (RepairEnd - RepairStart - 1 of them).
  const float* ReplacedSamples() const { return Repair_.Replaced(); }

  // ---- Sizes, valid after InitEngine (frames unless said otherwise).
  int32_t BlockFrames() const { return Sizes_.BlockFrames; }
  int32_t OverlapFrames() const { return Sizes_.OverlapFrames; }
  int32_t RegionLen() const { return Sizes_.RegionLen; }
  int32_t ShortLen() const { return Sizes_.ShortLen; }
  int32_t HalfShortLen() const { return Sizes_.HalfShortLen; }
  int32_t FrameLen() const { return Sizes_.FrameLen; }  // analysed points per frame (halved when Decimate)
  bool Decimate() const { return Sizes_.Decimate; }
  int32_t LowCutBins() const { return Sizes_.LowCutBins; }
  int32_t HighCutBins() const { return Sizes_.HighCutBins; }
  int32_t TrainMin() const { return Sizes_.TrainMin; }
  int32_t TrainMax() const { return Sizes_.TrainMax; }
  int32_t TrainStep() const { return Sizes_.TrainStep; }
  int32_t FloorDb() const { return Sizes_.FloorDb; }
  bool Refine() const { return Options_.Refine; }
  int32_t RefineOrder() const { return Sizes_.RefineOrder; }
  double FloorPower() const { return Sizes_.FloorPower; }
  double RefPower() const { return Sizes_.RefPower; }
  double SampleScale() const { return Sizes_.SampleScale; }
  uint32_t SampleRate() const { return Sizes_.SampleRate; }
  uint32_t BlockAlign() const { return Sizes_.BlockAlign; }

  // Window tables (FrameLen(), ShortLen(), HalfShortLen() points).
  const float* WindowLong() const { return Analysis_.Window(); }
  const float* WindowShort() const { return Search_.WindowShort(); }
  const float* WindowTiny() const { return Search_.WindowTiny(); }

  // ---- Block buffers: BlockFrames() frames / floats each. Read them only while no worker runs, or
  // from inside a callback. Tests and hosts may fill the channel buffers through the mutable ones.
  const uint8_t* BlockBytes() const { return BlockBytes_.data(); }
  const float* LeftBuf() const { return LeftBuf_.data(); }
  const float* RightBuf() const { return RightBuf_.data(); }
  const float* TraceBuf() const { return TraceBuf_.data(); }
  float* LeftBuf() { return LeftBuf_.data(); }
  float* RightBuf() { return RightBuf_.data(); }

  // ---- The last analysis (Frames: FrameCount() entries).
  int32_t FrameCount() const { return Analysis_.FrameCount(); }
  float FrameCentre(int32_t frame) const { return Analysis_.FrameCentre(frame); }
  float FrameLevel(bool isLeft, int32_t frame) const { return Analysis_.FrameLevel(isLeft, frame); }
  float SmoothLevel(bool isLeft, int32_t frame) const { return Analysis_.SmoothLevels(isLeft)[frame]; }

  // ---- Block state (block frames).
  int32_t LastRepaired() const { return LastRepaired_; }  // -1 when nothing was written this block
  // Frames at the start of the block that the previous block already wrote. Set by the driver
  // before ProcessBlock; clicks at or before it are repaired but not counted.
  int32_t WriteSkip() const { return WriteSkip_; }
  void SetWriteSkip(int32_t frames) { WriteSkip_ = frames; }

 private:
  friend struct detail::TEngineProbe;

  void ReleaseBlock();
  bool PrepareStages();
  int32_t ProcessChannel(const TWavRecord& format, int channel, int32_t pass, const TOnClick& onClick,
                         int32_t& found, int32_t& failed);
  TClickEvent RepairAndReport(const TWavRecord& format, int channel, int32_t pass, const TClickSpan& span,
                              const TOnClick& onClick);
  bool RemoveTicks(const TWavRecord& format, bool isStereo, const TOnClick& onClick, int32_t& counted);

  float* Channel(bool isLeft) { return isLeft ? LeftBuf_.data() : RightBuf_.data(); }
  TBlockView Block() { return {LeftBuf_.data(), RightBuf_.data(), BlockBytes_.data()}; }

  const TRoutines* Routines_ = nullptr;  // the set chosen at InitEngine
  TEngineOptions Options_;
  TEngineSizes Sizes_;

  // Block buffers.
  std::vector<uint8_t> BlockBytes_;
  std::vector<float> LeftBuf_, RightBuf_, TraceBuf_;

  TFrameAnalysis Analysis_;
  TCandidateSearch Search_;
  TClickLocation Location_;
  TSpanRefiner Refiner_;
  TTickSearch Ticks_;  // refined mode only
  TClickRepair Repair_;
  // Trace values and frame levels reused by the later passes of a block; off on the reference road.
  std::unique_ptr<TPassCache> PassCache_;

  int32_t LastRepaired_ = -1;
  int32_t WriteSkip_ = 0;
};

}  // namespace klarwell
