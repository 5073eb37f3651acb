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
#include "numeric/envelope.h"
#include "numeric/peak.h"
#include "numeric/regress.h"
#include "numeric/robustmean.h"

namespace klarwell {

namespace {

// ---- Peak and flanks (on the trace).
// Trace values within height / 20 of the top belong to the top's plateau; the same margin tells a
// neighbouring bump from a flat stretch.
constexpr double kPlateauDivisor = 20.0;
// A flank that drops by 0.7 of the height ends at a real foot; a shorter one may have run into a
// neighbouring bump and is followed further.
constexpr double kFullFlank = 0.7;
// A bump higher than height / 2 beside a short flank is a neighbour of its own: the flank ends there.
constexpr double kBumpDivisor = 2.0;
// Flank widths scaled to the full height may differ by at most this factor; beyond it the peak is
// a step or a slope, not a click.
constexpr double kLopsided = 3.0;
// A flank that covers less than half its scaled width drops by less than half the height.
constexpr double kHalfDrop = 2.0;

// ---- The top's width (on the trace).
// The top is where the trace lies within 0.16 of the height below its highest value.
constexpr double kTopCut = 0.16;

// ---- Oscillation (on the waveform).
// With at most five swinging extrema between the feet the region cannot hold a steady tone.
constexpr int32_t kToneMinExtrema = 5;
// The half-period search covers the top widened by half its width on each side, the envelope test
// by 0.4 of it; the longest half-period tried is half the top's width, at least 3 samples.
constexpr double kToneScanReach = 0.5;
constexpr double kToneEnvelopeReach = 0.4;
constexpr int32_t kMinHalfPeriod = 3;
constexpr double kMaxHalfPeriodShare = 0.5;
// A tone: its envelope peak stands out by less than extrema / 2.5 + 2 spreads and less than 8, the
// best half-period smooths the envelope more than twofold, and the envelope stays high for more
// than two half-periods.
constexpr double kToneExtremaDivisor = 2.5;
constexpr double kToneZOffset = 2.0;
constexpr double kToneMaxZ = 8.0;
constexpr double kToneMinGain = 2.0;
constexpr int32_t kToneMinPeriods = 2;

// ---- Damaged samples (on the waveform).
// The ringing search reaches 0.66 of the flank-to-flank width beyond each foot; its longest
// half-period, as the tone's, is half that width.
constexpr double kRingReach = 0.66;
// Ringing: a half-period of 14–45 % of that width that smooths the envelope more than 1.2-fold,
// with an envelope peak that stands out by no more than 100 spreads (a lone spike would).
constexpr int kRingMinPercent = 14;
constexpr int kRingMaxPercent = 45;
constexpr double kRingMinGain = 1.2;
constexpr double kRingMaxZ = 100.0;
// Fewer damaged samples than this leave nothing for the blend to replace.
constexpr int32_t kMinRepairSpan = 3;

// The peak on the trace between its feet a .. b: Top is the first position of the highest value,
// Height the drop to the lower foot as seen from the caller's position.
struct TPeak {
  int32_t Top = 0;
  int32_t A = 0;
  int32_t B = 0;
  double TopValue = 0.0;
  double Height = 0.0;
  double Eps = 0.0;
};

// Walks from the top in direction dir past the plateau within eps of it, then down the slope to
// its foot, never beyond limit. False when the plateau reaches limit.
bool WalkFlank(const float* t, const TPeak& p, int32_t dir, int32_t limit, int32_t& foot) {
  auto inside = [&](int32_t k) { return dir < 0 ? k >= limit : k <= limit; };
  int32_t j = p.Top + dir;
  while (inside(j) && t[j] >= p.TopValue - p.Eps) j += dir;
  if (!inside(j)) return false;
  while (j != limit && t[j] < t[j - dir]) j += dir;
  foot = j;
  return true;
}

// The peak, its top and the feet of both flanks within [rs, rEnd].
bool FindPeak(const float* t, int32_t rs, int32_t rEnd, int32_t pos, TPeak& p) {
  int lo = rs, hi = rEnd;
  FindFeet(pos, lo, hi, t, true, ShapeMode::RootThreeQuarter);  // a steep near drop beats a shallow far one
  const double hL = static_cast<double>(t[pos]) - t[lo];
  const double hR = static_cast<double>(t[pos]) - t[hi];
  if (hL <= 0 || hR <= 0) return false;

  p.Top = lo;
  for (int32_t j = lo + 1; j <= hi; ++j) {
    if (t[j] > t[p.Top]) p.Top = j;
  }
  p.TopValue = t[p.Top];
  p.Height = std::max(hL, hR);  // measured at the caller's position
  p.Eps = p.Height / kPlateauDivisor;
  return WalkFlank(t, p, -1, lo, p.A) && WalkFlank(t, p, 1, hi, p.B);
}

// A flank that stops short of the full height may have run into a neighbouring bump, beyond which
// it goes on: unless the bump is a real neighbour, its foot moves past it. The search stays inside
// the region; reaching its edge ends the extension. False when the flank cannot be ended.
bool ExtendShortFlank(const float* t, int32_t rs, int32_t rEnd, TPeak& p) {
  const bool left = p.TopValue - t[p.A] < p.TopValue - t[p.B];
  const int32_t dir = left ? -1 : 1;
  const int32_t edge = left ? rs : rEnd;
  int32_t& foot = left ? p.A : p.B;
  auto atEdge = [&](int32_t k) { return left ? k <= edge : k >= edge; };
  const double eps = p.Eps;

  const double base = t[foot];
  int32_t j = foot;
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
  if (t[j] - base > p.Height / kBumpDivisor) return true;  // a real neighbour: the flank ends here

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
  return true;
}

// Lopsidedness, with both flank widths scaled to the full height: a peak much wider on one side,
// or one whose flank drops by less than half the height, is a step or a slope.
bool Lopsided(const float* t, const TPeak& p) {
  const double hL = p.TopValue - t[p.A];
  const double hR = p.TopValue - t[p.B];
  if (hL < p.Eps || hR < p.Eps) return true;
  const double wL = (p.Top - p.A) * p.Height / hL;
  const double wR = (p.B - p.Top) * p.Height / hR;
  if (wR / kLopsided > wL || wL / kLopsided > wR) return true;
  return kHalfDrop * (p.Top - p.A) < wL || kHalfDrop * (p.B - p.Top) < wR;
}

// The trace's top width c1 .. c2: where it stays above the cut below the top.
void TopWidth(const float* t, int32_t rs, int32_t rEnd, const TPeak& p, int32_t& c1, int32_t& c2) {
  const double cut = p.TopValue - kTopCut * p.Height;
  c1 = p.Top;
  while (c1 > rs && t[c1] > cut) --c1;
  c2 = p.Top;
  while (c2 < rEnd && t[c2] > cut) ++c2;
}

// From `from` towards the foot in direction dir: past the sample-to-sample steps that still grow
// away from the peak, then past those that shrink. The result is the last damaged sample.
int32_t DamagedEdge(const float* x, int32_t from, int32_t foot, int32_t dir) {
  // The step across j and its neighbour on the peak's side.
  auto step = [x, dir](int32_t j) {
    const int32_t i = dir < 0 ? j : j - 1;
    return std::fabs(static_cast<double>(x[i]) - x[i + 1]);
  };
  auto inside = [foot, dir](int32_t j) { return dir < 0 ? j > foot : j < foot; };
  int32_t j = from;
  double prev = step(j);
  j += dir;
  double cur = step(j);
  while (cur >= prev && inside(j)) {
    prev = cur;
    j += dir;
    cur = step(j);
  }
  while (cur < prev && inside(j)) {
    prev = cur;
    j += dir;
    cur = step(j);
  }
  return j - dir;
}

// Next to digital silence a "click" is the music starting or stopping: true when the stretch as
// long as the span on either side is constant, or does not fit in the block.
bool NextToSilence(const float* x, int32_t blockFrames, int32_t rs, int32_t re) {
  const int32_t l0 = 2 * rs - re;
  const int32_t r1 = 2 * re - rs;
  if (l0 < 0 || r1 >= blockFrames) return true;
  auto constant = [x](int32_t from, int32_t to) {
    float mn = x[from], mx = x[from];
    for (int32_t i = from; i <= to; ++i) {
      mn = std::min(mn, x[i]);
      mx = std::max(mx, x[i]);
    }
    return mn == mx;
  };
  return constant(l0, rs) || constant(re, r1);
}

}  // namespace

bool TClickEngine::LocateClick(bool isLeft, int32_t pos) {
  const float* t = TraceBuf_.data();
  const float* x = Channel(isLeft);
  const int32_t rs = RegionStart_;
  const int32_t rEnd = RegionStart_ + RegionLen_ - 1;
  if (rs < 0 || rEnd >= BlockFrames_ || pos < rs || pos > rEnd) return false;

  // Peak and flanks.
  TPeak p;
  if (!FindPeak(t, rs, rEnd, pos, p)) return false;
  const double hL = p.TopValue - t[p.A];
  const double hR = p.TopValue - t[p.B];
  if (hL <= 0 || hR <= 0) return false;
  if (!(hL >= kFullFlank * p.Height && hR >= kFullFlank * p.Height)) {
    if (!ExtendShortFlank(t, rs, rEnd, p) || Lopsided(t, p)) return false;
  }

  // Room for a stretch as wide as a .. b on both sides, and the width of the top.
  const int32_t a = p.A, b = p.B;
  if (2 * a - b < rs || 2 * b - a > rEnd) return false;
  int32_t c1 = 0, c2 = 0;
  TopWidth(t, rs, rEnd, p, c1, c2);

  if (SteadyOscillation(x, a, b, c1, c2)) return false;

  // The damaged samples: a click that rings is taken at the trace's top width, any other from
  // where the steps stop shrinking away from the peak.
  if (Rings(x, a, b)) {
    RepairStart_ = c1;
    RepairEnd_ = c2;
  } else {
    RepairStart_ = DamagedEdge(x, (3 * a + p.Top) / 4, a, -1);
    RepairEnd_ = DamagedEdge(x, (3 * b + p.Top) / 4, b, 1);
  }
  if (RepairEnd_ - RepairStart_ < kMinRepairSpan) return false;
  return !NextToSilence(x, BlockFrames_, RepairStart_, RepairEnd_);
}

// A steady oscillation over the region is a tone, whatever its trace looks like.
bool TClickEngine::SteadyOscillation(const float* x, int32_t a, int32_t b, int32_t c1, int32_t c2) {
  const int32_t n = ExtremumTest(x, a, b);
  if (n <= kToneMinExtrema) return false;
  const int32_t w = c2 - c1;
  long double kOsc = -1.0L;
  double gain = 0.0;
  OscillationScan(x, detail::Round(c1 - kToneScanReach * w), detail::Round(c2 + kToneScanReach * w), true,
                  std::max(kMinHalfPeriod, detail::Round(kMaxHalfPeriodShare * w)), kOsc, gain);
  double z = 0.0;
  int32_t span = 0;
  EnvelopeTest(x, detail::Round(c1 - kToneEnvelopeReach * w), detail::Round(c2 + kToneEnvelopeReach * w),
               true, kOsc, z, span);
  return z < n / kToneExtremaDivisor + kToneZOffset && z < kToneMaxZ && gain > kToneMinGain &&
         span > kToneMinPeriods * kOsc;
}

// A click that rings: a decaying oscillation of a few samples' half-period around the feet a .. b.
bool TClickEngine::Rings(const float* x, int32_t a, int32_t b) {
  const int32_t width = b - a;
  const int32_t s3 = detail::Round(a - kRingReach * width);
  const int32_t e3 = detail::Round(b + kRingReach * width);
  long double k3 = -1.0L;
  double gain3 = 0.0;
  OscillationScan(x, s3, e3, false, std::max(kMinHalfPeriod, detail::Round(kMaxHalfPeriodShare * width)), k3,
                  gain3);
  const long double pct = 100.0L * k3 / width;
  if (!(kRingMinPercent < pct && pct < kRingMaxPercent && gain3 > kRingMinGain)) return false;
  double z3 = 0.0;
  int32_t span3 = 0;
  EnvelopeTest(x, s3, e3, false, k3, z3, span3);
  return !(z3 > kRingMaxZ);
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
    FindFeet(i, l, r, y, true, ShapeMode::Square);
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
// of that half-period the envelope is nearly constant, so the result is small.
double TClickEngine::EnvelopeRoughness(const float* y, int32_t n, long double k) {
  double* env = Envelope_.data();
  EnergyEnvelope(y, n, k, env);
  double total = 0.0;
  for (int32_t j = 0; j < n; ++j) total += env[j];
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
  EnergyEnvelope(y, n, k, env);
  double peak = 0.0;
  for (int32_t j = 0; j < n; ++j) {
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

}  // namespace klarwell
