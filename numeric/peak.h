#pragma once

// Shape features of a curve of 32-bit floats: alternating extrema whose swings exceed a
// threshold, the feet on both sides of a peak or a bottom, and the next dip framed by two
// shoulders. All work on an array and an index range, allocate nothing and may run on any thread.

#include <cstdint>

namespace klarwell {

// Capacity of an extrema list; further extrema are ignored.
inline constexpr int kMaxExtrema = 1000;

// Alternating maxima and minima of s over first … last (inclusive) whose swings exceed the
// threshold. list (kMaxExtrema ints) receives their indices in ascending order, a plateau by its
// middle (rounded down); the result is their number. A range of fewer than three values gives 0
// and leaves the list untouched.
int CountExtrema(int first, int last, const float* s, float threshold, int* list);

// Step of CountExtrema before an extremum of value b is listed: when the last two listed extrema
// are a wiggle smaller than the threshold inside a rise or a fall towards b, they are removed.
void PruneLastPair(float b, const float* s, float threshold, int* list, int& count);

// Final step of CountExtrema: removes inner wiggles smaller than the threshold, then pairs at
// both ends that differ by less than the threshold, so that no single leftover is reported.
void PruneExtrema(const float* s, float threshold, int* list, int& count);

// How ShapeScore weighs a drop d. The codes are the modes' numbers as the detector was first
// written and tuned with them (its figures and tests name them so); any other code scores linearly.
// A steeper weight favours a deep near foot over a shallow far one.
namespace ShapeMode {
inline constexpr std::uint8_t Linear = 4;            // d: the peak search's candidates
inline constexpr std::uint8_t RootHalf = 6;          // d·|d|^0.5: the feet of a trace peak
inline constexpr std::uint8_t RootThreeQuarter = 7;  // d·|d|^0.75, through a 32-bit root: a click's feet
inline constexpr std::uint8_t Square = 8;            // d·|d|: the swing of a waveform's extrema
}  // namespace ShapeMode

// Score of the drop from s[centre] to s[i] (sign true) or of the rise (sign false), as a double,
// weighed as `mode` (ShapeMode) says.
double ShapeScore(const float* s, int centre, int i, bool sign, std::uint8_t mode);

// Moves left (≤ centre) and right (≥ centre) to the point on each side with the best score per
// distance from the centre; on a tie the outermost stays. A bound on the wrong side of the centre
// is left as it is.
void FindFeet(int centre, int& left, int& right, const float* s, bool sign, std::uint8_t mode);

// Scans s (n values) from pos + 1 for the next dip at least `depth` deep: left shoulder l,
// bottom b, right shoulder r. True when a dip was found (pos := b); qualifies tells whether the
// bottom lies more than `depth` below level, the mean of s over l − width … l and r … r + width
// inside the curve (level 0 and qualifies false for a lopsided dip). False when the scan reached
// the end of the curve (pos = n − 1) or the dip's right shoulder is the last value.
bool FindDip(int& pos, int n, const float* s, float depth, int& l, int& b, int& r, int width, bool& qualifies,
             float& level);

}  // namespace klarwell
