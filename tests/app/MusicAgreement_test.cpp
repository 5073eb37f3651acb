// The default (fast) routines against the reference road on excerpts of real recordings with seeded
// vinyl-like clicks added: the same repairs (each road covers at least 97 % of the other's counted
// repairs) and an output as close to the clean recording (SNR within 0.2 dB of the reference's).
// The recordings come from a Debian music package that scripts/install-deps installs; without it the
// test is skipped with a message.

#include <gtest/gtest.h>

#include <filesystem>

#include "app/RunTexts.h"
#include "tests/support/RoadCompare.h"
#include "tests/support/SignalWav.h"
#include "tests/support/TestPaths.h"
#include "tests/support/music/OggExcerpt.h"

namespace klarwell {
namespace {

namespace fs = std::filesystem;

TEST(MusicAgreement, FastRoutinesMakeTheReferenceRepairsOnRealMusic) {
  if (test::MusicDir().empty()) {
    GTEST_SKIP() << "the music package of scripts/install-deps (singularity-music) is not installed";
  }
  struct TExcerpt {
    const char* File;
    double Start, Seconds;
  };
  // Orchestral, ambient and percussive passages.
  const TExcerpt excerpts[] = {
      {"Awakening.ogg", 30.0, 10.0}, {"Nebula.ogg", 60.0, 10.0}, {"Coherence.ogg", 45.0, 10.0}};
  const std::string dir = test::MakeTempDir();
  double refCovered = 0, fastCovered = 0;
  uint64_t seed = 31;
  for (const TExcerpt& e : excerpts) {
    SCOPED_TRACE(e.File);
    test::TSignal clean;
    std::string error;
    ASSERT_TRUE(test::DecodeOggExcerpt(test::MusicDir() + "/" + e.File, e.Start, e.Seconds, clean, error))
        << error;
    test::TSignal noisy = clean;
    test::AddClicks(noisy, static_cast<int>(3 * e.Seconds), 3, 120, clean.SampleRate / 10, ++seed);
    const std::string input = dir + "/" + e.File + ".wav";
    ASSERT_TRUE(test::WriteSignalWav(input, noisy, 2, false, &error)) << error;

    const test::TRoadRun ref = test::RunRoad(input, TRoutineSet::Reference, 1, " ref");
    const test::TRoadRun fast = test::RunRoad(input, TRoutineSet::Fast, 2, " fast");
    ASSERT_EQ(ref.Result.Outcome, TFileOutcome::Done) << StatusText(ref.Result);
    ASSERT_EQ(fast.Result.Outcome, TFileOutcome::Done) << StatusText(fast.Result);
    refCovered += test::CoveredShare(ref.Repairs, fast.Repairs) / std::size(excerpts);
    fastCovered += test::CoveredShare(fast.Repairs, ref.Repairs) / std::size(excerpts);
    const double snrRef = test::SnrDb(clean, ref.Bytes);
    const double snrFast = test::SnrDb(clean, fast.Bytes);
    EXPECT_NEAR(snrFast, snrRef, 0.2) << "SNR against the clean recording";
  }
  EXPECT_GE(refCovered, 0.97) << "reference repairs without a fast one";
  EXPECT_GE(fastCovered, 0.97) << "fast repairs without a reference one";
  fs::remove_all(dir);
}

}  // namespace
}  // namespace klarwell
