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
    clicks = engine.ProcessBlock(format, maxPasses, passes, true, handlers.OnFrame, handlers.OnClickRepaired,
                                 handlers.OnClickFound, handlers.OnClickRegion, TOnCandidate());
  } catch (const TCancelled&) {
    // The driver sees the flag.
  } catch (const std::exception& e) {
    return BlockErrorText(e.what(), position);
  } catch (...) {
    return BlockErrorText("Unknown error", position);
  }
  return {};
}

TRepairRecord RepairJustMade(const TClickEngine& engine, int64_t position) {
  TRepairRecord repair;
  repair.Channel = engine.CurrentIsLeft() ? 0 : 1;
  repair.Pass = engine.CurrentPass();
  repair.First = position + engine.RepairStart() + 1;
  repair.Last = position + engine.RepairEnd() - 1;
  repair.Changed = engine.LastRepairChanged();
  repair.Counted = engine.LastClickCounted();
  repair.Refined = engine.Refine();
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
