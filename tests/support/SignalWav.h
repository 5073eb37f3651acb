#pragma once

#include <string>

#include "tests/support/SignalGen.h"

namespace klarwell::test {

// Writes the signal as a WAV file through the program's own writer: integer PCM of 1 to 4 bytes per
// sample, or 4-byte IEEE float. Returns false (with the message) when the file cannot be written.
bool WriteSignalWav(const std::string& path, const TSignal& signal, int bytesPerSample, bool isFloat,
                    std::string* error = nullptr);

// The whole content of a file; empty when it cannot be read.
std::string ReadFileBytes(const std::string& path);

bool FileExists(const std::string& path);

// Whether an output is being written in `folder`: its temporary file, a hidden name, is there.
bool OutputInProgress(const std::string& folder);

}  // namespace klarwell::test
