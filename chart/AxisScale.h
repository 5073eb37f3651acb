#pragma once

#include <string>

// Axis arithmetic of the chart control: tick steps, subdivisions, label decimals and the label
// text. Free of widget code; every function is pure and may be called from any thread.
namespace klarwell {

// The decade of a value: 0 for 0, else log10|x| rounded to the nearest integer.
int DecadeOf(double x);

// The main tick step of a range: the largest power of ten strictly below max - min (min and max
// are swapped when min > max), and how many steps of it fit into the range (truncated). An empty
// or non-finite range gives step 0 and count 0. Range 10 gives step 1, count 10.
struct TDecadeStep {
  double Step = 0.0;
  int Count = 0;
};
TDecadeStep DecadeStep(double max, double min);

// Minus the decimal exponent of (max - min) as written in scientific notation: 10 gives -1,
// 2 gives 0, 0.5 gives 1.
int RangeDecimals(double max, double min);

// How many parts a main step is cut into: the pixel distance of one step over the axis from left
// to right (pixels) is divided by 1, 2, 5, 10 in turn, and the first divisor under which the
// distance drops below minSpacing (pixels) is the result; 10 when none does.
int ChooseSubdivision(int left, int right, int minSpacing, double max, double min, double step);

// Whether the range a..b can still be labelled with `digits` significant digits (for a log axis
// a and b are the range's ends, both > 0).
bool RangeResolvable(bool logarithmic, int digits, double a, double b);

// A label: fixed with `decimals` decimals for 1..18, otherwise scientific, then tidied (no
// trailing zeros, no plus sign or leading zeros in the exponent, small exponents written out:
// 5E2 -> 500, 1.25E1 -> 12.5, 1.5E-3 -> 0.0015, while 5E3 and 1.5E5 stay). Every point becomes
// decimalSeparator.
std::string FormatAxisNumber(int decimals, double value, const std::string& decimalSeparator = ".");

// The parameters of an automatic y range, as the chart control keeps them.
struct TAutoRangeParams {
  int MarginPercent = 5;
  double MinRangeFactor = 10.0;
  double SmallRangeLimit = 1.0;
  bool AutoRangeBelowZero = true;
};

// A y range around the data lo..hi with a margin, never narrower than MinRangeFactor allows,
// widened symmetrically around zero when both ends are small. For a log axis lo and hi must be
// > 0; otherwise the result is not finite (the caller checks).
void AutoRange(bool logarithmic, const TAutoRangeParams& params, double& lo, double& hi);

}  // namespace klarwell
