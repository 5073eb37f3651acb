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
#include "engine/engine.h"
#include "numeric/prediction.h"

namespace klarwell {

// Continues x from `edge` over count samples: forward from x[edge - t .. edge], or backward
// (training on x[edge + t] down to x[edge]) into Prediction_. The order is half the training.
void TClickEngine::Predict(const float* x, int32_t edge, int32_t t, bool backward, int32_t count) {
  double* training = Training_.data();
  for (int32_t i = 0; i <= t; ++i) training[i] = backward ? x[edge + t - i] : x[edge - t + i];
  BurgPredict(training, t + 1, (t + 1) / 2, count, Prediction_.data());
}

bool TClickEngine::RepairClick(const TWavRecord& format, bool isLeft) {
  float* x = Channel(isLeft);
  const int32_t co = RegionStart_;
  const int32_t rs = RepairStart_;
  const int32_t re = RepairEnd_;
  const int32_t len = re - rs;  // the click occupies rs + 1 .. re - 1
  // LocateClick never hands on fewer than two damaged samples; with fewer there is no blend.
  if (len < 3 || co < 0 || co + RegionLen_ >= BlockFrames_) return false;

  // A click too close to its region's edge leaves no room for training on one side; it is left
  // alone (a later pass with a shifted grid sees it in another region).
  if (rs - len < co || re + len - co > RegionLen_) return true;

  const int32_t predictCount = 2 * len;
  const int32_t e = (2 * len) / 3;
  const double* p = Prediction_.data();

  // Forward: the training length whose prediction best matches the last third of the click and
  // the intact signal after it.
  int32_t t = len;
  if (t < TrainMin_) t = rs - co < TrainMin_ ? rs - co : TrainMin_;
  int32_t bestForward = t;
  double bestError = 0.0;
  bool first = true;
  for (;;) {
    Predict(x, rs, t, false, predictCount);
    double error = 0.0;
    for (int32_t k = 0; k <= len - 2; ++k) error += std::fabs(x[rs + e + 1 + k] - p[e + k]);
    if (first || error < bestError) {
      bestError = error;
      bestForward = t;
      first = false;
    }
    if (TrainStep_ <= 0) break;  // the length could never change
    t += TrainStep_;
    if (!(rs - co - t >= 0 && t <= TrainMax_)) break;
  }

  // Backward, mirrored.
  t = len;
  if (t < TrainMin_) t = RegionLen_ - 1 < re - co + TrainMin_ ? (RegionLen_ - 1) - (re - co) : TrainMin_;
  int32_t bestBackward = t;
  first = true;
  for (;;) {
    Predict(x, re, t, true, predictCount);
    double error = 0.0;
    for (int32_t k = 0; k <= len - 2; ++k) error += std::fabs(x[re - e - 1 - k] - p[e + k]);
    if (first || error < bestError) {
      bestError = error;
      bestBackward = t;
      first = false;
    }
    if (TrainStep_ <= 0) break;
    t += TrainStep_;
    if (!(re - co + t <= RegionLen_ - 1 && t <= TrainMax_)) break;
  }

  const int32_t m = len - 1;  // samples to replace
  float* forward = Forward_.data();
  float* backward = Backward_.data();
  Predict(x, rs, bestForward, false, predictCount);
  for (int32_t j = 0; j < m; ++j) forward[j] = static_cast<float>(p[j]);
  Predict(x, re, bestBackward, true, predictCount);
  for (int32_t k = 0; k < m; ++k) backward[k] = static_cast<float>(p[k]);  // backward[k]: x[re - 1 - k]

  // Pure forward prediction at the first replaced sample, pure backward at the last.
  float* blend = Blend_.data();
  for (int32_t k = 0; k < m; ++k) {
    const int32_t j = m - 1 - k;
    blend[j] = static_cast<float>(
        (k * static_cast<double>(forward[j]) + j * static_cast<double>(backward[k])) / (m - 1));
  }

  // Only the replaced samples are re-encoded; every other byte of the block stays as read.
  uint8_t changed = 0;
  for (int32_t j = 0; j < m; ++j) {
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
  return changed != 0;
}

}  // namespace klarwell
