#pragma once

#include <atomic>
#include <string>

#include "app/BatchDriver.h"

namespace klarwell {

// The number of processors this process may run on (at least 1): the affinity mask, so that a run
// pinned to fewer cores (taskset) sizes its pools by them.
int UsableProcessors();

// Takes one file along the same road as ProcessFileTo, to exactly `outputPath`, with the same output
// bytes, the same clicks and the same outcome, but processes up to `workers` blocks at once: one click
// engine per block in flight (allocated once for the file and reused), blocks read and decoded in order
// on the calling thread, processed on `workers` threads of their own, then resolved in block order
// (each block's WriteSkip from the previous one's last repair, its clicks counted by their candidate
// positions) and written in order. Memory grows with `workers`, not with the file's length.
//
// Every observer call comes on the calling thread, in block order: Status, FiguresReset, Clicks,
// Estimate, Finished, ProgressMax, Progress, OutputCreated, DensityReset, DensityPoint, BlockDone,
// Repair, ClickExtract and Idle (about every 10 ms while it waits, and between two blocks). Only the flag that
// ExtractRequest hands out is read (and cleared) by the workers. Frame, ClickRegion and
// ClickRepaired, which expect a single worker whose engine they may inspect, are not called.
// workers < 1 counts as 1.
TFileResult ProcessFileParallelTo(const std::string& inputPath, const std::string& outputPath,
                                  TDriverObserver& observer, const std::atomic<bool>& cancel, int workers,
                                  const TEngineOptions& engine = {});

// As ProcessFileParallelTo, to the output OutputFileName gives at the start of the road.
TFileResult ProcessFileParallel(const std::string& inputPath, const TOutputSettings& settings,
                                TDriverObserver& observer, const std::atomic<bool>& cancel, int workers,
                                const TEngineOptions& engine = {});

}  // namespace klarwell
