#pragma once

// What one pass over a block computed that the next passes may take over: the candidate search's
// trace values and the outcome of its stages, and the analysis's frame levels. For the engine's
// passes only.
//
// A trace value depends on nothing but the samples of its window, a frame level on nothing but the
// samples of its frame. A block is searched again after every pass that repaired something; the
// shifted analysis grid moves the candidate stretches by a fraction of a frame, so the later passes
// ask again for almost every trace value the first one computed, and every third analysis uses the
// frame grid of the one three passes before. A stage's peak search and tone test over a range read
// nothing but the trace over the range and the samples in it. Kept here, a value is handed back until
// a repair writes into the samples it was computed from.

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <vector>

namespace klarwell {

class TPassCache {
 public:
  static constexpr int Grids = 3;
  // Trace kinds: 0 the short window, 1 the tiny one.
  static constexpr int TraceKinds = 2;
  // Trace values are kept up to this sample rate; a block's worth of them per channel and kind at
  // higher rates would take memory that their address-space budget does not have.
  static constexpr uint32_t MaxTraceRate = 96000;

  // The outcome of a stage of the candidate search over a .. b: the peak (-1: none), its feet and
  // whether the tone test kept the range (false when there was no peak to test).
  struct TStage {
    int32_t Peak = -1, LeftFoot = 0, RightFoot = 0;
    bool Kept = false;
  };

  // Room for a block of `frames` samples and `maxFrames` analysis frames (0: never active) at a
  // sample rate; the reach of a trace window and the span of a frame in samples.
  void Allocate(int32_t frames, int32_t maxFrames, uint32_t rate, int32_t traceReach, int32_t frameSpan) {
    Frames_ = frames;
    TraceReach_ = traceReach;
    FrameSpan_ = frameSpan;
    const int32_t traced = rate <= MaxTraceRate ? frames : 0;
    for (auto& v : Traces_) v.assign(static_cast<size_t>(traced), Unknown());
    for (auto& v : Levels_) v.assign(static_cast<size_t>(maxFrames), TLevel{});
    Stages_.assign(frames > 0 ? StageSlots : 0, TStageEntry{});
    Active_ = false;
  }

  // The start of a block's passes: the channel buffers may hold anything now.
  void Begin() {
    for (auto& v : Traces_) std::fill(v.begin(), v.end(), Unknown());
    for (auto& v : Levels_) std::fill(v.begin(), v.end(), TLevel{});
    std::fill(Stages_.begin(), Stages_.end(), TStageEntry{});
    StagesUsed_ = 0;
    GridsUsed_ = 0;
    Active_ = Frames_ > 0;
  }
  void End() { Active_ = false; }
  bool Active() const { return Active_; }

  // Samples first .. last of a channel were written: every trace value whose window and every frame
  // level whose frame covers one of them is unknown again.
  void Forget(bool isLeft, int32_t first, int32_t last) {
    if (!Active_) return;
    const int32_t lo = std::max<int32_t>(0, first - TraceReach_);
    const int32_t hi = std::min<int32_t>(Frames_ - 1, last + TraceReach_);
    for (int kind = 0; kind < TraceKinds && !Traces_[0].empty(); ++kind) {
      auto& v = Traces_[TraceIndex(isLeft, kind)];
      for (int32_t i = lo; i <= hi; ++i) v[static_cast<size_t>(i)] = Unknown();
    }
    for (int grid = 0; grid < GridsUsed_; ++grid) {
      for (TLevel& level : Levels_[LevelIndex(isLeft, grid)]) {
        if (level.Start >= 0 && level.Start <= last && level.Start + FrameSpan_ - 1 >= first) level.Start = -1;
      }
    }
    for (TStageEntry& e : Stages_) {
      if (e.State == Full && e.IsLeft == isLeft && e.A - TraceReach_ <= last && e.B + TraceReach_ >= first) {
        e.State = Dropped;
      }
    }
  }

