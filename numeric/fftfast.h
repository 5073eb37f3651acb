#pragma once

// The fast transform routines: the same arithmetic as the reference routines of fftunit.h, operation
// for operation and in the same order within every butterfly, so that every output bit is the same.
// The speed comes from twiddles computed once per stage length (by the reference's own recurrence,
// so the values are identical), butterflies taken in memory order, and on processors with AVX2 two
// butterflies per instruction in double precision.

#include "numeric/fftunit.h"

namespace klarwell {

// Makes the twiddle tables for every complex transform of up to nn points (a power of two; larger
// lengths are capped at 2^16 points). Allocates, at set-up only; safe from any thread. False when
// memory is refused; the transforms then take the reference road for the lengths without tables.
bool PrepareFftTables(int nn);

// As ComplexFft (same contract, same results). Never allocates: lengths without prepared tables
// take the reference routine.
void ComplexFftFast(float* data, int nn, int isign);

namespace detail {
// The variant for processors without AVX2 (ComplexFftFast picks it there); for tests.
void ComplexFftPortable(float* data, int nn, int isign);
// The fast dB conversion of a packed spectrum (bins bins), as the dB spectrum's last step; for tests.
void DbFromPackedFast(const float* data, float* out, int bins, double reference, double floor);
}  // namespace detail

// The routine table with the fast variants, chosen for this processor once per process.
const TFftRoutines& FastFftRoutines();

}  // namespace klarwell
