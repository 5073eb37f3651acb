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
// All positions handed out (RegionStart, RepairStart, RepairEnd, LastRepaired, callback arguments)
// are frame indices within the current block, 0 .. BlockFrames() - 1. Samples are in 16-bit units:
// stored value x SampleScale(), full scale about +-32767 for every format.

#include <cstdint>
#include <functional>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "audio/WavFile.h"
#include "numeric/RoutineSet.h"
#include "numeric/fftunit.h"

namespace klarwell {

class TPassCache;
class TRegress;
class TFastSlidingFit;
class TSinePeak;

// Called after each analysed frame and channel: the frame's index and whether it is the left channel.
// The host's chance to abandon the block (by throwing).
using TOnFrame = std::function<void(int32_t frameIndex, bool isLeft)>;

// What a repair did to a confirmed click.
enum class TClickOutcome {
  Repaired,    // the replacement changed stored bytes
  Unchanged,   // the replacement reproduced the stored bytes, or the span was too short to blend
  LeftAtEdge,  // too close to its region's edge to train on both sides: left alone for a later pass
};

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
  // Off: the span LocateClick finds is replaced, as it always was. On: each accepted click's span is
  // re-estimated from the waveform (RefineSpan) before anything is reported or repaired.
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
  static constexpr int32_t MaxFrames = 1000;
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

  // ---- The stages, in the order ProcessBlock runs them; public so that hosts and tests can drive
  // them one by one. Worker thread.

  // Starts a channel's scan along the roughness curve from its first frame.
  void ResetScan() { ScanIndex_ = 0; }
  // The next click candidate of the channel: true with pos (block frame) and RegionStart() set;
  // false when the scan reached the end of the curve.
  bool FindNextClick(bool isLeft, int32_t& pos);
  // For hosts and tests that drive the stages below without the candidate search: the region the
  // next LocateClick examines starts at block frame regionStart, with the detection trace over it
  // (RegionLen() values) taken from `trace`. False, with nothing changed, when the region does not lie
  // where the search could place one (its trace windows and the repair's trials inside the block).
  bool SetRegion(int32_t regionStart, const float* trace);
  // Decides whether the candidate at pos (inside the region starting at RegionStart()) is a click;
  // true with RepairStart()/RepairEnd() set, RepairEnd() - RepairStart() >= 3.
  bool LocateClick(bool isLeft, int32_t pos);
  // Refined mode's span: moves RepairStart()/RepairEnd() to the samples whose prediction residual
  // stands out from the intact signal around the click, searching within the region. False when no
  // residual stands out (no click after all: the scan goes on). When a found span would leave
  // RepairClick no room to train on both sides, LocateClick's stays. Afterwards still
  // RepairEnd() - RepairStart() >= 3.
  bool RefineSpan(bool isLeft);
  // Replaces samples RepairStart() + 1 .. RepairEnd() - 1 of the channel by a blend of forward and
  // backward prediction, in the channel buffer and in BlockBytes(), keeping the samples it replaces
  // (ReplacedSamples()). A click too close to its region's edge is left alone.
  TClickOutcome RepairClick(const TWavRecord& format, bool isLeft);
  // The samples the last RepairClick replaced, as they were (RepairEnd() - RepairStart() - 1 of them).
  const float* ReplacedSamples() const { return Replaced_.data(); }

  // ---- Sizes, valid after InitEngine (frames unless said otherwise).
  int32_t BlockFrames() const { return BlockFrames_; }
  int32_t OverlapFrames() const { return OverlapFrames_; }
  int32_t RegionLen() const { return RegionLen_; }
  int32_t ShortLen() const { return ShortLen_; }
  int32_t HalfShortLen() const { return HalfShortLen_; }
  int32_t FrameLen() const { return FrameLen_; }  // analysed points per frame (halved when Decimate)
  bool Decimate() const { return Decimate_; }
  int32_t LowCutBins() const { return LowCutBins_; }
  int32_t HighCutBins() const { return HighCutBins_; }
  int32_t TrainMin() const { return TrainMin_; }
  int32_t TrainMax() const { return TrainMax_; }
  int32_t TrainStep() const { return TrainStep_; }
  int32_t FloorDb() const { return FloorDb_; }
  bool Refine() const { return Options_.Refine; }
  int32_t RefineOrder() const { return RefineOrder_; }
  double FloorPower() const { return FloorPower_; }
  double RefPower() const { return RefPower_; }
  double SampleScale() const { return SampleScale_; }
  uint32_t SampleRate() const { return SampleRate_; }
  uint32_t BlockAlign() const { return BlockAlign_; }

