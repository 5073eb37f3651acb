// Tests of the click engine: sizes and tables, the frame grid, the pass loop, the repair, and
// whole blocks of generated signals with clicks at known positions.

#include "engine/engine.h"
#include "engine/PassCache.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "audio/SampleCodec.h"
#include "audio/WavFile.h"
#include "tests/engine/EngineTestSignals.h"
#include "tests/support/SignalGen.h"
#include "text/LangText.h"

namespace klarwell {

// White-box access: place a click by hand and run single stages.
namespace detail {
struct TEngineProbe {
  static void SetClick(TClickEngine& engine, int32_t regionStart, int32_t repairStart, int32_t repairEnd) {
    engine.RegionStart_ = regionStart;
    engine.RepairStart_ = repairStart;
    engine.RepairEnd_ = repairEnd;
  }
  static void ResetLastRepaired(TClickEngine& engine) { engine.LastRepaired_ = -1; }
  // Every pass computes everything afresh, as on the reference road.
  static void KeepNothingAcrossPasses(TClickEngine& engine) { engine.PassCache_->Allocate(0, 0, 0, 0, 0); }
};
}  // namespace detail

namespace {

using detail::TEngineProbe;
using test::MakeFormat;

// ---------------------------------------------------------------------------------------------
// Sizes from the sample rate

struct TSizes {
  uint32_t Rate;
  int32_t BlockFrames, OverlapFrames, RegionLen, ShortLen, HalfShortLen, FrameLen;
  bool Decimate;
  int32_t HighCutBins, TrainMin, TrainMax, TrainStep;
};

TEST(InitEngine, SizesFollowTheSampleRate) {
  // Catches a rounding slip (22.05 kHz: 220.5 rounds to even), a missed halving of FrameLen from
  // 88.2 kHz on, and the upper band cut computed before the halving.
  const TSizes table[] = {
      {8000, 16000, 800, 80, 16, 8, 128, false, 30, 10, 40, 1},
      {22050, 44100, 2205, 220, 64, 32, 512, false, 30, 27, 110, 4},
      {44100, 88200, 4410, 441, 128, 64, 1024, false, 48, 55, 220, 8},
      {48000, 96000, 4800, 480, 128, 64, 1024, false, 85, 60, 240, 9},
      {88199, 176398, 8819, 882, 256, 128, 2048, false, 560, 110, 441, 16},
      {88200, 176400, 8820, 882, 256, 128, 1024, true, 48, 110, 441, 16},
      {96000, 192000, 9600, 960, 256, 128, 1024, true, 85, 120, 480, 18},
      {192000, 384000, 19200, 1920, 512, 256, 2048, true, 597, 240, 960, 36},
  };
  for (const TSizes& s : table) {
    SCOPED_TRACE(s.Rate);
    TClickEngine engine;
    std::string error = "stale";
    ASSERT_TRUE(engine.InitEngine(MakeFormat(s.Rate, 2, 2, false, 10 * s.Rate), -120, error));
    EXPECT_EQ(error, "");
    EXPECT_EQ(engine.BlockFrames(), s.BlockFrames);
    EXPECT_EQ(engine.OverlapFrames(), s.OverlapFrames);
    EXPECT_EQ(engine.RegionLen(), s.RegionLen);
    EXPECT_EQ(engine.ShortLen(), s.ShortLen);
    EXPECT_EQ(engine.HalfShortLen(), s.HalfShortLen);
    EXPECT_EQ(engine.FrameLen(), s.FrameLen);
    EXPECT_EQ(engine.Decimate(), s.Decimate);
    EXPECT_EQ(engine.LowCutBins(), 30);
    EXPECT_EQ(engine.HighCutBins(), s.HighCutBins);
    EXPECT_EQ(engine.TrainMin(), s.TrainMin);
    EXPECT_EQ(engine.TrainMax(), s.TrainMax);
    EXPECT_EQ(engine.TrainStep(), s.TrainStep);
    const double ref = (s.FrameLen * 32767.0 / 2.0) / 3.0;
    EXPECT_DOUBLE_EQ(engine.RefPower(), ref * ref);
    EXPECT_DOUBLE_EQ(engine.FloorPower(), 1e-12);
  }
}

TEST(InitEngine, ShortFileIsOneBlockAndFloorFollowsTheArgument) {
  TClickEngine engine;
  std::string error;
  ASSERT_TRUE(engine.InitEngine(MakeFormat(44100, 1, 3, false, 30000), -90, error));
  EXPECT_EQ(engine.BlockFrames(), 30000);
  EXPECT_DOUBLE_EQ(engine.FloorPower(), 1e-9);
  EXPECT_DOUBLE_EQ(engine.SampleScale(), 32767.0 / 8388607.0);
  // A second file re-sizes everything.
  ASSERT_TRUE(engine.InitEngine(MakeFormat(48000, 2, 2, false, 1000000), -120, error));
  EXPECT_EQ(engine.BlockFrames(), 96000);
  EXPECT_EQ(engine.RegionLen(), 480);
}

TEST(InitEngine, RefusesRatesOutsideTheSupportedRange) {
  for (TLanguage language : {TLanguage::English, TLanguage::German}) {
    SetLanguage(language);
    for (uint32_t rate : {0u, 7999u, 192001u, 384000u}) {
      TClickEngine engine;
      std::string error;
      EXPECT_FALSE(engine.InitEngine(MakeFormat(rate, 1, 2, false, 100000), -120, error)) << rate;
      EXPECT_EQ(error,
                language == TLanguage::German ? "Nicht unterstützte Abtastrate" : "Unsupported sample rate");
    }
  }
  SetLanguage(TLanguage::English);
}

TEST(InitEngine, WindowsAreSymmetricWithUnitMiddle) {
  // Catches x computed over n - 1 instead of n/2 - 1 (the middle points would not be 1.0) and a
  // table that is not mirrored.
  TClickEngine engine;
  std::string error;
  ASSERT_TRUE(engine.InitEngine(MakeFormat(44100, 1, 2, false, 100000), -120, error));
  struct TWin {
    const float* W;
    int32_t N;
  };
  for (const TWin& t :
       {TWin{engine.WindowLong(), engine.FrameLen()}, TWin{engine.WindowShort(), engine.ShortLen()},
        TWin{engine.WindowTiny(), engine.HalfShortLen()}}) {
    SCOPED_TRACE(t.N);
    EXPECT_EQ(t.W[t.N / 2 - 1], 1.0f);
    EXPECT_EQ(t.W[t.N / 2], 1.0f);
    EXPECT_NEAR(t.W[0], 0.00006f, 1e-7f);
    for (int32_t i = 0; i < t.N; ++i) ASSERT_EQ(t.W[i], t.W[t.N - 1 - i]) << i;
    for (int32_t i = 1; i < t.N / 2; ++i) ASSERT_GT(t.W[i], t.W[i - 1]) << i;
  }
  // One value by hand: i = 16 of the 64-point table, x = 16/31.
  const double x = static_cast<double>(16.0f / 31.0f);
  const double pi = 3.14159265358979323846;
  const float expected = static_cast<float>(0.35875 - 0.48829 * std::cos(pi * x) +
                                            0.14128 * std::cos(2 * pi * x) - 0.01168 * std::cos(3 * pi * x));
  EXPECT_EQ(engine.WindowTiny()[16], expected);
}

// ---------------------------------------------------------------------------------------------
// Frame grid

TEST(AnalyseBlock, FrameStartsWithGridOffsets) {
  // 1024 + 1500 frames give a frame step of exactly 1.5 samples. Ties round to even; the offset
  // terms 1/3 * 1.5 and 2/3 * 1.5 lie just above 0.5 and 1.0 in single precision, so frame 1
  // starts at 2 (offset 0), 2 (1/3) and 3 (2/3): a sum kept in single precision would give 2.
  const int32_t frames = 1024 + 1500;
  const TWavRecord format = MakeFormat(44100, 1, 2, false, frames);
  TClickEngine engine;
  std::string error;
  ASSERT_TRUE(engine.InitEngine(format, -120, error));
  std::vector<uint8_t> bytes(static_cast<size_t>(frames) * 2, 0);
  engine.LoadBlock(format, bytes.data());

  struct TCase {
    float Offset;
    int32_t Frame;
    int32_t Start;
  };
  const TCase cases[] = {
      {0.0f, 0, 0},
      {0.0f, 1, 2},
      {0.0f, 3, 4},
      {0.0f, 5, 8},
      {0.0f, 999, 1498},
      {1.0f / 3.0f, 0, 1},
      {1.0f / 3.0f, 1, 2},
      {1.0f / 3.0f, 3, 5},
      {1.0f / 3.0f, 999, 1499},
      {2.0f / 3.0f, 0, 1},
      {2.0f / 3.0f, 1, 3},
      {2.0f / 3.0f, 2, 4},
      {2.0f / 3.0f, 999, 1500},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(testing::Message() << "offset " << c.Offset << " frame " << c.Frame);
    engine.AnalyseBlock(false, {}, c.Offset);
    EXPECT_EQ(engine.FrameCount(), 1000);
    EXPECT_EQ(engine.FrameCentre(c.Frame), static_cast<float>(c.Start + 512));
  }
}

TEST(AnalyseBlock, GridAtFortyFourKilohertz) {
  TClickEngine engine;
  std::string error;
  const TWavRecord format = MakeFormat(44100, 2, 2, false, 500000);
  ASSERT_TRUE(engine.InitEngine(format, -120, error));
  std::vector<uint8_t> bytes(static_cast<size_t>(engine.BlockFrames()) * 4, 0);
  engine.LoadBlock(format, bytes.data());
  // step = 87176 / 1000 as a float; frame 999 starts at Round(87088.83) = 87089.
  int32_t calls[2] = {0, 0};
  engine.AnalyseBlock(
      true,
      [&](int32_t frame, bool isLeft) {
        ++calls[isLeft ? 0 : 1];
        (void)frame;
      },
      0.0f);
  EXPECT_EQ(engine.FrameCount(), 1000);
  EXPECT_EQ(calls[0], 1000);
  EXPECT_EQ(calls[1], 1000);
  EXPECT_EQ(engine.FrameCentre(0), 512.0f);
  EXPECT_EQ(engine.FrameCentre(999), 87089.0f + 512.0f);
  engine.AnalyseBlock(true, {}, 2.0f / 3.0f);
  EXPECT_EQ(engine.FrameCount(), 1000);  // the last frame still fits with the largest offset
  EXPECT_EQ(engine.FrameCentre(999), 87147.0f + 512.0f);
}

TEST(AnalyseBlock, BlockShorterThanOneFrameHasNoFramesAndNoCandidate) {
  const int32_t frames = 1000;  // the 44.1 kHz frame spans 1024
  const TWavRecord format = MakeFormat(44100, 1, 2, false, frames);
  TClickEngine engine;
  std::string error;
  ASSERT_TRUE(engine.InitEngine(format, -120, error));
  test::TSignal signal = test::MakeTone(frames / 44100.0, 44100, 1, 440.0, 3000.0);
  signal.Channels[0][500] += 15000.0f;
  std::vector<uint8_t> bytes = test::EncodeFrames(signal, 2, false);
  bytes.resize(static_cast<size_t>(frames) * 2);
  engine.LoadBlock(format, bytes.data());
  int32_t frameCalls = 0;
  engine.AnalyseBlock(
      false, [&](int32_t, bool) { ++frameCalls; }, 0.0f);
  EXPECT_EQ(engine.FrameCount(), 0);
  EXPECT_EQ(frameCalls, 0);
  int32_t pos = 0;
  engine.ResetScan();
  EXPECT_FALSE(engine.FindNextClick(true, pos));
  int32_t passes = -1;
  EXPECT_EQ(engine.ProcessBlock(format, 13, passes, true, {}, {}), 0);
  EXPECT_EQ(passes, 1);
  EXPECT_EQ(engine.LastRepaired(), -1);
}

TEST(AnalyseBlock, SmoothingUsesUnsmoothedNeighbours) {
  // Catches a smoother that reads already smoothed neighbours or a wrong window near the ends.
  test::TSignal signal = test::MakeMusic(2.0, 44100, 1, 5);
  const TWavRecord format = MakeFormat(44100, 1, 2, false, static_cast<uint32_t>(signal.Frames()));
  TClickEngine engine;
  std::string error;
  ASSERT_TRUE(engine.InitEngine(format, -120, error));
  std::vector<uint8_t> bytes = test::EncodeFrames(signal, 2, false);
  engine.LoadBlock(format, bytes.data());
  engine.AnalyseBlock(false, {}, 0.0f);
  const int32_t n = engine.FrameCount();
  ASSERT_EQ(n, 1000);
  auto level = [&](int32_t i) { return static_cast<double>(engine.FrameLevel(true, i)); };
  auto mean = [&](int32_t i, int32_t h) {
    double s = 0;
    for (int32_t k = i - h; k <= i + h; ++k) s += level(k);
    return static_cast<float>(s / (2 * h + 1));
  };
  EXPECT_EQ(engine.SmoothLevel(true, 0), engine.FrameLevel(true, 0));
  EXPECT_EQ(engine.SmoothLevel(true, n - 1), engine.FrameLevel(true, n - 1));
  EXPECT_EQ(engine.SmoothLevel(true, 1), mean(1, 1));
  EXPECT_EQ(engine.SmoothLevel(true, 2), mean(2, 2));
  EXPECT_EQ(engine.SmoothLevel(true, n - 2), mean(n - 2, 1));
  EXPECT_EQ(engine.SmoothLevel(true, n - 3), mean(n - 3, 2));
  for (int32_t i = 3; i <= n - 4; i += 37) EXPECT_EQ(engine.SmoothLevel(true, i), mean(i, 3)) << i;
}

TEST(AnalyseBlock, SilenceHasRoughnessZeroAndLevelIndependence) {
  // A silent frame has a flat spectrum at the floor. The roughness is measured on dB spectra
  // without their mean and tilt, so a signal 20 dB quieter gives nearly the same curve (as long
  // as its spectrum stays above the floor).
  test::TSignal loud = test::MixToneAndNoise(2.0, 44100, 1, 8);
  test::TSignal quiet = loud;
  for (float& v : quiet.Channels[0]) v *= 0.1f;
  for (int64_t i = 0; i < 44100 / 2; ++i) quiet.Channels[0][static_cast<size_t>(i)] = 0.0f;
  const TWavRecord format = test::FormatOf(quiet, 4, true);
  TClickEngine a, b;
  std::string error;
  ASSERT_TRUE(a.InitEngine(format, -120, error));
  ASSERT_TRUE(b.InitEngine(format, -120, error));
  std::vector<uint8_t> qb = test::EncodeFrames(quiet, 4, true);
  std::vector<uint8_t> lb = test::EncodeFrames(loud, 4, true);
  a.LoadBlock(format, qb.data());
  b.LoadBlock(format, lb.data());
  a.AnalyseBlock(false, {}, 0.0f);
  b.AnalyseBlock(false, {}, 0.0f);
  for (int32_t i = 0; i < 240; ++i) ASSERT_EQ(a.FrameLevel(true, i), 0.0f) << i;
  double worst = 0;
  for (int32_t i = 300; i < 1000; ++i) {
    worst = std::max(worst, std::fabs(static_cast<double>(a.FrameLevel(true, i)) - b.FrameLevel(true, i)) /
                                b.FrameLevel(true, i));
  }
  EXPECT_LT(worst, 0.03);
}

// ---------------------------------------------------------------------------------------------
// The pass loop

struct TRepair {
  int32_t Pass;
  bool IsLeft;
  int32_t RegionStart, RepairStart, RepairEnd;
  TClickOutcome Outcome;
  bool Counted;
};

TRepair RepairOf(const TClickEvent& click) {
  return {click.Pass,        click.Channel == 0, click.RegionFirst,
          click.First - 1,   click.Last + 1,     click.Outcome,
          click.Counted};
}

struct TBlockRun {
  std::vector<TRepair> Repairs;
  int32_t Counted = 0;
  int32_t Passes = 0;
  int32_t LastRepaired = -1;
  std::vector<uint8_t> Bytes;
  std::vector<float> Out[2];
};

TBlockRun RunBlock(TClickEngine& engine, const TWavRecord& format, const std::vector<uint8_t>& bytes,
                   int32_t writeSkip = 0, int32_t maxPasses = 13) {
  TBlockRun run;
  engine.LoadBlock(format, bytes.data());
  const bool stereo = format.Format.nChannels == 2;
  engine.AnalyseBlock(stereo, {}, 0.0f);
  engine.SetWriteSkip(writeSkip);
  run.Counted = engine.ProcessBlock(format, maxPasses, run.Passes, true, {}, [&](const TClickEvent& click) {
    run.Repairs.push_back(RepairOf(click));
  });
  run.LastRepaired = engine.LastRepaired();
  run.Bytes.assign(engine.BlockBytes(), engine.BlockBytes() + bytes.size());
  run.Out[0].assign(engine.LeftBuf(), engine.LeftBuf() + engine.BlockFrames());
  run.Out[1].assign(engine.RightBuf(), engine.RightBuf() + engine.BlockFrames());
  return run;
}

// The pass-loop rules that must hold for any block.
void CheckPassRules(const TBlockRun& run, int32_t maxPasses) {
  EXPECT_GE(run.Passes, 1);
  EXPECT_LE(run.Passes, maxPasses + 1);
  for (int32_t pass = 0; pass < run.Passes; ++pass) {
    bool changed = false;
    for (const TRepair& r : run.Repairs)
      changed = changed || (r.Pass == pass && r.Outcome != TClickOutcome::Unchanged);
    // Every pass but the last made progress; the last one did not, unless the limit ended it.
    if (pass + 1 < run.Passes) {
      EXPECT_TRUE(changed) << "pass " << pass;
    }
    if (pass + 1 == run.Passes && run.Passes <= maxPasses) {
      EXPECT_FALSE(changed) << "last pass " << pass;
    }
  }
  int32_t counted = 0;
  int32_t highest = -1;
  for (const TRepair& r : run.Repairs) {
    counted += r.Counted ? 1 : 0;
    if (r.Outcome == TClickOutcome::Repaired) highest = std::max(highest, r.RepairEnd - 1);
  }
  EXPECT_EQ(counted, run.Counted);
  EXPECT_LE(highest, run.LastRepaired);
}

TEST(ProcessBlock, ClickFreeBlockEndsAfterOnePass) {
  for (const test::TSignal& signal :
       {test::MakeTone(2.0, 44100, 2, 440.0, 3000.0), test::MakeTone(1.5, 48000, 1, 1000.0, 8000.0),
        test::TSignal{44100, {std::vector<float>(88200, 0.0f), std::vector<float>(88200, 0.0f)}}}) {
    const TWavRecord format = test::FormatOf(signal, 2, false);
    TClickEngine engine;
    std::string error;
    ASSERT_TRUE(engine.InitEngine(format, -120, error));
    const std::vector<uint8_t> bytes = test::EncodeFrames(signal, 2, false);
    const TBlockRun run = RunBlock(engine, format, bytes);
    EXPECT_EQ(run.Passes, 1);
    EXPECT_EQ(run.Counted, 0);
    EXPECT_TRUE(run.Repairs.empty());
    EXPECT_EQ(run.LastRepaired, -1);
    EXPECT_EQ(run.Bytes, bytes);
  }
}

TEST(ProcessBlock, PassesRepeatOnlyWhileRepairsChangeData) {
  // Music with many clicks needs several passes; each pass but the last changed stored bytes,
  // and the limit of maxPasses + 1 passes holds for every limit.
  test::TSignal signal = test::MakeMusic(2.0, 44100, 2, 21);
  test::AddClicks(signal, 24, 3, 40, 2500, 22);
  const TWavRecord format = test::FormatOf(signal, 2, false);
  const std::vector<uint8_t> bytes = test::EncodeFrames(signal, 2, false);
  for (int32_t maxPasses : {13, 1, 0}) {
    SCOPED_TRACE(maxPasses);
    TClickEngine engine;
    std::string error;
    ASSERT_TRUE(engine.InitEngine(format, -120, error));
    const TBlockRun run = RunBlock(engine, format, bytes, 0, maxPasses);
    CheckPassRules(run, maxPasses);
    EXPECT_GT(run.Counted, 10);
    if (maxPasses == 13) {
      EXPECT_GT(run.Passes, 1);
    }
  }
}

// What the later passes take over from the earlier ones (trace values, frame levels, stage outcomes)
// must be what they would compute: the same repairs, regions, traces handed to the observers, bytes.
TEST(ProcessBlock, LaterPassesReuseNothingThatARepairTouched) {
  struct TCase {
    test::TSignal Signal;
    uint8_t Bytes;
  };
  std::vector<TCase> cases;
  cases.push_back({test::MakeMusic(2.0, 44100, 2, 31), 2});
  cases.push_back({test::MakeMusic(1.0, 96000, 1, 32), 3});
  for (size_t i = 0; i < cases.size(); ++i) test::AddClicks(cases[i].Signal, 40, 3, 120, 1000, 33 + i);
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.Signal.SampleRate);
    const TWavRecord format = test::FormatOf(c.Signal, c.Bytes, false);
    const std::vector<uint8_t> bytes = test::EncodeFrames(c.Signal, c.Bytes, false);
    TBlockRun runs[2];
    std::vector<float> traces[2];
    for (int fresh = 0; fresh < 2; ++fresh) {
      TClickEngine engine;
      std::string error;
      ASSERT_TRUE(engine.InitEngine(format, -120, error));
      if (fresh) TEngineProbe::KeepNothingAcrossPasses(engine);
      engine.LoadBlock(format, bytes.data());
      engine.AnalyseBlock(format.Format.nChannels == 2, {}, 0.0f);
      TBlockRun& run = runs[fresh];
      run.Counted = engine.ProcessBlock(format, 13, run.Passes, true, {}, [&](const TClickEvent& click) {
        run.Repairs.push_back(RepairOf(click));
        traces[fresh].insert(traces[fresh].end(), engine.TraceBuf() + click.RegionFirst,
                             engine.TraceBuf() + click.RegionLast + 1);
      });
      run.Bytes.assign(engine.BlockBytes(), engine.BlockBytes() + bytes.size());
    }
    EXPECT_GT(runs[0].Passes, 3);  // the frame grid repeats from the fourth pass on
    EXPECT_EQ(runs[0].Passes, runs[1].Passes);
    EXPECT_EQ(runs[0].Counted, runs[1].Counted);
    ASSERT_EQ(runs[0].Repairs.size(), runs[1].Repairs.size());
    for (size_t k = 0; k < runs[0].Repairs.size(); ++k) {
      const TRepair& a = runs[0].Repairs[k];
      const TRepair& b = runs[1].Repairs[k];
      EXPECT_TRUE(a.Pass == b.Pass && a.IsLeft == b.IsLeft && a.RegionStart == b.RegionStart &&
                  a.RepairStart == b.RepairStart && a.RepairEnd == b.RepairEnd && a.Outcome == b.Outcome)
          << "repair " << k;
    }
    EXPECT_TRUE(traces[0] == traces[1]);
    EXPECT_TRUE(runs[0].Bytes == runs[1].Bytes);
  }
}

