#pragma once

// The highest peak of a curve over a range a … b, as the candidate search looks for it: at the
// positions a + 1, a + 1 + step, … below b, the height of s[p] above its feet on both sides
// (FindFeet with the linear score, bounds a and b), averaged and weighted by sin(π(p − a)/(b − a)),
// so that peaks near the ends, whose feet may lie beyond the range, count less. The first position
// of the greatest weighted height wins; −1 when none is above 0 (also when b − a < 2).
// step ≥ 1. Neither search allocates; distinct TSinePeak objects may run on distinct threads.

#include <vector>

namespace klarwell {

// The straightforward loop: a foot search over the whole range for every position, so a range of
// n values costs about n²/step.
int SinePeak(const float* s, int a, int b, int step);

// The same position as SinePeak for every input, NaNs and infinities included, without a foot
// search over the whole range for every position. Each position's weighted height is bounded from
// above by the same arithmetic with the lowest value on each side in place of the feet; rounding is
// monotonic, so the computed bound is never below the computed height. Positions are tried in the
// order of their bounds until no bound can beat the best height found, and each foot search skips
// the blocks of the range whose lowest value cannot give the best ratio.
class TSinePeak {
 public:
  // Ranges of up to `capacity` values (b − a + 1); longer ones take the plain loop. Allocates here.
  explicit TSinePeak(int capacity);

  int Find(const float* s, int a, int b, int step);

 private:
  static constexpr int kBlock = 32;
  struct TCandidate {
    double Bound;
    int Pos;
  };
  int LeftFoot(const float* s, int a, int p);
  int RightFoot(const float* s, int a, int b, int p);

  std::vector<float> SuffixMin_;        // SuffixMin_[k]: the lowest of s[a + k … b]
  std::vector<TCandidate> Candidates_;  // one per position
  std::vector<float> BlockMin_;         // the lowest of each block of kBlock values from a on
  std::vector<double> BlockBound_;      // a foot search's bound per block
};

}  // namespace klarwell
