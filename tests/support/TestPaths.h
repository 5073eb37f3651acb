#pragma once

#include <string>

namespace klarwell::test {

// Root of the source tree (for tests/data and the shared WAV corpus beside it).
std::string SourceDir();
// The build directory; images and other artefacts go below build/test-artifacts.
std::string BinaryDir();
// The third-party WAV corpus, ../shared/wav-corpus from the source root; empty when absent.
std::string CorpusDir();
// A fresh, empty directory of its own under the system's temporary folder; removed by the caller.
std::string MakeTempDir();

}  // namespace klarwell::test