TEST(ProcessBlock, ClicksAtOrBeforeWriteSkipAreRepairedButNotCounted) {
  test::TSignal signal = test::MixToneAndNoise(2.0, 44100, 1, 31);
  const std::vector<test::TClick> clicks =
      test::PlaceClicks(signal, {20000, 50000, 70000}, {6}, {0}, 12000.0f);
  const TWavRecord format = test::FormatOf(signal, 2, false);
  const std::vector<uint8_t> bytes = test::EncodeFrames(signal, 2, false);
  TClickEngine engine;
  std::string error;
  ASSERT_TRUE(engine.InitEngine(format, -120, error));
  const TBlockRun all = RunBlock(engine, format, bytes, 0);
  const TBlockRun skipped = RunBlock(engine, format, bytes, 60000);
  const TBlockRun none = RunBlock(engine, format, bytes, engine.BlockFrames());
  ASSERT_GE(all.Counted, 3);
  // The repairs and the data are the same; only the counting differs.
  EXPECT_EQ(skipped.Bytes, all.Bytes);
  EXPECT_EQ(none.Bytes, all.Bytes);
  EXPECT_EQ(skipped.Repairs.size(), all.Repairs.size());
  EXPECT_EQ(none.Counted, 0);
  EXPECT_EQ(none.LastRepaired, all.LastRepaired);
  int32_t after = 0;
  for (const TRepair& r : skipped.Repairs) {
    EXPECT_EQ(r.Counted, r.RepairStart >= 60000) << r.RepairStart;  // no repair straddles the skip here
    after += r.Counted ? 1 : 0;
  }
  EXPECT_EQ(skipped.Counted, after);
  EXPECT_LT(skipped.Counted, all.Counted);
  CheckPassRules(skipped, 13);
}

