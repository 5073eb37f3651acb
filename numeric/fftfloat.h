#pragma once

// The float road's transforms: the spectra of the engine's frames, trace windows and lifter in single
// precision, through a library real FFT, with a vectorised logarithm. They are not bit-identical to
// the reference routines of fftunit.h (the order of operations differs, and intermediates are
// floats); they agree with them to float rounding, which is what the road's contract asks: the same
// repairs, measured, not the same bits.
//
// Same results on every run on one machine: the transform plans are made by estimate, never by
// measurement, and never from wisdom saved on the machine; the vector width the plans and the loops
// use depends on the processor, so results may differ in the last bits between machines.
//
// Buffers: every data and out buffer handed to these routines must come from AllocFloatFftBuffer for
// the same n: the transforms run out of place, into the buffer's second half behind the room the
// caller may use, and need it aligned for vector loads (a misaligned buffer is refused by an
// always-on check).

#include "numeric/fftunit.h"

namespace klarwell {

// Makes the transform plans for real transforms of n points (a power of two, 4 … 2^16), both
// directions. Plans are made once per process, under a lock, and live for the process. Any thread;
// false when the library refuses (the routines below then must not be called for n).
bool PrepareFloatFft(int n);

// A work buffer for transforms of n points (a power of two, 4 … 2^16): the caller may use its first
// 2·(n + 2) floats (zero-filled); the rest is the transforms' own. Prepares the plans for n. False
// (buffer empty) when memory or the plans cannot be had.
bool AllocFloatFftBuffer(int n, TFftBuffer& buffer);

// As PowerSpectrumDb (fftunit.h), in float arithmetic: out[k] = 10·log10(max(|X[k]|² / reference,
// floor)), bin 0 from the DC and the Nyquist terms together. data: n floats, destroyed.
void PowerSpectrumDbFloat(int n, float* data, float* out, double reference, double floor);

// As RealSpectrum: data (n floats, destroyed); re, im, mag (n/2 each); im[0] = 0. The sign of im
// follows the reference's convention.
void RealSpectrumFloat(int n, float* data, float* re, float* im, float* mag);

// As InverseRealSpectrum: out receives the n samples scaled back; out[n] = 0.
void InverseRealSpectrumFloat(int n, const float* re, const float* im, float* out);

// As WindowTrace (fftunit.h): x (n floats) less their mean, times window, the sum of the dB spectrum's
// values, with one logarithm per eight bins (the sum of logarithms as the logarithm of a product).
// work: a buffer for n points, destroyed; spectrum: n/2 floats of scratch.
float WindowTraceFloat(int n, const float* x, const float* window, float* work, float* spectrum,
                       double reference, double floor);

// out[k] = (x[stride·k] − mean)·window[k] for k = 0 … n − 1, the mean of those n samples summed in
// double; out may be x when stride is 1. The float road's preparation of a frame or a trace window.
void CentreAndWindow(const float* x, int stride, int n, const float* window, float* out);

namespace detail {
// 10·log10(v) for normal, finite, positive floats, within a few float units of the true value; for
// tests. Other values give meaningless results but raise no floating-point fault.
float DbOfPower(float v);
}  // namespace detail

// A work buffer as AllocFloatFftBuffer's, in the reference allocator's form (AllocFftBuffer): the
// doubling (0 or 1) is room the float transforms already keep behind the caller's part.
bool AllocFloatFftBuffer(int n, TFftBuffer& buffer, int doubling);

}  // namespace klarwell
