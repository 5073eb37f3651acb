// Block analysis: one roughness value per analysis frame and channel.
//
// A frame's roughness is how far its dB spectrum departs from straight lines fitted over
// stretches of 60 bins, after the overall tilt and any harmonic ripple have been removed. Because
// it is measured on a dB spectrum without its mean level and tilt, it does not depend on the
// signal's level. A click spreads its energy evenly over the spectrum and so smooths the frame's
// spectrum: clicks show as dips of this curve.

#include <algorithm>
#include <cmath>

#include "engine/EngineDetail.h"
#include "engine/PassCache.h"
#include "engine/engine.h"
#include "numeric/fastfit.h"
#include "numeric/RoutineSet.h"
#include "numeric/regress.h"

namespace klarwell {

namespace {

void AddRun(TRegress& fit, int32_t first, const float* y, int count) {
  for (int i = 0; i < count; ++i) fit.Add(static_cast<float>(first + i), y[i]);
}

void AddRun(TFastSlidingFit& fit, int32_t first, const float* y, int count) {
  fit.AddRun(first, y, count);
}

void StartWindow(TRegress& fit, const float*, int32_t) {
  fit.Clear();
}

void StartWindow(TFastSlidingFit& fit, const float* w, int32_t n) {
  fit.Bind(w, n);
}

// ---- Harmonic ripple (the lifter).
// Quefrencies below 10 are the spectrum's broad shape, not the even spacing of a tone's overtones;
// the ripple's peak is looked for from here on, and the mean it must beat is taken from the next one.
constexpr int32_t kRippleFirstQuefrency = 10;
// A ripple: the peak stands above the mean by more than 5.0 times the mean's height above the
// minimum; a lower peak is taken for the spread of an irregular spectrum and left alone.
constexpr double kRippleFactor = 5.0;
// The overtone spacing falls between quefrency bins: the peak's neighbours on each side go too.
constexpr int32_t kRippleNeighbours = 1;

// ---- Roughness (sliding line fits).
// The scale on which roughness is measured: line fits over 60 bins (about 2.6 kHz at 44.1 kHz),
// their window moving up the band in steps of 10 bins. The residual is measured from the fit, so
// anything broader than the window does not count.
constexpr int32_t kRoughWindowBins = 60;
constexpr int32_t kRoughStepBins = 10;
// The mean residual times 460.0 is the frame's roughness. Together with the candidate search's
// fixed dip depth it decides how much smoother than its neighbours a frame must be to be a candidate.
constexpr double kRoughnessScale = 460.0;

// W: the first len / 2 bins of the frame's dB spectrum with the straight line through lo .. hi
// subtracted there and zeros outside (w has room for len values). The tilt is the recording's
// colour, not roughness. False when no band lies between the cuts.
bool FlattenBand(const float* spectrum, int32_t len, int32_t lo, int32_t hi, bool floatFit, TRegress& fit,
                 float* w) {
  std::copy_n(spectrum, len / 2, w);
  if (hi - lo < 1) return false;

  float slope = 0.0f, intercept = 0.0f;
  if (floatFit) {
    LineFitRangeFast(w, lo, hi, slope, intercept);
  } else {
    fit.Clear();
    for (int32_t k = lo; k <= hi; ++k) fit.Add(static_cast<float>(k), w[k]);
    fit.LineFit(slope, intercept);
  }
  if (floatFit) {
    for (int32_t k = lo; k <= hi; ++k) w[k] = w[k] - (slope * static_cast<float>(k) + intercept);
  } else {
    for (int32_t k = lo; k <= hi; ++k) {
      w[k] = static_cast<float>(w[k] - (static_cast<double>(slope) * k + intercept));
    }
  }
  for (int32_t k = 0; k < lo; ++k) w[k] = 0.0f;
  for (int32_t k = hi + 1; k <= len - 1; ++k) w[k] = 0.0f;
  return true;
}

// The quefrency of a harmonic ripple in the smoothed cepstral magnitudes mag[0 .. q - 1]: the first
// position of their strict maximum from kRippleFirstQuefrency on, when it stands out by the ripple
// factor; -1 when there is none.
int32_t RippleQuefrency(const float* mag, int32_t q) {
  float minMag = mag[kRippleFirstQuefrency];
  int32_t peak = kRippleFirstQuefrency;
  for (int32_t k = kRippleFirstQuefrency + 1; k <= q - 1; ++k) {
    if (mag[k] < minMag) minMag = mag[k];
    if (mag[k] > mag[peak]) peak = k;
  }
  double magSum = 0.0;
  for (int32_t k = kRippleFirstQuefrency + 1; k <= q - 1; ++k) magSum += mag[k];
  const float magMean = static_cast<float>(magSum / (q - (kRippleFirstQuefrency + 1)));
  const bool ripple = mag[peak] > magMean + kRippleFactor * (static_cast<double>(magMean) - minMag);
  return ripple ? peak : -1;
}

// The 3-point smoother over v[0 … count − 1] as SmoothSpan gives it, without its general window.
void Smooth3(float* v, int32_t count) {
  float previous = v[0];
  for (int32_t i = 1; i + 1 < count; ++i) {
    const float current = v[i];
    v[i] = static_cast<float>((static_cast<double>(previous) + current + v[i + 1]) / 3.0);
    previous = current;
  }
}

// Harmonic ripple (a tone's overtones spaced evenly over the spectrum) would read as roughness: a
// strong peak of the spectrum's own spectrum marks it, and that quefrency, its neighbours and their
// multiples are removed from w (n bins). Without a ripple w stays as it is. lifterIn (n + 2 floats)
// is the transform's work copy; re, im, mag hold n / 2 values each.
void RemoveRipple(const TRoutines& routines, float* w, int32_t n, float* lifterIn, float* re, float* im,
                  float* mag) {
  const int32_t q = n / 2;
  std::copy_n(w, n, lifterIn);
  routines.ForwardSpectrum(n, lifterIn, re, im, mag);
  if (routines.FloatFits) {
    Smooth3(mag, q);
  } else {
    detail::SmoothSpan(mag, 0, q - 1, 1);
  }
  const int32_t peak = RippleQuefrency(mag, q);
  if (peak < 0) return;
  for (int32_t d = peak - kRippleNeighbours; d <= peak + kRippleNeighbours; ++d) {
    for (int32_t m = d; m < q; m += d) {
      re[m] = 0.0f;
      im[m] = 0.0f;
    }
  }
  routines.InverseSpectrum(n, re, im, w);
}

// Roughness: the mean residual of line fits over a 60-bin window sliding in steps of 10 bins
// along w (n bins). TFit is TRegress or the float road's TFastSlidingFit.
template <class TFit>
double WindowRoughness(TFit& window60, const float* w, int32_t n, int32_t lowCut, int32_t highCut) {
  StartWindow(window60, w, n);
  double total = 0.0;
  int32_t count = 0;
  int32_t next = 0;
  for (int32_t b = lowCut; b < n - 1 - highCut; b += kRoughStepBins) {
    const int32_t e = b < kRoughWindowBins ? 2 * b : b + kRoughWindowBins;
    if (e <= n - 2) {
      window60.DropOldestN(e - next);
      AddRun(window60, next + 1, w + next + 1, e - next);
      next = e;
    } else {
      // Near the top of the band the window narrows symmetrically around b.
      window60.DropOldestN((n - 1) - next);
      AddRun(window60, next + 1, w + next + 1, (n - 1) - next);
      window60.KeepNewest(2 * (n - 1 - b) + 1);
      next = e;
    }
    total += window60.MeanAbsResidual();
    ++count;
  }
  if (count == 0) return 0.0;
  return total / count * kRoughnessScale;
}

}  // namespace

void TClickEngine::AnalyseFrames(bool isStereo, const TOnFrame& onFrame, float gridOffset) {
  const int32_t span = (Decimate_ ? 2 : 1) * FrameLen_;
  const float step = static_cast<float>((BlockFrames_ - span) / 1000.0);

  // Within a block's passes, frames that no repair touched since the last analysis on this grid
  // keep their level.
  const int grid = PassCache_->Grid(gridOffset);
  FrameCount_ = 0;
  for (int32_t i = 0; i < MaxFrames; ++i) {
    int32_t start;
    if (gridOffset == 0.0f) {
      start = detail::Round(static_cast<double>(i) * step);
    } else {
      // Whether i * step + offset * step lands just below or above a half decides the start, so
      // the sum keeps the full product of both terms.
      const long double s = static_cast<long double>(i) * step + static_cast<long double>(gridOffset) * step;
      start = detail::RoundL(s);
    }
    if (start < 0 || start + span > BlockFrames_) break;

    FrameCentre_[static_cast<size_t>(i)] = static_cast<float>(start + span / 2);
    FrameCount_ = FrameCount_ + 1;

    FrameLevel_[0][static_cast<size_t>(i)] = LevelOfFrame(true, grid, i, start);
    detail::CallGuarded(onFrame, i, true);
    if (isStereo) {
      FrameLevel_[1][static_cast<size_t>(i)] = LevelOfFrame(false, grid, i, start);
      detail::CallGuarded(onFrame, i, false);
    }
  }

  for (int c = 0; c < 2; ++c) {
    std::copy_n(FrameLevel_[c].begin(), FrameCount_, SmoothLevel_[c].begin());
    detail::SmoothSpan(SmoothLevel_[c].data(), 0, FrameCount_ - 1, 3);
  }
}

// The stored level (ten times the roughness) of frame i of a grid, starting at `start`.
float TClickEngine::LevelOfFrame(bool isLeft, int grid, int32_t i, int32_t start) {
  float level = 0.0f;
  if (grid >= 0 && PassCache_->FindLevel(grid, isLeft, i, start, level)) return level;
  level = static_cast<float>(FrameRoughness(isLeft ? LeftBuf_.data() : RightBuf_.data(), start) * 10.0);
  if (grid >= 0) PassCache_->PutLevel(grid, isLeft, i, start, level);
  return level;
}

double TClickEngine::FrameRoughness(const float* x, int32_t start) {
  const int32_t len = FrameLen_;

  // At 88.2 kHz and above every second sample is analysed, without filtering: what lies above
  // the halved Nyquist frequency folds down, which a click's flat spectrum does not mind.
  float* buf = FrameWork_.get();
  Routines_->CentreFrame(x + start, Decimate_ ? 2 : 1, len, WindowLong_.data(), buf);

  float* spectrum = Spectrum_.data();
  Routines_->SpectrumDb(len, buf, spectrum, RefPower_, FloorPower_);

  const int32_t n = len / 2;
  float* w = Flat_.get();
  if (!FlattenBand(spectrum, len, LowCutBins_, len / 2 - HighCutBins_, Routines_->FloatFits, *Fit_, w))
    return 0.0;
  RemoveRipple(*Routines_, w, n, HalfWork_.get(), CepRe_.data(), CepIm_.data(), CepMag_.data());

  if (Routines_->FloatFits) return WindowRoughness(*FastFit_, w, n, LowCutBins_, HighCutBins_);
  return WindowRoughness(*Roughness_, w, n, LowCutBins_, HighCutBins_);
}

}  // namespace klarwell