TEST(ProcessBlock, MonoRunsOnlyTheLeftScan) {
  // A mono block never reads or writes the second channel buffer, even when it holds clicks.
  test::TSignal signal = test::MixToneAndNoise(2.0, 44100, 1, 41);
  test::PlaceClicks(signal, {30000}, {8}, {0}, 10000.0f);
  const TWavRecord format = test::FormatOf(signal, 2, false);
  const std::vector<uint8_t> bytes = test::EncodeFrames(signal, 2, false);
  TClickEngine engine;
  std::string error;
  ASSERT_TRUE(engine.InitEngine(format, -120, error));
  engine.LoadBlock(format, bytes.data());
  std::vector<float> right = signal.Channels[0];
  for (int32_t k = 0; k < 20; ++k) right[static_cast<size_t>(60000 + k)] += 14000.0f;
  std::copy(right.begin(), right.end(), engine.RightBuf());
  engine.AnalyseBlock(false, {}, 0.0f);
  int32_t passes = 0;
  bool sawRight = false;
  engine.ProcessBlock(format, 13, passes, true, {},
                      [&](const TClickEvent& click) { sawRight = sawRight || click.Channel != 0; });
  EXPECT_FALSE(sawRight);
  EXPECT_TRUE(std::equal(right.begin(), right.end(), engine.RightBuf()));
}

