#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <string>

#include "tests/support/SignalGen.h"
#include "tests/support/SignalWav.h"
#include "tests/support/TestPaths.h"

namespace klarwell::test {

// A test with a fresh directory of its own (removed afterwards) and a maker of 44.1 kHz, 16-bit
// music files with clicks in it.
class TScratchDirTest : public ::testing::Test {
 protected:
  void SetUp() override { dir_ = MakeTempDir(); }
  void TearDown() override { std::filesystem::remove_all(dir_); }
  std::string Path(const std::string& name) const { return dir_ + "/" + name; }
  // `seconds` of music with `clicks` clicks, written as `name` in the directory; its path.
  std::string MakeFile(const std::string& name, double seconds, int clicks, uint64_t seed, int channels = 2) {
    TSignal s = MakeMusic(seconds, 44100, channels, seed);
    if (clicks) AddClicks(s, clicks, 4, 50, 4410, seed + 1);
    const std::string p = Path(name);
    EXPECT_TRUE(WriteSignalWav(p, s, 2, false));
    return p;
  }
  std::string dir_;
};

}  // namespace klarwell::test
