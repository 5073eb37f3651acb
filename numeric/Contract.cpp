#include "numeric/Contract.h"

#include <cstdio>
#include <cstdlib>

namespace klarwell::detail {

void ContractFailure(const char* routine, const char* condition) {
  std::fprintf(stderr, "klarwell: %s: argument check failed: %s\n", routine, condition);
  std::fflush(stderr);
  std::abort();
}

}  // namespace klarwell::detail
