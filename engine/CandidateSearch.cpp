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
#include "engine/engine.h"
#include "numeric/fftunit.h"
#include "numeric/peak.h"
#include "numeric/peaksearch.h"

namespace klarwell {

namespace {

constexpr float DipDepth = 2200.0f;
constexpr int DipWidth = 10;
constexpr int32_t MaxDipFrames = 36;  // a dip as wide as this is no click

}  // namespace

bool TClickEngine::FindNextClick(bool isLeft, int32_t& pos, const TOnClickRegion& onClickRegion,
                                 const TOnCandidate& onCandidate) {
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
    if (!(r - l < MaxDipFrames && l < b && b < r)) continue;

    detail::CallGuarded(onCandidate, detail::Round(FrameCentre_[static_cast<size_t>(b)]));

    // First stage: between the shoulders.
    const int32_t from = detail::Round(FrameCentre_[static_cast<size_t>(l)]);
    const int32_t to = detail::Round(FrameCentre_[static_cast<size_t>(r)]);
    // Frame centres lie half a frame inside the block, much more than half a trace window; the
    // check only keeps the windows inside the block should that ever change.
    if (from - ShortLen_ / 2 < 0 || to + ShortLen_ / 2 > BlockFrames_) continue;
    for (int32_t c = from; c <= to; ++c) trace[c] = TraceAt(x, isLeft, c, true);
    TPassCache::TStage first;
    if (!PassCache_.FindStage(isLeft, 0, from, to, first)) {
      first.Peak = PeakSearch(from, to, std::max(1, HalfShortLen_ / 16), first.LeftFoot, first.RightFoot);
      first.Kept = first.Peak >= 0 && ToneTest(x, from, to, 0.55, first.Peak, first.LeftFoot, first.RightFoot);
      PassCache_.PutStage(isLeft, 0, from, to, first);
    }
    int32_t peak = first.Peak;
    if (peak < 0) continue;
    if (!first.Kept) {
      detail::CallGuarded(onClickRegion, isLeft, from, to);
      continue;
    }

    // Second stage: the 10 ms region around the first estimate, with a window half as long. The
    // repair's first backward trial may train on the sample just past the region, so the region
    // must end before the block does.
    RegionStart_ = peak - RegionLen_ / 2;
    const int32_t regionEnd = peak + RegionLen_ / 2;
    if (RegionStart_ - HalfShortLen_ / 2 < 0 || regionEnd + HalfShortLen_ / 2 > BlockFrames_ ||
        RegionStart_ + RegionLen_ >= BlockFrames_) {
      continue;
    }
    for (int32_t c = RegionStart_; c <= regionEnd; ++c) trace[c] = TraceAt(x, isLeft, c, false);
    detail::SmoothSpan(trace, RegionStart_, regionEnd, 2);
    TPassCache::TStage second;
    if (!PassCache_.FindStage(isLeft, 1, RegionStart_, regionEnd, second)) {
      second.Peak = PeakSearch(RegionStart_, regionEnd, std::max(1, HalfShortLen_ / 32), second.LeftFoot,
                               second.RightFoot);
      second.Kept = second.Peak >= 0 &&
                    ToneTest(x, RegionStart_, regionEnd, 0.7, second.Peak, second.LeftFoot, second.RightFoot);
      PassCache_.PutStage(isLeft, 1, RegionStart_, regionEnd, second);
    }
    peak = second.Peak;
    if (peak < 0) continue;
    const bool accepted = second.Kept;
    detail::CallGuarded(onClickRegion, isLeft, RegionStart_, regionEnd);
    if (accepted) {
      pos = peak;
      return true;
    }
  }
}

float TClickEngine::TraceValue(const float* x, int32_t start, int32_t n, const float* window, float* work,
                               bool isShort) {
  const auto trace = isShort ? Fft_->ShortTraceValue : Fft_->TinyTraceValue;
  return trace(n, x + start, window, work, WindowSpectrum_.data(), RefPower_, FloorPower_);
}

// The trace value at sample c: the short window's (ShortLen samples from c - ShortLen / 2) or the
// tiny one's. Within a block's passes a value already computed is taken from the cache.
float TClickEngine::TraceAt(const float* x, bool isLeft, int32_t c, bool isShort) {
  const int32_t n = isShort ? ShortLen_ : HalfShortLen_;
  const auto compute = [&] {
    return TraceValue(x, c - n / 2, n, isShort ? WindowShort_.data() : WindowTiny_.data(),
                      isShort ? ShortWork_.get() : TinyWork_.get(), isShort);
  };
  float* slot = PassCache_.Active() ? PassCache_.TraceSlot(isLeft, isShort ? 0 : 1, c) : nullptr;
  if (slot == nullptr) return compute();
  if (!TPassCache::Known(*slot)) *slot = compute();
  return *slot;
}

