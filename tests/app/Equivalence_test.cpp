// The road with several blocks at once against one block at a time, with the reference routines; then
// the default routines' contract. For every format and worker count the output bytes, the click list,
// the block list and the driver's cells must be the same; a cancelled run leaves no output; every
// report comes on the calling thread.

#include <gtest/gtest.h>

#include <filesystem>
#include <thread>
#include <tuple>

#include "app/BatchDriver.h"
#include "app/ParallelDriver.h"
#include "app/RunTexts.h"
#include "numeric/RoutineSet.h"
#include "tests/support/RoadCompare.h"
#include "tests/support/SignalGen.h"
#include "tests/support/SignalWav.h"
#include "tests/support/TestPaths.h"

namespace klarwell {
namespace {

namespace fs = std::filesystem;

// Everything a run reports that must not depend on the road (times and idle calls aside).
class TRecorder : public TDriverObserver {
 public:
  std::vector<std::string> Statuses;
  std::vector<std::string> ClickCells;
  std::vector<std::tuple<int64_t, int32_t>> Blocks;
  std::vector<std::tuple<int, int, int64_t, int64_t, bool, bool>> Repairs;
  std::vector<std::pair<float, float>> Density;
  std::vector<uint32_t> Progresses;
  bool ForeignThread = false;
  bool BlockWithoutIdle = false;
  int IdlesSinceBlock = 0;
  std::function<void()> OnBlock;

  void Status(TFileStatus status, const std::string& message) override {
    Note(), Statuses.push_back(StatusText(status, message));
  }
  void FiguresReset() override { Note(); }
  void Clicks(int64_t total) override { Note(), ClickCells.push_back(std::to_string(total)); }
  void Estimate(double, double) override { Note(); }
  void Finished(double, double) override { Note(); }
  void Progress(uint32_t frames) override { Note(), Progresses.push_back(frames); }
  void DensityPoint(float minutes, float perSecond) override {
    Note(), Density.emplace_back(minutes, perSecond);
  }
  void Idle() override { Note(), ++IdlesSinceBlock; }
  void BlockDone(int64_t position, int32_t clicks) override {
    Note();
    // The window repaints and takes a cancel only in Idle.
    if (!Blocks.empty() && IdlesSinceBlock == 0) BlockWithoutIdle = true;
    IdlesSinceBlock = 0;
    Blocks.emplace_back(position, clicks);
    if (OnBlock) OnBlock();
  }
  void Repair(const TRepairRecord& r) override {
    Note();
    Repairs.emplace_back(r.Channel, r.Pass, r.First, r.Last, r.Changed, r.Counted);
  }

 private:
  void Note() {
    if (std::this_thread::get_id() != caller_) ForeignThread = true;
  }
  std::thread::id caller_ = std::this_thread::get_id();
};

class TempDir {
 public:
  TempDir() : path_(test::MakeTempDir()) {}
  ~TempDir() { fs::remove_all(path_); }
  std::string operator/(const std::string& name) const { return path_ + "/" + name; }

