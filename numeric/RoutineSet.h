#pragma once

// Which implementation of the numeric kernels a click engine binds:
//  - Reference: the straightforward routines, the arithmetic every other set is checked against;
//  - Exact: precomputed twiddles, vectorised butterflies, an exact sliding line fit; bit for bit the
//    reference's results;
//  - Fast: spectra and fits in float through a library FFT and vectorised logarithms. Not the
//    reference's bits: the same repairs, as measured against it, and the same bytes on every run on
//    one machine.
// There is no process-wide choice: each engine is told its set with the file's options, so two
// files in one process may take different roads.

namespace klarwell {

enum class TRoutineSet { Reference, Exact, Fast };

}  // namespace klarwell
