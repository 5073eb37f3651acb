#pragma once

// What the engine's stages hand on to each other about one click.

#include <cstdint>

namespace klarwell {

// One candidate on its way through location, refinement and repair. Positions are block frames.
struct TClickSpan {
  int32_t RegionStart = 0;  // the first frame of the region searched around it (RegionLen frames)
  int32_t Position = 0;     // the candidate's peak on the detection trace
  // The intact samples on either side of the damage: the repair replaces RepairStart + 1 ..
  // RepairEnd - 1.
  int32_t RepairStart = 0;
  int32_t RepairEnd = 0;
  // The refinement fitted its waveform model around this span, so the repair may fill with it.
  bool Modelled = false;
};

// What a repair did to a confirmed click.
enum class TClickOutcome {
  Repaired,    // the replacement changed stored bytes
  Unchanged,   // the replacement reproduced the stored bytes, or the span was too short to blend
  LeftAtEdge,  // too close to its region's edge to train on both sides: left alone for a later pass
};

}  // namespace klarwell
