// klarwell-repairquality: how well a declicker repairs real music with clicks of known position and
// width (the scorer of bench/quality).
//
//   klarwell-repairquality decode OGG START SECONDS OUT.wav   writes an excerpt of OGG as a 32-bit float
//       WAV file at the recording's own rate (ffmpeg cannot read some of the quiet recordings).
//   klarwell-repairquality score OUT RESULT.wav   scores a repaired copy of OUT.wav (16-bit stereo, as
//       klarwell-makedemo vinyl writes it, with its list OUT.clicks.tsv) against OUT.clean.wav, the
//       same music without clicks, and prints one line: the found share, the share of clicks whose error within +-2 ms fell
//       by at least 10 dB (overall and for widths <10, 10..39, >=40 samples), the output's SNR against
//       the clean music, the energy changed outside the clicks (+-2 ms) relative to the music's (dB),
//       and the share of samples changed. A sample counts as changed when it moved by more than one
//       step: a peer that works in floating point re-rounds every sample.
//   klarwell-repairquality records WEAR SEED OUT.wav   reads 44.1 kHz stereo music as interleaved
//       32-bit floats on standard input and writes the record-noise corpus file: OUT.clean.wav (the
//       music with hiss), OUT.wav (with the ticks, crackle and scratch of WEAR: sparse, worn, crackle;
//       seed 0: none) and their list OUT.clicks.tsv.
//   klarwell-repairquality rscore OUT RESULT.wav   scores a repair of such a file (see bench/README.md).
//   klarwell-repairquality midi KIND SEED SECONDS OUT.mid   a seeded score (piano, plucked, brass,
//       drums) for the click-free material.

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

#include "tests/support/RoadCompare.h"
#include "tests/support/SignalGen.h"
#include "tests/support/SignalWav.h"
#include "tests/support/music/OggExcerpt.h"
#include "tests/tools/QualityTool.h"
#include "tests/tools/RecordClicks.h"

using namespace klarwell;
using namespace klarwell::test;

// Interleaved 16-bit samples of a WAV file's data chunk (as written by the program, or by the peer).
std::vector<int16_t> klarwell::test::ReadSamples16(const std::string& path) {
  const std::string bytes = ReadFileBytes(path);
  const size_t offset = DataOffset(bytes);
  std::vector<int16_t> samples;
  if (offset == 0) return samples;
  const uint32_t size = static_cast<uint8_t>(bytes[offset - 4]) |
                        static_cast<uint8_t>(bytes[offset - 3]) << 8 |
                        static_cast<uint8_t>(bytes[offset - 2]) << 16 |
                        static_cast<uint32_t>(static_cast<uint8_t>(bytes[offset - 1])) << 24;
  const size_t end = std::min(bytes.size(), offset + size);
  for (size_t i = offset; i + 1 < end; i += 2) {
    samples.push_back(
        static_cast<int16_t>(static_cast<uint8_t>(bytes[i]) | static_cast<uint8_t>(bytes[i + 1]) << 8));
  }
  return samples;
}

