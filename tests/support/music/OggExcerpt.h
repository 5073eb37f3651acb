#pragma once

// Excerpts of Ogg Vorbis recordings as test signals, decoded at test time.

#include <string>
#include <vector>

#include "tests/support/SignalGen.h"

namespace klarwell::test {

// The folder of a Debian music package's recordings that the agreement tests use, and its files in
// name order; empty when the package is not installed.
std::string MusicDir();
std::vector<std::string> MusicFiles();

// Decodes `seconds` seconds from `startSeconds` on of an Ogg Vorbis file into the engine's units
// (16-bit scale), at the file's own rate and channel count (at most 2). False with a message when the
// file cannot be decoded or is shorter than asked.
bool DecodeOggExcerpt(const std::string& path, double startSeconds, double seconds, TSignal& out,
                      std::string& error);

}  // namespace klarwell::test
