#include "numeric/RoutineSet.h"

#include <atomic>

namespace klarwell {

namespace {
std::atomic<TRoutineSet> gSelected{TRoutineSet::Fast};
}

void SelectRoutineSet(TRoutineSet set) {
  gSelected.store(set, std::memory_order_relaxed);
}

TRoutineSet SelectedRoutineSet() {
  return gSelected.load(std::memory_order_relaxed);
}

}  // namespace klarwell
