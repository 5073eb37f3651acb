// Short ticks under music.
//
// A tick is a few samples that no music predicts: an autoregressive model fitted on the music around
// it fails there from both sides, the past and the future. A musical attack fails only from the past
// side (what follows an attack is its own decay, which the future side predicts), so the score of a
// sample is the geometric mean of its forward and backward residuals, and it is measured against the
// residuals of the music around it, not against a level: loud music has loud residuals.
//
// Every threshold is a multiple of that local residual scale, a robust one (the median level of the
// chunks around), so a tick cannot raise its own yardstick.

#include "engine/TickSearch.h"

#include <algorithm>
#include <cmath>

#include "engine/EngineDetail.h"
#include "numeric/levinson.h"

namespace klarwell {

namespace {

// About 0.45 ms of history (20 at 44.1 kHz): the music's resonances, not its rhythm.
constexpr double kOrderSeconds = 0.00045;
constexpr int32_t kMinOrder = 8;
// Music holds still for some 20 ms at a time: one model per segment of about 23 ms, fitted on twice
// that (a Hann window centred on the segment), so neighbouring models overlap and change smoothly.
constexpr double kSegmentSeconds = 0.023;
// The residual level is taken in chunks of a sixteenth of a segment (1.5 ms), and the scale of a
// chunk is the median level of the nine chunks around it (13 ms): a tick lifts one chunk or two,
// never the median.
constexpr int32_t kChunksPerSegment = 16;
constexpr int32_t kScaleChunks = 9;
// The mean magnitude of a Gaussian residual is sqrt(2 / pi) of its standard deviation.
constexpr double kMeanToSigma = 1.2533141373155001;
// A tick: both residuals about ten standard deviations out. A Gaussian residual reaches that once in
// 1e23 samples; music's residuals have heavier tails, and on click-free rock, piano, drums, plucked
// strings and brass ten was where changes stopped (eight still changed brass and plucked strings).
constexpr float kTickScore = 10.0f;
// Nine ticks in ten reach both channels within a few samples. Next to a tick in the other channel the
// search covers those few samples, not a whole block of them: half the bar keeps the music's own
// residuals out of so few.
constexpr float kCoincidentScore = 5.0f;
// Around a tick the damage fades into the music; the run of samples taken with it goes on while a
// residual stays above three standard deviations, the edge of what the music's own residuals reach
// (99.7 % of a Gaussian's).
constexpr float kEdgeScore = 3.0f;
// Outliers closer than this belong to one tick (the forward and backward residuals of one tick can
// peak a few samples apart).
constexpr double kJoinSeconds = 0.0001;
// A replay chain turns a groove defect into a spike that decays with the 75 us time constant of the
// replay equalisation, and a slower swing back: four time constants after the last outlier leave
// less than 2 % of the spike. Before it, one time constant covers the rise.
constexpr double kTimeConstant = 75e-6;
constexpr int32_t kAfterConstants = 4;
// A run of outliers longer than 1 ms is no tick but a pop or a scratch: the engine's search and span
// take it.
constexpr double kMaxCoreSeconds = 0.001;
// An attack: the level of the four chunks after it (6 ms) at least twice (in amplitude) that of the
// four before, and in stereo the two channels' steps alike: correlated over one half, where the two
// sides of a tick, with unrelated polarity and size, average nought.
constexpr int32_t kRiseChunks = 4;
constexpr float kRise = 2.0f;
constexpr double kCoherent = 0.5;
// Below half a 16-bit step a residual is the file's own rounding: no level is lower.
constexpr double kFloor = 0.5;

double Hann(int32_t i, int32_t len) {
  return 0.5 - 0.5 * std::cos(2.0 * detail::Pi * (i + 0.5) / len);
}

int32_t AtRate(uint32_t rate, double seconds, int32_t least) {
  return std::max(least, static_cast<int32_t>(std::lrint(rate * seconds)));
}

}  // namespace

void TTickSearch::Prepare(const TEngineSizes& sizes) {
  BlockFrames_ = sizes.BlockFrames;
  RegionLen_ = sizes.RegionLen;
  Order_ = std::min(kMaxLevinsonOrder, AtRate(sizes.SampleRate, kOrderSeconds, kMinOrder));
  Segment_ = AtRate(sizes.SampleRate, kSegmentSeconds, 4 * Order_);
  Chunk_ = std::max(1, Segment_ / kChunksPerSegment);
  Before_ = AtRate(sizes.SampleRate, kTimeConstant, 1);
  After_ = AtRate(sizes.SampleRate, kAfterConstants * kTimeConstant, 2);
  MaxCore_ = AtRate(sizes.SampleRate, kMaxCoreSeconds, 4);
  Join_ = AtRate(sizes.SampleRate, kJoinSeconds, 2);
  Floor_ = kFloor;
  const auto frames = static_cast<size_t>(std::max(0, BlockFrames_));
  for (int c = 0; c < 2; ++c) {
    Forward_[c].assign(frames, 0.0f);
    Backward_[c].assign(frames, 0.0f);
  }
  Score_[0].assign(frames, 0.0f);
  Score_[1].assign(frames, 0.0f);
  const size_t chunks = frames / static_cast<size_t>(Chunk_) + 1;
  ChunkLevel_[0].assign(chunks, 0.0f);
  ChunkLevel_[1].assign(chunks, 0.0f);
  Scale_[0].assign(chunks, 0.0f);
  Scale_[1].assign(chunks, 0.0f);
  Windowed_.assign(2 * static_cast<size_t>(Segment_) + 1, 0.0);
  Hann_.resize(2 * static_cast<size_t>(Segment_));
  for (size_t i = 0; i < Hann_.size(); ++i) Hann_[i] = Hann(static_cast<int32_t>(i), 2 * Segment_);
  for (int c = 0; c < 2; ++c) {
    Spans_[c].assign(frames / static_cast<size_t>(Before_ + After_ + 2) + 1, TClickSpan{});
    Count_[c] = Found_[c] = 0;
  }
}

// The residuals of every sample that has the model's history on both sides, one model per segment.
void TTickSearch::FitSegments(const float* x, int channel) {
  const int32_t n = BlockFrames_;
  const int32_t p = Order_;
  float* forward = Forward_[channel].data();
  float* backward = Backward_[channel].data();
  std::fill(forward, forward + n, 0.0f);
  std::fill(backward, backward + n, 0.0f);
  double a[kMaxLevinsonOrder];
  double r[kMaxLevinsonOrder + 1];
  for (int32_t s = 0; s < n; s += Segment_) {
    const int32_t lo = std::max(0, s - Segment_ / 2);
    const int32_t hi = std::min(n, s + Segment_ + Segment_ / 2);
    const int32_t len = hi - lo;
    if (len <= p) continue;
    double* w = Windowed_.data();
    const bool whole = len == 2 * Segment_;
    for (int32_t i = 0; i < len; ++i) w[i] = x[lo + i] * (whole ? Hann_[static_cast<size_t>(i)] : Hann(i, len));
    for (int32_t k = 0; k <= p; ++k) {
      // Four partial sums, so that the products of one lag run side by side.
      double acc[4] = {0.0, 0.0, 0.0, 0.0};
      int32_t i = k;
      for (; i + 3 < len; i += 4)
        for (int32_t l = 0; l < 4; ++l) acc[l] += w[i + l] * w[i + l - k];
      for (; i < len; ++i) acc[0] += w[i] * w[i - k];
      r[k] = (acc[0] + acc[1]) + (acc[2] + acc[3]);
    }
    if (!LevinsonDurbin(r, p, a)) continue;  // silence: no residual stands out of it
    // The residuals a coefficient at a time over the whole segment: each step is one multiply-add
    // across many samples.
    const int32_t from = std::max(s, p);
    const int32_t to = std::min(std::min(n, s + Segment_), n - p);
    for (int32_t i = from; i < to; ++i) forward[i] = backward[i] = x[i];
    for (int32_t k = 0; k < p; ++k) {
      const auto c = static_cast<float>(a[k]);
      for (int32_t i = from; i < to; ++i) {
        forward[i] -= c * x[i - 1 - k];
        backward[i] -= c * x[i + 1 + k];
      }
    }
  }
}

// The residual scale of every chunk: the median level (mean magnitude) of the chunks around it, as a
// standard deviation.
void TTickSearch::LocalScales(int channel) {
  const int32_t n = BlockFrames_;
  const int32_t chunks = (n + Chunk_ - 1) / Chunk_;
  const float* forward = Forward_[channel].data();
  const float* backward = Backward_[channel].data();
  std::vector<float>& level = ChunkLevel_[channel];
  for (int32_t c = 0; c < chunks; ++c) {
    const int32_t from = c * Chunk_, to = std::min(n, from + Chunk_);
    double sum = 0.0;
    for (int32_t i = from; i < to; ++i) sum += std::fabs(forward[i]) + std::fabs(backward[i]);
    level[static_cast<size_t>(c)] = static_cast<float>(sum / (2.0 * (to - from)));
  }
  float around[kScaleChunks];
  for (int32_t c = 0; c < chunks; ++c) {
    const int32_t from = std::max(0, c - kScaleChunks / 2), to = std::min(chunks, c + kScaleChunks / 2 + 1);
    const int32_t m = to - from;
    std::copy(level.begin() + from, level.begin() + to, around);
    std::nth_element(around, around + m / 2, around + m);
    Scale_[channel][static_cast<size_t>(c)] = static_cast<float>(std::max(Floor_, kMeanToSigma * around[m / 2]));
  }
}

// An attack starts something that goes on: the music's level after it, or its residual level, stands
// well above the level before (a tick leaves both as they were). In stereo an attack also moves both channels alike, where
// a tick's two sides have unrelated polarity and size; a tick on an attack is still taken.
bool TTickSearch::MusicalAttack(int channel, const float* x, const float* other, int32_t first,
                                int32_t last) const {
  const std::vector<float>& chunkLevel = ChunkLevel_[channel];
  const auto level = [&](int32_t from, int32_t to) {
    float v[kRiseChunks];
    int32_t m = 0;
    for (int32_t c = std::max(0, from); c <= to && c < static_cast<int32_t>(chunkLevel.size()); ++c)
      v[m++] = chunkLevel[static_cast<size_t>(c)];
    if (m == 0) return 0.0f;
    std::nth_element(v, v + m / 2, v + m);
    return v[m / 2];
  };
  const int32_t c0 = first / Chunk_, c1 = last / Chunk_;
  const float before = level(c0 - kRiseChunks, c0 - 1);
  const float after = level(c1 + 1, c1 + kRiseChunks);
  // The music's own level too: a drum's decay may be predicted so well that its residual stays low.
  double energyBefore = 0.0, energyAfter = 0.0;
  const int32_t reach = kRiseChunks * Chunk_;
  for (int32_t i = std::max(0, first - reach); i < first; ++i) energyBefore += static_cast<double>(x[i]) * x[i];
  for (int32_t i = last + 1 + After_; i <= std::min(BlockFrames_ - 1, last + After_ + reach); ++i)
    energyAfter += static_cast<double>(x[i]) * x[i];
  const bool rise = after > kRise * before || energyAfter > kRise * kRise * energyBefore;
  if (!other) return rise;
  double xy = 0.0, xx = 0.0, yy = 0.0;
  for (int32_t i = std::max(1, first - 1); i <= std::min(BlockFrames_ - 1, last + 1); ++i) {
    const double dx = x[i] - x[i - 1], dy = other[i] - other[i - 1];
    xy += dx * dy;
    xx += dx * dx;
    yy += dy * dy;
  }
  const double c = xx > 0.0 && yy > 0.0 ? xy / std::sqrt(xx * yy) : 0.0;
  return rise && c > kCoherent;
}

bool TTickSearch::Confirms(int channel, const float* x, const float* other, int32_t first,
                           int32_t last) const {
  return Damaged(channel, std::max(0, first), std::min(BlockFrames_ - 1, last)) &&
         !MusicalAttack(channel, x, other, first, last);
}

// Whether first .. last hold a tick's outliers, or a wide disturbance's.
bool TTickSearch::Damaged(int channel, int32_t first, int32_t last) const {
  const std::vector<float>& score = Score_[channel];
  for (int32_t i = first; i <= last; ++i)
    if (score[static_cast<size_t>(i)] > kTickScore) return true;
  // A wide disturbance (a step, a plateau, a pop) fails the past at its start and the future at its
  // end: the forward residual stands out in its first half and the backward one in its second. An
  // attack fails the future only before it begins, not within its decay.
  const std::vector<float>& forward = Forward_[channel];
  const std::vector<float>& backward = Backward_[channel];
  const int32_t mid = (first + last) / 2;
  float f = 0.0f, b = 0.0f;
  for (int32_t i = first; i <= mid; ++i) f = std::max(f, std::fabs(forward[static_cast<size_t>(i)]));
  for (int32_t i = mid; i <= last; ++i) b = std::max(b, std::fabs(backward[static_cast<size_t>(i)]));
  return first <= last && std::sqrt(f * b) > kTickScore * Scale_[channel][static_cast<size_t>(mid / Chunk_)];
}

int32_t TTickSearch::Process(const float* x, const float* other, int channel) {
  std::vector<float>& score = Score_[channel];
  Count_[channel] = Found_[channel] = 0;
  const int32_t n = BlockFrames_;
  if (n <= 2 * Order_ + 2) return 0;
  FitSegments(x, channel);
  LocalScales(channel);
  const float* forward = Forward_[channel].data();
  const float* backward = Backward_[channel].data();
  const float* scale = Scale_[channel].data();
  for (int32_t i = 0; i < n; ++i)
    score[static_cast<size_t>(i)] = std::sqrt(std::fabs(forward[i]) * std::fabs(backward[i])) / scale[i / Chunk_];
  int32_t i = 0;
  while (i < n) {
    if (score[static_cast<size_t>(i)] > kTickScore) {
      TClickSpan span;
      const bool tick = TickAt(x, other, channel, i, kTickScore, span, i);
      if (tick) Add(channel, span);
    } else {
      ++i;
    }
  }
  Found_[channel] = Count_[channel];
  return Count_[channel];
}

// The tick whose outliers (score over `least`) begin at `at`: its span, true unless it is too long for
// a tick, an attack, or too near the block's edge for a region. `next` is where the scan goes on.
bool TTickSearch::TickAt(const float* x, const float* other, int channel, int32_t at, float least,
                         TClickSpan& span, int32_t& next) const {
  const std::vector<float>& score = Score_[channel];
  const std::vector<float>& forward = Forward_[channel];
  const std::vector<float>& backward = Backward_[channel];
  const int32_t n = BlockFrames_;
  int32_t first = at, last = at;
  for (int32_t j = at + 1; j < n && j <= last + Join_; ++j)
    if (score[static_cast<size_t>(j)] > least) last = j;
  // The damage goes on before the outliers while the past no longer predicts a sample, and after
  // them while the future does not.
  const auto sigma = [&](int32_t j) { return Scale_[channel][static_cast<size_t>(j / Chunk_)]; };
  while (first > 0 && last - first < MaxCore_ &&
         std::fabs(forward[static_cast<size_t>(first - 1)]) > kEdgeScore * sigma(first - 1))
    --first;
  while (last + 1 < n && last - first < MaxCore_ &&
         std::fabs(backward[static_cast<size_t>(last + 1)]) > kEdgeScore * sigma(last + 1))
    ++last;
  next = last + 1;
  if (last - first >= MaxCore_ || MusicalAttack(channel, x, other, first, last)) return false;
  span.RepairStart = first - 1 - Before_;
  span.RepairEnd = last + 1 + After_;
  span.Position = first;
  for (int32_t j = first; j <= last; ++j)
    if (score[static_cast<size_t>(j)] > score[static_cast<size_t>(span.Position)]) span.Position = j;
  // The region is centred on the span, inside the block.
  span.RegionStart =
      std::clamp((span.RepairStart + span.RepairEnd - RegionLen_) / 2, 0, std::max(0, n - RegionLen_ - 1));
  return span.RepairStart > span.RegionStart && span.RepairEnd < span.RegionStart + RegionLen_;
}

void TTickSearch::Add(int channel, const TClickSpan& span) {
  std::vector<TClickSpan>& spans = Spans_[channel];
  if (Count_[channel] < static_cast<int32_t>(spans.size())) spans[static_cast<size_t>(Count_[channel]++)] = span;
}

int32_t TTickSearch::AddCoincident(const float* x, const float* other, int channel) {
  const int otherChannel = 1 - channel;
  const std::vector<float>& score = Score_[channel];
  for (int32_t k = 0; k < Found_[otherChannel]; ++k) {
    const int32_t at = Spans_[otherChannel][static_cast<size_t>(k)].Position;
    int32_t peak = -1;
    for (int32_t j = std::max(0, at - Join_); j <= std::min(BlockFrames_ - 1, at + Join_); ++j)
      if (score[static_cast<size_t>(j)] > kCoincidentScore &&
          (peak < 0 || score[static_cast<size_t>(j)] > score[static_cast<size_t>(peak)]))
        peak = j;
    if (peak < 0) continue;
    // From the first sample of the run that holds the peak.
    int32_t from = peak;
    while (from > 0 && peak - from < Join_ && score[static_cast<size_t>(from - 1)] > kCoincidentScore) --from;
    TClickSpan span;
    int32_t next = 0;
    if (!TickAt(x, other, channel, from, kCoincidentScore, span, next)) continue;
    bool overlaps = false;
    for (int32_t i = 0; i < Count_[channel] && !overlaps; ++i) {
      const TClickSpan& s = Spans_[channel][static_cast<size_t>(i)];
      overlaps = span.RepairStart < s.RepairEnd && s.RepairStart < span.RepairEnd;
    }
    if (!overlaps) Add(channel, span);
  }
  return Count_[channel];
}

}  // namespace klarwell
