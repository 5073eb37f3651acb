// klarwell-makedemo: writes the bundled demo recording (music-like material with vinyl-like clicks at
// known positions) and its click list, and scores a run of klarwell-cli --json against that list.
//
//   klarwell-makedemo make DIR            writes DIR/vinyl-demo.wav and DIR/vinyl-demo.clicks.tsv
//   klarwell-makedemo score CLICKS JSON   prints how many listed clicks a repair covers
//   klarwell-makedemo corpus DIR SECONDS  writes the benchmark corpus: stereo 44.1 kHz 16-bit, stereo
//                                         96 kHz 24-bit, mono 44.1 kHz 16-bit (all with clicks) and a
//                                         click-free stereo 44.1 kHz 16-bit file
//   klarwell-makedemo vinyl RATE CHANNELS BYTES SEED OUT.wav
//                                         reads interleaved 32-bit floats (full scale ±1) from standard
//                                         input, adds seeded vinyl-like clicks (1 to 5 a second, 3 to
//                                         120 samples wide) and writes OUT.wav and OUT.clicks.tsv;
//                                         SEED 0 writes the file without clicks and an empty list

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iostream>
#include <sstream>
#include <string>
#include <vector>

#include "tests/support/SignalGen.h"
#include "tests/support/SignalWav.h"

using namespace klarwell;
using namespace klarwell::test;

