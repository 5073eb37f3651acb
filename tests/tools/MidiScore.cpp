// Seeded scores for the click-free part of the quality corpus: attacks of real instruments (a
// sampled General MIDI bank renders them), which a declicker must leave alone.
#include <algorithm>
#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

#include "tests/support/SignalGen.h"
#include "tests/tools/QualityTool.h"

namespace klarwell::test {
namespace {

constexpr int kTicksPerBeat = 480;  // at 120 beats a minute

struct TEvent {
  int64_t Tick;
  std::vector<uint8_t> Bytes;
};

class TScore {
 public:
  explicit TScore(uint64_t seed) : rnd_(seed) {}
  TRandom& Rnd() { return rnd_; }

  void Program(int channel, int program) { events_.push_back({0, {uint8_t(0xC0 | channel), uint8_t(program)}}); }
  void Note(int channel, int64_t tick, int64_t length, int key, int velocity) {
    const auto k = static_cast<uint8_t>(std::clamp(key, 0, 127));
    events_.push_back({tick, {uint8_t(0x90 | channel), k, uint8_t(std::clamp(velocity, 1, 127))}});
    events_.push_back({tick + length, {uint8_t(0x80 | channel), k, 0}});
  }
  // A key of the A minor scale, `step` scale steps above A2.
  static int Scale(int step) {
    static const int kSteps[7] = {0, 2, 3, 5, 7, 8, 10};
    return 45 + 12 * (step / 7) + kSteps[step % 7];
  }

  bool Write(const std::string& path) {
    std::stable_sort(events_.begin(), events_.end(), [](const TEvent& a, const TEvent& b) {
      return a.Tick != b.Tick ? a.Tick < b.Tick : (a.Bytes[0] & 0xF0) < (b.Bytes[0] & 0xF0);
    });
    std::vector<uint8_t> track = {0x00, 0xFF, 0x51, 0x03, 0x07, 0xA1, 0x20};  // 500000 us a beat
    int64_t at = 0;
    for (const TEvent& e : events_) {
      Delta(track, e.Tick - at);
      at = e.Tick;
      track.insert(track.end(), e.Bytes.begin(), e.Bytes.end());
    }
    track.insert(track.end(), {0x00, 0xFF, 0x2F, 0x00});
    std::vector<uint8_t> file = {'M', 'T', 'h', 'd', 0, 0, 0, 6, 0, 0, 0, 1, kTicksPerBeat >> 8, kTicksPerBeat & 0xFF,
                                 'M', 'T', 'r', 'k'};
    for (int s = 24; s >= 0; s -= 8) file.push_back(static_cast<uint8_t>(track.size() >> s));
    file.insert(file.end(), track.begin(), track.end());
    std::ofstream out(path, std::ios::binary);
    out.write(reinterpret_cast<const char*>(file.data()), static_cast<std::streamsize>(file.size()));
    return static_cast<bool>(out);
  }

 private:
  static void Delta(std::vector<uint8_t>& out, int64_t value) {
    uint8_t bytes[5];
    int n = 0;
    do bytes[n++] = static_cast<uint8_t>(value & 0x7F), value >>= 7;
    while (value > 0);
    for (int i = n - 1; i >= 0; --i) out.push_back(static_cast<uint8_t>(bytes[i] | (i > 0 ? 0x80 : 0)));
  }
  TRandom rnd_;
  std::vector<TEvent> events_;
};

// Block chords, runs and hammered octaves.
void Piano(TScore& s, int beats) {
  s.Program(0, 0);
  for (int b = 0; b < beats; b += 4) {
    const int root = s.Rnd().Int(7, 14), kind = s.Rnd().Int(0, 2);
    for (int i = 0; i < 16; ++i) {
      const int64_t t = (b * 4 + i) * kTicksPerBeat / 4;
      if (kind == 0 && i % 4 == 0)
        for (int v : {0, 2, 4, 7}) s.Note(0, t, kTicksPerBeat, TScore::Scale(root + v), s.Rnd().Int(50, 120));
      if (kind == 1) s.Note(0, t, kTicksPerBeat / 4, TScore::Scale(root + s.Rnd().Int(0, 9)), s.Rnd().Int(40, 110));
      if (kind == 2 && i % 2 == 0) {
        s.Note(0, t, kTicksPerBeat / 8, TScore::Scale(root - 7), 120);
        s.Note(0, t, kTicksPerBeat / 8, TScore::Scale(root), 120);
      }
    }
  }
}

// Nylon guitar and harp arpeggios.
void Plucked(TScore& s, int beats) {
  s.Program(0, 24);
  s.Program(1, 46);
  for (int b = 0; b < beats; b += 2) {
    const int root = s.Rnd().Int(3, 10), channel = (b / 8) % 2;
    for (int i = 0; i < 8; ++i)
      s.Note(channel, (b * 4 + i) * kTicksPerBeat / 4, kTicksPerBeat, TScore::Scale(root + (i * 2) % 9),
             s.Rnd().Int(60, 127));
  }
}

// Short loud brass stabs against an accented trumpet line.
void Brass(TScore& s, int beats) {
  s.Program(0, 61);
  s.Program(1, 56);
  for (int b = 0; b < beats; ++b) {
    const int64_t t = b * kTicksPerBeat;
    if (s.Rnd().Uniform() < 0.6) {
      const int root = s.Rnd().Int(7, 12);
      for (int v : {0, 2, 4}) s.Note(0, t, kTicksPerBeat / 4, TScore::Scale(root + v), s.Rnd().Int(90, 127));
    }
    s.Note(1, t + kTicksPerBeat / 2, kTicksPerBeat / 3, TScore::Scale(s.Rnd().Int(14, 20)), s.Rnd().Int(70, 127));
  }
}

// A rock beat with a crash every four bars and a tom fill before it.
void Drums(TScore& s, int beats) {
  for (int b = 0; b < beats; ++b) {
    const int64_t t = b * kTicksPerBeat;
    const bool fill = b % 16 >= 14;
    s.Note(9, t, 60, b % 2 == 0 ? 36 : 38, s.Rnd().Int(95, 127));
    if (b % 16 == 0) s.Note(9, t, 60, 49, 120);
    for (int e = 0; e < 2; ++e) {
      const int64_t te = t + e * kTicksPerBeat / 2;
      if (fill) s.Note(9, te, 60, (45 + 3 * ((b * 2 + e) % 3)), s.Rnd().Int(90, 127));
      else s.Note(9, te, 60, e == 1 && s.Rnd().Uniform() < 0.2 ? 46 : 42, s.Rnd().Int(50, 100));
    }
    if (s.Rnd().Uniform() < 0.25) s.Note(9, t + 3 * kTicksPerBeat / 4, 60, 36, s.Rnd().Int(80, 110));
  }
}

}  // namespace

int WriteMidi(const std::string& kind, uint64_t seed, double seconds, const std::string& path) {
  TScore score(seed);
  const int beats = static_cast<int>(seconds * 2);
  if (kind == "piano") Piano(score, beats);
  else if (kind == "plucked") Plucked(score, beats);
  else if (kind == "brass") Brass(score, beats);
  else if (kind == "drums") Drums(score, beats);
  else {
    std::fprintf(stderr, "midi: unknown kind %s\n", kind.c_str());
    return 2;
  }
  return score.Write(path) ? 0 : 1;
}

}  // namespace klarwell::test