  // The kept outcome of a stage over a .. b of a channel (stage 0 or 1).
  bool FindStage(bool isLeft, int stage, int32_t a, int32_t b, TStage& out) const {
    if (!Active_) return false;
    for (size_t i = Hash(isLeft, stage, a, b), n = 0; n < Stages_.size(); i = (i + 1) & (StageSlots - 1), ++n) {
      const TStageEntry& e = Stages_[i];
      if (e.State == Empty) return false;
      if (e.State == Full && e.IsLeft == isLeft && e.Stage == stage && e.A == a && e.B == b) {
        out = e.Outcome;
        return true;
      }
    }
    return false;
  }
  void PutStage(bool isLeft, int stage, int32_t a, int32_t b, const TStage& outcome) {
    // A table more than three quarters used (dropped entries count) takes no more.
    if (!Active_ || StagesUsed_ >= StageSlots / 4 * 3) return;
    size_t i = Hash(isLeft, stage, a, b);
    while (Stages_[i].State == Full) i = (i + 1) & (StageSlots - 1);
    if (Stages_[i].State == Empty) ++StagesUsed_;
    Stages_[i] = TStageEntry{Full, isLeft, static_cast<int8_t>(stage), a, b, outcome};
  }

  // The slot of a trace value at sample c, null when trace values are not kept; it holds the marker
  // of an unknown value until a value is put there. A trace value is a finite sum, so it never takes
  // the marker's bits (a NaN).
  float* TraceSlot(bool isLeft, int kind, int32_t c) {
    auto& v = Traces_[TraceIndex(isLeft, kind)];
    return v.empty() ? nullptr : &v[static_cast<size_t>(c)];
  }
  static bool Known(float v) {
    uint32_t bits;
    std::memcpy(&bits, &v, sizeof bits);
    return bits != UnknownBits;
  }

  // The grid of an analysis with this offset, or -1 when the cache has no room for another grid
  // (or is off): frame levels are kept per grid.
  int Grid(float offset) {
    if (!Active_) return -1;
    for (int g = 0; g < GridsUsed_; ++g) {
      if (GridOffset_[g] == offset) return g;
    }
    if (GridsUsed_ == Grids) return -1;
    GridOffset_[GridsUsed_] = offset;
    return GridsUsed_++;
  }

  // The level of frame i of a grid when it was computed for a frame starting at `start` and no
  // repair touched the frame since.
  bool FindLevel(int grid, bool isLeft, int32_t i, int32_t start, float& level) const {
    const TLevel& kept = Levels_[LevelIndex(isLeft, grid)][static_cast<size_t>(i)];
    if (kept.Start != start) return false;
    level = kept.Value;
    return true;
  }
  void PutLevel(int grid, bool isLeft, int32_t i, int32_t start, float level) {
    Levels_[LevelIndex(isLeft, grid)][static_cast<size_t>(i)] = TLevel{start, level};
  }

 private:
  struct TLevel {
    int32_t Start = -1;  // -1: unknown
    float Value = 0.0f;
  };

  enum : int8_t { Empty, Full, Dropped };
  struct TStageEntry {
    int8_t State = Empty;
    bool IsLeft = false;
    int8_t Stage = 0;
    int32_t A = 0, B = 0;
    TStage Outcome;
  };
  static constexpr size_t StageSlots = 8192;  // a power of two
  static size_t Hash(bool isLeft, int stage, int32_t a, int32_t b) {
    const uint64_t key = (static_cast<uint64_t>(static_cast<uint32_t>(a)) << 32 | static_cast<uint32_t>(b)) ^
                         (static_cast<uint64_t>(isLeft) << 63) ^ (static_cast<uint64_t>(stage) << 62);
    return static_cast<size_t>((key * 0x9E3779B97F4A7C15ull) >> 51) & (StageSlots - 1);
  }

  static int TraceIndex(bool isLeft, int kind) { return (isLeft ? 0 : 1) * TraceKinds + kind; }
  static int LevelIndex(bool isLeft, int grid) { return (isLeft ? 0 : 1) * Grids + grid; }
  static constexpr uint32_t UnknownBits = 0x7fc0dead;
  static float Unknown() {
    float v;
    std::memcpy(&v, &UnknownBits, sizeof v);
    return v;
  }

  std::vector<float> Traces_[2 * TraceKinds];
  std::vector<TLevel> Levels_[2 * Grids];
  std::vector<TStageEntry> Stages_;
  size_t StagesUsed_ = 0;
  float GridOffset_[Grids] = {};
  int GridsUsed_ = 0;
  int32_t Frames_ = 0;
  int32_t TraceReach_ = 0;
  int32_t FrameSpan_ = 0;
  bool Active_ = false;
};

}  // namespace klarwell
