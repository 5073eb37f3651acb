#pragma once

// The analysis stage: one roughness value per analysis frame and channel of a block.

#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

#include "engine/EngineSizes.h"
#include "numeric/RoutineSet.h"
#include "numeric/fftunit.h"

namespace klarwell {

class TPassCache;
class TRegress;
class TFastSlidingFit;

// Called after each analysed frame and channel: the frame's index and whether it is the left channel.
// The host's chance to abandon the block (by throwing).
using TOnFrame = std::function<void(int32_t frameIndex, bool isLeft)>;

class TFrameAnalysis {
 public:
  // Analysis frames per block.
  static constexpr int32_t MaxFrames = 1000;

  TFrameAnalysis();
  ~TFrameAnalysis();
  TFrameAnalysis(const TFrameAnalysis&) = delete;
  TFrameAnalysis& operator=(const TFrameAnalysis&) = delete;

  // Allocates the window, the transforms' work buffers, the fits and the result arrays for a file of
  // these sizes. False when a transform buffer cannot be had; throws std::bad_alloc for the rest.
  // Driving thread.
  bool Prepare(const TEngineSizes& sizes, const TRoutines& routines);
  // Forgets the last analysis (no frames).
  void Clear() { FrameCount_ = 0; }

  // Measures every frame of the block's channels (BlockFrames samples each, in 16-bit units; right
  // is read only when isStereo) on the grid moved by gridOffset (0, 1/3, 2/3 of a frame step),
  // taking levels from the pass cache where it knows them. onFrame may be empty. Worker thread.
  void Process(const float* left, const float* right, bool isStereo, const TOnFrame& onFrame,
               float gridOffset, TPassCache& cache);

  // The last analysis: FrameCount() frames, each with its centre (block frame), its level (ten times
  // its roughness) and the smoothed curve the candidate search scans.
  int32_t FrameCount() const { return FrameCount_; }
  float FrameCentre(int32_t frame) const { return FrameCentre_[static_cast<size_t>(frame)]; }
  float FrameLevel(bool isLeft, int32_t frame) const {
    return FrameLevel_[isLeft ? 0 : 1][static_cast<size_t>(frame)];
  }
  const float* SmoothLevels(bool isLeft) const { return SmoothLevel_[isLeft ? 0 : 1].data(); }
  const float* Window() const { return Window_.data(); }  // FrameLen points

 private:
  float LevelOfFrame(const float* x, bool isLeft, int grid, int32_t i, int32_t start, TPassCache& cache);
  double FrameRoughness(const float* x, int32_t start);

  TEngineSizes Sizes_;
  const TRoutines* Routines_ = nullptr;
  std::vector<float> Window_;

  int32_t FrameCount_ = 0;
  std::vector<float> FrameCentre_;
  std::vector<float> FrameLevel_[2];
  std::vector<float> SmoothLevel_[2];

  TFftBuffer FrameWork_;                       // one frame's samples, then its transform
  TFftBuffer HalfWork_;                        // the lifter's copy of the spectrum (FrameLen / 2 + 2)
  TFftBuffer Flat_;                            // the detrended spectrum and its inverse (FrameLen + 2)
  std::vector<float> Spectrum_;                // a frame's dB spectrum (FrameLen / 2)
  std::vector<float> CepRe_, CepIm_, CepMag_;  // the lifter's spectrum (FrameLen / 4)

  std::unique_ptr<TRegress> Roughness_;  // sliding 60-bin window, capacity 121
  std::unique_ptr<TRegress> Fit_;        // the tilt's line fit
  // The float road's counterpart of Roughness_, when the set asks for float fits.
  std::unique_ptr<TFastSlidingFit> FastFit_;
};

}  // namespace klarwell
