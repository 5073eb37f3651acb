#pragma once

#include <atomic>
#include <string>
#include <vector>

#include "cli/Options.h"

namespace klarwell::cli {

// Takes every file along its road, up to options.Jobs at once, and prints one result per file in
// the order given: the table (or JSON lines) on stdout, the progress line on stderr when it is a
// terminal. Outputs are planned first: a file whose output an earlier file claimed, or whose output
// is another input, is reported "output_taken" and never started. After a cancel or a failure that
// stops the run, the files that did not start are reported "not_started". `cores` is the number of
// processors to share. Returns the exit status: 0 when every file is done, 130 after a cancel, else 1.
int RunBatch(const TCliOptions& options, const std::vector<std::string>& files, int cores,
             const std::atomic<bool>& cancel);

}  // namespace klarwell::cli
