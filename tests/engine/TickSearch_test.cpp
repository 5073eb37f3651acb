// The refined mode's tick search on constructed stereo blocks: a loud chord with a little noise, and
// ticks, drum hits and a plateau placed on it.

#include <gtest/gtest.h>

#include <cmath>
#include <ostream>
#include <random>
#include <string>
#include <vector>

#include "engine/EngineSizes.h"
#include "engine/SpanRefine.h"
#include "engine/TickSearch.h"
#include "tests/engine/EngineTestSignals.h"

namespace klarwell {
namespace {

constexpr int kRate = 44100;
constexpr int kFrames = kRate;

using TChannel = std::vector<float>;

// A chord of four tones, each of amplitude 6000, with noise of rms 30.
TChannel LoudChord(uint32_t seed) {
  std::mt19937 random(seed);
  std::normal_distribution<double> noise(0.0, 30.0);
  TChannel x(kFrames);
  for (int n = 0; n < kFrames; ++n) {
    double v = 0.0;
    for (const double f : {220.0, 277.2, 329.6, 440.0}) v += 6000.0 * std::sin(2.0 * M_PI * f * n / kRate + f);
    x[static_cast<size_t>(n)] = static_cast<float>(v + noise(random));
  }
  return x;
}

// A tick as a replay chain leaves it: a two-sample spike, then a small swing back over 20 samples.
void AddTick(TChannel& x, int at, double peak) {
  x[static_cast<size_t>(at)] += static_cast<float>(peak);
  x[static_cast<size_t>(at + 1)] += static_cast<float>(0.5 * peak);
  for (int k = 2; k < 22; ++k) x[static_cast<size_t>(at + k)] -= static_cast<float>(0.15 * peak * std::exp(-(k - 2) / 6.0));
}

// A snare: noise that starts at once and dies away over 40 ms, the same in both channels.
void AddSnare(TChannel& left, TChannel& right, int at) {
  std::mt19937 random(7);
  std::normal_distribution<double> noise(0.0, 6000.0);
  for (int k = 0; k < kRate / 10; ++k) {
    const auto v = static_cast<float>(noise(random) * std::exp(-k / (0.04 * kRate)));
    left[static_cast<size_t>(at + k)] += v;
    right[static_cast<size_t>(at + k)] += 0.8f * v;
  }
}

// A struck cymbal: a sharp strike, then a wash of noise that goes on, alike in both channels.
void AddCymbal(TChannel& left, TChannel& right, int at) {
  std::mt19937 random(9);
  std::normal_distribution<double> noise(0.0, 500.0);
  for (int k = 0; k < kRate / 5; ++k) {
    double v = noise(random) * std::exp(-k / (0.2 * kRate));
    if (k < 2) v += k == 0 ? 30000.0 : 15000.0;
    left[static_cast<size_t>(at + k)] += static_cast<float>(v);
    right[static_cast<size_t>(at + k)] += static_cast<float>(0.9 * v);
  }
}

struct TCase {
  std::string Name;
  void (*Damage)(TChannel& left, TChannel& right);
  std::vector<int> Left, Right;  // samples that must lie inside a tick's span; no other span is found
};

const TCase kCases[] = {
    {"TickUnderALoudChord", [](TChannel& l, TChannel&) { AddTick(l, 20000, 1500.0); }, {20000, 20001, 20010}, {}},
    {"SnareHitWithoutATick", [](TChannel& l, TChannel& r) { AddSnare(l, r, 20000); }, {}, {}},
    {"CymbalStrikeIsNoTick", [](TChannel& l, TChannel& r) { AddCymbal(l, r, 20000); }, {}, {}},
    {"TickOnASnareHit",
     [](TChannel& l, TChannel& r) {
       AddSnare(l, r, 20000);
       AddTick(l, 24000, 12000.0);  // in the hit's decay, 90 ms after it struck
     },
     {24000, 24001},
     {}},
    // Two steep edges 2 ms apart: no tick, a disturbance for the engine's own span to cover whole.
    {"PlateauIsNoTick",
     [](TChannel& l, TChannel&) {
       for (int n = 20000; n < 20088; ++n) l[static_cast<size_t>(n)] += 3000.0f;
     },
     {},
     {}},
    {"CoincidentStereoTicks",
     [](TChannel& l, TChannel& r) {
       AddTick(l, 20000, 1500.0);
       AddTick(r, 20000, -900.0);
     },
     {20000},
     {20000}},
    {"StereoTicksApart",
     [](TChannel& l, TChannel& r) {
       AddTick(l, 20000, -1500.0);
       AddTick(r, 20003, 600.0);
     },
     {20000},
     {20003}},
    // Too faint to be taken alone, but where the other channel has a tick.
    {"FaintTickBesideAClearOne",
     [](TChannel& l, TChannel& r) {
       AddTick(l, 20000, 1500.0);
       AddTick(r, 20002, 400.0);
     },
     {20000},
     {20002}},
    {"FaintTickAlone", [](TChannel&, TChannel& r) { AddTick(r, 20002, 400.0); }, {}, {}},
};

void PrintTo(const TCase& c, std::ostream* os) { *os << c.Name; }

class TickSearchCases : public ::testing::TestWithParam<TCase> {};

TEST_P(TickSearchCases, FindsTheTicksAndLeavesTheMusic) {
  const TCase& c = GetParam();
  TChannel channels[2] = {LoudChord(1), LoudChord(2)};
  c.Damage(channels[0], channels[1]);
  TTickSearch search;
  search.Prepare(MakeEngineSizes(test::MakeFormat(kRate, 2, 2, false, kFrames), -120, 2));
  // As the engine does it: both channels, then the ticks that coincide with the other channel's.
  for (int ch = 0; ch < 2; ++ch) search.Process(channels[ch].data(), channels[1 - ch].data(), ch);
  for (int ch = 0; ch < 2; ++ch) search.AddCoincident(channels[ch].data(), channels[1 - ch].data(), ch);
  for (int ch = 0; ch < 2; ++ch) {
    const std::vector<int>& expected = ch == 0 ? c.Left : c.Right;
    ASSERT_EQ(search.Count(ch), expected.empty() ? 0 : 1) << "channel " << ch;
    if (expected.empty()) continue;
    const TClickSpan& span = search.Span(ch, 0);
    for (const int n : expected) {
      EXPECT_LT(span.RepairStart, n) << "channel " << ch;
      EXPECT_GT(span.RepairEnd, n) << "channel " << ch;
    }
    // Short: the tick and its swing, not the 40 samples a frame-based span would take.
    EXPECT_LE(span.RepairEnd - span.RepairStart, 30) << "channel " << ch;
  }
}

INSTANTIATE_TEST_SUITE_P(Constructed, TickSearchCases, ::testing::ValuesIn(kCases),
                         [](const ::testing::TestParamInfo<TCase>& info) { return info.param.Name; });

}  // namespace
}  // namespace klarwell