 private:
  std::string path_;
};

struct TCase {
  const char* Name;
  double Seconds;
  int Rate, Channels, Bytes;
  bool Float;
  int ClicksPerSecond;
};

// Dense clicks, so that some fall into the overlaps of neighbouring blocks where only the WriteSkip
// chain decides whether they count; lengths that end in a moved-back last block and one file that
// is shorter than a block.
const TCase kCases[] = {
    {"stereo-44k-16", 5.5, 44100, 2, 2, false, 12}, {"stereo-96k-24", 3.0, 96000, 2, 3, false, 10},
    {"mono-44k-16", 4.5, 44100, 1, 2, false, 12},   {"stereo-48k-float", 3.5, 48000, 2, 4, true, 10},
    {"mono-22k-8", 3.0, 22050, 1, 1, false, 8},     {"short-44k-16", 1.2, 44100, 2, 2, false, 10},
};

std::string MakeInput(const TempDir& dir, const TCase& c, uint64_t seed) {
  test::TSignal s = test::MakeMusic(c.Seconds, c.Rate, c.Channels, seed);
  test::AddClicks(s, static_cast<int>(c.Seconds * c.ClicksPerSecond), 3, 60 * c.Rate / 44100, c.Rate / 40,
                  seed + 1);
  const std::string path = dir / (std::string(c.Name) + ".wav");
  std::string error;
  EXPECT_TRUE(test::WriteSignalWav(path, s, c.Bytes, c.Float, &error)) << error;
  return path;
}

TEST(Equivalence, ParallelRoadGivesTheReferenceBytesAndClicksForEveryFormatAndWorkerCount) {
  TempDir dir;
  uint64_t seed = 77;
  bool someClickInAnOverlap = false;
  for (const TCase& c : kCases) {
    SCOPED_TRACE(c.Name);
    const std::string input = MakeInput(dir, c, seed += 10);
    TOutputSettings refSettings;
    refSettings.Suffix = " ref";
    std::atomic<bool> cancel{false};
    TRecorder ref;
    // The reference routines on every road; the default ones agree by measure, not bit for bit (below).
    TEngineOptions reference;
    reference.Routines = TRoutineSet::Reference;
    const TFileResult refResult = ProcessFileParallel(input, refSettings, ref, cancel, 1, reference);
    ASSERT_EQ(refResult.Outcome, TFileOutcome::Done) << StatusText(refResult);
    const std::string refBytes = test::ReadFileBytes(refResult.OutputPath);
    ASSERT_FALSE(refBytes.empty());
    for (const auto& r : ref.Repairs)
      if (!std::get<5>(r)) someClickInAnOverlap = true;

    for (int workers : {2, 3}) {
      SCOPED_TRACE("workers " + std::to_string(workers));
      TOutputSettings settings;
      settings.Suffix = " par" + std::to_string(workers);
      TRecorder par;
      const TFileResult result = ProcessFileParallel(input, settings, par, cancel, workers, reference);
      ASSERT_EQ(result.Outcome, TFileOutcome::Done) << StatusText(result);
      EXPECT_TRUE(test::ReadFileBytes(result.OutputPath) == refBytes) << "output bytes differ";
      EXPECT_EQ(result.Clicks, refResult.Clicks);
      EXPECT_EQ(StatusText(result), StatusText(refResult));
      EXPECT_EQ(par.Repairs, ref.Repairs);
      EXPECT_EQ(par.Blocks, ref.Blocks);
      EXPECT_EQ(par.ClickCells, ref.ClickCells);
      EXPECT_EQ(par.Density, ref.Density);
      EXPECT_EQ(par.Progresses, ref.Progresses);
      EXPECT_EQ(par.Statuses, ref.Statuses);
      EXPECT_FALSE(par.ForeignThread) << "an observer call came from a worker thread";
      EXPECT_FALSE(par.BlockWithoutIdle) << "two blocks with no Idle between them";
      fs::remove(result.OutputPath);
    }
  }
  // Without such a click the comparison would not exercise the WriteSkip chain at all.
  EXPECT_TRUE(someClickInAnOverlap);
}

// The default (fast) routines compute differently from the reference, under a contract: bytes outside
// the reported repairs stay the input's; one file gives the same bytes and repairs on the one-block
// road and with any number of block workers; and the repairs are the reference's: at least 97 % of
// each road's counted repairs overlap one of the other's in the same channel.
TEST(Equivalence, FastRoutinesKeepTheirContractForEveryFormatAndWorkerCount) {
  TempDir dir;
  uint64_t seed = 177;
  double refCovered = 0, fastCovered = 0;
  for (const TCase& c : kCases) {
    SCOPED_TRACE(c.Name);
    const std::string input = MakeInput(dir, c, seed += 10);
    const std::string inputBytes = test::ReadFileBytes(input);
    const test::TRoadRun ref = test::RunRoad(input, TRoutineSet::Reference, 1, " ref");
    ASSERT_EQ(ref.Result.Outcome, TFileOutcome::Done) << StatusText(ref.Result);
    test::TRoadRun first;
    for (int workers : {1, 2, 3}) {
      SCOPED_TRACE("workers " + std::to_string(workers));
      test::TRoadRun fast = test::RunRoad(input, TRoutineSet::Fast, workers, " fast");
      ASSERT_EQ(fast.Result.Outcome, TFileOutcome::Done) << StatusText(fast.Result);
      if (workers == 1) {
        std::string where;
        EXPECT_TRUE(test::OnlyRepairsDiffer(inputBytes, fast.Bytes, fast.Repairs,
                                            test::DataOffset(inputBytes), c.Channels * c.Bytes, c.Bytes,
                                            &where))
            << where;
        refCovered += test::CoveredShare(ref.Repairs, fast.Repairs) / std::size(kCases);
        fastCovered += test::CoveredShare(fast.Repairs, ref.Repairs) / std::size(kCases);
        first = std::move(fast);
        continue;
      }
      EXPECT_TRUE(fast.Bytes == first.Bytes) << "output bytes depend on the road";
      EXPECT_EQ(fast.Result.Clicks, first.Result.Clicks);
      EXPECT_EQ(fast.Repairs.size(), first.Repairs.size());
    }
  }
  EXPECT_GE(refCovered, 0.97) << "reference repairs without a fast one";
  EXPECT_GE(fastCovered, 0.97) << "fast repairs without a reference one";
}

TEST(Equivalence, CancelledParallelRunEndsCancelledAndLeavesNoOutput) {
  TempDir dir;
  const std::string input = MakeInput(dir, kCases[0], 5);
  for (int workers : {1, 3}) {
    SCOPED_TRACE("workers " + std::to_string(workers));
    std::atomic<bool> cancel{false};
    TRecorder rec;
    rec.OnBlock = [&] { cancel = true; };
    TOutputSettings settings;
    settings.Suffix = " cancel";
    const TFileResult result = ProcessFileParallel(input, settings, rec, cancel, workers);
    EXPECT_EQ(result.Outcome, TFileOutcome::Cancelled);
    EXPECT_TRUE(result.OutputPath.empty());
    EXPECT_FALSE(test::FileExists(OutputFileName(input, settings))) << "a cancelled output was left behind";
    EXPECT_EQ(rec.Blocks.size(), 1u) << "blocks were reported after the cancel";
  }
}

TEST(Equivalence, UnreadableInputFailsAlikeForEveryWorkerCount) {
  TempDir dir;
  const std::string input = dir / "not-a-wav.wav";
  {
    std::FILE* f = std::fopen(input.c_str(), "wb");
    ASSERT_NE(f, nullptr);
    std::fputs("RIFF garbage", f);
    std::fclose(f);
  }
  std::atomic<bool> cancel{false};
  TRecorder ref, par;
  TOutputSettings settings;
  const TFileResult a = ProcessFileParallel(input, settings, ref, cancel, 1);
  const TFileResult b = ProcessFileParallel(input, settings, par, cancel, 2);
  EXPECT_EQ(a.Outcome, TFileOutcome::Failed);
  EXPECT_EQ(b.Outcome, a.Outcome);
  EXPECT_EQ(StatusText(b), StatusText(a));
  EXPECT_EQ(par.Statuses, ref.Statuses);
}

}  // namespace
}  // namespace klarwell