// ---------------------------------------------------------------------------------------------
// Repair

// A block whose left half is one sine and whose right half another: forward prediction continues
// the first, backward prediction the second.
struct TTwoSines {
  TClickEngine Engine;
  TWavRecord Format;
  std::vector<uint8_t> Bytes;
  double Left(int32_t i) const { return 3000.0 * std::sin(0.11 * i); }
  double Right(int32_t i) const { return -2000.0 * std::cos(0.07 * i + 0.4); }
  explicit TTwoSines(int32_t split, uint8_t bytesPerSample = 3) {
    Format = MakeFormat(44100, 1, bytesPerSample, false, 44100);
    std::string error;
    EXPECT_TRUE(Engine.InitEngine(Format, -120, error));
    test::TSignal s{44100, {std::vector<float>(44100)}};
    for (int32_t i = 0; i < 44100; ++i)
      s.Channels[0][static_cast<size_t>(i)] = static_cast<float>(i <= split ? Left(i) : Right(i));
    Bytes = test::EncodeFrames(s, bytesPerSample, false);
    Engine.LoadBlock(Format, Bytes.data());
  }
};

TEST(RepairClick, ThreeSampleGapIsForwardThenBackward) {
  // With L = 3 the first replaced sample is the forward prediction alone and the second the
  // backward one alone; swapped blend weights would put the other sine's value in each.
  const int32_t rs = 20000;
  TTwoSines t(rs + 1);
  TEngineProbe::SetClick(t.Engine, rs - 200, rs, rs + 3);
  EXPECT_EQ(t.Engine.RepairClick(t.Format, true), TClickOutcome::Repaired);
  EXPECT_NEAR(t.Engine.LeftBuf()[rs + 1], t.Left(rs + 1), 2.0);
  EXPECT_NEAR(t.Engine.LeftBuf()[rs + 2], t.Right(rs + 2), 2.0);
  EXPECT_EQ(t.Engine.LastRepaired(), rs + 2);
}