// The highest peak of the trace over a .. b, its height measured from its feet on both sides and
// weighted by a sine over the range, so that peaks near the range's ends count less (their feet
// may lie outside it). Returns -1 when no position has a weighted height above 0.
int32_t TClickEngine::PeakSearch(int32_t a, int32_t b, int32_t step, int32_t& lf, int32_t& rf) {
  const float* t = TraceBuf_.data();
  const int32_t pos = SinePeak_ ? SinePeak_->Find(t, a, b, step) : SinePeak(t, a, b, step);
  if (pos < 0) return pos;
  int l = a, r = b;
  FindFeet(pos, l, r, t, true, 6);
  lf = l;
  rf = r;
  return pos;
}

// True when the region a .. b stays a click candidate; false when its trace is a regular series of
// peaks with a steady waveform between them.
bool TClickEngine::ToneTest(const float* x, int32_t a, int32_t b, double factor, int32_t pos, int32_t lf,
                            int32_t rf) {
  const float* t = TraceBuf_.data();
  const double base = (static_cast<double>(t[lf]) + t[rf]) / 2.0;
  const double threshold = (t[pos] - base) * factor;
  int* extrema = Extrema_.data();
  const int n = CountExtrema(a, b, t, static_cast<float>(threshold), extrema);
  if (n < 5) return true;

  // The maxima among the alternating extrema.
  int* maxima = Maxima_.data();
  int m = 0;
  for (int k = t[extrema[0]] > t[extrema[1]] ? 0 : 1; k < n; k += 2) maxima[m++] = extrema[k];
  if (m < 3) return true;
  if (m > 7) return false;

  // Regularity of their spacing. The outer intervals count only when they are not much longer
  // than the inner ones: a series may start or end with a gap.
  int32_t d[7];
  for (int k = 0; k + 1 < m; ++k) d[k] = maxima[k + 1] - maxima[k];
  bool used[7] = {};
  double mu = 0.0;
  if (m <= 3) {
    for (int k = 0; k <= m - 2; ++k) used[k] = true;
  } else {
    for (int k = 1; k <= m - 3; ++k) used[k] = true;
  }
  {
    double sum = 0.0;
    int cnt = 0;
    for (int k = 0; k <= m - 2; ++k) {
      if (used[k]) sum += d[k], ++cnt;
    }
    mu = sum / cnt;
  }
  if (m > 3) {
    const bool firstIn = d[0] <= 1.25 * mu;
    const bool lastIn = d[m - 2] <= 1.25 * mu;
    if (firstIn) used[0] = true;
    if (lastIn) used[m - 2] = true;
    if (firstIn || lastIn) {
      double sum = 0.0;
      int cnt = 0;
      for (int k = 0; k <= m - 2; ++k) {
        if (used[k]) sum += d[k], ++cnt;
      }
      mu = sum / cnt;
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
  const double r = dev / cnt / mu;
  if (r > 0.14) return true;

  // A regular series: is the waveform between the bursts steady? Bursts of a click's ringing or
  // of crackle leave their envelope between them, a tone does not.
  float* s = Scratch_.data();
  const int32_t len = b - a;
  for (int32_t i = 0; i <= len; ++i) s[i] = x[a + i];
  detail::SmoothSpan(s, 0, len, 2);
  for (int i = 0; i < m; ++i) {
    int l = a, rr = b;
    FindFeet(maxima[i], l, rr, t, true, 6);
    FeetLeft_[static_cast<size_t>(i)] = l;
    FeetRight_[static_cast<size_t>(i)] = rr;
    float lo = s[l - a], hi = s[l - a];
    for (int32_t j = l; j <= rr; ++j) {
      lo = std::min(lo, s[j - a]);
      hi = std::max(hi, s[j - a]);
    }
    SampleLo_[static_cast<size_t>(i)] = lo;
    SampleHi_[static_cast<size_t>(i)] = hi;
  }
  for (int i = 0; i + 1 < m; ++i) {
    const double loAvg = (SampleLo_[static_cast<size_t>(i)] + SampleLo_[static_cast<size_t>(i) + 1]) / 2.0;
    const double hiAvg = (SampleHi_[static_cast<size_t>(i)] + SampleHi_[static_cast<size_t>(i) + 1]) / 2.0;
    const double range = hiAvg - loAvg;
    int32_t g0 = FeetRight_[static_cast<size_t>(i)] + 1;
    int32_t g1 = FeetLeft_[static_cast<size_t>(i) + 1] - 1;
    if (g1 < g0) g1 = g0;  // an empty gap: the sample after the foot alone
    g0 = std::min(g0, b);  // ... or the range's last sample
    g1 = std::min(g1, b);
    float gapLo = s[g0 - a], gapHi = s[g0 - a];
    for (int32_t j = g0; j <= g1; ++j) {
      gapLo = std::min(gapLo, s[j - a]);
      gapHi = std::max(gapHi, s[j - a]);
    }
    if (gapLo < loAvg - 0.2 * range || gapHi > hiAvg + 0.2 * range) return true;
  }
  return false;
}

}  // namespace klarwell
