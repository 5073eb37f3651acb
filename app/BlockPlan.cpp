#include "app/BlockPlan.h"

#include <exception>

#include "audio/WavFile.h"

namespace klarwell {

TBlock TBlockPlan::Next(const TBlock& previous) const {
  TBlock block;
  block.Position = previous.Position + step_;
  if (block.Position + blockFrames_ > numFrames_) {
    // What the moved block overlaps more of the one before has been written already.
    block.MoveBack = block.Position - (numFrames_ - blockFrames_);
    block.Position -= block.MoveBack;
  }
  block.Last = block.Position + blockFrames_ >= numFrames_;
  return block;
}

std::string ComputeBlock(TClickEngine& engine, const TWavRecord& format, int64_t position,
                         const TBlockHandlers& handlers, int32_t maxPasses, int32_t& clicks,
                         int32_t& passes) {
  try {
    engine.AnalyseBlock(format.Format.nChannels == 2, handlers.OnFrame, 0.0f);
    clicks = engine.ProcessBlock(format, maxPasses, passes, true, handlers.OnFrame, handlers.OnClick);
  } catch (const TCancelled&) {
    // The driver sees the flag.
  } catch (const std::exception& e) {
    return BlockErrorText(e.what(), position);
  } catch (...) {
    return BlockErrorText("Unknown error", position);
  }
  return {};
}

TRepairRecord RepairRecordOf(const TClickEvent& click, int64_t position, bool refined) {
  TRepairRecord repair;
  repair.Channel = click.Channel;
  repair.Pass = click.Pass;
  repair.First = position + click.First;
  repair.Last = position + click.Last;
  // A click left at its region's edge, or a repair that reproduced the stored bytes, changed nothing.
  repair.Changed = click.Outcome == TClickOutcome::Repaired;
  repair.Counted = click.Counted;
  repair.Refined = refined;
  return repair;
}

std::string BlockErrorText(const char* message, int64_t position) {
  // Appended piecewise: g++ 12 warns falsely on the chained form.
  std::string text(message);
  text.append(" FilePos: ");
  text.append(std::to_string(position));
  return text;
}

}  // namespace klarwell