TEST(RepairClick, LongGapBlendsLinearlyAndTouchesOnlyTheGap) {
  const int32_t rs = 20000, re = 20041;  // L = 41, 40 replaced samples
  TTwoSines t(20020);
  const std::vector<uint8_t> before = t.Bytes;
  TEngineProbe::SetClick(t.Engine, rs - 180, rs, re);
  EXPECT_EQ(t.Engine.RepairClick(t.Format, true), TClickOutcome::Repaired);
  const float* x = t.Engine.LeftBuf();
  EXPECT_NEAR(x[rs + 1], t.Left(rs + 1), 3.0);
  EXPECT_NEAR(x[re - 1], t.Right(re - 1), 3.0);
  // Half way the two predictions weigh equally.
  const int32_t mid = rs + 1 + 19;  // j = 19 of M = 40: weights 20/39 and 19/39
  EXPECT_NEAR(x[mid], (20.0 * t.Left(mid) + 19.0 * t.Right(mid)) / 39.0, 20.0);
  for (size_t b = 0; b < before.size(); ++b) {
    const int32_t frame = static_cast<int32_t>(b / 3);
    if (frame > rs && frame < re) continue;
    ASSERT_EQ(t.Engine.BlockBytes()[b], before[b]) << frame;
  }
}

TEST(RepairClick, ReproducedClickReturnsFalseAndEdgeClickIsLeftAlone) {
  const int32_t rs = 20000;
  TTwoSines t(rs + 5, 2);
  TEngineProbe::SetClick(t.Engine, rs - 200, rs, rs + 10);
  ASSERT_EQ(t.Engine.RepairClick(t.Format, true), TClickOutcome::Repaired);
  const std::vector<uint8_t> once(t.Engine.BlockBytes(), t.Engine.BlockBytes() + t.Bytes.size());
  // The same repair again predicts from the same intact samples: nothing changes.
  TEngineProbe::ResetLastRepaired(t.Engine);
  EXPECT_EQ(t.Engine.RepairClick(t.Format, true), TClickOutcome::Unchanged);
  EXPECT_EQ(t.Engine.LastRepaired(), rs + 9);  // the stores still count as written
  EXPECT_TRUE(std::equal(once.begin(), once.end(), t.Engine.BlockBytes()));

  // Too close to either edge of its region: left alone, reported as done.
  struct TEdge {
    int32_t RegionStart, RepairStart, RepairEnd;
    bool Repaired;
  };
  const int32_t len = t.Engine.RegionLen();
  const TEdge edges[] = {
      {30000, 30009, 30019, false},                       // RS - L < CO
      {30000, 30010, 30020, true},                        // RS - L = CO
      {30000, 30000 + len - 19, 30000 + len - 9, false},  // RE + L - CO = RegionLen + 1
      {30000, 30000 + len - 20, 30000 + len - 10, true},  // RE + L - CO = RegionLen
  };
  for (const TEdge& e : edges) {
    SCOPED_TRACE(e.RepairStart);
    TTwoSines u(e.RepairStart + 4, 2);
    TEngineProbe::SetClick(u.Engine, e.RegionStart, e.RepairStart, e.RepairEnd);
    EXPECT_EQ(u.Engine.RepairClick(u.Format, true),
              e.Repaired ? TClickOutcome::Repaired : TClickOutcome::LeftAtEdge);
    const bool same = std::equal(u.Bytes.begin(), u.Bytes.end(), u.Engine.BlockBytes());
    EXPECT_EQ(same, !e.Repaired);
    EXPECT_EQ(u.Engine.LastRepaired(), e.Repaired ? e.RepairEnd - 1 : -1);
  }
}

// ---------------------------------------------------------------------------------------------
// Refined span

