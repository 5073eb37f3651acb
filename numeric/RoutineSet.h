#pragma once

// Which implementation of the numeric kernels a new click engine binds:
//  - Reference: the straightforward routines, the arithmetic every other set is checked against;
//  - Exact: precomputed twiddles, vectorised butterflies, an exact sliding line fit; bit for bit the
//    reference's results;
//  - Fast: spectra and fits in float through a library FFT and vectorised logarithms. Not the
//    reference's bits: the same repairs, as measured against it, and the same bytes on every run on
//    one machine.

namespace klarwell {

enum class TRoutineSet { Reference, Exact, Fast };

// Chooses the set that engines initialised from now on bind (the default is Fast). Engines that
// are already set up keep theirs. Any thread.
void SelectRoutineSet(TRoutineSet set);
TRoutineSet SelectedRoutineSet();

}  // namespace klarwell
