#pragma once

#include <cstdint>
#include <vector>

namespace klarwell::test {

// Deterministic test material in the engine's units (16-bit scale, full scale about ±32767).
// Every generator takes a seed; the same seed gives the same samples on every machine, since
// only integer arithmetic decides the random numbers.

// One channel of a signal, one float per frame.
using TChannel = std::vector<float>;

struct TSignal {
  int SampleRate = 44100;
  std::vector<TChannel> Channels;  // 1 or 2
  int64_t Frames() const { return Channels.empty() ? 0 : static_cast<int64_t>(Channels[0].size()); }
};

// A click added to one channel: samples [Frame, Frame + Width) are disturbed.
struct TClick {
  int64_t Frame = 0;
  int Channel = 0;
  int Width = 0;
  float Peak = 0;  // largest absolute disturbance added
  int Shape = 0;   // 0 spike with a fast decay, 1 damped ringing, 2 flat-topped pulse, 3 triangle
};

// A small seeded random source (xorshift), independent of the standard library's distributions.
class TRandom {
 public:
  explicit TRandom(uint64_t seed) : state_(seed * 0x9E3779B97F4A7C15ull + 0x2545F4914F6CDD1Dull) {}
  uint64_t Next();
  double Uniform();                      // [0, 1)
  double Range(double lo, double hi) { return lo + (hi - lo) * Uniform(); }
  int Int(int lo, int hi);               // [lo, hi]
  double Gauss();                        // standard normal

 private:
  uint64_t state_;
};

// Music-like material: several harmonic voices with attacks and decays, vibrato and a little
// noise. Peak level about a third of full scale.
TSignal MakeMusic(double seconds, int sampleRate, int channels, uint64_t seed);

// A pure tone of the given frequency and amplitude on every channel.
TSignal MakeTone(double seconds, int sampleRate, int channels, double frequency, double amplitude);

// Seeded noise low-passed by a one-pole filter (cutoff about `cutoffHz`).
TSignal MakeNoise(double seconds, int sampleRate, int channels, double rms, double cutoffHz, uint64_t seed);

// Adds `count` vinyl-like clicks of varied width (minWidth..maxWidth samples), shape and level to
// the signal, at least `spacing` frames apart and away from both ends, and returns them in order.
std::vector<TClick> AddClicks(TSignal& signal, int count, int minWidth, int maxWidth, int64_t spacing,
                              uint64_t seed);

// Adds one click as described.
void AddClick(TSignal& signal, const TClick& click, uint64_t seed);

// Interleaved frames in the stored form: bytesPerSample 1, 2, 3 or 4 (integer), or 4 with isFloat.
// Values beyond the width's range are limited.
std::vector<uint8_t> EncodeFrames(const TSignal& signal, int bytesPerSample, bool isFloat);

}  // namespace klarwell::test
