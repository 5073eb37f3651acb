// klarwell-makedemo: writes the bundled demo recording (music-like material with vinyl-like clicks at
// known positions) and its click list, and scores a run of klarwell-cli --json against that list.
//
//   klarwell-makedemo make DIR            writes DIR/vinyl-demo.wav and DIR/vinyl-demo.clicks.tsv
//   klarwell-makedemo score CLICKS JSON   prints how many listed clicks a repair covers
//   klarwell-makedemo corpus DIR SECONDS  writes the benchmark corpus: stereo 44.1 kHz 16-bit, stereo
//                                         96 kHz 24-bit, mono 44.1 kHz 16-bit (all with clicks) and a
//                                         click-free stereo 44.1 kHz 16-bit file

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

int Make(const std::string& dir) {
  TSignal s = MakeMusic(kSeconds, kRate, 2, 20261208);
  std::vector<TClick> clicks = AddClicks(s, kClickCount, 3, 100, kRate / 5, 77);
  const std::string wav = dir + "/vinyl-demo.wav";
  std::string error;
  if (!WriteSignalWav(wav, s, 2, false, &error)) {
    std::fprintf(stderr, "klarwell-makedemo: %s: %s\n", wav.c_str(), error.c_str());
    return 1;
  }
  std::ofstream list(dir + "/vinyl-demo.clicks.tsv");
  list << "frame\tchannel\twidth\tpeak\tshape\n";
  for (const TClick& c : clicks) list << c.Frame << '\t' << c.Channel << '\t' << c.Width << '\t' << c.Peak << '\t' << c.Shape << '\n';
  if (!list) {
    std::fprintf(stderr, "klarwell-makedemo: cannot write the click list\n");
    return 1;
  }
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

}  // namespace

int main(int argc, char** argv) {
  if (argc == 3 && std::string(argv[1]) == "make") return Make(argv[2]);
  if (argc == 4 && std::string(argv[1]) == "score") return Score(argv[2], argv[3]);
  if (argc == 4 && std::string(argv[1]) == "corpus") return Corpus(argv[2], std::atof(argv[3]));
  std::fprintf(stderr, "usage: klarwell-makedemo make DIR | score CLICKS.tsv RUN.json | corpus DIR SECONDS\n");
  return 2;
}
