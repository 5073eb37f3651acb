#pragma once

// What the fast routines may use on this processor. Internal to numeric/.
//
// KLARWELL_HAVE_X86 is defined where the x86 vector intrinsics exist; the routines built for AVX2
// (with __attribute__((target("avx2")))) are only called when HaveAvx2() says the processor has it.

#if defined(__x86_64__) || defined(__i386__)
#include <immintrin.h>
#define KLARWELL_HAVE_X86 1
#endif

namespace klarwell::detail {

#ifdef KLARWELL_HAVE_X86
// Asked once per process; any thread.
inline bool HaveAvx2() {
  static const bool have = __builtin_cpu_supports("avx2");
  return have;
}
#endif

}  // namespace klarwell::detail
