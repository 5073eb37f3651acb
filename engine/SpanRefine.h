#pragma once

// The refinement stage: which samples did the click really damage? It also fills a refined span with
// the waveform model the span came from.

#include <cstdint>
#include <vector>

#include "engine/ClickSpan.h"
#include "engine/EngineSizes.h"

namespace klarwell {

class TSpanRefiner {
 public:
  // Allocates the model's normal equations and, when the file is refined, the fill's banded system.
  // Throws std::bad_alloc. Driving thread.
  void Prepare(const TEngineSizes& sizes, bool refine);

  // Moves span.RepairStart / RepairEnd of channel x (BlockFrames samples) to the samples whose
  // prediction residual stands out from the intact signal around the click, searching within the
  // region. False when no residual stands out (no click after all). When a found span would leave the
  // repair no room to train on both sides, the located one stays. Afterwards still RepairEnd -
  // RepairStart >= 3, and span.Modelled says the model fitted here may fill it. Worker thread.
  bool Process(const float* x, TClickSpan& span);

  // Fits the model on the intact signal on both sides of rs .. re (what lies between is not read),
  // for a span found elsewhere that FillGap is to fill. False when the block leaves too little
  // context on a side, or it carries no signal. Worker thread.
  bool FitAround(const float* x, int32_t rs, int32_t re);

  // Least-squares interpolation of samples rs + 1 .. re - 1 of x with the model the last Process
  // fitted, into out (re - rs - 1 floats). False when the system is degenerate, the model's reach
  // leaves the block or the fill runs away; out is then left as it was. Worker thread.
  bool FillGap(const float* x, int32_t rs, int32_t re, float* out);

  // For a tick's span rs .. shortest, whose spike has decayed by `decayed` and whose swing may go on
  // as far as longest: fits the model around rs .. longest and returns the end, from a few between
  // the two, whose fill explains the samples best for what it costs; sigma is the music's own residual
  // scale there. -1 when the model cannot be fitted, or when the fill would change the samples after
  // the spike by more than the tick can have (the tick is then better left). Worker thread.
  int32_t ChooseEnd(const float* x, int32_t rs, int32_t decayed, int32_t shortest, int32_t longest, double sigma);

 private:
  bool FitContextModel(const float* x, int32_t s, int32_t e, int32_t context);
  void ResidualSpan(const float* x, int32_t s, int32_t e, int32_t context, int32_t& first, int32_t& last,
                    bool& damagedBefore, bool& damagedAfter) const;
  void GapEquations(const float* x, int32_t rs, int32_t re, const double* c);
  double FilledResidualEnergy(const float* x, int32_t rs, int32_t re, int32_t to, const int32_t* splits,
                              double* moved);

  int32_t BlockFrames_ = 0;
  int32_t RegionLen_ = 0;
  int32_t Order_ = 0;
  std::vector<double> ArNormal_, ArCoef_;     // the model: normal equations, coefficients
  std::vector<double> GapSystem_, GapKnown_;  // the fill's equations and known residual parts
  std::vector<double> GapFill_;               // the fill's solution
  std::vector<float> Trial_;                  // a stretch of the channel with a trial fill in it
};

}  // namespace klarwell