TEST(RefineSpan, ClickOfKnownExtentComesOutWithThatExtent) {
  // The span LocateClick hands on is too wide (short clicks), starts or stops inside the click (long
  // ones), or both; the refined one must find the click's own first and last sample within 2. Catches
  // a residual compared against the wrong side's limit, a missing second search when the damage
  // reaches the first search's edge, and the margin applied the wrong way.
  // A weak stray spike inside that span but well apart from the click (Stray: its offset from the
  // click's first sample, 0 for none) is the music's business, not this click's: it must not widen
  // the span.
  struct TCase {
    int Width, Shape;
    int32_t StartOffset, EndOffset;  // of LocateClick's damaged samples from the click's first/last
    int32_t Stray = 0;
  };
  const TCase cases[] = {
      {5, 2, -22, 22},  {8, 1, -25, 20},  {30, 2, -20, 24},  {30, 1, 6, 20},
      {60, 2, 10, -15}, {100, 1, 0, -40}, {110, 2, 35, -30}, {12, 2, -3, 4},
      {20, 2, -45, 25, -35}, {20, 1, -25, 45, 55},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(testing::Message() << "width " << c.Width << " shape " << c.Shape << " stray " << c.Stray);
    test::TSignal s = test::MakeMusic(1.0, 44100, 1, 7);
    const int32_t regionStart = 20000;
    test::TClick click;
    click.Width = c.Width;
    click.Shape = c.Shape;
    click.Peak = 6000.0f;
    click.Frame = regionStart + 220 - c.Width / 2;
    test::AddClick(s, click, 11);
    if (c.Stray != 0) {
      test::TClick stray;
      stray.Width = 3;
      stray.Peak = 1500.0f;
      stray.Frame = click.Frame + c.Stray;
      test::AddClick(s, stray, 12);
    }
    const int32_t first = static_cast<int32_t>(click.Frame), last = first + c.Width - 1;

    TClickEngine engine;
    const TWavRecord format = test::FormatOf(s, 3, false);
    std::string error;
    ASSERT_TRUE(engine.InitEngine(format, -120, error, {true}));
    const std::vector<uint8_t> bytes = test::EncodeFrames(s, 3, false);
    engine.LoadBlock(format, bytes.data());
    TEngineProbe::SetClick(engine, regionStart, first + c.StartOffset - 1, last + c.EndOffset + 1);
    EXPECT_TRUE(engine.RefineSpan(true));
    EXPECT_NEAR(engine.RepairStart() + 1, first, 2);
    EXPECT_NEAR(engine.RepairEnd() - 1, last, 2);
  }

  // The same spot without the click: nothing stands out, so it is no click at all.
  test::TSignal s = test::MakeMusic(1.0, 44100, 1, 7);
  TClickEngine engine;
  const TWavRecord format = test::FormatOf(s, 3, false);
  std::string error;
  ASSERT_TRUE(engine.InitEngine(format, -120, error, {true}));
  const std::vector<uint8_t> bytes = test::EncodeFrames(s, 3, false);
  engine.LoadBlock(format, bytes.data());
  TEngineProbe::SetClick(engine, 20000, 20190, 20250);
  EXPECT_FALSE(engine.RefineSpan(true));
}

// ---------------------------------------------------------------------------------------------
// Whole blocks

struct TEndToEnd {
  const char* Name;
  test::TSignal Clean;
  uint8_t BytesPerSample;
  bool IsFloat;
  std::vector<int> Widths, Shapes;  // of the three clicks
  double MaxResidual;               // error after the repair, relative to the click's energy
};

// Sum of squared differences over [first, last].
double Energy(const std::vector<float>& a, const std::vector<float>& b, int64_t first, int64_t last) {
  double e = 0;
  for (int64_t k = first; k <= last; ++k) {
    const double d = static_cast<double>(a[static_cast<size_t>(k)]) - b[static_cast<size_t>(k)];
    e += d * d;
  }
  return e;
}

TEST(EndToEnd, IsolatedClicksAreFoundAndRepaired) {
  // Spikes, ringing and flat pulses of 3 to 40 samples. A pure tone's smooth spectrum only lets
  // the short ones stand out; a flat pulse's spectrum has nulls that make it rough, so it is
  // found where it is wide enough for the nulls to lie close together.
  // Where the trace's top is wide the repair spans some 60 samples, and over that stretch the
  // prediction cannot know the noise or a transient of the music: those residuals are larger.
  const std::vector<int> shapes = {0, 1, 2};
  std::vector<TEndToEnd> cases;
  cases.push_back(
      {"tone mono 16", test::MakeTone(2.0, 44100, 1, 440.0, 3000.0), 2, false, {3, 6, 12}, {0, 1, 0}, 0.001});
  cases.push_back(
      {"tone+noise stereo 24", test::MixToneAndNoise(2.0, 48000, 2, 3), 3, false, {3, 10, 24}, shapes, 0.1});
  cases.push_back(
      {"tone+noise mono float", test::MixToneAndNoise(2.0, 44100, 1, 4), 4, true, {3, 10, 24}, shapes, 0.2});
  cases.push_back({"noise stereo 16",
                   test::MakeNoise(2.0, 44100, 2, 400.0, 800.0, 5),
                   2,
                   false,
                   {3, 10, 40},
                   shapes,
                   0.2});
  cases.push_back(
      {"tone+noise 96k 24", test::MixToneAndNoise(2.0, 96000, 1, 6), 3, false, {6, 12, 40}, shapes, 0.1});
  cases.push_back({"music stereo 16", test::MakeMusic(2.0, 44100, 2, 3), 2, false, {3, 10, 24}, shapes, 0.4});
  for (const TEndToEnd& c : cases) {
    SCOPED_TRACE(c.Name);
    test::TSignal dirty = c.Clean;
    const int32_t rate = c.Clean.SampleRate;
    const std::vector<test::TClick> clicks =
        test::PlaceClicks(dirty, {rate / 3, rate, (5 * rate) / 3}, c.Widths, c.Shapes, 12000.0f);
    const TWavRecord format = test::FormatOf(dirty, c.BytesPerSample, c.IsFloat);
    const std::vector<uint8_t> bytes = test::EncodeFrames(dirty, c.BytesPerSample, c.IsFloat);
    TClickEngine engine;
    std::string error;
    ASSERT_TRUE(engine.InitEngine(format, -120, error));
    const TBlockRun run = RunBlock(engine, format, bytes);
    CheckPassRules(run, 13);
    for (const test::TClick& click : clicks) {
      SCOPED_TRACE(testing::Message() << "click at " << click.Frame << " width " << click.Width);
      const int ch = click.Channel;
      bool covered = false;
      for (const TRepair& r : run.Repairs) {
        covered =
            covered || ((r.IsLeft == (ch == 0)) && r.RepairStart < click.Frame && r.RepairEnd > click.Frame);
      }
      EXPECT_TRUE(covered);
      const int64_t first = click.Frame - 64, last = click.Frame + click.Width + 64;
      const double clickEnergy = Energy(dirty.Channels[static_cast<size_t>(ch)],
                                        c.Clean.Channels[static_cast<size_t>(ch)], first, last);
      const double residual = Energy(run.Out[ch], c.Clean.Channels[static_cast<size_t>(ch)], first, last);
      EXPECT_LT(residual, c.MaxResidual * clickEnergy);
    }
  }
}

