#include "numeric/peak.h"

#include <algorithm>
#include <cmath>

namespace klarwell {

namespace {

// A small swing q → r that lies inside a rise or a fall from p to s.
bool IsWiggle(double p, double q, double r, double s, double threshold) {
  return std::fabs(q - r) < threshold && ((q > r && s > q && p < r) || (q < r && s < q && p > r));
}

// Inserts idx before the first entry that is not smaller than it.
void InsertAscending(int* list, int& count, int idx) {
  int pos = 0;
  while (pos < count && list[pos] < idx) ++pos;
  for (int k = count; k > pos; --k) list[k] = list[k - 1];
  list[pos] = idx;
  ++count;
}

// Removes list[at] and list[at + 1].
void RemovePair(int* list, int& count, int at) {
  for (int k = at; k + 2 < count; ++k) list[k] = list[k + 2];
  count -= 2;
}

}  // namespace

void PruneLastPair(float b, const float* s, float threshold, int* list, int& count) {
  if (count <= 2) return;
  const double p = s[list[count - 3]];
  const double q = s[list[count - 2]];
  const double r = s[list[count - 1]];
  if (IsWiggle(p, q, r, b, threshold)) count -= 2;
}

void PruneExtrema(const float* s, float threshold, int* list, int& count) {
  // Inner wiggles, swept until a whole sweep removes nothing. The last entry never serves as
  // the far end s: the ends are handled below.
  while (count > 3) {
    bool removed = false;
    int k = 3;
    while (k < count - 1) {
      const double p = s[list[k - 3]];
      const double q = s[list[k - 2]];
      const double r = s[list[k - 1]];
      const double t = s[list[k]];
      if (IsWiggle(p, q, r, t, threshold)) {
        RemovePair(list, count, k - 2);
        removed = true;
        if (count == 0) return;
      } else {
        ++k;
      }
    }
    if (!removed) break;
  }

  // Ends: a swing smaller than the threshold at either end goes, until both ends hold.
  const auto small = [&](int i, int j) {
    return std::fabs(static_cast<double>(s[list[i]]) - static_cast<double>(s[list[j]])) < threshold;
  };
  for (;;) {
    const int before = count;
    if (count == 1) {
      count = 0;
    } else if (count == 2) {
      if (small(0, 1)) count = 0;
    } else if (count >= 3) {
      if (small(0, 1)) {
        RemovePair(list, count, 0);
      } else if (small(count - 2, count - 1)) {
        count -= 2;
      }
    }
    if (count == before) break;
  }
}

int CountExtrema(int first, int last, const float* s, float threshold, int* list) {
  int count = 0;
  if (last - first < 2) return 0;
  float a = s[first];
  float b = s[first + 1];
  for (int i = first + 2; i <= last; ++i) {
    float c = s[i];
    const float next = c;
    int j = i;
    // A plateau entered at b: look past it for the value that decides.
    while (b == c && a != b && j < last) {
      ++j;
      c = s[j];
    }
    if ((b > c && b > a) || (b < c && b < a)) {
      if (count < kMaxExtrema) {
        PruneLastPair(b, s, threshold, list, count);
        InsertAscending(list, count, (i + j - 2) / 2);  // the plateau's middle, rounded down
      }
    }
    a = b;
    b = next;
  }
  PruneExtrema(s, threshold, list, count);
  return count;
}

double ShapeScore(const float* s, int centre, int i, bool sign, std::uint8_t mode) {
  const double c = s[centre];
  const double d = c - s[i];
  double score;
  switch (mode) {
    case ShapeMode::RootHalf:
      score = d * std::sqrt(std::fabs(d));
      break;
    case ShapeMode::RootThreeQuarter: {
      const float root = static_cast<float>(std::sqrt(std::fabs(d)));
      score = d * root * std::sqrt(static_cast<double>(root));
      break;
    }
    case ShapeMode::Square:
      score = d * std::fabs(d);
      break;
    default:
      score = d;
      break;
  }
  return sign ? score : -score;
}

void FindFeet(int centre, int& left, int& right, const float* s, bool sign, std::uint8_t mode) {
  // A bound beyond the centre would put a zero or negative distance into the ratio.
  if (left <= centre) {
    double best = ShapeScore(s, centre, left, sign, mode) / static_cast<double>(centre - left + 1);
    const int from = left + 1;
    for (int i = from; i <= centre - 2; ++i) {
      const double v = ShapeScore(s, centre, i, sign, mode) / static_cast<double>(centre - i + 1);
      if (v > best) {
        best = v;
        left = i;
      }
    }
  }
  if (right >= centre) {
    double best = ShapeScore(s, centre, right, sign, mode) / static_cast<double>(right - centre + 1);
    const int from = right - 1;
    for (int i = from; i >= centre + 2; --i) {
      const double v = ShapeScore(s, centre, i, sign, mode) / static_cast<double>(i - centre + 1);
      if (v > best) {
        best = v;
        right = i;
      }
    }
  }
}

namespace {

// A dip l .. b .. r whose right shoulder is low: a higher one within twice the dip's width may frame
// it. True with r (and b, when a lower bottom lies before it) moved to that shoulder.
bool HigherRightShoulder(const float* s, int n, double dep, int l, int& b, int& r) {
  const int lim = std::min(r + 2 * (r - l), n - 1);
  float hi = s[r];
  float lo = s[r];
  int jHi = r;
  int jLo = r;
  for (int j = r + 1; j <= lim; ++j) {
    if (s[j] > hi) {
      hi = s[j];
      jHi = j;
    }
    if (s[j] < lo) {
      lo = s[j];
      jLo = j;
    }
  }
  if (!(jHi > r && lo + dep <= hi && lo < s[r] &&
        (s[l] - static_cast<double>(lo)) * 0.5 < hi - static_cast<double>(lo)))
    return false;
  r = jHi;
  if (jLo < jHi && lo < s[b]) b = jLo;
  return true;
}

// The mean of s over l − width … l and r … r + width inside the curve; false when no value lies there
// (only with a negative width).
bool ShoulderLevel(const float* s, int n, int l, int r, int width, float& level) {
  double sum = 0.0;
  int cnt = 0;
  for (int i = l - width; i <= l; ++i) {
    if (i >= 0) {
      sum += s[i];
      ++cnt;
    }
  }
  for (int i = r; i <= r + width; ++i) {
    if (i <= n - 1) {
      sum += s[i];
      ++cnt;
    }
  }
  if (cnt == 0) return false;
  level = static_cast<float>(sum / cnt);
  return true;
}

}  // namespace

bool FindDip(int& pos, int n, const float* s, float depth, int& l, int& b, int& r, int width, bool& qualifies,
             float& level) {
  if (pos >= n - 1) return false;
  if (pos < 0) pos = 0;  // the scan never reads before the curve
  const double dep = depth;
  for (;;) {
    // A maximum: no higher value on its left, a lower one on its right.
    ++pos;
    while (pos < n - 1 && (s[pos - 1] > s[pos] || s[pos + 1] >= s[pos])) ++pos;
    if (pos == n - 1) return false;
    l = pos;
    // Descend to a minimum that none of the next three values undercuts.
    while ((pos < n - 1 && s[pos + 1] <= s[pos]) || (pos < n - 2 && s[pos + 2] < s[pos]) ||
           (pos < n - 3 && s[pos + 3] < s[pos]))
      ++pos;
    if (pos == n - 1) return false;
    b = pos;
    if (s[l] < s[b] + dep) continue;  // too shallow: go on from the bottom
    // Ascend while any of the next three values is higher.
    while ((pos < n - 1 && s[pos] < s[pos + 1]) || (pos < n - 2 && s[pos] < s[pos + 2]) ||
           (pos < n - 3 && s[pos] < s[pos + 3]))
      ++pos;
    r = pos;
    if (s[l] - static_cast<double>(s[b]) <= 2.5 * (s[r] - static_cast<double>(s[b]))) break;
    if (HigherRightShoulder(s, n, dep, l, b, r)) break;
    pos = b;
  }

  FindFeet(b, l, r, s, false, ShapeMode::RootThreeQuarter);
  if (r == n - 1) return false;

  pos = b;
  const double dl = s[l] - static_cast<double>(s[b]);
  const double dr = s[r] - static_cast<double>(s[b]);
  // A lopsided dip, or one without shoulders to measure, does not qualify.
  if (dl <= 0 || dr <= 0 || dl < dr / 3 || dr < dl / 3 || !ShoulderLevel(s, n, l, r, width, level)) {
    qualifies = false;
    level = 0.0f;
    return true;
  }
  qualifies = s[b] + dep < level;
  return true;
}

}  // namespace klarwell
