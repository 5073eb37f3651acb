#pragma once

// The refined mode's own search for short ticks: the clicks of a few samples that sit under loud
// music, where they barely change a 20-ms frame's roughness and the engine's candidate search does
// not see them.

#include <algorithm>
#include <cstdint>
#include <vector>

#include "engine/ClickSpan.h"
#include "engine/EngineSizes.h"

namespace klarwell {

class TTickSearch {
 public:
  // Allocates the residuals, the local scales and the list of spans for a file of these sizes.
  // Throws std::bad_alloc. Driving thread.
  void Prepare(const TEngineSizes& sizes);

  // Finds the ticks of channel x (BlockFrames samples); `other` is the other channel of a stereo
  // block, or null. Returns how many; Span(channel, i) gives each, with RepairStart / RepairEnd
  // around the whole disturbance (the tick and the swing that follows it) and RegionStart placing a
  // region around it. Worker thread.
  int32_t Process(const float* x, const float* other, int channel);
  // Once both channels of a stereo block went through Process: adds to the channel the ticks that
  // stand out less but lie where the other channel has one (a groove defect reaches both sides).
  // Their spans follow the channel's others and overlap none. Returns the channel's count now.
  int32_t AddCoincident(const float* x, const float* other, int channel);
  int32_t Count(int channel) const { return Count_[channel]; }
  const TClickSpan& Span(int channel, int32_t i) const { return Spans_[channel][static_cast<size_t>(i)]; }

  // Whether samples first .. last of the channel hold one that stands out as a tick's do, by the score
  // its Process computed: the test a span the engine found must pass too.
  // x and other are the channel and the other one (null for mono), as for Process.
  bool Confirms(int channel, const float* x, const float* other, int32_t first, int32_t last) const;

  // The music's own residual scale (a standard deviation) around sample `at` of the channel.
  double Sigma(int channel, int32_t at) const { return Scale_[channel][static_cast<size_t>(at / Chunk_)]; }
  // For a span Process gave: where the tick's spike has decayed, one time constant after its last
  // outlier; and how far its swing may reach, four time constants more, while the repair still
  // trains on the span's length before and after it inside the region.
  int32_t Decayed(const TClickSpan& span) const { return span.RepairEnd - After_ + Before_; }
  int32_t LongestEnd(const TClickSpan& span) const {
    return std::min(span.RepairEnd + After_, (RegionLen_ + span.RepairStart + span.RegionStart) / 2);
  }

 private:
  void FitSegments(const float* x, int channel);
  void LocalScales(int channel);
  bool TickAt(const float* x, const float* other, int channel, int32_t at, float least, TClickSpan& span,
              int32_t& next) const;
  void Add(int channel, const TClickSpan& span);
  bool Damaged(int channel, int32_t first, int32_t last) const;
  bool MusicalAttack(int channel, const float* x, const float* other, int32_t first, int32_t last) const;

  int32_t BlockFrames_ = 0;
  int32_t RegionLen_ = 0;
  int32_t Order_ = 0;
  int32_t Segment_ = 0;   // samples that share one model
  int32_t Chunk_ = 0;     // samples that share one residual level
  int32_t Before_ = 0;    // intact margin kept before a tick's first outlier
  int32_t After_ = 0;     // the swing after its last one
  int32_t MaxCore_ = 0;   // the widest run of outliers that is still a tick
  int32_t Join_ = 0;      // outliers this close are one tick
  double Floor_ = 0.0;    // the smallest residual scale: the 16-bit step's rounding noise
  // Per channel: the residuals, and the score of each sample, the geometric mean of its two residuals
  // over the local scale (0 where a residual could not be formed).
  std::vector<float> Forward_[2], Backward_[2], Score_[2];
  std::vector<float> ChunkLevel_[2], Scale_[2];
  std::vector<double> Windowed_, Hann_;
  std::vector<TClickSpan> Spans_[2];
  int32_t Count_[2] = {0, 0};
  int32_t Found_[2] = {0, 0};  // of them, found by Process alone
};

}  // namespace klarwell
