#pragma once

#include <cfenv>

namespace klarwell::test {

// Turns invalid operation, division by zero and overflow into SIGFPE for the scope's lifetime,
// as the engine does around a block, so a routine that divides by zero or takes the logarithm
// of zero kills the test instead of passing with an infinity.
class TFpTraps {
 public:
  TFpTraps() {
    std::feclearexcept(FE_ALL_EXCEPT);
    feenableexcept(FE_INVALID | FE_DIVBYZERO | FE_OVERFLOW);
  }
  ~TFpTraps() {
    fedisableexcept(FE_ALL_EXCEPT);
    std::feclearexcept(FE_ALL_EXCEPT);
  }
  TFpTraps(const TFpTraps&) = delete;
  TFpTraps& operator=(const TFpTraps&) = delete;
};

}  // namespace klarwell::test
