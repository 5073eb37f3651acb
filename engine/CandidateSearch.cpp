// Candidate search: from a dip of the roughness curve down to one sample.
//
// A dip of the smoothed curve marks a stretch of frames that may hold a click. It is narrowed in
// two stages, first between the dip's shoulders, then inside a 10 ms region around the first
// estimate. Each stage builds a detection trace, one value per sample: the summed dB spectrum of a
// short window centred on the sample. A click, whose spectrum is flat and loud, shows as a peak of
// the trace. A trace with a regular series of peaks and a steady waveform between them is a tone
// or a buzz, not a click, and is dropped.

#include <algorithm>
#include <cmath>

#include "engine/EngineDetail.h"
#include "engine/PassCache.h"
#include "engine/engine.h"
#include "numeric/fftunit.h"
#include "numeric/peak.h"
#include "numeric/peaksearch.h"

namespace klarwell {

namespace {

constexpr float DipDepth = 2200.0f;
constexpr int DipWidth = 10;

}  // namespace

bool TClickEngine::FindNextClick(bool isLeft, int32_t& pos) {
  // A block shorter than one analysis frame has no curve to scan.
  if (FrameCount_ <= 0) return false;
  const float* curve = SmoothLevel_[isLeft ? 0 : 1].data();
  const float* x = Channel(isLeft);
  float* trace = TraceBuf_.data();
  const int32_t last = FrameCount_ - 1;

  for (;;) {
    if (ScanIndex_ >= last) return false;
    int l = 0, b = 0, r = 0;
    bool qualifies = false;
    float level = 0.0f;
    bool found = false;
    do {
      found = FindDip(ScanIndex_, FrameCount_, curve, DipDepth, l, b, r, DipWidth, qualifies, level);
    } while (!found && ScanIndex_ < last);
    if (ScanIndex_ >= last) return false;
    if (!found || !qualifies) continue;
    if (!(r - l < detail::kMaxDipFrames && l < b && b < r)) continue;

    // First stage: between the shoulders.
    const int32_t from = detail::Round(FrameCentre_[static_cast<size_t>(l)]);
    const int32_t to = detail::Round(FrameCentre_[static_cast<size_t>(r)]);
    // Frame centres lie half a frame inside the block, much more than half a trace window; the
    // check only keeps the windows inside the block should that ever change.
    if (from - ShortLen_ / 2 < 0 || to + ShortLen_ / 2 > BlockFrames_) continue;
    for (int32_t c = from; c <= to; ++c) trace[c] = TraceAt(x, isLeft, c, true);
    int32_t peak = -1;
    if (!SearchStage(x, isLeft, 0, from, to, std::max(1, HalfShortLen_ / 16), 0.55, peak)) continue;

    // Second stage: the 10 ms region around the first estimate, with a window half as long. The
    // repair's first backward trial may train on the sample just past the region, so the region
    // must end before the block does.
    RegionStart_ = peak - RegionLen_ / 2;
    const int32_t regionEnd = peak + RegionLen_ / 2;
    if (!RegionFits(RegionStart_)) continue;
    for (int32_t c = RegionStart_; c <= regionEnd; ++c) trace[c] = TraceAt(x, isLeft, c, false);
    detail::SmoothSpan(trace, RegionStart_, regionEnd, 2);
    if (SearchStage(x, isLeft, 1, RegionStart_, regionEnd, std::max(1, HalfShortLen_ / 32), 0.7, peak)) {
      pos = peak;
      return true;
    }
  }
}

bool TClickEngine::RegionFits(int32_t regionStart) const {
  const int32_t regionEnd = regionStart + 2 * (RegionLen_ / 2);
  return regionStart - HalfShortLen_ / 2 >= 0 && regionEnd + HalfShortLen_ / 2 <= BlockFrames_ &&
         regionStart + RegionLen_ < BlockFrames_;
}

bool TClickEngine::SetRegion(int32_t regionStart, const float* trace) {
  if (!RegionFits(regionStart)) return false;
  RegionStart_ = regionStart;
  std::copy_n(trace, RegionLen_, TraceBuf_.begin() + regionStart);
  return true;
}

float TClickEngine::TraceValue(const float* x, int32_t start, int32_t n, const float* window, float* work) {
  return Routines_->TraceValue(n, x + start, window, work, WindowSpectrum_.data(), RefPower_, FloorPower_);
}

// The trace value at sample c: the short window's (ShortLen samples from c - ShortLen / 2) or the
// tiny one's. Within a block's passes a value already computed is taken from the cache.
float TClickEngine::TraceAt(const float* x, bool isLeft, int32_t c, bool isShort) {
  const int32_t n = isShort ? ShortLen_ : HalfShortLen_;
  const auto compute = [&] {
    return TraceValue(x, c - n / 2, n, isShort ? WindowShort_.data() : WindowTiny_.data(),
                      isShort ? ShortWork_.get() : TinyWork_.get());
  };
  float* slot = PassCache_->Active() ? PassCache_->TraceSlot(isLeft, isShort ? 0 : 1, c) : nullptr;
  if (slot == nullptr) return compute();
  if (!TPassCache::Known(*slot)) *slot = compute();
  return *slot;
}

// One stage's peak search over a .. b with its step, and the tone test with its factor when there is a
// peak: true when the peak (in `peak`; -1 when none) is kept. Within a block's passes an outcome
// already found for the same range is taken from the cache.
bool TClickEngine::SearchStage(const float* x, bool isLeft, int stage, int32_t a, int32_t b, int32_t step,
                               double factor, int32_t& peak) {
  TPassCache::TStage outcome;
  if (PassCache_->FindStage(isLeft, stage, a, b, outcome)) {
    peak = outcome.Peak;
    return outcome.Kept;
  }
  outcome.Peak = PeakSearch(a, b, step, outcome.LeftFoot, outcome.RightFoot);
  outcome.Kept =
      outcome.Peak >= 0 && ToneTest(x, a, b, factor, outcome.Peak, outcome.LeftFoot, outcome.RightFoot);
  PassCache_->PutStage(isLeft, stage, a, b, outcome);
  peak = outcome.Peak;
  return outcome.Kept;
}

// The highest peak of the trace over a .. b, its height measured from its feet on both sides and
// weighted by a sine over the range, so that peaks near the range's ends count less (their feet
// may lie outside it). Returns -1 when no position has a weighted height above 0.
int32_t TClickEngine::PeakSearch(int32_t a, int32_t b, int32_t step, int32_t& lf, int32_t& rf) {
  const float* t = TraceBuf_.data();
  const int32_t pos = SinePeak_ ? SinePeak_->Find(t, a, b, step) : SinePeak(t, a, b, step);
  if (pos < 0) return pos;
  int l = a, r = b;
  FindFeet(pos, l, r, t, true, ShapeMode::RootHalf);
  lf = l;
  rf = r;
  return pos;
}

namespace {

// ---- The tone test: a regular series of trace peaks with a steady waveform between them.
// Fewer than 5 extrema swinging by the threshold make no series.
constexpr int kSeriesMinExtrema = 5;
// A series needs at least 3 maxima; more than 7 evenly spaced ones are a tone whatever the
// waveform between them does.
constexpr int kSeriesMinMaxima = 3;
constexpr int kSeriesMaxMaxima = 7;
// An outer interval longer than 1.25 times the inner ones' mean is a gap before or after the
// series and does not count towards its spacing.
constexpr double kOuterInterval = 1.25;
// Maxima whose intervals deviate from their mean by more than 0.14 of it on average are irregular:
// no series.
constexpr double kIrregularSpacing = 0.14;
// The waveform between two bursts leaves their envelope when it passes more than 0.2 of the
// envelope's range below its low or above its high side.
constexpr double kEnvelopeMargin = 0.2;

// The maxima among n alternating extrema of the trace t, in order; their count.
int KeepMaxima(const float* t, const int* extrema, int n, int* maxima) {
  int m = 0;
  for (int k = t[extrema[0]] > t[extrema[1]] ? 0 : 1; k < n; k += 2) maxima[m++] = extrema[k];
  return m;
}

// The mean of the intervals d[k] marked used, k = 0 .. count - 1.
double UsedMean(const int32_t* d, const bool* used, int count) {
  double sum = 0.0;
  int cnt = 0;
  for (int k = 0; k < count; ++k) {
    if (used[k]) sum += d[k], ++cnt;
  }
  return sum / cnt;
}

// How irregular the spacing of m maxima (3 .. 7) is: the mean absolute deviation of their
// intervals from the intervals' mean, relative to that mean. The outer intervals count only when
// they are not much longer than the inner ones: a series may start or end with a gap.
double SpacingSpread(const int* maxima, int m) {
  int32_t d[kSeriesMaxMaxima];
  for (int k = 0; k + 1 < m; ++k) d[k] = maxima[k + 1] - maxima[k];
  bool used[kSeriesMaxMaxima] = {};
  if (m <= 3) {
    for (int k = 0; k <= m - 2; ++k) used[k] = true;
  } else {
    for (int k = 1; k <= m - 3; ++k) used[k] = true;
  }
  double mu = UsedMean(d, used, m - 1);
  if (m > 3) {
    const bool firstIn = d[0] <= kOuterInterval * mu;
    const bool lastIn = d[m - 2] <= kOuterInterval * mu;
    if (firstIn) used[0] = true;
    if (lastIn) used[m - 2] = true;
    if (firstIn || lastIn) {
      mu = UsedMean(d, used, m - 1);
    } else if (m == 4) {
      // All three intervals, measured against the middle one.
      used[0] = used[2] = true;
    }
  }
  double dev = 0.0;
  int cnt = 0;
  for (int k = 0; k <= m - 2; ++k) {
    if (used[k]) dev += std::fabs(mu - d[k]), ++cnt;
  }
  return dev / cnt / mu;
}

// Each burst's extent: the feet lf[i] .. rf[i] of maximum i on the trace t within a .. b, and the
// lowest and highest smoothed sample s (s[0] is sample a) between them.
void BurstEnvelopes(const float* t, const float* s, int32_t a, int32_t b, const int* maxima, int m,
                    int32_t* lf, int32_t* rf, double* lo, double* hi) {
  for (int i = 0; i < m; ++i) {
    int l = a, r = b;
    FindFeet(maxima[i], l, r, t, true, ShapeMode::RootHalf);  // the peak search's own feet
    lf[i] = l;
    rf[i] = r;
    float low = s[l - a], high = s[l - a];
    for (int32_t j = l; j <= r; ++j) {
      low = std::min(low, s[j - a]);
      high = std::max(high, s[j - a]);
    }
    lo[i] = low;
    hi[i] = high;
  }
}

// True when the waveform s (s[0] is sample a, the range ends at b) between some two neighbouring
// bursts leaves their envelope: bursts of a click's ringing or of crackle do, a tone does not.
bool GapLeavesEnvelope(const float* s, int32_t a, int32_t b, int m, const int32_t* lf, const int32_t* rf,
                       const double* lo, const double* hi) {
  for (int i = 0; i + 1 < m; ++i) {
    const double loAvg = (lo[i] + lo[i + 1]) / 2.0;
    const double hiAvg = (hi[i] + hi[i + 1]) / 2.0;
    const double range = hiAvg - loAvg;
    int32_t g0 = rf[i] + 1;
    int32_t g1 = lf[i + 1] - 1;
    if (g1 < g0) g1 = g0;  // an empty gap: the sample after the foot alone
    g0 = std::min(g0, b);  // ... or the range's last sample
    g1 = std::min(g1, b);
    float gapLo = s[g0 - a], gapHi = s[g0 - a];
    for (int32_t j = g0; j <= g1; ++j) {
      gapLo = std::min(gapLo, s[j - a]);
      gapHi = std::max(gapHi, s[j - a]);
    }
    if (gapLo < loAvg - kEnvelopeMargin * range || gapHi > hiAvg + kEnvelopeMargin * range) return true;
  }
  return false;
}

}  // namespace

// True when the region a .. b stays a click candidate; false when its trace is a regular series of
// peaks with a steady waveform between them.
bool TClickEngine::ToneTest(const float* x, int32_t a, int32_t b, double factor, int32_t pos, int32_t lf,
                            int32_t rf) {
  // The series: the trace's extrema that swing by the factor's share of the candidate peak's height.
  const float* t = TraceBuf_.data();
  const double base = (static_cast<double>(t[lf]) + t[rf]) / 2.0;
  const double threshold = (t[pos] - base) * factor;
  int* extrema = Extrema_.data();
  const int n = CountExtrema(a, b, t, static_cast<float>(threshold), extrema);
  if (n < kSeriesMinExtrema) return true;
  int* maxima = Maxima_.data();
  const int m = KeepMaxima(t, extrema, n, maxima);
  if (m < kSeriesMinMaxima) return true;
  if (m > kSeriesMaxMaxima) return false;

  // Its regularity.
  if (SpacingSpread(maxima, m) > kIrregularSpacing) return true;

  // A regular series: is the waveform between the bursts steady?
  float* s = Scratch_.data();
  const int32_t len = b - a;
  for (int32_t i = 0; i <= len; ++i) s[i] = x[a + i];
  detail::SmoothSpan(s, 0, len, 2);
  BurstEnvelopes(t, s, a, b, maxima, m, FeetLeft_.data(), FeetRight_.data(), SampleLo_.data(),
                 SampleHi_.data());
  return GapLeavesEnvelope(s, a, b, m, FeetLeft_.data(), FeetRight_.data(), SampleLo_.data(),
                           SampleHi_.data());
}

}  // namespace klarwell
