// libFuzzer target: any bytes behind one container's magic (KLARWELL_FUZZ_MAGIC), opened and read
// block by block as the engine and the player read them.
#include "fuzz/FuzzEntries.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  return klarwell::fuzz::OpenContainerAndReadAll(data, size, KLARWELL_FUZZ_MAGIC);
}
