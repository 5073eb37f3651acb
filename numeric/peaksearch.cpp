#include "numeric/peaksearch.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>

#include "numeric/peak.h"

namespace klarwell {

namespace {

constexpr double kPi = 3.14159265358979323846;

double SineWeight(int p, int a, int b) {
  return std::sin((kPi * (p - a)) / (b - a));
}

// By the bits, so that a signalling NaN raises nothing here that the plain loop would not.
bool AllFinite(const float* s, int n) {
  for (int i = 0; i < n; ++i) {
    uint32_t bits;
    std::memcpy(&bits, s + i, sizeof bits);
    if ((bits & 0x7f800000u) == 0x7f800000u) return false;
  }
  return true;
}

// Whether a position of height h beats the best so far (best, pos; pos < 0: none yet): a greater
// height, or an equal one earlier. Over finite heights this picks what the plain loop's strict
// comparison in position order picks, whatever the order the positions are tried in.
bool Beats(double h, int p, double best, int pos) {
  return h > best || (h == best && pos >= 0 && p < pos);
}

// The greatest ratio (c − s[i]) / (distance + 1) that a block whose lowest value is `lowest` can
// give at distances near … far from the centre. Rounding is monotonic, so no computed ratio of the
// block exceeds it.
double RatioBound(double c, float lowest, int near, int far) {
  const double d = c - lowest;
  return d >= 0.0 ? d / static_cast<double>(near + 1) : d / static_cast<double>(far + 1);
}

}  // namespace

int SinePeak(const float* s, int a, int b, int step) {
  double best = 0.0;
  int pos = -1;
  for (int p = a + 1; p < b; p += step) {
    int l = a, r = b;
    FindFeet(p, l, r, s, true, ShapeMode::Linear);
    double h = ((static_cast<double>(s[p]) - s[l]) + (static_cast<double>(s[p]) - s[r])) / 2.0;
    h = h * SineWeight(p, a, b);
    if (h > best) {
      best = h;
      pos = p;
    }
  }
  return pos;
}

TSinePeak::TSinePeak(int capacity)
    : SuffixMin_(static_cast<size_t>(std::max(capacity, 1))),
      Candidates_(SuffixMin_.size()),
      BlockMin_(SuffixMin_.size() / kBlock + 1),
      BlockBound_(BlockMin_.size()) {}

// FindFeet's left foot with the linear score: the first i of a … max(a, p − 2) with the greatest
// ratio. The greatest ratio is found nearest blocks first, skipping blocks whose bound is not above
// the best so far; then the first position that gives it, among the blocks that can.
int TSinePeak::LeftFoot(const float* s, int a, int p) {
  const int last = std::max(a, p - 2);
  const double c = s[p];
  const auto ratio = [&](int i) { return (c - s[i]) / static_cast<double>(p - i + 1); };
  const int blocks = (last - a) / kBlock + 1;
  double best = -std::numeric_limits<double>::infinity();
  for (int j = blocks - 1; j >= 0; --j) {
    const int lo = a + j * kBlock, hi = std::min(lo + kBlock - 1, last);
    BlockBound_[static_cast<size_t>(j)] = RatioBound(c, BlockMin_[static_cast<size_t>(j)], p - hi, p - lo);
    if (!(BlockBound_[static_cast<size_t>(j)] > best)) continue;
    for (int i = lo; i <= hi; ++i) best = std::max(best, ratio(i));
  }
  for (int j = 0; j < blocks; ++j) {
    if (BlockBound_[static_cast<size_t>(j)] < best) continue;
    const int lo = a + j * kBlock, hi = std::min(lo + kBlock - 1, last);
    for (int i = lo; i <= hi; ++i) {
      if (ratio(i) == best) return i;
    }
  }
  return a;  // not reached: the greatest ratio is some position's
}

// The mirror image: the last i of min(p + 2, b) … b with the greatest ratio (FindFeet scans from b).
int TSinePeak::RightFoot(const float* s, int a, int b, int p) {
  const int first = std::min(p + 2, b);
  const double c = s[p];
  const auto ratio = [&](int i) { return (c - s[i]) / static_cast<double>(i - p + 1); };
  const int j0 = (first - a) / kBlock, j1 = (b - a) / kBlock;
  double best = -std::numeric_limits<double>::infinity();
  for (int j = j0; j <= j1; ++j) {
    const int lo = std::max(a + j * kBlock, first), hi = std::min(a + j * kBlock + kBlock - 1, b);
    BlockBound_[static_cast<size_t>(j)] = RatioBound(c, BlockMin_[static_cast<size_t>(j)], lo - p, hi - p);
    if (!(BlockBound_[static_cast<size_t>(j)] > best)) continue;
    for (int i = lo; i <= hi; ++i) best = std::max(best, ratio(i));
  }
  for (int j = j1; j >= j0; --j) {
    if (BlockBound_[static_cast<size_t>(j)] < best) continue;
    const int lo = std::max(a + j * kBlock, first), hi = std::min(a + j * kBlock + kBlock - 1, b);
    for (int i = hi; i >= lo; --i) {
      if (ratio(i) == best) return i;
    }
  }
  return b;  // not reached
}

int TSinePeak::Find(const float* s, int a, int b, int step) {
  if (b - a < 2) return -1;
  const int n = b - a + 1;
  // With a NaN or an infinity the heights are no longer ordered, and the plain loop's faults are
  // part of its result: take the loop itself.
  if (n > static_cast<int>(SuffixMin_.size()) || !AllFinite(s + a, n)) return SinePeak(s, a, b, step);

  float* suffixMin = SuffixMin_.data();
  suffixMin[n - 1] = s[b];
  for (int k = n - 2; k >= 0; --k) suffixMin[k] = std::min(s[a + k], suffixMin[k + 1]);
  for (int j = 0; j * kBlock < n; ++j) {
    BlockMin_[static_cast<size_t>(j)] =
        *std::min_element(s + a + j * kBlock, s + a + std::min(n, (j + 1) * kBlock));
  }

  // The feet of p lie in a … max(a, p − 2) and min(p + 2, b) … b.
  int count = 0;
  float prefixMin = s[a];
  int prefixEnd = a;
  for (int p = a + 1; p < b; p += step) {
    while (prefixEnd < p - 2) prefixMin = std::min(prefixMin, s[++prefixEnd]);
    const float rightMin = suffixMin[std::min(p + 2, b) - a];
    const double h = ((static_cast<double>(s[p]) - prefixMin) + (static_cast<double>(s[p]) - rightMin)) / 2.0;
    // The weight lies in (0, 1], so a bound that is not positive needs no sine: its height is not
    // positive either, and cannot win.
    Candidates_[static_cast<size_t>(count++)] = {h > 0.0 ? h * SineWeight(p, a, b) : h, p};
  }
  TCandidate* first = Candidates_.data();
  std::sort(first, first + count, [](const TCandidate& x, const TCandidate& y) {
    return x.Bound > y.Bound || (x.Bound == y.Bound && x.Pos < y.Pos);
  });

  double best = 0.0;
  int pos = -1;
  for (int k = 0; k < count && Beats(first[k].Bound, first[k].Pos, best, pos); ++k) {
    const int p = first[k].Pos;
    const int l = LeftFoot(s, a, p), r = RightFoot(s, a, b, p);
    double h = ((static_cast<double>(s[p]) - s[l]) + (static_cast<double>(s[p]) - s[r])) / 2.0;
    h = h * SineWeight(p, a, b);
    if (Beats(h, p, best, pos)) {
      best = h;
      pos = p;
    }
  }
  return pos;
}

}  // namespace klarwell
