// Where a file's blocks lie and what each one may write: both roads take them from here, so a
// fault would not show as a difference between the roads.

#include "app/BlockPlan.h"

#include <gtest/gtest.h>

#include <tuple>
#include <vector>


namespace klarwell {
namespace {

// Blocks of 88200 frames overlapping by 4410, as at 44.1 kHz: a step of 83790.
TEST(BlockPlan, BlocksStepByBlockMinusOverlapAndTheLastEndsAtTheLastFrame) {
  using TBlocks = std::vector<std::tuple<int64_t, int64_t, bool>>;  // position, move back, last
  const struct {
    int64_t frames;
    TBlocks expected;
  } cases[] = {
      {1000, {{0, 0, true}}},  // shorter than a block: one block, not moved before the file
      {88200, {{0, 0, true}}},
      {88201, {{0, 0, false}, {1, 83789, true}}},  // one frame over: a second block, moved back
      {171990, {{0, 0, false}, {83790, 0, true}}},
      {200000, {{0, 0, false}, {83790, 0, false}, {111800, 55780, true}}},
  };
  for (const auto& c : cases) {
    const TBlockPlan plan(c.frames, 88200, 4410);
    TBlocks got;
    for (TBlock b = plan.First();; b = plan.Next(b)) {
      got.emplace_back(b.Position, b.MoveBack, b.Last);
      if (b.Last || got.size() > 5) break;
    }
    EXPECT_EQ(got, c.expected) << c.frames << " frames";
  }
}

// A repair that reaches into the overlap has written the next block's start already.
TEST(BlockPlan, CarriedWriteSkipIsWhatTheLastRepairWroteOfTheNextBlock) {
  const TBlockPlan plan(1000000, 88200, 4410);
  const struct {
    int32_t lastRepaired;
    int64_t carried;
  } cases[] = {{-1, 0}, {83790, 0}, {83791, 1}, {88199, 4409}};
  for (const auto& c : cases) EXPECT_EQ(plan.CarriedWriteSkip(c.lastRepaired), c.carried) << c.lastRepaired;
}

// The click list's `changed` says whether the repair changed stored bytes. A click left at its region's
// edge changes none (the engine's RepairClick tests hold it to that), although the pass counts it as
// progress.
TEST(BlockPlan, RepairRecordIsChangedOnlyWhenTheRepairChangedStoredBytes) {
  const struct {
    TClickOutcome outcome;
    bool changed;
  } cases[] = {
      {TClickOutcome::Repaired, true}, {TClickOutcome::Unchanged, false}, {TClickOutcome::LeftAtEdge, false}};
  for (const auto& c : cases) {
    TClickEvent click;
    click.Channel = 1;
    click.First = 100;
    click.Last = 140;
    click.Outcome = c.outcome;
    click.Counted = true;
    const TRepairRecord r = RepairRecordOf(click, 5000, false);
    EXPECT_EQ(r.Changed, c.changed) << static_cast<int>(c.outcome);
    EXPECT_TRUE(r.Channel == 1 && r.First == 5100 && r.Last == 5140 && r.Counted);
  }
}

}  // namespace
}  // namespace klarwell
