#include "numeric/RoutineSet.h"

#include "numeric/fastburg.h"
#include "numeric/fftfloat.h"
#include "numeric/prediction.h"

namespace klarwell {

namespace {

bool AllocReferenceBuffer(int n, TFftBuffer& buffer, int doubling) {
  return AllocFftBuffer(n, buffer, doubling);
}

constexpr TRoutines kReference = {
    &AllocReferenceBuffer, &PowerSpectrumDb, &RealSpectrum, &InverseRealSpectrum, &WindowTrace,
    &CentreAndWindowInOrder, &BurgPredict, false, false, false,
};

bool AllocFastBuffer(int n, TFftBuffer& buffer, int doubling) {
  return AllocFloatFftBuffer(n, buffer, doubling);
}

constexpr TRoutines kFast = {
    &AllocFastBuffer, &PowerSpectrumDbFloat, &RealSpectrumFloat, &InverseRealSpectrumFloat, &WindowTraceFloat,
    &CentreAndWindow, &BurgPredictLanes, true, true, true,
};

}  // namespace

const TRoutines& RoutinesOf(TRoutineSet set) {
  return set == TRoutineSet::Reference ? kReference : kFast;
}

}  // namespace klarwell
