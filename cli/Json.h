#pragma once

#include <nlohmann/json.hpp>
#include <string>

namespace klarwell::cli {

// Members stay in the order they were added, so every line lists its fields in the same order and a
// reader scanning the output finds them where they were yesterday.
using TJson = nlohmann::ordered_json;

// A value already rounded to a few decimals, as a JSON number: whole values without a fraction
// ("3", not "3.0"), others in the shortest form that reads back exactly; non-finite values as null.
TJson JsonNumber(double value);

// `value` on one line. Bytes that are not valid UTF-8 (a file name in another encoding) become U+FFFD:
// one odd name must never end the run.
std::string JsonDump(const TJson& value);

// `value` as a JSON string literal, quotes included, encoded as JsonDump does.
std::string JsonQuote(const std::string& value);

}  // namespace klarwell::cli