namespace {

constexpr double kSeconds = 30.0;
constexpr int kRate = 44100;
constexpr int kClickCount = 60;

bool WriteClickList(const std::string& path, const std::vector<TClick>& clicks) {
  std::ofstream list(path);
  list << "frame\tchannel\twidth\tpeak\tshape\n";
  for (const TClick& c : clicks)
    list << c.Frame << '\t' << c.Channel << '\t' << c.Width << '\t' << c.Peak << '\t' << c.Shape << '\n';
  if (!list) std::fprintf(stderr, "klarwell-makedemo: cannot write the click list %s\n", path.c_str());
  return static_cast<bool>(list);
}

int Make(const std::string& dir) {
  TSignal s = MakeMusic(kSeconds, kRate, 2, 20261208);
  std::vector<TClick> clicks = AddClicks(s, kClickCount, 3, 100, kRate / 5, 77);
  const std::string wav = dir + "/vinyl-demo.wav";
  std::string error;
  if (!WriteSignalWav(wav, s, 2, false, &error)) {
    std::fprintf(stderr, "klarwell-makedemo: %s: %s\n", wav.c_str(), error.c_str());
    return 1;
  }
  if (!WriteClickList(dir + "/vinyl-demo.clicks.tsv", clicks)) return 1;
  std::printf("%s: %d s, stereo, 44.1 kHz, 16-bit, %zu clicks of 3 to 100 samples\n", wav.c_str(),
              static_cast<int>(kSeconds), clicks.size());
  return 0;
}

struct TSpan {
  int Channel;
  long long First, Last;
};

// The repairs of the first JSON line: each entry's channel, first and last frame.
std::vector<TSpan> ReadRepairs(const std::string& jsonPath) {
  std::ifstream in(jsonPath);
  std::string line;
  std::getline(in, line);
  std::vector<TSpan> spans;
  size_t at = line.find("\"repairs\":[");
  if (at == std::string::npos) return spans;
  const char* p = line.c_str() + at;
  while ((p = std::strstr(p, "{\"channel\":")) != nullptr) {
    TSpan s{};
    int pass = 0;
    if (std::sscanf(p, "{\"channel\":%d,\"pass\":%d,\"first\":%lld,\"last\":%lld", &s.Channel, &pass, &s.First,
                    &s.Last) == 4)
      spans.push_back(s);
    ++p;
  }
  return spans;
}

int Score(const std::string& clicksPath, const std::string& jsonPath) {
  std::ifstream in(clicksPath);
  std::string line;
  std::getline(in, line);  // header
  std::vector<TSpan> repairs = ReadRepairs(jsonPath);
  int total = 0, covered = 0;
  while (std::getline(in, line)) {
    std::istringstream f(line);
    long long frame;
    int channel, width;
    if (!(f >> frame >> channel >> width)) continue;
    ++total;
    for (const TSpan& r : repairs) {
      if (r.Channel == channel && r.First <= frame + width - 1 && r.Last >= frame) {
        ++covered;
        break;
      }
    }
  }
  std::printf("%d of the demo's %d clicks were repaired (%zu repairs in all).\n", covered, total, repairs.size());
  return 0;
}

int Corpus(const std::string& dir, double seconds) {
  struct Item {
    const char* name;
    int rate, channels, bytes;
    bool clicks;
  } items[] = {
      {"stereo-44k-16.wav", 44100, 2, 2, true},
      {"stereo-96k-24.wav", 96000, 2, 3, true},
      {"mono-44k-16.wav", 44100, 1, 2, true},
      {"clean-44k-16.wav", 44100, 2, 2, false},
  };
  uint64_t seed = 1000;
  for (const Item& it : items) {
    TSignal s = MakeMusic(seconds, it.rate, it.channels, ++seed);
    // About two clicks a second, as on a well-used record.
    if (it.clicks) AddClicks(s, static_cast<int>(seconds * 2), 3, 100 * it.rate / 44100, it.rate / 10, ++seed);
    const std::string path = dir + "/" + it.name;
    std::string error;
    if (!WriteSignalWav(path, s, it.bytes, false, &error)) {
      std::fprintf(stderr, "klarwell-makedemo: %s: %s\n", path.c_str(), error.c_str());
      return 1;
    }
    std::printf("%s\n", path.c_str());
  }
  return 0;
}

// Real music decoded elsewhere, with clicks as a worn record has them: each second gets 1 to 5, each in
// its own share of the second and at least 10 ms from the share's ends, so that no two overlap.
int Vinyl(int rate, int channels, int bytes, uint64_t seed, const std::string& out) {
  if (rate <= 0 || channels < 1 || channels > 2 || bytes < 1 || bytes > 4) {
    std::fprintf(stderr, "klarwell-makedemo: vinyl needs a rate, 1 or 2 channels and 1 to 4 bytes\n");
    return 2;
  }
  TSignal s;
  s.SampleRate = rate;
  s.Channels.assign(static_cast<size_t>(channels), TChannel());
  std::vector<float> chunk(static_cast<size_t>(channels) * 65536);
  size_t got;
  while ((got = std::fread(chunk.data(), sizeof(float) * channels, 65536, stdin)) > 0) {
    for (size_t i = 0; i < got; ++i)
      for (int c = 0; c < channels; ++c) s.Channels[c].push_back(chunk[i * channels + c] * 32767.0f);
  }
  std::vector<TClick> clicks;
  if (seed != 0) {
    TRandom rnd(seed);
    const int64_t guard = rate / 100;
    for (int64_t second = 0; (second + 1) * rate <= s.Frames(); ++second) {
      const int count = rnd.Int(1, 5);
      const int64_t share = rate / count;
      for (int n = 0; n < count; ++n) {
        TClick c;
        c.Width = static_cast<int>(std::lround(3.0 * std::pow(40.0, rnd.Uniform())));  // 3 to 120
        c.Frame = second * rate + n * share + guard +
                  static_cast<int64_t>(rnd.Uniform() * static_cast<double>(share - 2 * guard - c.Width));
        c.Channel = channels == 2 ? rnd.Int(0, 1) : 0;
        c.Shape = rnd.Int(0, 3);
        c.Peak = static_cast<float>(rnd.Range(4000.0, 16000.0) * (rnd.Int(0, 1) ? 1.0 : -1.0));
        AddClick(s, c, rnd.Next());
        clicks.push_back(c);
      }
    }
  }
  std::string error;
  if (!WriteSignalWav(out, s, bytes, false, &error)) {
    std::fprintf(stderr, "klarwell-makedemo: %s: %s\n", out.c_str(), error.c_str());
    return 1;
  }
  const bool named = out.size() > 4 && out.compare(out.size() - 4, 4, ".wav") == 0;
  if (!WriteClickList((named ? out.substr(0, out.size() - 4) : out) + ".clicks.tsv", clicks)) return 1;
  std::printf("%s: %.1f s, %zu clicks\n", out.c_str(), static_cast<double>(s.Frames()) / rate, clicks.size());
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 3 && std::string(argv[1]) == "make") return Make(argv[2]);
  if (argc == 4 && std::string(argv[1]) == "score") return Score(argv[2], argv[3]);
  if (argc == 4 && std::string(argv[1]) == "corpus") return Corpus(argv[2], std::atof(argv[3]));
  if (argc == 7 && std::string(argv[1]) == "vinyl")
    return Vinyl(std::atoi(argv[2]), std::atoi(argv[3]), std::atoi(argv[4]),
                 std::strtoull(argv[5], nullptr, 10), argv[6]);
  std::fprintf(stderr,
               "usage: klarwell-makedemo make DIR | score CLICKS.tsv RUN.json | corpus DIR SECONDS\n"
               "       | vinyl RATE CHANNELS BYTES SEED OUT.wav < interleaved 32-bit floats\n");
  return 2;
}
