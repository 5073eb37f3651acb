#pragma once

// Runs a file along the batch roads with a chosen routine set and measures how two runs agree: which
// repairs they share, whether bytes outside the repairs stayed the input's, and how close each output
// comes to the clean signal that clicks were added to.

#include <string>
#include <vector>

#include "app/BatchDriver.h"
#include "numeric/RoutineSet.h"
#include "tests/support/SignalGen.h"

namespace klarwell::test {

struct TRoadRun {
  TFileResult Result;
  std::vector<TRepairRecord> Repairs;
  std::string Bytes;  // the output file's bytes
};

// Processes input with the routine set and that many block workers (at least one). The output goes
// beside the input with the given suffix and is removed after it was read.
TRoadRun RunRoad(const std::string& input, TRoutineSet set, int workers, const std::string& suffix);

// The share (0..1) of a's counted repairs that overlap a counted repair of b in the same channel
// (1 when a has none).
double CoveredShare(const std::vector<TRepairRecord>& a, const std::vector<TRepairRecord>& b);

// True when every byte of output equals input's, except inside the frames of the reported repairs
// (those of their channel's samples). Both are whole WAV files of the same layout; dataOffset is the
// first byte of the sample data, blockAlign and bytesPerSample the input's.
bool OnlyRepairsDiffer(const std::string& input, const std::string& output,
                       const std::vector<TRepairRecord>& repairs, size_t dataOffset, int blockAlign,
                       int bytesPerSample, std::string* where = nullptr);

// The first byte of the sample data of a WAV file's bytes (the data chunk's body); 0 when none.
size_t DataOffset(const std::string& wavBytes);

// 10·log10(Σ clean² / Σ (out − clean)²) over all channels, out read from 16-bit WAV bytes.
double SnrDb(const TSignal& clean, const std::string& wav16Bytes);

}  // namespace klarwell::test
