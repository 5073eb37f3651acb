// Click repair: the damaged samples are replaced by a blend of a forward prediction from the
// signal before the click and a backward prediction from the signal after it.
//
// Each side uses an autoregressive model estimated by Burg's method. The training length of each
// side is chosen by how well its prediction continues into the far side of the click, where the
// signal is intact again; the two predictions are then blended linearly across the gap, so the
// replacement joins both edges without a step.

#include <algorithm>
#include <cmath>

#include "audio/SampleCodec.h"
#include "engine/EngineDetail.h"
#include "engine/PassCache.h"
#include "engine/engine.h"
#include "numeric/RoutineSet.h"

namespace klarwell {

// Continues x from `edge` over count samples: forward from x[edge - t .. edge], or backward
// (training on x[edge + t] down to x[edge]) into Prediction_. The order is half the training.
void TClickEngine::Predict(const float* x, int32_t edge, int32_t t, bool backward, int32_t count) {
  double* training = Training_.data();
  for (int32_t i = 0; i <= t; ++i) training[i] = backward ? x[edge + t - i] : x[edge - t + i];
  Routines_->Predict(training, t + 1, (t + 1) / 2, count, Prediction_.data());
}

namespace {

// Each prediction runs twice the gap's length: through the gap and as far again, so that its
// continuation can be compared with the intact signal beyond.
constexpr int32_t kPredictSpans = 2;
// The comparison starts two thirds into the gap: the last third of a click is where a prediction
// has drifted most, and just past it the signal is intact again.
constexpr int32_t kScoreFromNum = 2;
constexpr int32_t kScoreFromDen = 3;

}  // namespace

// The training length (from TrainMin, or the gap's length when longer, in steps of TrainStep up to
// TrainMax and the room beside the gap) whose prediction from `edge` best matches the last third of
// the gap and the intact signal beyond it. Ties keep the shorter length.
int32_t TClickEngine::BestTraining(const float* x, int32_t edge, bool backward, int32_t len, int32_t room) {
  const int32_t dir = backward ? -1 : 1;
  const int32_t predictCount = kPredictSpans * len;
  const int32_t e = (kScoreFromNum * len) / kScoreFromDen;
  const double* p = Prediction_.data();
  int32_t t = len;
  if (t < TrainMin_) t = room < TrainMin_ ? room : TrainMin_;
  int32_t best = t;
  double bestError = 0.0;
  bool first = true;
  for (;;) {
    Predict(x, edge, t, backward, predictCount);
    double error = 0.0;
    for (int32_t k = 0; k <= len - 2; ++k) error += std::fabs(x[edge + dir * (e + 1 + k)] - p[e + k]);
    if (first || error < bestError) {
      bestError = error;
      best = t;
      first = false;
    }
    if (TrainStep_ <= 0) break;  // the length could never change
    t += TrainStep_;
    if (!(t <= room && t <= TrainMax_)) break;
  }
  return best;
}

// Fills Blend_ with the re - rs - 1 samples between rs and re: pure forward prediction at the first,
// pure backward at the last, linear in between.
void TClickEngine::BlendPredictions(const float* x, int32_t rs, int32_t re, int32_t tForward,
                                    int32_t tBackward) {
  const int32_t len = re - rs;
  const int32_t predictCount = kPredictSpans * len;
  const int32_t m = len - 1;
  const double* p = Prediction_.data();
  float* forward = Forward_.data();
  float* backward = Backward_.data();
  Predict(x, rs, tForward, false, predictCount);
  for (int32_t j = 0; j < m; ++j) forward[j] = static_cast<float>(p[j]);
  Predict(x, re, tBackward, true, predictCount);
  for (int32_t k = 0; k < m; ++k) backward[k] = static_cast<float>(p[k]);  // backward[k]: x[re - 1 - k]

  float* blend = Blend_.data();
  for (int32_t k = 0; k < m; ++k) {
    const int32_t j = m - 1 - k;
    blend[j] = static_cast<float>(
        (k * static_cast<double>(forward[j]) + j * static_cast<double>(backward[k])) / (m - 1));
  }
}

// Writes Blend_[0 .. count - 1] over samples rs + 1 .. rs + count of the channel. Only the replaced
// samples are re-encoded; every other byte of the block stays as read. True when a stored byte
// changed.
bool TClickEngine::StoreRepair(const TWavRecord& format, bool isLeft, int32_t rs, int32_t count) {
  const float* blend = Blend_.data();
  uint8_t changed = 0;
  for (int32_t j = 0; j < count; ++j) {
    const int32_t s = rs + 1 + j;
    if (changed == 0) {
      EncodeSampleChanged(LeftBuf_.data(), RightBuf_.data(), BlockBytes_.data(), SampleScale_, format, s,
                          isLeft, blend[j], nullptr, changed);
    } else {
      EncodeSample(LeftBuf_.data(), RightBuf_.data(), BlockBytes_.data(), SampleScale_, format, s, isLeft,
                   blend[j], nullptr);
    }
    LastRepaired_ = std::max(LastRepaired_, s);
  }
  if (count > 0) PassCache_->Forget(isLeft, rs + 1, rs + count);
  return changed != 0;
}

TClickOutcome TClickEngine::RepairClick(const TWavRecord& format, bool isLeft) {
  const float* x = Channel(isLeft);
  const int32_t co = RegionStart_;
  const int32_t rs = RepairStart_;
  const int32_t re = RepairEnd_;
  const int32_t len = re - rs;  // the click occupies rs + 1 .. re - 1
  // What the host may show as the click before its repair, even when the repair leaves it alone.
  const int32_t kept = std::clamp(len - 1, 0, static_cast<int32_t>(Replaced_.size()));
  std::copy_n(x + rs + 1, kept, Replaced_.begin());
  // LocateClick never hands on fewer than two damaged samples; with fewer there is no blend.
  if (len < 3 || co < 0 || co + RegionLen_ >= BlockFrames_) return TClickOutcome::Unchanged;

  // A click too close to its region's edge leaves no room for training on one side; it is left
  // alone (a later pass with a shifted grid sees it in another region).
  if (rs - len < co || re + len - co > RegionLen_) return TClickOutcome::LeftAtEdge;

  // The refined mode fills with the model its span came from; the blend stays as the fallback.
  if (!(Options_.Refine && ModelReady_ && InterpolateGap(x, rs, re))) {
    const int32_t tForward = BestTraining(x, rs, false, len, rs - co);
    const int32_t tBackward = BestTraining(x, re, true, len, (RegionLen_ - 1) - (re - co));
    BlendPredictions(x, rs, re, tForward, tBackward);
  }
  return StoreRepair(format, isLeft, rs, len - 1) ? TClickOutcome::Repaired : TClickOutcome::Unchanged;
}

}  // namespace klarwell
