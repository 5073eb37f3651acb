#include "chart/AxisScale.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdlib>
#include <string>

namespace klarwell {

namespace {

// Labels carry 12 significant digits in scientific notation: a 20-character field holds a sign,
// one digit, the point, eleven decimals and a four-digit exponent.
constexpr int ScientificDecimals = 11;

// Exact powers of ten (the nearest double to 10^k). Multiplying 1e-307 up by ten three hundred
// times drifts by several ulps, which would turn a range of exactly 10 into a step of 9.99...
double Pow10(int k) {
  char text[16];
  text[0] = '1';
  text[1] = 'e';
  auto [end, ec] = std::to_chars(text + 2, text + sizeof text, k);
  (void)ec;
  double value = 0.0;
  std::from_chars(text, end, value);
  return value;
}

// The C library's printf follows the process locale (the window program sets it from the
// environment), so numbers are written with to_chars, which never does.
std::string Scientific(double value, int decimals) {
  char text[64];
  auto [end, ec] = std::to_chars(text, text + sizeof text, value, std::chars_format::scientific, decimals);
  if (ec != std::errc()) return "0e+00";
  return std::string(text, end);
}

std::string Fixed(double value, int decimals) {
  // A fixed text of a large value needs up to 309 digits before the point.
  std::string text(400, '\0');
  auto [end, ec] =
      std::to_chars(text.data(), text.data() + text.size(), value, std::chars_format::fixed, decimals);
  if (ec != std::errc()) return Scientific(value, ScientificDecimals);
  text.resize(static_cast<size_t>(end - text.data()));
  return text;
}

// The decimal exponent of a scientific text ("1.5e-03" -> -3).
int ExponentOf(const std::string& text) {
  const size_t e = text.find_first_of("eE");
  if (e == std::string::npos) return 0;
  return std::atoi(text.c_str() + e + 1);
}

void StripTrailingZeros(std::string& mantissa) {
  if (mantissa.find('.') == std::string::npos) return;
  while (!mantissa.empty() && mantissa.back() == '0') mantissa.pop_back();
  if (!mantissa.empty() && mantissa.back() == '.') mantissa.pop_back();
}

}  // namespace

int DecadeOf(double x) {
  if (x == 0.0 || std::isnan(x)) return 0;
  const double decade = std::nearbyint(std::log(std::fabs(x)) / std::log(10.0));
  // Infinite or denormal inputs stay far outside any usable range without overflowing an int.
  return static_cast<int>(std::clamp(decade, -10000.0, 10000.0));
}

TDecadeStep DecadeStep(double max, double min) {
  if (min > max) std::swap(min, max);
  const double range = max - min;
  if (!(range > 0.0) || !std::isfinite(range)) return {};
  // The largest power of ten strictly below the range, between 1e-308 and 1e307.
  int k = static_cast<int>(std::floor(std::log10(range)));
  k = std::clamp(k, -308, 307);
  while (k > -308 && Pow10(k) >= range) --k;
  while (k < 307 && Pow10(k + 1) < range) ++k;
  TDecadeStep result;
  result.Step = Pow10(k);
  // A range such as 0.3 divides by 0.1 to 2.9999999999999996; the tolerance keeps its third step.
  result.Count = static_cast<int>(std::trunc(range / result.Step * (1.0 + 1e-12)));
  return result;
}

int RangeDecimals(double max, double min) {
  const double range = max - min;
  if (!std::isfinite(range)) return 0;
  return -ExponentOf(Scientific(range, ScientificDecimals));
}

int ChooseSubdivision(int left, int right, int minSpacing, double max, double min, double step) {
  const double range = max - min;
  double pixels = step / range * (right - left);
  if (std::isnan(pixels)) pixels = 0.0;
  pixels = std::clamp(pixels, -1e9, 1e9);
  const int p = static_cast<int>(std::nearbyint(pixels));
  for (int d : {1, 2, 5, 10}) {
    if (p / d < minSpacing) return d;
  }
  return 10;
}

bool RangeResolvable(bool logarithmic, int digits, double a, double b) {
  if (logarithmic) return DecadeOf(std::log10(a) - std::log10(b)) >= -digits;
  const int e = DecadeOf(a - b);
  if (e < -digits) return false;
  if (DecadeOf(b) - e > digits) return false;
  if (DecadeOf(a) - e > digits) return false;
  return true;
}

namespace {

// A printed number without leading blanks and trailing zeros, split at its exponent; the exponent
// without its plus sign and leading zeros (none left: no exponent).
void SplitTidy(std::string text, std::string& mantissa, std::string& exponent, bool& hasExponent) {
  const size_t firstNonBlank = text.find_first_not_of(' ');
  text.erase(0, firstNonBlank == std::string::npos ? text.size() : firstNonBlank);
  const size_t ePos = text.find_first_of("eE");
  mantissa = ePos == std::string::npos ? text : text.substr(0, ePos);
  exponent = ePos == std::string::npos ? std::string() : text.substr(ePos + 1);
  hasExponent = ePos != std::string::npos;
  StripTrailingZeros(mantissa);
  if (hasExponent) {
    bool negativeExponent = false;
    if (!exponent.empty() && (exponent[0] == '+' || exponent[0] == '-')) {
      negativeExponent = exponent[0] == '-';
      exponent.erase(0, 1);
    }
    exponent.erase(0, std::min(exponent.find_first_not_of('0'), exponent.size()));
    if (exponent.empty()) {
      hasExponent = false;
    } else if (negativeExponent) {
      exponent.insert(0, 1, '-');
    }
  }
  if (mantissa.empty() || mantissa == "-") mantissa.insert(mantissa.size(), 1, '0');
}

// A number in scientific form written out positionally when that stays short: a few leading zeros
// after the point, or a few trailing zeros before it; otherwise kept as mantissa E exponent.
std::string PositionalWhenShort(const std::string& mantissa, const std::string& exponent) {
  const int exp = std::atoi(exponent.c_str());
  const bool negative = !mantissa.empty() && mantissa[0] == '-';
  const std::string sign(negative ? 1 : 0, '-');
  const std::string digits = mantissa.substr(negative ? 1 : 0);
  const size_t point = digits.find('.');
  const bool withPoint = point != std::string::npos;
  const int mantissaDecimals = withPoint ? static_cast<int>(digits.size() - point - 1) : 0;
  std::string bare = digits;
  if (withPoint) bare.erase(point, 1);
  const int digitCount = static_cast<int>(bare.size());

  if (exp < 0 && (withPoint ? exp >= -3 : exp >= -2)) {
    // Appended piecewise: g++ 12 warns falsely on the chained form.
    std::string text = sign;
    text.append("0.");
    text.append(static_cast<size_t>(-exp - 1), '0');
    text.append(bare);
    return text;
  }
  if (exp > 0 && (withPoint ? exp < mantissaDecimals + 4 : exp < digitCount + 2)) {
    // The scientific mantissa has one digit before its point.
    const int integerDigits = 1 + exp;
    if (integerDigits < digitCount) {
      return sign + bare.substr(0, static_cast<size_t>(integerDigits)) + "." +
             bare.substr(static_cast<size_t>(integerDigits));
    }
    return sign + bare + std::string(static_cast<size_t>(integerDigits - digitCount), '0');
  }
  return mantissa + "E" + exponent;
}

}  // namespace

std::string FormatAxisNumber(int decimals, double value, const std::string& decimalSeparator) {
  std::string text;
  // Fixed notation of a value with more integer digits than a label can resolve would print
  // hundreds of digits of binary noise; such values are written in scientific notation.
  if (decimals >= 1 && decimals <= 18 && std::fabs(value) < 1e18) {
    text = Fixed(value, decimals);
  } else {
    text = Scientific(value, ScientificDecimals);
    // Rounding noise of a tick computed as first + i * step (1e-17 instead of 0).
    if (ExponentOf(text) < -decimals - 1) text = "0E0";
  }

  std::string mantissa, exponent;
  bool hasExponent = false;
  SplitTidy(text, mantissa, exponent, hasExponent);
  text = hasExponent ? PositionalWhenShort(mantissa, exponent) : mantissa;
  // A tick that rounding left a hair below zero reads 0, not -0.
  if (text == "-0") text = "0";

  std::string result;
  result.reserve(text.size());
  for (char c : text) {
    if (c == '.') {
      result += decimalSeparator;
    } else {
      result += c;
    }
  }
  return result;
}

void AutoRange(bool logarithmic, const TAutoRangeParams& params, double& lo, double& hi) {
  const double dataMin = lo;
  const int m = params.MarginPercent;
  double factor = (m + 50) / 100.0;
  if (logarithmic) {
    lo = std::log(lo);
    hi = std::log(hi);
  }
  const double mid = (hi + lo) / 2.0;
  double span = hi - lo;
  const double f = params.MinRangeFactor;
  // For a linear axis: the span around mid whose two ends have the ratio f.
  const double minSpan = logarithmic ? std::log(f) : std::fabs((f - 1.0) * 2.0 * mid / (f + 1.0));
  if (span == 0.0) span = minSpan;
  if (minSpan > span) factor = minSpan / (2.0 * span);
  hi = mid + factor * span;
  lo = mid - factor * span;
  if (logarithmic) {
    lo = std::exp(lo);
    hi = std::exp(hi);
    return;
  }
  if (params.SmallRangeLimit > std::fabs(lo) && params.SmallRangeLimit > std::fabs(hi)) {
    hi = (m / 100.0 + 1.0) * params.SmallRangeLimit;
    lo = -hi;
  }
  if (!params.AutoRangeBelowZero && lo <= 0.0) lo = dataMin / 10.0;
}

}  // namespace klarwell