  // Window tables (FrameLen(), ShortLen(), HalfShortLen() points).
  const float* WindowLong() const { return WindowLong_.data(); }
  const float* WindowShort() const { return WindowShort_.data(); }
  const float* WindowTiny() const { return WindowTiny_.data(); }

  // ---- Block buffers: BlockFrames() frames / floats each. Read them only while no worker runs, or
  // from inside a callback. Tests and hosts may fill the channel buffers through the mutable ones.
  const uint8_t* BlockBytes() const { return BlockBytes_.data(); }
  const float* LeftBuf() const { return LeftBuf_.data(); }
  const float* RightBuf() const { return RightBuf_.data(); }
  const float* TraceBuf() const { return TraceBuf_.data(); }
  float* LeftBuf() { return LeftBuf_.data(); }
  float* RightBuf() { return RightBuf_.data(); }

  // ---- The last analysis (Frames: FrameCount() entries).
  int32_t FrameCount() const { return FrameCount_; }
  float FrameCentre(int32_t frame) const { return FrameCentre_[frame]; }
  float FrameLevel(bool isLeft, int32_t frame) const { return FrameLevel_[isLeft ? 0 : 1][frame]; }
  float SmoothLevel(bool isLeft, int32_t frame) const { return SmoothLevel_[isLeft ? 0 : 1][frame]; }

  // ---- Shared click state (block frames).
  int32_t RegionStart() const { return RegionStart_; }
  int32_t RepairStart() const { return RepairStart_; }
  int32_t RepairEnd() const { return RepairEnd_; }
  int32_t LastRepaired() const { return LastRepaired_; }  // -1 when nothing was written this block
  // Frames at the start of the block that the previous block already wrote. Set by the driver
  // before ProcessBlock; clicks at or before it are repaired but not counted.
  int32_t WriteSkip() const { return WriteSkip_; }
  void SetWriteSkip(int32_t frames) { WriteSkip_ = frames; }

 private:
  friend struct detail::TEngineProbe;

  // InitEngine's stages (engine.cpp).
  void ReleaseBlock();
  void DeriveSizes(uint32_t sampleRate, uint32_t fileFrames);
  void DeriveLevels(const TWavRecord& format, int32_t floorDb);
  void AllocateBuffers();
  void BindRoad();
  bool AllocateTransformBuffers();

  // Stage internals (Analysis.cpp, CandidateSearch.cpp, ClickLocation.cpp, ClickRepair.cpp).
  void AnalyseFrames(bool isStereo, const TOnFrame& onFrame, float gridOffset);
  double FrameRoughness(const float* x, int32_t start);
  float LevelOfFrame(bool isLeft, int grid, int32_t i, int32_t start);
  float TraceValue(const float* x, int32_t start, int32_t n, const float* window, float* work);
  // The region starting there keeps its trace windows inside the block and ends before the block does
  // (the repair's first backward trial may train on the sample just past it).
  bool RegionFits(int32_t regionStart) const;
  float TraceAt(const float* x, bool isLeft, int32_t c, bool isShort);
  int32_t PeakSearch(int32_t a, int32_t b, int32_t step, int32_t& lf, int32_t& rf);
  bool ToneTest(const float* x, int32_t a, int32_t b, double factor, int32_t pos, int32_t lf, int32_t rf);
  bool SearchStage(const float* x, bool isLeft, int stage, int32_t a, int32_t b, int32_t step, double factor,
                   int32_t& peak);
  bool SteadyOscillation(const float* x, int32_t a, int32_t b, int32_t c1, int32_t c2);
  bool Rings(const float* x, int32_t a, int32_t b);
  int32_t ExtremumTest(const float* x, int32_t s, int32_t e);
  void OscillationScan(const float* x, int32_t s, int32_t e, bool quadratic, int32_t kMax, long double& kBest,
                       double& gain);
  void EnvelopeTest(const float* x, int32_t s, int32_t e, bool quadratic, long double k, double& z,
                    int32_t& span);
  double EnvelopeRoughness(const float* y, int32_t n, long double k);
  void Detrend(float* y, int32_t n, bool quadratic);
  void Predict(const float* x, int32_t edge, int32_t t, bool backward, int32_t count);
  int32_t BestTraining(const float* x, int32_t edge, bool backward, int32_t len, int32_t room);
  void BlendPredictions(const float* x, int32_t rs, int32_t re, int32_t tForward, int32_t tBackward);
  bool StoreRepair(const TWavRecord& format, bool isLeft, int32_t rs, int32_t count);
  bool FitContextModel(const float* x, int32_t s, int32_t e, int32_t context);
  bool InterpolateGap(const float* x, int32_t rs, int32_t re);
  void GapEquations(const float* x, int32_t rs, int32_t re, const double* c);
  void ResidualSpan(const float* x, int32_t s, int32_t e, int32_t context, int32_t& first, int32_t& last,
                    bool& damagedBefore, bool& damagedAfter) const;

