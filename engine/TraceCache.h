#pragma once

// Trace values kept across the passes of one block, for the engine's candidate search.
//
// A trace value depends on nothing but the samples of its window. A block is searched again after
// every pass that repaired something, and the shifted analysis grid moves the candidate stretches
// by a fraction of a frame, so the later passes ask again for almost every value the first one
// computed. Kept here, a value is handed back until a repair writes into its window.

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <vector>

namespace klarwell {

class TTraceCache {
 public:
  // One trace per channel and window length: 0 the short window, 1 the tiny one.
  static constexpr int Kinds = 2;

  // Room for a block of `frames` samples; everything unknown, the cache off.
  void Allocate(int32_t frames) {
    Frames_ = frames;
    for (auto& v : Values_) v.assign(static_cast<size_t>(frames), Unknown());
    Active_ = false;
  }

  // The start of a block's passes: the channel buffers may hold anything now.
  void Begin() {
    for (auto& v : Values_) std::fill(v.begin(), v.end(), Unknown());
    Active_ = !Values_[0].empty();
  }
  void End() { Active_ = false; }
  bool Active() const { return Active_; }

  // Samples first .. last of a channel were written: every value whose window of up to `reach`
  // samples on either side covers one of them is unknown again.
  void Forget(bool isLeft, int32_t first, int32_t last, int32_t reach) {
    if (!Active_) return;
    const int32_t lo = std::max<int32_t>(0, first - reach);
    const int32_t hi = std::min<int32_t>(Frames_ - 1, last + reach);
    for (int kind = 0; kind < Kinds; ++kind) {
      auto& v = Values_[Index(isLeft, kind)];
      for (int32_t i = lo; i <= hi; ++i) v[static_cast<size_t>(i)] = Unknown();
    }
  }

  // The slot of sample c; it holds the marker of an unknown value until a value is put there. A
  // trace value is a finite sum, so it never takes the marker's bits (a NaN).
  float* Slot(bool isLeft, int kind, int32_t c) { return &Values_[Index(isLeft, kind)][static_cast<size_t>(c)]; }
  static bool Known(float v) {
    uint32_t bits;
    std::memcpy(&bits, &v, sizeof bits);
    return bits != UnknownBits;
  }

 private:
  static int Index(bool isLeft, int kind) { return (isLeft ? 0 : 1) * Kinds + kind; }
  static constexpr uint32_t UnknownBits = 0x7fc0dead;
  static float Unknown() {
    float v;
    std::memcpy(&v, &UnknownBits, sizeof v);
    return v;
  }

  std::vector<float> Values_[2 * Kinds];
  int32_t Frames_ = 0;
  bool Active_ = false;
};

}  // namespace klarwell
