// libFuzzer target: opening any bytes as a WAV file and reading every block of what opens.
#include "fuzz/FuzzEntries.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  return klarwell::fuzz::OpenAndReadAll(data, size);
}
