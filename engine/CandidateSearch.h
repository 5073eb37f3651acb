#pragma once

// The candidate search stage: from a dip of the roughness curve down to one sample.

#include <cstdint>
#include <memory>
#include <vector>

#include "engine/Analysis.h"
#include "engine/ClickSpan.h"
#include "engine/EngineSizes.h"
#include "numeric/RoutineSet.h"
#include "numeric/fftunit.h"

namespace klarwell {

class TPassCache;
class TSinePeak;

class TCandidateSearch {
 public:
  TCandidateSearch();
  ~TCandidateSearch();
  TCandidateSearch(const TCandidateSearch&) = delete;
  TCandidateSearch& operator=(const TCandidateSearch&) = delete;

  // Allocates the trace windows, their transforms' work buffers and the tone test's scratch for a
  // file of these sizes. False when a transform buffer cannot be had; throws std::bad_alloc for the
  // rest. Driving thread.
  bool Prepare(const TEngineSizes& sizes, const TRoutines& routines);

  // Starts a channel's scan along the roughness curve from its first frame.
  void Reset() { ScanIndex_ = 0; }
  // The next candidate of channel x (BlockFrames samples) along the analysis's curve: true with
  // span.RegionStart and span.Position set; false when the scan reached the end of the curve. Writes
  // the detection trace (BlockFrames floats, one per sample) over every stretch it searches, taking
  // values from the pass cache where it knows them. Worker thread.
  bool Next(const float* x, bool isLeft, const TFrameAnalysis& analysis, float* trace, TPassCache& cache,
            TClickSpan& span);

  // The region starting there keeps its trace windows inside the block and ends before the block does
  // (the repair's first backward trial may train on the sample just past it).
  static bool RegionFits(const TEngineSizes& sizes, int32_t regionStart);

  // Window tables (ShortLen and HalfShortLen points).
  const float* WindowShort() const { return WindowShort_.data(); }
  const float* WindowTiny() const { return WindowTiny_.data(); }

 private:
  float TraceAt(const float* x, bool isLeft, int32_t c, bool isShort, TPassCache& cache);
  bool SearchStage(const float* x, const float* t, bool isLeft, int stage, int32_t a, int32_t b, int32_t step,
                   double factor, TPassCache& cache, int32_t& peak);
  int32_t PeakSearch(const float* t, int32_t a, int32_t b, int32_t step, int32_t& lf, int32_t& rf);
  bool ToneTest(const float* x, const float* t, int32_t a, int32_t b, double factor, int32_t pos, int32_t lf,
                int32_t rf);

  TEngineSizes Sizes_;
  const TRoutines* Routines_ = nullptr;
  int32_t ScanIndex_ = 0;

  std::vector<float> WindowShort_, WindowTiny_;
  TFftBuffer ShortWork_;               // ShortLen + 2
  TFftBuffer TinyWork_;                // HalfShortLen + 2
  std::vector<float> WindowSpectrum_;  // a trace window's dB spectrum (ShortLen / 2)

  // The tone test's scratch, sized for the widest stretch a block can hold.
  std::vector<float> Smoothed_;
  std::vector<int32_t> Extrema_, Maxima_, FeetLeft_, FeetRight_;
  std::vector<double> SampleLo_, SampleHi_;
  // The peak search that skips the positions that cannot win, when the set asks for it.
  std::unique_ptr<TSinePeak> SinePeak_;
};

}  // namespace klarwell
