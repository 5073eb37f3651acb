#include <gtest/gtest.h>

#include <cmath>

#include "chart/AxisScale.h"

namespace klarwell {
namespace {

// A step drifting off its power of ten (9.999 instead of 10) gives a count of 1 for a range of
// exactly 10; the step must be exact and strictly below the range.
TEST(AxisScaleTest, DecadeStepIsLargestPowerOfTenBelowRange) {
  struct TCase {
    double Max, Min, Step;
    int Count;
  };
  const TCase cases[] = {
      {10, 0, 1, 10},      {2, 0, 1, 2},        {0, 10, 1, 10},       {1, 0, 0.1, 10},
      {0.3, 0, 0.1, 3},    {100, 1, 10, 9},     {5.455, 0.545, 1, 4}, {1.05, -1.05, 1, 2},
      {1e-3, 0, 1e-4, 10}, {123456, 0, 1e5, 1}, {20, 10, 1, 10},
  };
  for (const TCase& tc : cases) {
    const TDecadeStep ds = DecadeStep(tc.Max, tc.Min);
    EXPECT_DOUBLE_EQ(ds.Step, tc.Step) << tc.Min << ".." << tc.Max;
    EXPECT_EQ(ds.Count, tc.Count) << tc.Min << ".." << tc.Max;
  }
  EXPECT_EQ(DecadeStep(3, 3).Step, 0.0);
  EXPECT_EQ(DecadeStep(3, 3).Count, 0);
  EXPECT_EQ(DecadeStep(INFINITY, 0).Count, 0);
  EXPECT_EQ(DecadeStep(NAN, 0).Count, 0);
}

TEST(AxisScaleTest, DecadeOfAndRangeDecimals) {
  EXPECT_EQ(DecadeOf(0), 0);
  EXPECT_EQ(DecadeOf(1000), 3);
  EXPECT_EQ(DecadeOf(-1000), 3);
  EXPECT_EQ(DecadeOf(0.001), -3);
  EXPECT_EQ(DecadeOf(5000), 4);  // log10 5000 = 3.7
  EXPECT_EQ(DecadeOf(2000), 3);  // 3.3
  EXPECT_EQ(DecadeOf(INFINITY), 10000);

  EXPECT_EQ(RangeDecimals(10, 0), -1);
  EXPECT_EQ(RangeDecimals(2, 0), 0);
  EXPECT_EQ(RangeDecimals(0.5, 0), 1);
  EXPECT_EQ(RangeDecimals(0, 0.5), 1);
  EXPECT_EQ(RangeDecimals(1.0002, 1.0001), 4);
  // 0.3 - 0.2 is 0.09999999999999998, labelled as one decimal.
  EXPECT_EQ(RangeDecimals(0.3, 0.2), 1);
}

TEST(AxisScaleTest, ChooseSubdivisionTakesFirstDivisorBelowSpacing) {
  // One step is 100 pixels here.
  struct TCase {
    int MinSpacing, Expect;
  };
  const TCase cases[] = {{101, 1}, {100, 2}, {51, 2},  {50, 5}, {21, 5},
                         {20, 10}, {11, 10}, {10, 10}, {1, 10}};
  for (const TCase& tc : cases) {
    EXPECT_EQ(ChooseSubdivision(0, 1000, tc.MinSpacing, 10, 0, 1), tc.Expect) << tc.MinSpacing;
  }
  // A range of zero width must not crash the rounding.
  EXPECT_EQ(ChooseSubdivision(0, 100, 10, 1, 1, 1), 10);
}

TEST(AxisScaleTest, RangeResolvable) {
  struct TCase {
    bool Log;
    int Digits;
    double A, B;
    bool Expect;
  };
  const TCase cases[] = {
      {false, 5, 10, 0, true},
      {false, 5, 1.00002, 1.00001, true},     // five digits suffice
      {false, 4, 1.00002, 1.00001, false},    // a difference at the fifth digit
      {false, 5, 1e-6, 0, false},             // difference below 10^-5
      {false, 5, 100000.5, 100000.4, false},  // b's decade too far above the difference
      {false, 14, 100000.5, 100000.4, true},
      {false, 5, -100000.4, -100000.5, false},
      {true, 5, 100, 1, true},
      {true, 5, 1.0000001, 1, false},
      {true, 14, 1.0000001, 1, true},
  };
  for (const TCase& tc : cases) {
    EXPECT_EQ(RangeResolvable(tc.Log, tc.Digits, tc.A, tc.B), tc.Expect)
        << (tc.Log ? "log " : "lin ") << tc.Digits << " " << tc.A << " " << tc.B;
  }
}

TEST(AxisScaleTest, FormatAxisNumberTidiesAndWritesOutSmallExponents) {
  struct TCase {
    int Decimals;
    double Value;
    const char* Expect;
  };
  const TCase cases[] = {
      {0, 500, "500"},
      {0, 12.5, "12.5"},
      {20, 0.0015, "0.0015"},
      {0, 5000, "5E3"},
      {0, 150000, "1.5E5"},
      {0, 0, "0"},
      {-1, 5, "5"},
      {-1, 10, "10"},
      {0, 0.5, "0.5"},
      {20, 0.05, "0.05"},
      {20, 0.005, "5E-3"},
      {20, 0.00125, "0.00125"},
      {20, 0.000125, "1.25E-4"},
      {0, -500, "-500"},
      {20, -0.0015, "-0.0015"},
      {0, 125000, "125000"},
      // Scientific labels of a wide range drop what lies below its resolution.
      {0, 0.05, "0"},
      {-1, 0.5, "0"},
      {-3, 500, "500"},
      {0, 1250000, "1.25E6"},
      {1, 0.5, "0.5"},
      {1, 1.0, "1"},
      {2, 12.5, "12.5"},
      {2, 0.25, "0.25"},
      {3, -0.2, "-0.2"},
      {1, 1e300, "1E300"},
      // Rounding noise of a computed tick: 0 instead of 5.55E-17, and never -0.
      {-1, 5.551115123125783e-17, "0"},
      {1, -1e-17, "0"},
      {0, -2.7755575615628914e-17, "0"},
      {1, 2.5, "2.5"},
      {-1, 1e-15, "0"},
      {20, 1e-19, "1E-19"},
  };
  for (const TCase& tc : cases) {
    EXPECT_EQ(FormatAxisNumber(tc.Decimals, tc.Value), tc.Expect) << tc.Decimals << " " << tc.Value;
  }
}

TEST(AxisScaleTest, FormatAxisNumberUsesGivenSeparator) {
  EXPECT_EQ(FormatAxisNumber(0, 12.5, ","), "12,5");
  EXPECT_EQ(FormatAxisNumber(20, 0.0015, ","), "0,0015");
  EXPECT_EQ(FormatAxisNumber(0, 150000, ","), "1,5E5");
  EXPECT_EQ(FormatAxisNumber(2, 0.25, ","), "0,25");
}

TEST(AxisScaleTest, AutoRangeOfDataExamples) {
  TAutoRangeParams params;
  double lo = 2, hi = 4;
  AutoRange(false, params, lo, hi);
  // mid 3, minimum span 3 * 18 / 11.
  EXPECT_NEAR(lo, 3 - 27.0 / 11, 1e-12);
  EXPECT_NEAR(hi, 3 + 27.0 / 11, 1e-12);

  lo = -0.2;
  hi = 0.5;
  AutoRange(false, params, lo, hi);
  EXPECT_DOUBLE_EQ(lo, -1.05);
  EXPECT_DOUBLE_EQ(hi, 1.05);

  // A wide range only gains its margin.
  lo = 0;
  hi = 100;
  AutoRange(false, params, lo, hi);
  EXPECT_NEAR(lo, -5, 1e-12);
  EXPECT_NEAR(hi, 105, 1e-12);

  // Everything equal: the minimum span around the value.
  lo = hi = 5;
  AutoRange(false, params, lo, hi);
  EXPECT_NEAR(hi - lo, 0.55 * 2 * 90.0 / 11, 1e-12);

  // All zero: no division by zero, the small range around zero.
  lo = hi = 0;
  AutoRange(false, params, lo, hi);
  EXPECT_DOUBLE_EQ(lo, -1.05);
  EXPECT_DOUBLE_EQ(hi, 1.05);

  // Without going below zero the lower end becomes a tenth of the data minimum.
  params.AutoRangeBelowZero = false;
  lo = 0;
  hi = 100;
  AutoRange(false, params, lo, hi);
  EXPECT_DOUBLE_EQ(lo, 0);
  lo = 2;
  hi = 4;
  AutoRange(false, params, lo, hi);
  EXPECT_NEAR(lo, 3 - 27.0 / 11, 1e-12);

  // Logarithmic: a margin of the logarithms, at least one decade wide.
  TAutoRangeParams logParams;
  lo = 10;
  hi = 1000;
  AutoRange(true, logParams, lo, hi);
  EXPECT_NEAR(std::log10(lo), 2 - 0.55 * 2, 1e-12);
  EXPECT_NEAR(std::log10(hi), 2 + 0.55 * 2, 1e-12);
  lo = hi = 50;
  AutoRange(true, logParams, lo, hi);
  EXPECT_NEAR(std::log10(hi / lo), 1.1, 1e-12);
}

}  // namespace
}  // namespace klarwell
