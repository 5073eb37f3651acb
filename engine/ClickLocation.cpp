// Click location: is the candidate a click, and which samples does it spoil?
//
// First on the smoothed trace around the candidate: the peak must stand clear of its surroundings
// and must not be grossly lopsided. Then on the waveform: a region filled by a steady oscillation
// is no click, and the first and last damaged sample are pinned down. Everything is measured
// relative to the peak's own height, so no level or width of the signal enters.

#include <algorithm>
#include <cmath>

#include "engine/EngineDetail.h"
#include "engine/engine.h"
#include "numeric/peak.h"
#include "numeric/regress.h"

namespace klarwell {

bool TClickEngine::LocateClick(bool isLeft, int32_t pos) {
  const float* t = TraceBuf_.data();
  const float* x = Channel(isLeft);
  const int32_t rs = RegionStart_;
  const int32_t rEnd = RegionStart_ + RegionLen_ - 1;
  if (rs < 0 || rEnd >= BlockFrames_ || pos < rs || pos > rEnd) return false;

  // Stage 1: the trace peak and its flanks.
  int lo = rs, hi = rEnd;
  FindFeet(pos, lo, hi, t, true, 7);
  double hL = static_cast<double>(t[pos]) - t[lo];
  double hR = static_cast<double>(t[pos]) - t[hi];
  if (hL <= 0 || hR <= 0) return false;

  // The top: the first position of the highest value between the feet.
  pos = lo;
  for (int32_t j = lo + 1; j <= hi; ++j) {
    if (t[j] > t[pos]) pos = j;
  }
  const double top = t[pos];
  const double height = std::max(hL, hR);  // measured at the caller's position
  const double eps = height / 20.0;

  // Flanks: past the plateau within eps of the top, then down to the foot of the slope.
  int32_t j = pos - 1;
  while (j >= lo && t[j] >= top - eps) --j;
  if (j < lo) return false;  // the plateau reaches the left foot
  while (j > lo && t[j] < t[j + 1]) --j;
  int32_t a = j;

  j = pos + 1;
  while (j <= hi && t[j] >= top - eps) ++j;
  if (j > hi) return false;
  while (j < hi && t[j] < t[j - 1]) ++j;
  int32_t b = j;

  hL = top - t[a];
  hR = top - t[b];
  if (hL <= 0 || hR <= 0) return false;

  if (!(hL >= 0.7 * height && hR >= 0.7 * height)) {
    // One flank stops short: it may have run into a neighbouring bump, beyond which it goes on.
    // The search stays inside the region; reaching its edge ends the extension.
    const bool left = hL < hR;
    const int32_t dir = left ? -1 : 1;
    const int32_t edge = left ? rs : rEnd;
    int32_t& foot = left ? a : b;
    auto atEdge = [&](int32_t k) { return left ? k <= edge : k >= edge; };

    const double base = t[foot];
    bool keepFoot = false;
    j = foot;
    for (;;) {
      j += dir;
      if (atEdge(j)) {
        j = edge;
        break;
      }
      if (t[j] > base + eps) break;
      if (!(t[j] >= base - eps)) break;
    }
    if (t[j] > base) {
      // Climb the neighbouring bump.
      while (!atEdge(j) && t[j + dir] >= t[j]) j += dir;
    }
    if (t[j] - base > height / 2) {
      keepFoot = true;  // a bump more than half the peak's height: the flank really ends here
    }
    if (!keepFoot) {
      const double level = t[j];
      for (;;) {
        j += dir;
        if (atEdge(j)) break;
        if (!(t[j] >= level - eps)) break;
      }
      if (atEdge(j)) return false;
      while (!atEdge(j)) {
        if (t[j + dir] >= t[j] && t[j + dir] <= base) break;
        j += dir;
      }
      foot = j;
    }

    // Lopsidedness, with both flank widths scaled to the full height.
    hL = top - t[a];
    hR = top - t[b];
    if (hL < eps || hR < eps) return false;
    const double wL = (pos - a) * height / hL;
    const double wR = (b - pos) * height / hR;
    if (wR / 3 > wL || wL / 3 > wR) return false;
    if (2.0 * (pos - a) < wL || 2.0 * (b - pos) < wR) return false;  // a flank drops by less than H/2
  }

  // Stage 2: room for a stretch as wide as a .. b on both sides, and the width of the top.
  if (2 * a - b < rs || 2 * b - a > rEnd) return false;
  const double cut = top - 0.16 * height;
  int32_t c1 = pos;
  while (c1 > rs && t[c1] > cut) --c1;
  int32_t c2 = pos;
  while (c2 < rEnd && t[c2] > cut) ++c2;
  const int32_t w = c2 - c1;

  // Stage 3: a steady oscillation over the region is a tone, whatever its trace looks like.
  const int32_t n = ExtremumTest(x, a, b);
  if (n > 5) {
    long double kOsc = -1.0L;
    double gain = 0.0;
    OscillationScan(x, detail::Round(c1 - 0.5 * w), detail::Round(c2 + 0.5 * w), true,
                    std::max(3, detail::Round(0.5 * w)), kOsc, gain);
    double z = 0.0;
    int32_t span = 0;
    EnvelopeTest(x, detail::Round(c1 - 0.4 * w), detail::Round(c2 + 0.4 * w), true, kOsc, z, span);
    if (z < n / 2.5 + 2.0 && z < 8.0 && gain > 2.0 && span > 2 * kOsc) return false;
  }

  // Stage 4: the damaged samples. A click that rings (a decaying oscillation of a few samples'
  // half-period) is taken at the trace's top width; otherwise the first and last damaged samples
  // are where the sample-to-sample steps stop shrinking away from the peak.
  const int32_t width = b - a;
  const int32_t s3 = detail::Round(a - 0.66 * width);
  const int32_t e3 = detail::Round(b + 0.66 * width);
  long double k3 = -1.0L;
  double gain3 = 0.0;
  OscillationScan(x, s3, e3, false, std::max(3, detail::Round(0.5 * width)), k3, gain3);
  const long double pct = 100.0L * k3 / width;
  bool ring = 14 < pct && pct < 45 && gain3 > 1.2;
  if (ring) {
    double z3 = 0.0;
    int32_t span3 = 0;
    EnvelopeTest(x, s3, e3, false, k3, z3, span3);
    if (z3 > 100.0) ring = false;
  }

  if (ring) {
    RepairStart_ = c1;
    RepairEnd_ = c2;
  } else {
    auto step = [x](int32_t i) { return std::fabs(static_cast<double>(x[i]) - x[i + 1]); };
    j = (3 * a + pos) / 4;
    double prev = step(j);
    --j;
    double cur = step(j);
    while (cur >= prev && j > a) {
      prev = cur;
      --j;
      cur = step(j);
    }
    while (cur < prev && j > a) {
      prev = cur;
      --j;
      cur = step(j);
    }
    RepairStart_ = j + 1;

    j = (3 * b + pos) / 4;
    prev = step(j - 1);
    ++j;
    cur = step(j - 1);
    while (cur >= prev && j < b) {
      prev = cur;
      ++j;
      cur = step(j - 1);
    }
    while (cur < prev && j < b) {
      prev = cur;
      ++j;
      cur = step(j - 1);
    }
    RepairEnd_ = j - 1;
  }

  if (RepairEnd_ - RepairStart_ < 3) return false;

  // Next to digital silence a "click" is the music starting or stopping.
  const int32_t l0 = 2 * RepairStart_ - RepairEnd_;
  const int32_t r1 = 2 * RepairEnd_ - RepairStart_;
  if (l0 < 0 || r1 >= BlockFrames_) return false;
  auto constant = [x](int32_t from, int32_t to) {
    float mn = x[from], mx = x[from];
    for (int32_t i = from; i <= to; ++i) {
      mn = std::min(mn, x[i]);
      mx = std::max(mx, x[i]);
    }
    return mn == mx;
  };
  if (constant(l0, RepairStart_) || constant(RepairEnd_, r1)) return false;
  return true;
}

// Number of clearly swinging extrema of x over s .. e after removing its parabola; the threshold is
// a fifth of the largest drop from any point to its feet.
int32_t TClickEngine::ExtremumTest(const float* x, int32_t s, int32_t e) {
  const int32_t n = e - s;
  float* y = Scratch2_.data();
  for (int32_t i = 0; i <= n; ++i) y[i] = x[s + i];
  Detrend(y, n, true);
  double swing = -1.0;
  for (int32_t i = 1; i <= n - 1; ++i) {
    int l = 0, r = n;
    FindFeet(i, l, r, y, true, 8);
    const double drop = std::max(static_cast<double>(y[i]) - y[l], static_cast<double>(y[i]) - y[r]);
    swing = std::max(swing, drop);
  }
  if (swing < 0) return 0;
  return CountExtrema(0, n, y, static_cast<float>(swing / 5.0), Extrema_.data());
}

// Removes the least-squares parabola (quadratic) or line from y[0 .. n].
void TClickEngine::Detrend(float* y, int32_t n, bool quadratic) {
  if (quadratic) {
    float c0 = 0.0f, c1 = 0.0f, c2 = 0.0f;
    if (!QuadFit(n + 1, y, c0, c1, c2)) return;
    for (int32_t i = 0; i <= n; ++i) {
      const double xi = i;
      y[i] =
          static_cast<float>(y[i] - (static_cast<double>(c2) * xi * xi + static_cast<double>(c1) * xi + c0));
    }
  } else {
    TRegress& fit = *Fit_;
    fit.Clear();
    for (int32_t i = 0; i <= n; ++i) fit.Add(static_cast<float>(i), y[i]);
    float slope = 0.0f, intercept = 0.0f;
    fit.LineFit(slope, intercept);
    for (int32_t i = 0; i <= n; ++i) {
      y[i] = static_cast<float>(y[i] - (static_cast<double>(slope) * i + intercept));
    }
  }
}

// Roughness of the energy envelope of y[0 .. n] for a half-period of k samples: for a sinusoid
// of that half-period the envelope (mean squared plus scaled derivative squared) is nearly
// constant, so the result is small.
double TClickEngine::EnvelopeRoughness(const float* y, int32_t n, long double k) {
  double* env = Envelope_.data();
  double total = 0.0;
  for (int32_t j = 0; j < n; ++j) {
    const double m = (static_cast<double>(y[j]) + y[j + 1]) / 2.0;
    const long double d = (static_cast<long double>(y[j + 1]) - y[j]) * k / detail::PiL;
    env[j] = static_cast<double>((m * m + d * d) / 10000.0L);
    total += env[j];
  }
  if (total == 0.0) return 0.0;
  double rough = 0.0;
  for (int32_t j = 1; j < n; ++j) rough += std::fabs(env[j] - env[j - 1]);
  return rough / (total / n);
}

// The half-period (in samples, from 1 up to below kMax) whose envelope is smoothest, and how much
// smoother it is than at k = 1 (gain). Linear mode looks at a coarse grid for ringing.
void TClickEngine::OscillationScan(const float* x, int32_t s, int32_t e, bool quadratic, int32_t kMax,
                                   long double& kBest, double& gain) {
  const int32_t n = e - s;
  float* y = Scratch2_.data();
  for (int32_t i = 0; i <= n; ++i) y[i] = x[s + i];
  long double step;
  if (quadratic) {
    detail::SmoothSpan(y, 0, n - 1, 1);
    Detrend(y, n, true);
    step = 0.3L;
  } else {
    detail::SmoothSpan(y, 0, n, 2);
    Detrend(y, n, false);
    step = 3.0L;
  }

  kBest = -1.0L;
  gain = 0.0;
  bool any = false;
  double best = 0.0, first = 0.0;
  // k advances by repeated addition: whether it lands just below or above kMax decides the last
  // trial, so the sum is kept in long double.
  for (long double k = 1.0L; k < kMax; k += step) {
    const double r = EnvelopeRoughness(y, n, k);
    if (r == 0.0) {
      gain = 0.0;
      return;
    }
    if (!any) {
      any = true;
      best = first = r;
      kBest = k;
    } else if (r <= best) {
      best = r;
      kBest = k;
    } else {
      break;
    }
  }
  if (any) gain = first / best;
}

// How far the largest envelope value of x over s .. e stands out (z, in robust spreads), and the
// span of envelope values above the robust mean.
void TClickEngine::EnvelopeTest(const float* x, int32_t s, int32_t e, bool quadratic, long double k,
                                double& z, int32_t& span) {
  const int32_t n = e - s;
  float* y = Scratch2_.data();
  for (int32_t i = 0; i <= n; ++i) y[i] = x[s + i];
  Detrend(y, n, quadratic);
  double* env = Envelope_.data();
  double peak = 0.0;
  for (int32_t j = 0; j < n; ++j) {
    const double m = (static_cast<double>(y[j]) + y[j + 1]) / 2.0;
    const long double d = (static_cast<long double>(y[j + 1]) - y[j]) * k / detail::PiL;
    env[j] = static_cast<double>((m * m + d * d) / 10000.0L);
    if (j == 0 || env[j] > peak) peak = env[j];
  }
  double mean = 0.0, spread = 0.0;
  RobustMean(env, n, mean, spread);
  z = spread > 0 ? (peak - mean) / spread : 1000.0;
  int32_t firstAbove = -1, lastAbove = -1;
  for (int32_t j = 0; j < n; ++j) {
    if (env[j] > mean) {
      if (firstAbove < 0) firstAbove = j;
      lastAbove = j;
    }
  }
  span = firstAbove < 0 ? 0 : lastAbove - firstAbove + 1;
}

// Mean and mean absolute deviation of v[0 .. count - 1] after up to three rounds of discarding
// outliers, with a cut that tightens as fewer values remain.
void TClickEngine::RobustMean(const double* v, int32_t count, double& mean, double& spread) const {
  mean = 0.0;
  spread = 0.0;
  if (count <= 0) return;
  double sum = 0.0;
  for (int32_t i = 0; i < count; ++i) sum += v[i];
  mean = sum / count;
  if (count < 2) return;
  double dev = 0.0;
  for (int32_t i = 0; i < count; ++i) dev += std::fabs(v[i] - mean);
  spread = dev / (count - 1);

  int32_t prev = count;
  for (int round = 0; round < 3; ++round) {
    const float t = static_cast<float>(53.5 / (static_cast<double>(prev) * prev) + 3.8);
    const float g =
        static_cast<float>((prev - 1) * static_cast<double>(t) / ((prev - 1) + static_cast<double>(t)));
    const double cut = g * spread;
    int32_t kept = 0;
    double keptSum = 0.0;
    for (int32_t i = 0; i < count; ++i) {
      if (std::fabs(v[i] - mean) < cut) {
        keptSum += v[i];
        ++kept;
      }
    }
    if (kept < 3) break;
    const double newMean = keptSum / kept;
    double newDev = 0.0;
    for (int32_t i = 0; i < count; ++i) {
      const double d = std::fabs(v[i] - newMean);
      if (d < cut) newDev += d;
    }
    const double newSpread = newDev / (kept - 1);
    if (newSpread >= spread) break;
    mean = newMean;
    spread = newSpread;
    if (kept == prev) break;
    prev = kept;
  }
}

}  // namespace klarwell
