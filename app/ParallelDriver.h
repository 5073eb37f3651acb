#pragma once

#include <atomic>
#include <string>

#include "app/BatchDriver.h"

namespace klarwell {

// The number of processors this process may run on (at least 1): the affinity mask, so that a run
// pinned to fewer cores (taskset) sizes its pools by them.
int UsableProcessors();

// Takes one file from opening to its finished output at exactly `outputPath` (or to no output at all):
// open, create, initialize, the blocks, write, finish with the input's trailing chunks; on any failure
// or cancellation the output is deleted. `cancel` may be set from any thread. A host that planned its
// outputs (PlanOutputs) passes the planned path, so that what was checked is what gets written.
// `engine` is the engine's mode for this file. Up to `workers` blocks are processed at once: one click
// engine per block in flight (allocated once for the file and reused), blocks read and decoded in order
// on the calling thread, processed on `workers` threads of their own, then resolved in block order
// (each block's WriteSkip from the previous one's last repair, its clicks counted by their candidate
// positions) and written in order. Memory grows with `workers`, not with the file's length. The output
// bytes, the clicks and the outcome do not depend on `workers`; with one, the blocks are processed one
// after another.
//
// Every observer call comes on the calling thread, in block order: Status, FiguresReset, Clicks,
// Estimate, Finished, ProgressMax, Progress, OutputCreated, DensityReset, DensityPoint, BlockDone,
// Repair, ClickExtract and Idle (about every 10 ms while it waits, and between two blocks). Only the flag that
// ExtractRequest hands out is read (and cleared) by the workers. workers < 1 counts as 1.
TFileResult ProcessFileParallelTo(const std::string& inputPath, const std::string& outputPath,
                                  TDriverObserver& observer, const std::atomic<bool>& cancel, int workers,
                                  const TEngineOptions& engine = {});

// As ProcessFileParallelTo, to the output OutputFileName gives at the start of the road.
TFileResult ProcessFileParallel(const std::string& inputPath, const TOutputSettings& settings,
                                TDriverObserver& observer, const std::atomic<bool>& cancel, int workers,
                                const TEngineOptions& engine = {});

}  // namespace klarwell
