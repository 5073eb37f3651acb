#pragma once

// Small helpers shared by the engine's stages. Internal to engine/.

#include <algorithm>
#include <cfenv>
#include <cmath>
#include <cstdint>
#include <utility>

namespace klarwell::detail {

inline constexpr double Pi = 3.14159265358979323846;

// A dip of the roughness curve as wide as this many frame steps is no click: the candidate search
// passes it over, and its scratch is sized for the widest stretch it does take.
inline constexpr int32_t kMaxDipFrames = 36;

// Nearest integer, halves to even (the default rounding mode).
inline int32_t Round(double v) {
  return static_cast<int32_t>(std::lrint(v));
}
inline int32_t RoundL(long double v) {
  return static_cast<int32_t>(std::lrintl(v));
}

// Throws TFloatingPointError when invalid operation, division by zero or overflow is flagged on
// this thread (and clears the flags).
void CheckFloatingPoint();

// Calls a callback when it is set. Whatever the host does in it must not count as a fault of the
// engine's arithmetic, so the engine's flags are saved around the call and restored afterwards.
template <class TCallback, class... TArgs>
void CallGuarded(const TCallback& callback, TArgs&&... args) {
  if (!callback) return;
  std::fexcept_t saved;
  std::fegetexceptflag(&saved, FE_ALL_EXCEPT);
  struct TRestore {
    const std::fexcept_t& Flags;
    ~TRestore() { std::fesetexceptflag(&Flags, FE_ALL_EXCEPT); }
  } restore{saved};
  callback(std::forward<TArgs>(args)...);
}

// Moving-mean smoother over v[lo .. hi], in place: position i gets the mean of the unsmoothed
// values i - h .. i + h with h = min(i - lo, hi - i, maxHalf), so the end points stay and the
// window narrows towards them (maxHalf 1: the 3-point smoother, 2: the 5-point, 3: the 7-point).
// Sums in double, results stored as float.
inline void SmoothSpan(float* v, int32_t lo, int32_t hi, int32_t maxHalf) {
  if (hi - lo < 2) return;
  float prev[3] = {v[lo], 0.0f, 0.0f};  // prev[d - 1] is the unsmoothed v[i - d]
  for (int32_t i = lo + 1; i <= hi - 1; ++i) {
    const int32_t h = std::min({i - lo, hi - i, maxHalf});
    double sum = 0.0;
    for (int32_t d = h; d >= 1; --d) sum += prev[d - 1];
    sum += v[i];
    for (int32_t d = 1; d <= h; ++d) sum += v[i + d];
    const float original = v[i];
    v[i] = static_cast<float>(sum / (2 * h + 1));
    prev[2] = prev[1];
    prev[1] = prev[0];
    prev[0] = original;
  }
}

}  // namespace klarwell::detail
