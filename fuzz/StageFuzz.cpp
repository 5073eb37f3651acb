// libFuzzer target: the location, refinement, tick search and repair stages on a short block,
// without the analysis and the candidate search, so that thousands of inputs run each second.
#include "fuzz/FuzzEntries.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  return klarwell::fuzz::DriveClickStages(data, size);
}
