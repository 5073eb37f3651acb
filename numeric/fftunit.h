#pragma once

// Spectral transforms of the click engine: the in-place complex and real FFT, a dB power
// spectrum, a forward spectrum split into parts and its inverse, and the preparation of a frame.
//
// Arrays are 32-bit floats; every intermediate (twiddles, their recurrence, butterfly
// temporaries) is a double. Lengths are powers of two; a length that is not is refused by an
// always-on check, since the index arithmetic would run past the buffer.
// All routines are re-entrant and may run on any thread; none allocates except AllocFftBuffer.

#include <cstddef>
#include <memory>
#include <new>

namespace klarwell {

// ln(10) rounded to a 32-bit float (2.3025851249694824). Every dB conversion divides by this
// rounded value, not by the exact one.
inline constexpr float LN10 = 2.302585092994045684f;

namespace detail {
// Work buffers start on a 64-byte boundary, so that vector loads of whole lines never split one.
inline constexpr std::size_t kFftBufferAlign = 64;
struct TFftBufferFree {
  void operator()(float* p) const { ::operator delete[](p, std::align_val_t{kFftBufferAlign}); }
};
}  // namespace detail

// A work buffer owned by the caller, aligned to detail::kFftBufferAlign bytes.
using TFftBuffer = std::unique_ptr<float[], detail::TFftBufferFree>;

// In-place complex FFT of nn complex points, data[2k] real and data[2k + 1] imaginary part of
// point k (2·nn floats). isign = +1 computes sum x_j·exp(+2πi·jk/nn), isign = −1 the conjugate
// transform; neither direction scales. nn must be a power of two, at least 1.
void ComplexFft(float* data, int nn, int isign);

// In-place real FFT of n = 2·nn samples (n floats). Forward (isign = +1) leaves the packed
// spectrum: data[0] the DC term, data[1] the Nyquist term, data[2k], data[2k + 1] real and
// imaginary part of bin k for k = 1 … nn − 1, with the sign convention of ComplexFft.
// Inverse (isign = −1) takes that packing and returns nn times the signal; callers scale by 2/n.
void RealFft(float* data, int nn, int isign);

// Releases the buffer the variable held (if any) and gives it a new one of
// (doubling + 1)·(n + 2) floats, zero-filled. doubling is 0 or 1. Returns false (buffer empty)
// when memory is exhausted.
bool AllocFftBuffer(int n, TFftBuffer& buffer, int doubling);
// The same with n + 2 floats.
bool AllocFftBuffer(int n, TFftBuffer& buffer);

// dB power spectrum of n real samples: data (n floats, at least n + 2 allocated, destroyed),
// out (n/2 floats). out[k] = 10·ln(max(|X[k]|² / reference, floor)) / LN10, with |X[k]|² and
// the quotient each rounded to a 32-bit float. Bin 0 combines the DC and the Nyquist terms.
// reference > 0 and floor > 0 are expected; a reference that is not positive is taken as 1 and
// the logarithm never sees a value below the smallest positive float.
void PowerSpectrumDb(int n, float* data, float* out, double reference, double floor);

// Forward spectrum of n real samples: data (n floats, destroyed); re, im, mag (n/2 floats each).
// The packed Nyquist term is dropped: im[0] = 0. mag[k] = sqrt(re² + im²), the sum of squares
// rounded to a 32-bit float before the root.
void RealSpectrum(int n, float* data, float* re, float* im, float* mag);

// Inverse of RealSpectrum: re, im (n/2 floats each, im[0] read as the Nyquist term);
// out (n + 2 floats) receives the n real samples in out[0 … n − 1], scaled by 2/n; out[n] = 0.
void InverseRealSpectrum(int n, const float* re, const float* im, float* out);

// The detection trace's value of a window of n samples x (n floats): the samples less their mean
// (summed in double), times window (n floats), through PowerSpectrumDb into spectrum (n/2 floats), and
// the sum of those dB values (in double), as a float. work: n + 2 floats, destroyed.
float WindowTrace(int n, const float* x, const float* window, float* work, float* spectrum, double reference,
                  double floor);

// out[k] = (x[stride·k] − mean)·window[k] for k = 0 … n − 1, the mean of those n samples summed in
// double in index order, each difference rounded to a float before the window multiplies it. The
// reference road's preparation of an analysis frame; out must not overlap x.
void CentreAndWindowInOrder(const float* x, int stride, int n, const float* window, float* out);

}  // namespace klarwell
