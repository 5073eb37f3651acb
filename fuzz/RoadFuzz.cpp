// libFuzzer target: the whole road of a tiny file (open, engine, write, finish).
#include "fuzz/FuzzEntries.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  return klarwell::fuzz::ProcessWholeRoad(data, size);
}
