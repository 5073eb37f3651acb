#pragma once

namespace klarwell::detail {

// Ends the program with a message on stderr. Used where a caller's argument would make a kernel
// write outside its buffers: that is a programming error, and stopping beats corrupting memory.
[[noreturn]] void ContractFailure(const char* routine, const char* condition);

}  // namespace klarwell::detail

// Always-on argument check (unlike assert, it stays in release builds).
#define KLARWELL_REQUIRE(routine, condition)                                    \
  do {                                                                          \
    if (!(condition)) ::klarwell::detail::ContractFailure(routine, #condition); \
  } while (false)
