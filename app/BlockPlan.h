#pragma once

#include <cstdint>
#include <string>

#include "app/BatchDriver.h"
#include "engine/engine.h"

namespace klarwell {

// The pass limit handed to ProcessBlock: a block whose repairs still change its data after this
// many passes is written as it stands.
constexpr int32_t kMaxPasses = 13;

// One block of a file.
struct TBlock {
  int64_t Position = 0;  // first frame in the file
  int64_t MoveBack = 0;  // frames the last block was moved back by; the block before wrote them
  bool Last = false;
};

// Where a file's blocks lie, the same on every road: each starts one step (BlockFrames -
// OverlapFrames) after the one before, and the last is moved back so that it ends exactly at the
// last frame. A file shorter than a block is one block at frame 0.
class TBlockPlan {
 public:
  TBlockPlan(int64_t numFrames, int32_t blockFrames, int32_t overlapFrames)
      : numFrames_(numFrames), blockFrames_(blockFrames), step_(blockFrames - overlapFrames) {}

  TBlock First() const { return {0, 0, blockFrames_ >= numFrames_}; }
  // The block after `previous`, which must not be the last.
  TBlock Next(const TBlock& previous) const;

  // What a block whose last repair ended at block frame `lastRepaired` (-1: none) has written of
  // the next one; that block's WriteSkip is this plus its MoveBack.
  int64_t CarriedWriteSkip(int32_t lastRepaired) const {
    return step_ <= lastRepaired ? lastRepaired - step_ : 0;
  }

 private:
  int64_t numFrames_, blockFrames_, step_;
};

// Thrown by the cancellation check inside the engine's callbacks; ComputeBlock swallows it.
struct TCancelled {};

// The engine's handlers for one block, all optional; they run where ComputeBlock runs.
struct TBlockHandlers {
  TOnFrame OnFrame;
  TOnClick OnClick;
};

// One block's computation, the same on every road, on the calling thread (a worker): AnalyseBlock,
// then ProcessBlock with up to `maxPasses` passes; `clicks` and `passes` receive its results. A
// cancel (TCancelled from a handler) ends the block silently: the driver sees the flag. Any other
// failure is returned as BlockErrorText of the block at file frame `position`; otherwise empty.
std::string ComputeBlock(TClickEngine& engine, const TWavRecord& format, int64_t position,
                         const TBlockHandlers& handlers, int32_t maxPasses, int32_t& clicks, int32_t& passes);

// A click of the block that starts at file frame `position`, made in the refined mode or not, as
// the click list reports it. Counted is the engine's own verdict, which holds only when the block
// ran with its WriteSkip already set.
TRepairRecord RepairRecordOf(const TClickEvent& click, int64_t position, bool refined);

// A failure inside the worker of the block at file frame `position`, as the file's status shows it.
std::string BlockErrorText(const char* message, int64_t position);

}  // namespace klarwell
