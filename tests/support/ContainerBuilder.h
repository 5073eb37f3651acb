#pragma once

#include <string>
#include <utility>
#include <vector>

#include "tests/support/WavBuilder.h"

namespace klarwell::test {

// Chunks as they go into a file: id and payload (a pad byte follows an odd payload).
using TChunkList = std::vector<std::pair<std::string, TBytes>>;

// An AIFF file (or AIFF-C when `compression` is not empty: "NONE", "sowt", "fl32") holding
// `leFrames`, frames as a WAV data chunk holds them, turned into the container's byte order. `before`
// go between COMM and SSND, `after` behind SSND.
TBytes MakeAiff(uint16_t channels, int bytesPerSample, uint32_t sampleRate, const TBytes& leFrames,
                const std::string& compression = {}, const TChunkList& before = {},
                const TChunkList& after = {});

// An RF64 file ("BW64" with that magic): ds64, fmt, `before`, data (sizes in ds64, the 32-bit
// fields 0xFFFFFFFF), `after`.
TBytes MakeRf64(const TFmtFields& fmt, const TBytes& leFrames, const TChunkList& before = {},
                const TChunkList& after = {}, const std::string& magic = "RF64");

}  // namespace klarwell::test
