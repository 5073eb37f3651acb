// Every input that ever made a fuzz target fail, run again through every target's body. A file
// here is named after the fault it showed; a new crasher is copied in as it is.

#include <gtest/gtest.h>

#include <filesystem>

#include "fuzz/FuzzEntries.h"
#include "tests/support/WavBuilder.h"

namespace klarwell {
namespace {

namespace fs = std::filesystem;

TEST(CrasherReplay, EveryKeptCrasherRunsCleanThroughEveryTarget) {
  int replayed = 0;
  for (const auto& entry : fs::directory_iterator(KLARWELL_CRASHER_DIR)) {
    if (!entry.is_regular_file() || entry.path().filename() == "README") continue;
    SCOPED_TRACE(entry.path().string());
    const test::TBytes bytes = test::ReadBytes(entry.path().string());
    EXPECT_EQ(fuzz::OpenAndReadAll(bytes.data(), bytes.size()), 0);
    EXPECT_EQ(fuzz::ProcessWholeRoad(bytes.data(), bytes.size()), 0);
    EXPECT_EQ(fuzz::DriveClickStages(bytes.data(), bytes.size()), 0);
    // The container targets put their magic over the first bytes; a crasher of theirs is kept as found.
    for (const char* magic : {"fLaC", "FORM", "RF64"})
      EXPECT_EQ(fuzz::OpenContainerAndReadAll(bytes.data(), bytes.size(), magic), 0) << magic;
    ++replayed;
  }
  RecordProperty("replayed", replayed);
}

}  // namespace
}  // namespace klarwell