namespace {

int Decode(const std::string& ogg, double start, double seconds, const std::string& out) {
  TSignal clean;
  std::string error;
  if (!DecodeOggExcerpt(ogg, start, seconds, clean, error) || !WriteSignalWav(out, clean, 4, true, &error)) {
    std::fprintf(stderr, "%s\n", error.c_str());
    return 1;
  }
  return 0;
}

int Score(const std::string& base, const std::string& result) {
  const std::vector<int16_t> clean = ReadSamples16(base + ".clean.wav");
  const std::vector<int16_t> input = ReadSamples16(base + ".wav");
  const std::vector<int16_t> output = ReadSamples16(result);
  if (clean.empty() || clean.size() != input.size() || output.size() != input.size()) {
    std::fprintf(stderr, "%s: sizes differ or a file is unreadable\n", result.c_str());
    return 1;
  }
  std::vector<TClick> clicks;
  std::ifstream list(base + ".clicks.tsv");
  std::string header;
  std::getline(list, header);
  TClick c;
  while (list >> c.Frame >> c.Channel >> c.Width >> c.Peak >> c.Shape) clicks.push_back(c);

  const int64_t frames = static_cast<int64_t>(clean.size() / 2);
  const int64_t guard = 88;  // 2 ms at 44.1 kHz
  auto at = [](const std::vector<int16_t>& v, int64_t frame, int ch) {
    return static_cast<double>(v[static_cast<size_t>(2 * frame + ch)]);
  };
  std::vector<uint8_t> nearClick(clean.size(), 0);
  int found = 0, good = 0;
  int byWidth[3] = {0, 0, 0}, goodByWidth[3] = {0, 0, 0};
  for (const TClick& k : clicks) {
    const int64_t from = std::max<int64_t>(0, k.Frame - guard),
                  to = std::min(frames - 1, k.Frame + k.Width - 1 + guard);
    double before = 0, after = 0;
    bool touched = false;
    for (int64_t f = from; f <= to; ++f) {
      nearClick[static_cast<size_t>(2 * f + k.Channel)] = 1;
      const double din = at(input, f, k.Channel) - at(clean, f, k.Channel);
      const double dout = at(output, f, k.Channel) - at(clean, f, k.Channel);
      before += din * din;
      after += dout * dout;
      if (f >= k.Frame && f < k.Frame + k.Width && at(output, f, k.Channel) != at(input, f, k.Channel))
        touched = true;
    }
    const int bin = k.Width < 10 ? 0 : k.Width < 40 ? 1 : 2;
    ++byWidth[bin];
    found += touched;
    if (after * 10.0 <= before) {
      ++good;
      ++goodByWidth[bin];
    }
  }
  double music = 0, error = 0, outside = 0;
  int64_t changed = 0;
  for (size_t i = 0; i < clean.size(); ++i) {
    const double d = static_cast<double>(output[i]) - clean[i];
    music += static_cast<double>(clean[i]) * clean[i];
    error += d * d;
    if (std::abs(output[i] - input[i]) > 1) ++changed;
    if (!nearClick[i]) {
      const double m = static_cast<double>(output[i]) - input[i];
      outside += m * m;
    }
  }
  const double n = static_cast<double>(std::max<size_t>(1, clicks.size()));
  auto share = [](int a, int b) { return b > 0 ? static_cast<double>(a) / b : 0.0; };
  std::printf(
      "found %.2f  >=10dB %.2f (<10 %.2f, <40 %.2f, >=40 %.2f)  SNR %.2f dB  outside %.1f dB  changed %.4f\n",
      found / n, good / n, share(goodByWidth[0], byWidth[0]), share(goodByWidth[1], byWidth[1]),
      share(goodByWidth[2], byWidth[2]), 10.0 * std::log10(music / std::max(error, 1e-9)),
      outside > 0 ? 10.0 * std::log10(outside / music) : -INFINITY,
      static_cast<double>(changed) / static_cast<double>(clean.size()));
  return 0;
}

// The music from standard input, the wear's noise on it, and the three files of the corpus.
int Records(const std::string& wearName, uint64_t seed, const std::string& out) {
  TWear wear;
  if (!WearByName(wearName, wear) || out.size() < 5 || out.compare(out.size() - 4, 4, ".wav") != 0) {
    std::fprintf(stderr, "records: unknown wear %s or OUT not .wav\n", wearName.c_str());
    return 2;
  }
  TSignal music;
  music.Channels.assign(2, TChannel());
  float frame[2];
  float peak = 0;
  while (std::fread(frame, sizeof frame, 1, stdin) == 1) {
    for (int c = 0; c < 2; ++c) {
      music.Channels[c].push_back(frame[c] * 32767.0f);
      peak = std::max(peak, std::abs(frame[c]));
    }
  }
  // Rendered material can reach full scale; leave headroom for the noise.
  if (peak > 0.9f)
    for (TChannel& ch : music.Channels)
      for (float& v : ch) v *= 0.9f / peak;
  if (seed == 0) wear = TWear{};
  TRecordNoise noise = AddRecordNoise(music, wear, seed);
  const std::string base = out.substr(0, out.size() - 4);
  std::string error;
  if (!WriteSignalWav(base + ".clean.wav", music, 2, false, &error) ||
      !WriteSignalWav(out, noise.Noisy, 2, false, &error) || !WriteRecordClicks(base + ".clicks.tsv", noise)) {
    std::fprintf(stderr, "records: %s %s\n", out.c_str(), error.c_str());
    return 1;
  }
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  const std::vector<std::string> args(argv + 1, argv + argc);
  if (args.size() == 5 && args[0] == "decode")
    return Decode(args[1], std::atof(args[2].c_str()), std::atof(args[3].c_str()), args[4]);
  if (args.size() == 3 && args[0] == "score") return Score(args[1], args[2]);
  if (args.size() == 4 && args[0] == "records") return Records(args[1], std::strtoull(args[2].c_str(), nullptr, 10), args[3]);
  if (args.size() == 3 && args[0] == "rscore") return ScoreRecords(args[1], args[2]);
  if (args.size() == 5 && args[0] == "midi")
    return WriteMidi(args[1], std::strtoull(args[2].c_str(), nullptr, 10), std::atof(args[3].c_str()), args[4]);
  std::fprintf(stderr,
               "usage: klarwell-repairquality decode OGG START SECONDS OUT.wav\n"
               "       klarwell-repairquality score OUT RESULT.wav\n"
               "       klarwell-repairquality records WEAR SEED OUT.wav < stereo 44.1 kHz floats\n"
               "       klarwell-repairquality rscore OUT RESULT.wav\n"
               "       klarwell-repairquality midi KIND SEED SECONDS OUT.mid\n");
  return 2;
}
