#pragma once

#include <cstdint>
#include <string>

namespace klarwell::cli {

// A small writer of one-line JSON. Commas between members and elements are placed automatically.
// Numbers are written in the C locale, whatever the user's locale says.
class TJsonWriter {
 public:
  TJsonWriter& BeginObject();
  TJsonWriter& EndObject();
  TJsonWriter& BeginArray();
  TJsonWriter& EndArray();
  TJsonWriter& Key(const std::string& name);
  TJsonWriter& String(const std::string& value);
  TJsonWriter& Int(int64_t value);
  TJsonWriter& Number(double value);  // non-finite values are written as null
  TJsonWriter& Bool(bool value);
  TJsonWriter& Null();
  std::string Take() { return std::move(out_); }

 private:
  void Separate();
  std::string out_;
  bool needComma_ = false;
};

// `value` as a JSON string literal, quotes included; bytes that are not valid UTF-8 become U+FFFD.
std::string JsonQuote(const std::string& value);

}  // namespace klarwell::cli
