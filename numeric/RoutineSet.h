#pragma once

// The numeric routines a click engine works with, as one bundle per set:
//  - Reference: the straightforward routines, the arithmetic the default set is measured against
//    and whose output bytes never change;
//  - Fast: spectra and fits in float through a library FFT and vectorised logarithms. Not the
//    reference's bits: the same repairs, as measured against it, and the same bytes on every run on
//    one machine.
// There is no process-wide choice: each engine is told its set with the file's options, so two
// files in one process may take different roads.

#include "numeric/fftunit.h"

namespace klarwell {

enum class TRoutineSet { Reference, Fast };

// One set's routines, filled once per process. Every transform takes buffers from the set's own
// AllocBuffer.
struct TRoutines {
  // A work buffer for transforms of n points: (doubling + 1)·(n + 2) floats for the caller.
  bool (*AllocBuffer)(int n, TFftBuffer& buffer, int doubling);
  // dB power spectrum of an analysis frame (PowerSpectrumDb's contract).
  void (*SpectrumDb)(int n, float* data, float* out, double reference, double floor);
  // The lifter's forward spectrum and its inverse (RealSpectrum, InverseRealSpectrum).
  void (*ForwardSpectrum)(int n, float* data, float* re, float* im, float* mag);
  void (*InverseSpectrum)(int n, const float* re, const float* im, float* out);
  // The detection trace's value of one window (WindowTrace's contract).
  float (*TraceValue)(int n, const float* x, const float* window, float* work, float* spectrum,
                      double reference, double floor);
  // An analysis frame less its mean, times the window (CentreAndWindowInOrder's contract).
  void (*CentreFrame)(const float* x, int stride, int n, const float* window, float* out);
  // The repair's prediction (BurgPredict's contract).
  void (*Predict)(const double* x, int n, int m, int p, double* future);
  // The frame's tilt and roughness fits, and the lifter's smoother, in float arithmetic
  // (fastfit.h) instead of TRegress's.
  bool FloatFits;
  // The peak search skips positions that cannot win (TSinePeak) instead of trying each.
  bool SkipHopelessPeaks;
  // The later passes of a block reuse trace values and frame levels that no repair touched.
  bool ReusePasses;
};

// The bundle of a set; the same object on every call.
const TRoutines& RoutinesOf(TRoutineSet set);

}  // namespace klarwell
