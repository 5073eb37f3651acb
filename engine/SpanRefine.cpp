// Refined span: which samples did the click really damage?
//
// LocateClick's span comes from the smoothed trace and often runs well past a short click, or stops
// inside a long one. Here the waveform decides: an autoregressive model fitted on the intact signal
// on both sides of the span predicts each sample from its neighbours, and the click is where that
// prediction fails by more than it ever does in the intact signal. The forward residual marks where
// the damage starts (its history is still intact there), the backward residual where it ends; each
// grows outwards from its strongest outlier only through outliers within the model's reach. The
// limit is the largest residual of the context itself, so no level or threshold enters. The same
// model then fills the span (FillGap).

#include "engine/SpanRefine.h"

#include <algorithm>
#include <cmath>

#include "numeric/cholesky.h"
#include "numeric/outlieredge.h"

namespace klarwell {

namespace {

// Intact context on each side, in model orders: sixteen give the least-squares fit about sixty
// equations per coefficient (forward and backward, both sides) and a limit that the music's own
// residuals inside the search seldom pass; fewer than two leave no fit worth trusting.
constexpr int32_t kContextOrders = 16;
constexpr int32_t kMinContextOrders = 2;
// Samples kept on each side of the outermost outlying residuals: a click's first and last
// samples are small by nature and may hide below the limit.
constexpr int32_t kMargin = 2;
// The longest prediction-error filter the fill keeps on the stack (the order tops out at 192 kHz).
constexpr int32_t kMaxFilter = 80;

}  // namespace

void TSpanRefiner::Prepare(const TEngineSizes& sizes, bool refine) {
  BlockFrames_ = sizes.BlockFrames;
  RegionLen_ = sizes.RegionLen;
  Order_ = sizes.RefineOrder;
  const auto order = static_cast<size_t>(Order_);
  ArNormal_.assign(order * (order + 1), 0.0);
  ArCoef_.assign(order + 1, 0.0);
  // 3L <= RegionLen for every repaired click (the edge test), so L <= RegionLen / 3. The default
  // mode never fills.
  const auto maxGap = static_cast<size_t>(RegionLen_ / 3 + 2);
  GapSystem_.assign(refine ? maxGap * (order + 2) : 0, 0.0);
  GapKnown_.assign(refine ? maxGap + order + 1 : 0, 0.0);
  GapFill_.assign(refine ? maxGap : 0, 0.0);
  Trial_.assign(refine ? maxGap + 2 * order + 2 : 0, 0.0f);
}

// Fits ArCoef_ by forward-backward least squares on the context: `context` samples before s and
// after e (with the model's history, x[s - context - p .. s - 1] and x[e + 1 .. e + context + p]).
// False when the context carries no signal to fit (silence, or a degenerate system).
bool TSpanRefiner::FitContextModel(const float* x, int32_t s, int32_t e, int32_t context) {
  const int32_t p = Order_;
  double* r = ArNormal_.data();  // p rows of p coefficients and the right-hand side
  std::fill(ArNormal_.begin(), ArNormal_.end(), 0.0);
  // One equation: target x[n], regressors x[n - dir], ..., x[n - p dir].
  auto add = [&](int32_t n, int32_t dir) {
    for (int32_t i = 0; i < p; ++i) {
      const double hi = x[n - (i + 1) * dir];
      double* row = r + static_cast<size_t>(i) * (p + 1);
      for (int32_t j = 0; j <= i; ++j) row[j] += hi * x[n - (j + 1) * dir];
      row[p] += hi * x[n];
    }
  };
  for (int32_t n = s - context; n < s; ++n) add(n, 1);
  for (int32_t n = s - context - p; n < s - p; ++n) add(n, -1);
  for (int32_t n = e + 1 + p; n <= e + context + p; ++n) add(n, 1);
  for (int32_t n = e + 1; n <= e + context; ++n) add(n, -1);

  double trace = 0.0;
  for (int32_t i = 0; i < p; ++i) trace += r[static_cast<size_t>(i) * (p + 1) + i];
  if (!(trace > 0.0)) return false;
  // A touch of diagonal loading keeps a nearly periodic context (a pure tone) solvable.
  const double load = 1e-9 * trace / p;

  for (int32_t i = 0; i < p; ++i) r[static_cast<size_t>(i) * (p + 1) + i] += load;
  return SolveCholesky(r, p, load * 1e-6, ArCoef_.data());
}

// Within s .. e: where the click starts and ends (-1 when no sample stands out). The limit is the
// largest residual of the context on both sides, in both directions. The start grows from the
// strongest forward residual towards earlier samples, the end from the strongest backward residual
// towards later ones, as long as the next outlying residual lies within the model's reach (p
// samples) of the last: an outlier farther off is the music's own (an attack, a note's edge) and
// not part of this click.
// damagedBefore / damagedAfter: the context's largest residual on that side lies within the span's
// length of it, the sign of a click that goes on into the context.
void TSpanRefiner::ResidualSpan(const float* x, int32_t s, int32_t e, int32_t context, int32_t& first,
                                int32_t& last, bool& damagedBefore, bool& damagedAfter) const {
  const int32_t p = Order_;
  const double* a = ArCoef_.data();
  const int32_t reach = e - s + 1;
  double limitBefore = 0.0, limitAfter = 0.0;
  int32_t atBefore = s - context, atAfter = e + context;
  for (int32_t n = s - context; n < s; ++n) {
    const double r =
        std::max(std::fabs(ForwardResidual(x, n, a, p)), std::fabs(BackwardResidual(x, n - p, a, p)));
    if (r > limitBefore) {
      limitBefore = r;
      atBefore = n;
    }
  }
  for (int32_t n = e + 1; n <= e + context; ++n) {
    const double r =
        std::max(std::fabs(BackwardResidual(x, n, a, p)), std::fabs(ForwardResidual(x, n + p, a, p)));
    if (r > limitAfter) {
      limitAfter = r;
      atAfter = n;
    }
  }
  damagedBefore = s - atBefore <= reach;
  damagedAfter = atAfter - e <= reach;
  const double limit = std::max(limitBefore, limitAfter);

  first = OutlierEdge(x, s, e, a, p, limit, false);
  last = OutlierEdge(x, s, e, a, p, limit, true);
}

bool TSpanRefiner::Process(const float* x, TClickSpan& span) {
  span.Modelled = false;
  const int32_t p = Order_;
  const int32_t co = span.RegionStart;
  // The damaged samples may move anywhere inside the region but its outermost samples, which
  // stay intact as the repair's edges.
  const int32_t lo = co + 1;
  const int32_t hi = co + RegionLen_ - 2;
  int32_t s = span.RepairStart + 1;
  int32_t e = span.RepairEnd - 1;
  const int32_t grow = e - s + 1;

  int32_t first = -1, last = -1;
  for (int round = 0; round < 2; ++round) {
    const int32_t context = std::min({kContextOrders * p, s - p, BlockFrames_ - 1 - e - p});
    if (context < kMinContextOrders * p || !FitContextModel(x, s, e, context)) break;
    int32_t f = -1, l = -1;
    bool damagedBefore = false, damagedAfter = false;
    ResidualSpan(x, s, e, context, f, l, damagedBefore, damagedAfter);
    if (round == 1) {
      // A bound at the very edge of the widened search bounds nothing: the first search's stays.
      if (f > s) first = f;
      if (l >= 0 && l < e) last = l;
      break;
    }
    first = f;
    last = l;
    // Damage up to the search's edge, none seen, or damage in the context next to the span
    // (LocateClick's span began or ended inside the click): the click may go on beyond that edge,
    // and the side is searched once more, widened by the span's length.
    const int32_t s2 = f <= s || damagedBefore ? std::max(lo, s - grow) : s;
    const int32_t e2 = l < 0 || l >= e || damagedAfter ? std::min(hi, e + grow) : e;
    if (s2 == s && e2 == e) break;
    s = s2;
    e = e2;
  }
  // Nothing in the waveform stands out from the music around it: whatever the trace saw, no sample
  // is damaged enough to be worth replacing (typically the spot of a repair made in an earlier pass).
  if (first < 0 || last < 0) return false;
  span.Modelled = true;
  if (first > last) std::swap(first, last);

  const int32_t rs = std::max(co, first - kMargin - 1);
  const int32_t re = std::min(co + RegionLen_ - 1, last + kMargin + 1);
  const int32_t len = re - rs;
  // The repair trains on a span's length on each side within the region; a span without that
  // room would be left unrepaired, so LocateClick's stays.
  if (len < 3 || rs - len < co || re + len - co > RegionLen_) return true;
  span.RepairStart = rs;
  span.RepairEnd = re;
  return true;
}

bool TSpanRefiner::FitAround(const float* x, int32_t rs, int32_t re) {
  const int32_t p = Order_;
  const int32_t s = rs + 1, e = re - 1;
  const int32_t context = std::min({kContextOrders * p, s - p, BlockFrames_ - 1 - e - p});
  return context >= kMinContextOrders * p && FitContextModel(x, s, e, context);
}

// Least-squares interpolation of the samples rs + 1 .. re - 1 with the context model: the values that
// make the prediction residual over every equation touching them as small as possible, so that the
// fill is what the model finds most likely (and a later pass sees nothing outlying there).
bool TSpanRefiner::FillGap(const float* x, int32_t rs, int32_t re, float* out) {
  const int32_t p = Order_;
  const int32_t m = re - rs - 1;
  if (m < 1 || rs + 1 - p < 0 || re - 1 + p >= BlockFrames_ || p + 1 > kMaxFilter) return false;
  // The prediction-error filter c: e[n] = sum c[j] x[n - j], c[0] = 1.
  double c[kMaxFilter];
  c[0] = 1.0;
  for (int32_t k = 1; k <= p; ++k) c[k] = -ArCoef_[static_cast<size_t>(k - 1)];
  GapEquations(x, rs, re, c);
  double* y = GapFill_.data();
  if (!SolveBandedCholesky(GapSystem_.data(), m, p, y)) return false;
  // A fill that swings beyond everything in the context the model was fitted on is the model
  // running away (a nearly periodic context), not the music: the blend does better there. (The
  // music next to a short gap alone is no bound: a gap may hold the extreme of a slow wave.)
  const int32_t around = kContextOrders * p;
  double peak = 0.0;
  for (int32_t i = std::max(0, rs - around); i <= std::min(BlockFrames_ - 1, re + around); ++i) {
    if (i <= rs || i >= re) peak = std::max(peak, std::fabs(static_cast<double>(x[i])));
  }
  for (int32_t i = 0; i < m; ++i) {
    if (std::fabs(y[i]) > peak) return false;
  }
  for (int32_t i = 0; i < m; ++i) out[i] = static_cast<float>(y[i]);
  return true;
}

// Every fill leaves a smaller residual the more samples it may set, whether they were damaged or not:
// a sample of music set freely takes away about one residual variance, a damaged one far more. So
// each filled sample is charged twice the variance (Akaike's criterion), and a longer span wins only
// where the samples it adds hold more damage than music.
constexpr int32_t kEndChoices = 4;
constexpr double kCostPerSample = 2.0;
// Once a tick's spike has decayed, what is left of it (its decay, a third of the spike or less, and
// the swing, a tenth to a quarter) is smaller than the spike. A fill that moves those samples by more
// than about twice that, 0.7 of what it moves the spike, is changing the music: the model missed a
// turn of it (a note's onset inside the span), and the tick is better left.
constexpr double kDecayedShare = 0.7;
// A longer span whose fill moves the added samples by more than a third of what it moves the spike's
// is the fill drifting with a slow wave of the music, which the model hardly penalises.
constexpr double kSwingShare = 1.0 / 3.0;

int32_t TSpanRefiner::ChooseEnd(const float* x, int32_t rs, int32_t decayed, int32_t shortest, int32_t longest,
                                double sigma) {
  if (longest <= shortest || !FitAround(x, rs, longest)) {
    if (!FitAround(x, rs, shortest)) return -1;
    longest = shortest;
  }
  const int32_t to = longest - 1 + Order_;  // the last residual any of the fills touches
  const int32_t splits[2] = {decayed, shortest};
  int32_t best = -1;
  double bestCost = 0.0, spike = 0.0;
  for (int32_t k = 0; k < kEndChoices; ++k) {
    const int32_t re = shortest + (longest - shortest) * k / (kEndChoices - 1);
    double moved[3] = {0.0, 0.0, 0.0};
    const double energy = FilledResidualEnergy(x, rs, re, to, splits, moved);
    if (k == 0) {
      // The shortest span's fill is the yardstick of the others. Where the model cannot fill it, the
      // repair's blend will.
      if (energy < 0.0) {
        best = shortest;
        break;
      }
      if (moved[1] > kDecayedShare * moved[0]) return -1;
      spike = moved[0];
    } else if (energy < 0.0 || moved[2] > kSwingShare * spike) {
      continue;
    }
    const double cost = energy + kCostPerSample * sigma * sigma * (re - rs - 1);
    if (best < 0 || cost < bestCost) {
      best = re;
      bestCost = cost;
    }
    if (longest == shortest) break;
  }
  // The fill itself with the model of the span it fills: the context of a shorter span lies closer.
  if (best != longest && !FitAround(x, rs, best)) return -1;
  return best;
}

// The residual energy over rs + 1 .. to once rs + 1 .. re - 1 are filled; -1 when the fill fails.
// moved: the largest change the fill makes before splits[0], from it to splits[1], and after.
double TSpanRefiner::FilledResidualEnergy(const float* x, int32_t rs, int32_t re, int32_t to, const int32_t* splits,
                                          double* moved) {
  const int32_t p = Order_;
  const int32_t from = rs + 1 - p;  // the first sample a residual reads
  const int32_t len = to - from + 1;
  if (from < 0 || to >= BlockFrames_ || len > static_cast<int32_t>(Trial_.size())) return -1.0;
  float* w = Trial_.data();
  std::copy_n(x + from, len, w);
  if (!FillGap(x, rs, re, w + p)) return -1.0;
  for (int32_t n = rs + 1; n < re; ++n) {
    double& m = moved[n < splits[0] ? 0 : n < splits[1] ? 1 : 2];
    m = std::max(m, std::fabs(static_cast<double>(w[n - from]) - x[n]));
  }
  double energy = 0.0;
  for (int32_t n = p; n < len; ++n) {
    const double e = ForwardResidual(w, n, ArCoef_.data(), p);
    energy += e * e;
  }
  return energy;
}

// The fill's normal equations for the gap rs + 1 .. re - 1 under the prediction-error filter c
// (Order_ + 1 taps) into GapSystem_, banded as SolveBandedCholesky takes them.
void TSpanRefiner::GapEquations(const float* x, int32_t rs, int32_t re, const double* c) {
  const int32_t p = Order_;
  const int32_t g0 = rs + 1;
  const int32_t m = re - rs - 1;
  // The known part of every residual that involves a gap sample.
  double* known = GapKnown_.data();
  for (int32_t i = 0; i < m + p; ++i) {
    const int32_t n = g0 + i;
    double v = 0.0;
    for (int32_t j = 0; j <= p; ++j) {
      const int32_t at = n - j;
      if (at < g0 || at > re - 1) v += c[j] * x[at];
    }
    known[i] = v;
  }
  // The filter's autocorrelation gives the band; the known parts the right-hand side.
  double r[kMaxFilter];
  for (int32_t d = 0; d <= p; ++d) {
    double v = 0.0;
    for (int32_t j = 0; j + d <= p; ++j) v += c[j] * c[j + d];
    r[d] = v;
  }
  // Row u holds the band u - p .. u of the lower triangle, then the right-hand side.
  double* a = GapSystem_.data();
  for (int32_t u = 0; u < m; ++u) {
    double* row = a + static_cast<size_t>(u) * (p + 2);
    for (int32_t v = std::max(0, u - p); v <= u; ++v) row[v - u + p] = r[u - v];
    double b = 0.0;
    for (int32_t j = 0; j <= p; ++j) b -= c[j] * known[u + j];
    row[p + 1] = b;
  }
}

}  // namespace klarwell
