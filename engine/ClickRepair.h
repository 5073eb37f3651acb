#pragma once

// The repair stage: the damaged samples are replaced by a blend of forward and backward prediction
// (or, for a refined span, by the refinement's own fill).

#include <cstdint>
#include <vector>

#include "audio/WavFile.h"
#include "engine/ClickSpan.h"
#include "engine/EngineSizes.h"
#include "numeric/RoutineSet.h"

namespace klarwell {

class TPassCache;
class TSpanRefiner;

// The block a repair writes into: its channel buffers (BlockFrames floats each, in 16-bit units) and
// its stored bytes (BlockFrames x BlockAlign).
struct TBlockView {
  float* Left = nullptr;
  float* Right = nullptr;
  uint8_t* Bytes = nullptr;
};

class TClickRepair {
 public:
  // Allocates the predictions' work arrays for a file of these sizes. Throws std::bad_alloc. Driving
  // thread.
  void Prepare(const TEngineSizes& sizes, const TRoutines& routines);

  // Replaces samples span.RepairStart + 1 .. RepairEnd - 1 of the channel, in its buffer and in the
  // stored bytes, keeping the samples it replaces (Replaced()); a click too close to its region's
  // edge is left alone. A refined span (span.Modelled) is filled by `refiner` when one is given and
  // it succeeds. lastRepaired rises to the last sample written; the pass cache forgets what the
  // written samples fed. Worker thread.
  TClickOutcome Process(const TWavRecord& format, TBlockView block, bool isLeft, const TClickSpan& span,
                        TSpanRefiner* refiner, TPassCache& cache, int32_t& lastRepaired);

  // The samples the last Process replaced, as they were (RepairEnd - RepairStart - 1 of them).
  const float* Replaced() const { return Replaced_.data(); }

 private:
  void Predict(const float* x, int32_t edge, int32_t t, bool backward, int32_t count);
  int32_t BestTraining(const float* x, int32_t edge, bool backward, int32_t len, int32_t room);
  void BlendPredictions(const float* x, int32_t rs, int32_t re, int32_t tForward, int32_t tBackward);
  bool StoreRepair(const TWavRecord& format, TBlockView block, bool isLeft, int32_t rs, int32_t count,
                   TPassCache& cache, int32_t& lastRepaired);

  TEngineSizes Sizes_;
  const TRoutines* Routines_ = nullptr;
  std::vector<double> Training_, Prediction_;
  std::vector<float> Forward_, Backward_, Blend_;
  std::vector<float> Replaced_;  // the samples the last repair replaced
};

}  // namespace klarwell
