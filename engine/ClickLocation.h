#pragma once

// The location stage: is a candidate a click, and which samples does it spoil?

#include <cstdint>
#include <memory>
#include <vector>

#include "engine/ClickSpan.h"
#include "engine/EngineSizes.h"

namespace klarwell {

class TRegress;

class TClickLocation {
 public:
  TClickLocation();
  ~TClickLocation();
  TClickLocation(const TClickLocation&) = delete;
  TClickLocation& operator=(const TClickLocation&) = delete;

  // Allocates the shape tests' scratch for a file of these sizes. Throws std::bad_alloc. Driving
  // thread.
  void Prepare(const TEngineSizes& sizes);

  // Decides whether the candidate at span.Position, inside the region from span.RegionStart, is a
  // click of channel x (BlockFrames samples), reading the detection trace (BlockFrames floats) over
  // the region: true with span.RepairStart / RepairEnd set, RepairEnd - RepairStart >= 3. Worker
  // thread.
  bool Process(const float* x, const float* trace, TClickSpan& span);

 private:
  bool SteadyOscillation(const float* x, int32_t a, int32_t b, int32_t c1, int32_t c2);
  bool Rings(const float* x, int32_t a, int32_t b);
  int32_t ExtremumTest(const float* x, int32_t s, int32_t e);
  void OscillationScan(const float* x, int32_t s, int32_t e, bool quadratic, int32_t kMax, long double& kBest,
                       double& gain);
  void EnvelopeTest(const float* x, int32_t s, int32_t e, bool quadratic, long double k, double& z,
                    int32_t& span);
  double EnvelopeRoughness(const float* y, int32_t n, long double k);
  void Detrend(float* y, int32_t n, bool quadratic);

  int32_t BlockFrames_ = 0;
  int32_t RegionLen_ = 0;
  // Scratch sized for the longest stretch a block can hold.
  std::vector<float> Stretch_;
  std::vector<double> Envelope_;
  std::vector<int32_t> Extrema_;
  std::unique_ptr<TRegress> Fit_;  // single line fits
};

}  // namespace klarwell