TEST(EndToEnd, OnlyRepairedSamplesChange) {
  // Every byte outside the reported repairs stays as read, in every sample format.
  for (uint8_t width : {1, 2, 3, 4}) {
    for (bool isFloat : {false, true}) {
      if (isFloat && width != 4) continue;
      SCOPED_TRACE(testing::Message() << int(width) << (isFloat ? " float" : " int"));
      test::TSignal signal = test::MakeMusic(2.0, 44100, 2, 60 + width);
      test::AddClicks(signal, 12, 3, 30, 3000, 61);
      const TWavRecord format = test::FormatOf(signal, width, isFloat);
      const std::vector<uint8_t> bytes = test::EncodeFrames(signal, width, isFloat);
      TClickEngine engine;
      std::string error;
      ASSERT_TRUE(engine.InitEngine(format, -120, error));
      const TBlockRun run = RunBlock(engine, format, bytes);
      ASSERT_FALSE(run.Repairs.empty());
      std::vector<char> mayChange[2] = {std::vector<char>(bytes.size() / (2 * width), 0),
                                        std::vector<char>(bytes.size() / (2 * width), 0)};
      for (const TRepair& r : run.Repairs) {
        for (int32_t s = r.RepairStart + 1; s < r.RepairEnd; ++s)
          mayChange[r.IsLeft ? 0 : 1][static_cast<size_t>(s)] = 1;
      }
      for (size_t b = 0; b < bytes.size(); ++b) {
        const size_t frame = b / (2u * width);
        const int ch = static_cast<int>((b / width) % 2);
        if (!mayChange[ch][frame]) {
          ASSERT_EQ(run.Bytes[b], bytes[b]) << "frame " << frame << " channel " << ch;
        }
      }
    }
  }
}

TEST(EndToEnd, DigitalSilenceStaysUntouched) {
  // Silence, and a pulse in the middle of silence (no signal to repair it from), stay as they are.
  test::TSignal signal{44100, {std::vector<float>(88200, 0.0f), std::vector<float>(88200, 0.0f)}};
  for (int32_t k = 0; k < 6; ++k) signal.Channels[1][static_cast<size_t>(40000 + k)] = 9000.0f;
  const TWavRecord format = test::FormatOf(signal, 2, false);
  const std::vector<uint8_t> bytes = test::EncodeFrames(signal, 2, false);
  TClickEngine engine;
  std::string error;
  ASSERT_TRUE(engine.InitEngine(format, -120, error));
  const TBlockRun run = RunBlock(engine, format, bytes);
  EXPECT_EQ(run.Bytes, bytes);
  EXPECT_EQ(run.Passes, 1);
  EXPECT_EQ(run.LastRepaired, -1);
}

TEST(EndToEnd, InvariantsHoldOnEveryInput) {
  // RepairEnd - RepairStart >= 3, repairs and examined regions inside the block, on rates from
  // 8 kHz to 192 kHz, short blocks, clicks near the block's ends and rough input.
  struct TCase {
    int32_t Rate;
    double Seconds;
    int Kind;
  };
  const TCase cases[] = {{8000, 2.0, 0},  {11025, 1.0, 1}, {22050, 2.0, 0},  {44100, 0.1, 0},
                         {44100, 2.0, 2}, {88200, 1.0, 0}, {192000, 2.0, 0}, {32000, 2.0, 3}};
  for (const TCase& c : cases) {
    SCOPED_TRACE(testing::Message() << c.Rate << " Hz, kind " << c.Kind);
    test::TSignal signal;
    switch (c.Kind) {
      case 0:
        signal = test::MakeMusic(c.Seconds, c.Rate, 2, 70);
        break;
      case 1:
        signal = test::MakeNoise(c.Seconds, c.Rate, 2, 8000.0, c.Rate / 4.0, 71);
        break;
      case 2:
        signal = test::MakeNoise(c.Seconds, c.Rate, 1, 12000.0, 20000.0, 72);
        break;  // clips
      default:
        signal = test::MixToneAndNoise(c.Seconds, c.Rate, 2, 73);
        break;
    }
    test::AddClicks(signal, 20, 2, 60, 200, 74);
    const int64_t n = signal.Frames();
    for (auto& ch : signal.Channels) {
      for (int64_t k : {int64_t{0}, int64_t{1}, n / 2, n - 3, n - 1}) ch[static_cast<size_t>(k)] += 20000.0f;
    }
    const TWavRecord format = test::FormatOf(signal, 2, false);
    const std::vector<uint8_t> bytes = test::EncodeFrames(signal, 2, false);
    TClickEngine engine;
    std::string error;
    ASSERT_TRUE(engine.InitEngine(format, -120, error));
    const TBlockRun run = RunBlock(engine, format, bytes);
    CheckPassRules(run, 13);
    const int32_t frames = engine.BlockFrames();
    for (const TRepair& r : run.Repairs) {
      EXPECT_GE(r.RepairEnd - r.RepairStart, 3);
      EXPECT_GE(r.RepairStart, 0);
      EXPECT_LT(r.RepairEnd, frames);
      EXPECT_GE(r.RegionStart, 0);
      EXPECT_LE(r.RegionStart + engine.RegionLen(), frames);
    }
    EXPECT_LT(run.LastRepaired, frames);
  }
}

TEST(EndToEnd, SameResultOnEveryThreadAndAfterACancelledBlock) {
  // Engines share no state, the routine set included: blocks processed on two threads at once, one
  // engine on the reference routines and one on the default ones, give what each gives alone on one
  // thread; an exception thrown by a callback leaves the engine fit for the next block.
  test::TSignal signal = test::MakeMusic(2.0, 44100, 2, 90);
  test::AddClicks(signal, 16, 3, 30, 3000, 91);
  const TWavRecord format = test::FormatOf(signal, 2, false);
  const std::vector<uint8_t> bytes = test::EncodeFrames(signal, 2, false);
  auto levels = [](const TClickEngine& engine) {
    std::vector<float> v;
    for (int32_t f = 0; f < engine.FrameCount(); ++f) v.push_back(engine.FrameLevel(true, f));
    return v;
  };
  TEngineOptions options[2];
  options[0].Routines = TRoutineSet::Reference;
  TBlockRun expected[2];
  std::vector<float> expectedLevels[2];
  std::string error;
  for (int i = 0; i < 2; ++i) {
    TClickEngine alone;
    ASSERT_TRUE(alone.InitEngine(format, -120, error, options[i]));
    expected[i] = RunBlock(alone, format, bytes);
    expectedLevels[i] = levels(alone);
  }
  ASSERT_FALSE(expected[1].Repairs.empty());
  // The two sets' roughness curves differ, so a set taken from the wrong place would show.
  ASSERT_NE(expectedLevels[0], expectedLevels[1]);

  TBlockRun runs[2];
  std::vector<float> runLevels[2];
  std::thread workers[2];
  for (int i = 0; i < 2; ++i) {
    workers[i] = std::thread([&, i] {
      TClickEngine engine;
      std::string e;
      if (!engine.InitEngine(format, -120, e, options[i])) return;
      runs[i] = RunBlock(engine, format, bytes);
      runLevels[i] = levels(engine);
    });
  }
  for (std::thread& w : workers) w.join();
  for (int i = 0; i < 2; ++i) {
    EXPECT_EQ(runs[i].Bytes, expected[i].Bytes);
    EXPECT_EQ(runs[i].Counted, expected[i].Counted);
    EXPECT_EQ(runs[i].Passes, expected[i].Passes);
    EXPECT_EQ(runLevels[i], expectedLevels[i]);
  }

  TClickEngine engine;
  ASSERT_TRUE(engine.InitEngine(format, -120, error));
  engine.LoadBlock(format, bytes.data());
  struct TCancel {};
  EXPECT_THROW(engine.AnalyseBlock(
                   true,
                   [](int32_t frame, bool) {
                     if (frame == 500) throw TCancel{};
                   },
                   0.0f),
               TCancel);
  engine.AnalyseBlock(true, {}, 0.0f);
  int32_t passes = 0;
  int32_t repairs = 0;
  EXPECT_THROW(engine.ProcessBlock(format, 13, passes, true, {},
                                   [&](const TClickEvent&) {
                                     if (++repairs == 3) throw TCancel{};
                                   }),
               TCancel);
  const TBlockRun after = RunBlock(engine, format, bytes);
  EXPECT_EQ(after.Bytes, expected[1].Bytes);
  EXPECT_EQ(after.Counted, expected[1].Counted);
}