  float* Channel(bool isLeft) { return isLeft ? LeftBuf_.data() : RightBuf_.data(); }

  const TRoutines* Routines_ = nullptr;  // the set chosen at InitEngine

  // Sizes.
  uint32_t SampleRate_ = 0;
  uint32_t BlockAlign_ = 0;
  int32_t BlockFrames_ = 0;
  int32_t OverlapFrames_ = 0;
  int32_t RegionLen_ = 0;
  int32_t ShortLen_ = 0;
  int32_t HalfShortLen_ = 0;
  int32_t FrameLen_ = 0;
  bool Decimate_ = false;
  int32_t LowCutBins_ = 30;
  int32_t HighCutBins_ = 30;
  int32_t TrainMin_ = 0;
  int32_t TrainMax_ = 0;
  int32_t TrainStep_ = 0;
  int32_t FloorDb_ = -120;
  TEngineOptions Options_;
  int32_t RefineOrder_ = 0;  // of the refined span's autoregressive model
  double FloorPower_ = 0;
  double RefPower_ = 0;
  double SampleScale_ = 0;

  // Block buffers.
  std::vector<uint8_t> BlockBytes_;
  std::vector<float> LeftBuf_, RightBuf_, TraceBuf_;

  // Window tables.
  std::vector<float> WindowLong_, WindowShort_, WindowTiny_;

  // Analysis results.
  int32_t FrameCount_ = 0;
  std::vector<float> FrameCentre_;
  std::vector<float> FrameLevel_[2];
  std::vector<float> SmoothLevel_[2];

  // Transform work buffers.
  TFftBuffer FrameWork_;                       // one frame's samples, then its transform
  TFftBuffer ShortWork_;                       // ShortLen + 2
  TFftBuffer TinyWork_;                        // HalfShortLen + 2
  TFftBuffer HalfWork_;                        // the lifter's copy of the spectrum (FrameLen / 2 + 2)
  TFftBuffer Flat_;                            // the detrended spectrum and its inverse (FrameLen + 2)
  std::vector<float> Spectrum_;                // a frame's dB spectrum (FrameLen / 2)
  std::vector<float> CepRe_, CepIm_, CepMag_;  // the lifter's spectrum (FrameLen / 4)
  std::vector<float> WindowSpectrum_;          // a trace window's dB spectrum (ShortLen / 2)

  // Scratch for the shape tests, sized for the longest stretch a block can hold.
  std::vector<float> Scratch_, Scratch2_;
  std::vector<double> Envelope_;
  std::vector<int32_t> Extrema_, Maxima_, FeetLeft_, FeetRight_;
  std::vector<double> SampleLo_, SampleHi_;

  // Repair work arrays.
  std::vector<double> Training_, Prediction_;
  std::vector<float> Forward_, Backward_, Blend_;
  std::vector<float> Replaced_;  // the samples the last repair replaced
  std::vector<double> ArNormal_, ArCoef_;     // the refined span's model: normal equations, coefficients
  std::vector<double> GapSystem_, GapKnown_;  // the refined fill's equations and known residual parts
  std::vector<double> GapFill_;               // the refined fill's solution
  bool ModelReady_ = false;                   // ArCoef_ was fitted around the current click

  std::unique_ptr<TRegress> Roughness_;  // sliding 60-bin window, capacity 121
  std::unique_ptr<TRegress> Fit_;        // single line fits
  // The float road's counterpart of Roughness_, when the set asks for float fits.
  std::unique_ptr<TFastSlidingFit> FastFit_;
  // The peak search that skips the positions that cannot win, when the set asks for it.
  std::unique_ptr<TSinePeak> SinePeak_;
  // Trace values and frame levels reused by the later passes of a block; off on the reference road.
  std::unique_ptr<TPassCache> PassCache_;

  // Scan and click state.
  int32_t ScanIndex_ = 0;
  int32_t RegionStart_ = 0;
  int32_t RepairStart_ = 0;
  int32_t RepairEnd_ = 0;
  int32_t LastRepaired_ = -1;
  int32_t WriteSkip_ = 0;
};

}  // namespace klarwell
