#include "cli/Json.h"

#include <charconv>
#include <cmath>

namespace klarwell::cli {

void TJsonWriter::Separate() {
  if (needComma_) out_ += ',';
  needComma_ = true;
}

TJsonWriter& TJsonWriter::BeginObject() {
  Separate();
  out_ += '{';
  needComma_ = false;
  return *this;
}

TJsonWriter& TJsonWriter::EndObject() {
  out_ += '}';
  needComma_ = true;
  return *this;
}

TJsonWriter& TJsonWriter::BeginArray() {
  Separate();
  out_ += '[';
  needComma_ = false;
  return *this;
}

TJsonWriter& TJsonWriter::EndArray() {
  out_ += ']';
  needComma_ = true;
  return *this;
}

TJsonWriter& TJsonWriter::Key(const std::string& name) {
  Separate();
  out_ += JsonQuote(name);
  out_ += ':';
  needComma_ = false;  // the value follows without a comma
  return *this;
}

TJsonWriter& TJsonWriter::String(const std::string& value) {
  Separate();
  out_ += JsonQuote(value);
  return *this;
}

TJsonWriter& TJsonWriter::Int(int64_t value) {
  Separate();
  out_ += std::to_string(value);
  return *this;
}

TJsonWriter& TJsonWriter::Number(double value) {
  Separate();
  if (!std::isfinite(value)) {
    out_ += "null";
    return *this;
  }
  // std::to_chars is locale-independent and gives the shortest text that reads back exactly.
  char buf[64];
  auto [end, ec] = std::to_chars(buf, buf + sizeof buf, value);
  out_.append(buf, ec == std::errc() ? end : buf);
  return *this;
}

TJsonWriter& TJsonWriter::Bool(bool value) {
  Separate();
  out_ += value ? "true" : "false";
  return *this;
}

TJsonWriter& TJsonWriter::Null() {
  Separate();
  out_ += "null";
  return *this;
}

std::string JsonQuote(const std::string& value) {
  std::string out = "\"";
  const auto* s = reinterpret_cast<const unsigned char*>(value.data());
  const size_t n = value.size();
  for (size_t i = 0; i < n;) {
    unsigned char c = s[i];
    if (c == '"' || c == '\\') {
      out += '\\';
      out += static_cast<char>(c);
      ++i;
    } else if (c < 0x20) {
      static const char* hex = "0123456789abcdef";
      switch (c) {
        case '\n': out += "\\n"; break;
        case '\t': out += "\\t"; break;
        case '\r': out += "\\r"; break;
        default: out += "\\u00"; out += hex[c >> 4]; out += hex[c & 15];
      }
      ++i;
    } else if (c < 0x80) {
      out += static_cast<char>(c);
      ++i;
    } else {
      // Copy a well-formed UTF-8 sequence; a file name in another encoding gets U+FFFD instead.
      int len = (c & 0xE0) == 0xC0 ? 2 : (c & 0xF0) == 0xE0 ? 3 : (c & 0xF8) == 0xF0 ? 4 : 0;
      bool ok = len > 0 && i + len <= n && !(len == 2 && c < 0xC2);
      for (int k = 1; ok && k < len; ++k) ok = (s[i + k] & 0xC0) == 0x80;
      if (ok) {
        out.append(value, i, len);
        i += len;
      } else {
        out += "\xEF\xBF\xBD";
        ++i;
      }
    }
  }
  out += '"';
  return out;
}

}  // namespace klarwell::cli
