#include "cli/Json.h"

#include <cmath>
#include <cstdint>

namespace klarwell::cli {

TJson JsonNumber(double value) {
  if (!std::isfinite(value)) return nullptr;
  // A double prints as "3.0"; scripts and the earlier output read "3". Below 2^53 the integer is exact.
  if (value == std::trunc(value) && std::fabs(value) < 9007199254740992.0) return static_cast<int64_t>(value);
  return value;
}

std::string JsonDump(const TJson& value) {
  return value.dump(-1, ' ', false, TJson::error_handler_t::replace);
}

std::string JsonQuote(const std::string& value) {
  return JsonDump(TJson(value));
}

}  // namespace klarwell::cli
