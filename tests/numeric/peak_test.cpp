#include "numeric/peak.h"

#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "tests/numeric/FpTraps.h"

namespace klarwell {
namespace {

std::vector<int> Extrema(const std::vector<float>& s, float threshold) {
  std::vector<int> list(kMaxExtrema, -7);
  const int n = CountExtrema(0, static_cast<int>(s.size()) - 1, s.data(), threshold, list.data());
  list.resize(n);
  return list;
}

TEST(Peak, CountExtremaOfShortRangeLeavesListUntouched) {
  const float s[] = {0, 10, 0};
  int list[kMaxExtrema];
  list[0] = 123;
  EXPECT_EQ(CountExtrema(0, 1, s, 1.0f, list), 0);
  EXPECT_EQ(list[0], 123);
}

// The worked curves: the extremum test, the plateau middle, the wiggle removed while scanning
// and the pruning of the ends.
TEST(Peak, CountExtremaWorkedCurves) {
  struct Case {
    std::vector<float> s;
    float threshold;
    std::vector<int> expected;
  } cases[] = {
      {{0, 10, 0, 10, 0}, 5.0f, {1, 2, 3}},
      {{0, 10, 0, 10, 0}, 20.0f, {}},
      {{0, 5, 5, 5, 0}, 1.0f, {}},  // one extremum at 2, dropped as a single leftover
      {{5, 0, 10, 9.5f, 20, 15}, 1.0f, {1, 4}},
      {{5, 0, 10, 9.5f, 20, 15}, 0.5f, {1, 2, 3, 4}},  // |10 − 9.5| is not below 0.5
      {{0, 5, 5, 5, 0, 8}, 1.0f, {2, 4}},              // plateau middle, then a minimum
      {{0, 5, 5, 0, 8}, 1.0f, {1, 3}},                 // even plateau: middle rounded down
  };
  for (const Case& c : cases)
    EXPECT_EQ(Extrema(c.s, c.threshold), c.expected) << c.s.size() << " " << c.threshold;
}

// Only the ends of a narrower range count: the scan must start at `first`.
TEST(Peak, CountExtremaHonoursTheRange) {
  const std::vector<float> s = {100, -100, 0, 10, 0, 10, 0, -100, 100};
  std::vector<int> list(kMaxExtrema);
  const int n = CountExtrema(2, 6, s.data(), 5.0f, list.data());
  ASSERT_EQ(n, 3);
  EXPECT_EQ(list[0], 3);
  EXPECT_EQ(list[1], 4);
  EXPECT_EQ(list[2], 5);
}

// A small wiggle inside a long rise is removed by the final sweep when it is not the last pair.
TEST(Peak, PruneExtremaRemovesInnerWiggle) {
  //                       0   1  2   3    4   5  6   7
  const std::vector<float> s = {20, 0, 10, 9.5f, 30, 0, 30, 0};
  int list[] = {1, 2, 3, 4, 5, 6, 7};
  int count = 7;
  PruneExtrema(s.data(), 1.0f, list, count);
  ASSERT_EQ(count, 5);
  EXPECT_EQ(list[0], 1);
  EXPECT_EQ(list[1], 4);
  EXPECT_EQ(list[4], 7);
}

// The list holds at most kMaxExtrema entries: a curve with far more extrema must not write past it.
TEST(Peak, CountExtremaNeverOverrunsTheList) {
  std::vector<float> s(5000);
  for (size_t i = 0; i < s.size(); ++i) s[i] = i % 2 == 0 ? 0.0f : 100.0f;
  std::vector<int> list(kMaxExtrema + 16, -1);
  const int n = CountExtrema(0, static_cast<int>(s.size()) - 1, s.data(), 1.0f, list.data());
  EXPECT_EQ(n, kMaxExtrema);
  for (int i = kMaxExtrema; i < kMaxExtrema + 16; ++i) EXPECT_EQ(list[i], -1);
  for (int i = 1; i < n; ++i) ASSERT_LT(list[i - 1], list[i]);
}

TEST(Peak, ShapeScoreModes) {
  const float s[] = {1, 10, 5};
  struct Case {
    int i;
    bool sign;
    std::uint8_t mode;
    double expected;
  } cases[] = {
      {0, true, 6, 27.0},                        // 9·√9
      {0, true, 7, 9.0 * 3.0 * std::sqrt(3.0)},  // 9·9^0.75
      {0, true, 8, 81.0},                        // 9·|9|
      {0, true, 4, 9.0},                         // linear
      {0, false, 8, -81.0},                      // rise instead of drop
      {1, true, 8, 0.0},
  };
  for (const Case& c : cases)
    EXPECT_DOUBLE_EQ(ShapeScore(s, 1, c.i, c.sign, c.mode), c.expected) << int(c.mode);
  // Mode 7 takes the root through a 32-bit float.
  const float s2[] = {0, 2};
  const float root = static_cast<float>(std::sqrt(2.0));
  EXPECT_EQ(ShapeScore(s2, 1, 0, true, 7), 2.0 * root * std::sqrt(static_cast<double>(root)));
}

TEST(Peak, FindFeetWorkedExampleMode8) {
  const float s[] = {0, 1, 4, 9};
  int left = 0, right = 3;
  FindFeet(3, left, right, s, true, 8);
  EXPECT_EQ(left, 1);  // 64/3 beats 81/4
  EXPECT_EQ(right, 3);
}

// On a tie the outermost foot stays; a strictly better inner point wins on either side.
TEST(Peak, FindFeetTiesKeepTheOutermost) {
  //                0    1   2   3  4  5   6   7    8
  const float s[] = {-15, -1, -9, -1, 0, -1, -9, -1, -15};
  int left = 0, right = 8;
  FindFeet(4, left, right, s, true, 4);  // 15/5 = 9/3 on both sides
  EXPECT_EQ(left, 0);
  EXPECT_EQ(right, 8);
  const float t[] = {-15, -1, -10, -1, 0, -1, -10, -1, -15};
  left = 0, right = 8;
  FindFeet(4, left, right, t, true, 4);
  EXPECT_EQ(left, 2);
  EXPECT_EQ(right, 6);
}

// A bound on the wrong side of the centre would divide by a zero distance.
TEST(Peak, FindFeetBoundBeyondCentreDoesNotFault) {
  const float s[] = {0, 1, 2, 3, 4};
  int left = 3, right = 1;
  {
    test::TFpTraps traps;
    FindFeet(2, left, right, s, true, 8);
  }
  EXPECT_EQ(left, 3);
  EXPECT_EQ(right, 1);
}

struct TDip {
  bool found;
  int pos, l, b, r;
  bool qualifies;
  float level;
};

TDip Dip(const std::vector<float>& s, int pos, int width) {
  TDip d{false, pos, -1, -1, -1, false, -1.0f};
  d.found = FindDip(d.pos, static_cast<int>(s.size()), s.data(), 2200.0f, d.l, d.b, d.r, width, d.qualifies,
                    d.level);
  return d;
}

TEST(Peak, FindDipWorkedCurve) {
  const std::vector<float> s = {0,    1000, 5000, 5200, 5000, 2000, 1000, 1500,
                                4000, 5100, 5000, 3000, 2000, 1000, 0};
  const TDip d = Dip(s, 0, 2);
  ASSERT_TRUE(d.found);
  EXPECT_EQ(d.b, 6);
  EXPECT_EQ(d.r, 9);
  EXPECT_EQ(d.l, 4);  // moved from 3 by the foot search
  EXPECT_EQ(d.pos, 6);
  EXPECT_EQ(d.level, static_cast<float>(28300.0 / 6.0));
  EXPECT_TRUE(d.qualifies);
}

TEST(Peak, FindDipOnRisingCurveReachesTheEnd) {
  std::vector<float> s(20);
  for (int i = 0; i < 20; ++i) s[i] = 100.0f * i;
  const TDip d = Dip(s, 0, 10);
  EXPECT_FALSE(d.found);
  EXPECT_EQ(d.pos, 19);
  // Called again at the end, it stays there.
  EXPECT_FALSE(Dip(s, 19, 10).found);
}

// A left shoulder 4.5 times as high as the right one, with nothing higher within 2·(R − L):
// the scan resumes from the bottom and reports the next dip instead.
TEST(Peak, FindDipLopsidedResumesFromTheBottom) {
  const std::vector<float> s = {0,    10000, 1000, 3000, 2900, 2800, 2700, 2600, 2000, 1000, 0,
                                2000, 4000,  3500, 3000, 2500, 2000, 1500, 1000, 500,  600};
  const TDip d = Dip(s, 0, 2);
  ASSERT_TRUE(d.found);
  EXPECT_EQ(d.b, 10);
  EXPECT_EQ(d.l, 7);  // 2600 four bins away beats 3000 at eight
  EXPECT_EQ(d.r, 12);
  EXPECT_EQ(d.pos, 10);
  EXPECT_EQ(d.level, 3100.0f);  // (2800 + 2700 + 2600 + 4000 + 3500 + 3000) / 6
  EXPECT_TRUE(d.qualifies);
}

// A low right shoulder followed within reach by a higher one: the dip extends to it, and the
// lower bottom found on the way replaces the first.
TEST(Peak, FindDipExtendsToHigherRightShoulder) {
  const std::vector<float> s = {0, 10000, 1000, 3000, 2900, 2800, 500, 9500, 9000, 8000};
  const TDip d = Dip(s, 0, 2);
  ASSERT_TRUE(d.found);
  EXPECT_EQ(d.l, 1);
  EXPECT_EQ(d.b, 6);
  EXPECT_EQ(d.r, 7);
  EXPECT_EQ(d.pos, 6);
  EXPECT_EQ(d.level, 7300.0f);  // indices 0, 1 and 7, 8, 9
  EXPECT_TRUE(d.qualifies);
}

// A dip whose right side rises more than three times as high as its left is reported, but does
// not qualify.
TEST(Peak, FindDipLopsidedShouldersDoNotQualify) {
  const std::vector<float> s = {0, 3000, 0, 10000, 9000, 8000, 7000};
  const TDip d = Dip(s, 0, 2);
  ASSERT_TRUE(d.found);
  EXPECT_EQ(d.l, 1);
  EXPECT_EQ(d.b, 2);
  EXPECT_EQ(d.r, 3);
  EXPECT_FALSE(d.qualifies);
  EXPECT_EQ(d.level, 0.0f);
}

// Degenerate curves and positions: no read outside the curve, no endless loop.
TEST(Peak, FindDipDegenerateArguments) {
  const std::vector<float> s = {5, 4, 3};
  for (int pos : {-3, 0, 1, 2, 7}) {
    TDip d = Dip(s, pos, 2);
    EXPECT_FALSE(d.found) << pos;
  }
  int pos = 0, l, b, r;
  bool q;
  float level;
  EXPECT_FALSE(FindDip(pos, 0, s.data(), 2200.0f, l, b, r, 2, q, level));
}

}  // namespace
}  // namespace klarwell
