// The scorer of the record-noise corpus: how much of the noise a repair took out and what it did to
// the music.
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <vector>

#include "tests/tools/QualityTool.h"
#include "tests/tools/RecordClicks.h"

namespace klarwell::test {
namespace {

constexpr int64_t kNear = 44;      // 1 ms at 44.1 kHz: a repair this close to a click is the click's
constexpr int64_t kAround = 220;   // 5 ms: the music a click is heard against
constexpr int64_t kWindow = 441;   // 10 ms: the span a dent is heard over

double Db(double ratio) { return ratio > 0 ? 10.0 * std::log10(ratio) : -INFINITY; }

struct TTrack {
  const std::vector<int16_t>& Clean;
  const std::vector<int16_t>& Input;
  const std::vector<int16_t>& Output;
  int64_t Frames;
  double At(const std::vector<int16_t>& v, int64_t f, int ch) const {
    return v[static_cast<size_t>(2 * std::clamp<int64_t>(f, 0, Frames - 1) + ch)];
  }
  bool Changed(int64_t f, int ch) const { return std::abs(At(Output, f, ch) - At(Input, f, ch)) > 1; }
};

// A click is audible when its steepest step stands 3 times above the music's own steps around it
// and 10 times above the hiss' (RMS of the first difference in both cases).
bool Audible(const TTrack& t, const TRecordClick& c, double hissDiffRms) {
  double steepest = 0, music = 0;
  for (int64_t f = c.First; f <= c.Last + 1; ++f) {
    const double d1 = t.At(t.Input, f, c.Channel) - t.At(t.Clean, f, c.Channel);
    const double d0 = t.At(t.Input, f - 1, c.Channel) - t.At(t.Clean, f - 1, c.Channel);
    steepest = std::max(steepest, std::abs(d1 - d0));
  }
  int64_t n = 0;
  for (int64_t f = c.First - kAround; f <= c.Last + kAround; ++f, ++n) {
    const double d = t.At(t.Clean, f, c.Channel) - t.At(t.Clean, f - 1, c.Channel);
    music += d * d;
  }
  return steepest >= 3 * std::sqrt(music / static_cast<double>(n)) && steepest >= 10 * hissDiffRms;
}

struct TCounts {
  int Clicks = 0, Found = 0, Repaired = 0;
  double Share(int a) const { return Clicks > 0 ? static_cast<double>(a) / Clicks : 0.0; }
};

// Runs of changed samples per channel (gaps of up to 4 frames joined): the places a repair touched.
struct TRun {
  int64_t First, Last;
  int Channel;
};
std::vector<TRun> ChangedRuns(const TTrack& t) {
  std::vector<TRun> runs;
  for (int ch = 0; ch < 2; ++ch) {
    for (int64_t f = 0; f < t.Frames; ++f) {
      if (!t.Changed(f, ch)) continue;
      if (!runs.empty() && runs.back().Channel == ch && f - runs.back().Last <= 5) runs.back().Last = f;
      else runs.push_back({f, f, ch});
    }
  }
  return runs;
}

// The energy of the change against the music's: over the whole file, and the worst 10 ms.
void DamageLine(const TTrack& t, double& whole, double& worst) {
  double change = 0, music = 0;
  worst = -INFINITY;
  for (int64_t w = 0; w + kWindow <= t.Frames; w += kWindow / 2) {
    double c = 0, m = 0;
    for (int64_t f = w; f < w + kWindow; ++f) {
      for (int ch = 0; ch < 2; ++ch) {
        const double d = t.At(t.Output, f, ch) - t.At(t.Input, f, ch), x = t.At(t.Clean, f, ch);
        c += d * d;
        m += x * x;
      }
    }
    if (c > 0) worst = std::max(worst, Db(c / std::max(m, 1.0)));
  }
  for (size_t i = 0; i < t.Input.size(); ++i) {
    const double d = static_cast<double>(t.Output[i]) - t.Input[i];
    change += d * d;
    music += static_cast<double>(t.Clean[i]) * t.Clean[i];
  }
  whole = Db(change / std::max(music, 1.0));
}

}  // namespace

int ScoreRecords(const std::string& base, const std::string& result) {
  const std::vector<int16_t> clean = ReadSamples16(base + ".clean.wav");
  const std::vector<int16_t> input = ReadSamples16(base + ".wav");
  const std::vector<int16_t> output = ReadSamples16(result);
  std::vector<TRecordClick> clicks;
  double hissDiffRms = 0;
  if (clean.empty() || clean.size() != input.size() || output.size() != input.size() ||
      !ReadRecordClicks(base + ".clicks.tsv", clicks, hissDiffRms)) {
    std::fprintf(stderr, "%s: sizes differ or a file is unreadable\n", result.c_str());
    return 1;
  }
  const TTrack t{clean, input, output, static_cast<int64_t>(clean.size() / 2)};
  TCounts all, audible;
  for (const TRecordClick& c : clicks) {
    double before = 0, after = 0;
    bool touched = false;
    for (int64_t f = c.First - kNear; f <= c.Last + kNear; ++f) {
      const double din = t.At(input, f, c.Channel) - t.At(clean, f, c.Channel);
      const double dout = t.At(output, f, c.Channel) - t.At(clean, f, c.Channel);
      before += din * din;
      after += dout * dout;
      touched = touched || (f >= c.First && f <= c.Last && t.Changed(f, c.Channel));
    }
    const bool repaired = after * 10.0 <= before;
    for (TCounts* k : {&all, Audible(t, c, hissDiffRms) ? &audible : nullptr}) {
      if (!k) continue;
      ++k->Clicks;
      k->Found += touched;
      k->Repaired += repaired;
    }
  }
  const std::vector<TRun> runs = ChangedRuns(t);
  int stray = 0;
  for (const TRun& r : runs) {
    stray += std::none_of(clicks.begin(), clicks.end(), [&](const TRecordClick& c) {
      return c.Channel == r.Channel && c.First - kNear <= r.Last && r.First <= c.Last + kNear;
    });
  }
  double music = 0, error = 0, whole = 0, worst = 0;
  for (size_t i = 0; i < clean.size(); ++i) {
    const double d = static_cast<double>(output[i]) - clean[i];
    music += static_cast<double>(clean[i]) * clean[i];
    error += d * d;
  }
  DamageLine(t, whole, worst);
  const double minutes = static_cast<double>(t.Frames) / 44100.0 / 60.0;
  const double perMinute = static_cast<double>(runs.size()) / minutes;
  if (clicks.empty()) {
    // Click-free music: every change is damage.
    std::printf("%-31s %8.1f  %-6s  %6.1f %6.1f\n", "-", perMinute, "-", whole, worst);
  } else {
    std::printf("%5d %4.2f %4.2f  %6d %4.2f %4.2f  %4.2f %8.1f  %6.2f  %-6s %-6s\n", audible.Clicks,
                audible.Share(audible.Found), audible.Share(audible.Repaired), all.Clicks, all.Share(all.Found),
                all.Share(all.Repaired), runs.empty() ? 0.0 : static_cast<double>(stray) / runs.size(), perMinute,
                Db(music / std::max(error, 1e-9)), "-", "-");
  }
  return 0;
}

}  // namespace klarwell::test