namespace klarwell {
namespace {

// The engine's own spans pass the same test: a tick's and a plateau's do, an attack's does not.
TEST(TickSearch, EngineSpansPassTheTestOnlyWhereTheWaveformShowsDamage) {
  struct TSpanCase {
    const char* Name;
    void (*Damage)(TChannel& left, TChannel& right);
    int32_t First, Last;
    bool Confirmed;
  };
  const TSpanCase cases[] = {
      {"tick", [](TChannel& l, TChannel&) { AddTick(l, 20000, 1500.0); }, 19980, 20030, true},
      {"plateau",
       [](TChannel& l, TChannel&) {
         for (int n = 20000; n < 20088; ++n) l[static_cast<size_t>(n)] += 3000.0f;
       },
       19990, 20100, true},
      {"snare", [](TChannel& l, TChannel& r) { AddSnare(l, r, 20000); }, 19990, 20040, false},
      {"cymbal", [](TChannel& l, TChannel& r) { AddCymbal(l, r, 20000); }, 19990, 20040, false},
  };
  for (const TSpanCase& c : cases) {
    TChannel left = LoudChord(1), right = LoudChord(2);
    c.Damage(left, right);
    TTickSearch search;
    search.Prepare(MakeEngineSizes(test::MakeFormat(kRate, 2, 2, false, kFrames), -120, 2));
    search.Process(left.data(), right.data(), 0);
    EXPECT_EQ(search.Confirms(0, left.data(), right.data(), c.First, c.Last), c.Confirmed) << c.Name;
  }
}

}  // namespace
}  // namespace klarwell

namespace klarwell {
namespace {

// A tick's span reaches over its swing where the swing stands out of the music, and stops at the
// spike where there is none. A tick whose fill would bend the music after the spike (a note that
// begins inside the span) is left.
TEST(TickSearch, ASpanReachesOverTheSwingOnlyWhereOneStandsOut) {
  enum TEnd { Shortest, Longer, Left };
  struct TEndCase {
    const char* Name;
    double Music;  // the chord's scale
    double Swing;  // the swing's depth, against the spike
    double Onset;  // a 2 kHz note beginning 8 samples after the spike, its amplitude
    TEnd Expected;
  };
  const TEndCase cases[] = {
      {"spike alone", 0.2, 0.0, 0.0, Shortest},
      {"spike and swing", 0.2, 0.15, 0.0, Longer},
      {"spike and swing under a loud chord", 1.0, 0.15, 0.0, Longer},
      {"a note begins inside the span", 0.2, 0.0, 4000.0, Left},
  };
  const int32_t at = 20000, rs = at - 4, shortest = at + 16, longest = at + 30;
  for (const TEndCase& c : cases) {
    TChannel x = LoudChord(1);
    std::mt19937 random(3);
    std::normal_distribution<double> noise(0.0, 30.0);
    for (float& v : x) v = static_cast<float>(v * c.Music + noise(random));
    x[at] += 3000.0f;
    x[at + 1] += 1800.0f;
    for (int k = 2; k < 32; ++k) x[static_cast<size_t>(at + k)] -= static_cast<float>(3000.0 * c.Swing * std::sin(M_PI * (k - 1) / 31.0));
    for (int n = at + 8; n < kFrames; ++n)
      x[static_cast<size_t>(n)] += static_cast<float>(c.Onset * std::sin(2.0 * M_PI * 2000.0 * (n - at - 8) / kRate));
    TSpanRefiner refiner;
    refiner.Prepare(MakeEngineSizes(test::MakeFormat(kRate, 1, 2, false, kFrames), -120, 2), true);
    const int32_t end = refiner.ChooseEnd(x.data(), rs, at + 4, shortest, longest, 30.0 * std::max(1.0, c.Music));
    EXPECT_EQ(end < 0 ? Left : end > shortest ? Longer : Shortest, c.Expected) << c.Name << ": end " << end;
  }
}

}  // namespace
}  // namespace klarwell
