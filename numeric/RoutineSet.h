#pragma once

// Which implementation of the numeric kernels a new click engine binds: the straightforward
// reference routines, or the fast ones (precomputed twiddles, vectorised butterflies, an exact
// sliding line fit). Both give bit-identical results; the reference set is kept so that every
// speed-up can be checked against it.

namespace klarwell {

enum class TRoutineSet { Reference, Fast };

// Chooses the set that engines initialised from now on bind (the default is Fast). Engines that
// are already set up keep theirs. Any thread.
void SelectRoutineSet(TRoutineSet set);
TRoutineSet SelectedRoutineSet();

}  // namespace klarwell
