#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace klarwell::test {

// The pieces of klarwell-repairquality beside its main file.

// Interleaved 16-bit samples of a WAV file's data chunk (as written by the program, or by the peer).
std::vector<int16_t> ReadSamples16(const std::string& path);

// Scores RESULT against the record-noise corpus file BASE (BASE.wav, BASE.clean.wav,
// BASE.clicks.tsv) and prints one line.
int ScoreRecords(const std::string& base, const std::string& result);

// Writes a seeded score of `kind` (piano, plucked, brass, drums) as a standard MIDI file.
int WriteMidi(const std::string& kind, uint64_t seed, double seconds, const std::string& path);

}  // namespace klarwell::test
