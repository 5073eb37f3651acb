#pragma once

// Every size and level the engine's stages work with, derived once per file from its format.

#include <cstdint>
#include <vector>

#include "audio/WavFile.h"

namespace klarwell {

// Frames unless said otherwise; levels in the units of the 16-bit sample scale.
struct TEngineSizes {
  uint32_t SampleRate = 0;
  uint32_t BlockAlign = 0;
  int32_t BlockFrames = 0;    // a block: BlockSeconds of sound, or the whole of a shorter file
  int32_t OverlapFrames = 0;  // shared by neighbouring blocks
  int32_t RegionLen = 0;      // the stretch around a click the location and repair work in
  int32_t ShortLen = 0;       // the short trace window
  int32_t HalfShortLen = 0;   // the tiny trace window
  int32_t FrameLen = 0;       // analysed points per frame (halved when Decimate)
  bool Decimate = false;      // every second sample analysed
  int32_t LowCutBins = 30;
  int32_t HighCutBins = 30;
  int32_t TrainMin = 0, TrainMax = 0, TrainStep = 0;  // the repair's training lengths
  int32_t RefineOrder = 0;                            // of the refined span's autoregressive model
  int32_t FloorDb = -120;
  double FloorPower = 0;
  double RefPower = 0;
  double SampleScale = 0;
};

// The sizes for a file of this format (its rate within the engine's range) and spectral floor in dB.
TEngineSizes MakeEngineSizes(const TWavRecord& format, int32_t floorDb, int32_t blockSeconds);

// Four-term window of n points stretched so that both middle points are exactly 1.0. Throws
// std::bad_alloc.
void BuildWindow(std::vector<float>& w, int32_t n);

}  // namespace klarwell
