#pragma once

#include <string>
#include <vector>

#include "app/BatchDriver.h"

namespace klarwell {

// Where each input of one run goes, decided before any file is written, so that two files of the
// run never write into one output. Paths are compared in their resolved form (symbolic links and
// "." / ".." in the folders resolved; a file that does not exist yet by its resolved folder).
struct TOutputPlanEntry {
  std::string OutputPath;  // as OutputFileName gives it
  // The output is refused: an earlier file of the run claimed the same output, or the output is
  // another input of the run. The file must be reported as not done, with nothing written.
  bool Taken = false;
};

// One entry per input, in the given order. The first file to claim an output keeps it; an output
// that is another input of the run is refused whatever the order. (An output that is its own input
// is left to the file's road, which refuses it at the create, as it refuses any file held open.)
// Any thread; touches the file system only to resolve names.
std::vector<TOutputPlanEntry> PlanOutputs(const std::vector<std::string>& inputs,
                                          const TOutputSettings& settings);

// The resolved form of a path used for the comparison above.
std::string ResolvedPath(const std::string& path);

}  // namespace klarwell