TEST(EndToEnd, FloatingPointFaultsEndTheBlockWithTheirName) {
  // The codec keeps infinities out of the buffers; one put there directly makes the frame's mean
  // infinite and the mean's subtraction an invalid operation.
  test::TSignal signal = test::MakeTone(2.0, 44100, 1, 440.0, 3000.0);
  const TWavRecord format = test::FormatOf(signal, 2, false);
  const std::vector<uint8_t> bytes = test::EncodeFrames(signal, 2, false);
  TClickEngine engine;
  std::string error;
  ASSERT_TRUE(engine.InitEngine(format, -120, error));
  engine.LoadBlock(format, bytes.data());
  engine.LeftBuf()[30000] = std::numeric_limits<float>::infinity();
  try {
    engine.AnalyseBlock(false, {}, 0.0f);
    FAIL() << "no floating-point error";
  } catch (const TFloatingPointError& e) {
    EXPECT_STREQ(e.what(), "Floating point error: invalid operation");
  }
  // A fault raised by the host inside a callback is not the engine's.
  engine.LoadBlock(format, bytes.data());
  volatile double zero = 0.0;
  volatile double sink = 0.0;
  EXPECT_NO_THROW(engine.AnalyseBlock(
      false, [&](int32_t, bool) { sink = 1.0 / zero; }, 0.0f));
  int32_t passes = 0;
  EXPECT_NO_THROW(
      engine.ProcessBlock(format, 13, passes, true, {}, [&](const TClickEvent&) { sink = 1.0 / zero; }));
}

TEST(BlockIo, ReadAndWriteThroughFiles) {
  SetLanguage(TLanguage::English);
  // WriteBlock writes from frame Skip on, to the block's place in the output; the rest of the
  // output stays as the previous block left it.
  const std::string dir = test::MakeTempDirForEngine();
  test::TSignal signal = test::MakeMusic(3.0, 22050, 2, 95);
  test::AddClicks(signal, 10, 3, 20, 2000, 96);
  const std::string inPath = dir + "/in.wav";
  ASSERT_TRUE(test::WriteWav(inPath, signal, 2));
  TWavRecord in;
  ASSERT_TRUE(OpenWav(inPath, in)) << in.ErrorMsg;
  TWavRecord out;
  out.Format = in.Format;
  ASSERT_TRUE(CreateWav(dir + "/out.wav", out)) << out.ErrorMsg;

  TClickEngine engine;
  std::string error;
  ASSERT_TRUE(engine.InitEngine(in, -120, error));
  ASSERT_EQ(engine.BlockFrames(), 44100);
  ASSERT_TRUE(engine.ReadBlock(in, 0, error)) << error;
  EXPECT_EQ(engine.LeftBuf()[1000], std::nearbyint(signal.Channels[0][1000]));
  ASSERT_TRUE(engine.WriteBlock(out, 0, 0, error)) << error;
  // The last block, moved back to end at the last frame, written from frame 40000 of the block.
  const int32_t position = static_cast<int32_t>(signal.Frames()) - engine.BlockFrames();
  ASSERT_TRUE(engine.ReadBlock(in, position, error)) << error;
  EXPECT_EQ(engine.RightBuf()[5], std::nearbyint(signal.Channels[1][static_cast<size_t>(position + 5)]));
  ASSERT_TRUE(engine.WriteBlock(out, position, 40000, error)) << error;
  // A skip beyond the block writes nothing instead of wrapping the byte count around.
  EXPECT_TRUE(engine.WriteBlock(out, position, engine.BlockFrames() + 5, error));
  ASSERT_TRUE(CloseWav(out)) << out.ErrorMsg;

  TWavRecord check;
  ASSERT_TRUE(OpenWav(dir + "/out.wav", check)) << check.ErrorMsg;
  EXPECT_EQ(check.NumFrames, static_cast<uint32_t>(position + engine.BlockFrames()));
  std::vector<uint8_t> got(static_cast<size_t>(check.NumFrames) * 4);
  ASSERT_TRUE(ReadWavData(check, got.data(), 0, static_cast<uint32_t>(got.size()), error)) << error;
  std::vector<uint8_t> want(static_cast<size_t>(check.NumFrames) * 4);
  ASSERT_TRUE(ReadWavData(in, want.data(), 0, static_cast<uint32_t>(want.size()), error)) << error;
  const size_t gapFirst = static_cast<size_t>(44100) * 4;  // not written by either block
  const size_t gapLast = static_cast<size_t>(position + 40000) * 4;
  for (size_t b = 0; b < got.size(); ++b) {
    if (b >= gapFirst && b < gapLast) continue;
    ASSERT_EQ(got[b], want[b]) << b;
  }
  // A negative position is refused instead of being read or written somewhere else.
  EXPECT_FALSE(engine.ReadBlock(in, -1, error));
  EXPECT_EQ(error, "Invalid block position");
  EXPECT_FALSE(engine.WriteBlock(check, -1, 0, error));
  EXPECT_EQ(error, "Invalid block position");
  // Reading past the end fails with the reader's message and leaves the buffers as they were.
  const float before = engine.LeftBuf()[7];
  EXPECT_FALSE(engine.ReadBlock(in, position + 10, error));
  EXPECT_FALSE(error.empty());
  EXPECT_EQ(engine.LeftBuf()[7], before);
  CloseWav(in);
  CloseWav(check);
  test::RemoveDir(dir);
}

}  // namespace
}  // namespace klarwell
