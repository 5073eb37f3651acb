#include "tests/support/SignalGen.h"

#include <algorithm>
#include <cmath>
#include <cstring>

namespace klarwell::test {

namespace {

constexpr double kPi = 3.14159265358979323846;

void PutLe(std::vector<uint8_t>& out, uint32_t v, int bytes) {
  for (int i = 0; i < bytes; ++i) out.push_back(static_cast<uint8_t>(v >> (8 * i)));
}

}  // namespace

uint64_t TRandom::Next() {
  state_ ^= state_ << 13;
  state_ ^= state_ >> 7;
  state_ ^= state_ << 17;
  return state_;
}

double TRandom::Uniform() { return static_cast<double>(Next() >> 11) * (1.0 / 9007199254740992.0); }

int TRandom::Int(int lo, int hi) {
  return lo + static_cast<int>(Next() % static_cast<uint64_t>(hi - lo + 1));
}

double TRandom::Gauss() {
  // Box-Muller; u1 is kept away from 0 so that the logarithm stays finite.
  double u1 = (static_cast<double>(Next() >> 11) + 1.0) * (1.0 / 9007199254740993.0);
  double u2 = Uniform();
  return std::sqrt(-2.0 * std::log(u1)) * std::cos(2.0 * kPi * u2);
}

TSignal MakeMusic(double seconds, int sampleRate, int channels, uint64_t seed) {
  TRandom rnd(seed);
  TSignal s;
  s.SampleRate = sampleRate;
  const int64_t frames = static_cast<int64_t>(seconds * sampleRate);
  s.Channels.assign(channels, TChannel(frames, 0.0f));
  std::vector<double> mix(frames * channels, 0.0);

  // A few voices, each a sequence of notes from a pentatonic scale, with harmonics falling off,
  // a quick attack, an exponential decay and a slow vibrato. Each voice sits at its own place
  // between the two channels.
  static const int kScale[] = {0, 2, 4, 7, 9, 12, 14, 16, 19, 21};
  const int voices = 4;
  for (int v = 0; v < voices; ++v) {
    const double base = 110.0 * std::pow(2.0, v * 0.5);
    const double pan = channels == 2 ? rnd.Range(0.2, 0.8) : 0.5;
    int64_t t = static_cast<int64_t>(rnd.Range(0.0, 0.3) * sampleRate);
    while (t < frames) {
      const double noteSec = rnd.Range(0.15, 0.9);
      const int64_t len = std::min<int64_t>(frames - t, static_cast<int64_t>(noteSec * 1.6 * sampleRate));
      const double f0 = base * std::pow(2.0, kScale[rnd.Int(0, 9)] / 12.0);
      const double amp = rnd.Range(1500.0, 3500.0);
      const double attack = rnd.Range(0.005, 0.04) * sampleRate;
      const double decay = rnd.Range(0.2, 0.8) * sampleRate;
      const double vibRate = rnd.Range(4.0, 6.5), vibDepth = rnd.Range(0.001, 0.004);
      const int harmonics = rnd.Int(3, 8);
      double phase = 0;
      // A note ends with a short release; an abrupt end would be a step, i.e. a click of its own.
      const double release = 0.03 * sampleRate;
      for (int64_t i = 0; i < len; ++i) {
        const double fade = (len - i) < release ? (len - i) / release : 1.0;
        const double env = (i < attack ? i / attack : 1.0) * std::exp(-i / decay) * fade;
        const double f = f0 * (1.0 + vibDepth * std::sin(2.0 * kPi * vibRate * i / sampleRate));
        phase += 2.0 * kPi * f / sampleRate;
        double x = 0;
        for (int h = 1; h <= harmonics; ++h) {
          if (f0 * h > sampleRate * 0.45) break;
          x += std::sin(h * phase) / (h * h * 0.7 + 0.3);
        }
        x *= amp * env;
        if (channels == 2) {
          mix[(t + i) * 2] += x * (1.0 - pan) * 2.0;
          mix[(t + i) * 2 + 1] += x * pan * 2.0;
        } else {
          mix[t + i] += x;
        }
      }
      t += static_cast<int64_t>(noteSec * sampleRate);
    }
  }
  // A little surface noise, gently low-passed, as a transfer of a good pressing has.
  for (int c = 0; c < channels; ++c) {
    double lp = 0;
    for (int64_t i = 0; i < frames; ++i) {
      lp += 0.3 * (rnd.Gauss() * 25.0 - lp);
      s.Channels[c][i] = static_cast<float>(mix[i * channels + c] + lp);
    }
  }
  return s;
}

TSignal MakeTone(double seconds, int sampleRate, int channels, double frequency, double amplitude) {
  TSignal s;
  s.SampleRate = sampleRate;
  const int64_t frames = static_cast<int64_t>(seconds * sampleRate);
  s.Channels.assign(channels, TChannel(frames));
  for (int c = 0; c < channels; ++c)
    for (int64_t i = 0; i < frames; ++i)
      s.Channels[c][i] = static_cast<float>(amplitude * std::sin(2.0 * kPi * frequency * i / sampleRate));
  return s;
}

TSignal MakeNoise(double seconds, int sampleRate, int channels, double rms, double cutoffHz, uint64_t seed) {
  TRandom rnd(seed);
  TSignal s;
  s.SampleRate = sampleRate;
  const int64_t frames = static_cast<int64_t>(seconds * sampleRate);
  s.Channels.assign(channels, TChannel(frames));
  const double a = 1.0 - std::exp(-2.0 * kPi * cutoffHz / sampleRate);
  // The one-pole filter lowers the level by about sqrt(a / (2 - a)); make up for it.
  const double gain = rms / std::sqrt(a / (2.0 - a));
  for (int c = 0; c < channels; ++c) {
    double y = 0;
    for (int64_t i = 0; i < frames; ++i) {
      y += a * (rnd.Gauss() - y);
      s.Channels[c][i] = static_cast<float>(y * gain);
    }
  }
  return s;
}

void AddClick(TSignal& signal, const TClick& click, uint64_t seed) {
  TRandom rnd(seed);
  TChannel& ch = signal.Channels[click.Channel];
  const int w = click.Width;
  for (int k = 0; k < w && click.Frame + k < static_cast<int64_t>(ch.size()); ++k) {
    const double u = w > 1 ? static_cast<double>(k) / (w - 1) : 0.0;
    double d = 0;
    switch (click.Shape) {
      case 0: d = std::exp(-5.0 * u); break;                                  // spike, fast decay
      case 1: d = std::exp(-3.0 * u) * std::cos(kPi * k * 0.9); break;        // damped ringing
      case 2: d = (u < 0.1 || u > 0.9) ? 0.6 : 1.0; break;                    // flat-topped pulse
      default: d = 1.0 - std::fabs(2.0 * u - 1.0); break;                     // triangle
    }
    d *= 1.0 + 0.1 * (rnd.Uniform() - 0.5);
    ch[click.Frame + k] = static_cast<float>(ch[click.Frame + k] + click.Peak * d);
  }
}

std::vector<TClick> AddClicks(TSignal& signal, int count, int minWidth, int maxWidth, int64_t spacing,
                              uint64_t seed) {
  TRandom rnd(seed);
  std::vector<TClick> clicks;
  const int64_t frames = signal.Frames();
  const int channels = static_cast<int>(signal.Channels.size());
  // Positions on a jittered grid, so that they stay apart however many are asked for.
  const int64_t margin = std::max<int64_t>(spacing, signal.SampleRate / 20);
  const int64_t usable = frames - 2 * margin;
  if (count <= 0 || usable <= 0) return clicks;
  const int64_t slot = usable / count;
  for (int n = 0; n < count; ++n) {
    TClick c;
    const int64_t jitter = slot > spacing ? static_cast<int64_t>(rnd.Uniform() * (slot - spacing)) : 0;
    c.Frame = margin + n * slot + jitter;
    c.Channel = channels == 2 ? rnd.Int(0, 1) : 0;
    // Widths are spread evenly on a log scale: most clicks are short, some are long.
    c.Width = static_cast<int>(std::lround(minWidth * std::pow(double(maxWidth) / minWidth, rnd.Uniform())));
    c.Shape = rnd.Int(0, 3);
    c.Peak = static_cast<float>(rnd.Range(4000.0, 16000.0) * (rnd.Int(0, 1) ? 1.0 : -1.0));
    AddClick(signal, c, rnd.Next());
    clicks.push_back(c);
  }
  return clicks;
}

std::vector<uint8_t> EncodeFrames(const TSignal& signal, int bytesPerSample, bool isFloat) {
  std::vector<uint8_t> out;
  const int64_t frames = signal.Frames();
  const size_t channels = signal.Channels.size();
  out.reserve(frames * channels * bytesPerSample);
  for (int64_t i = 0; i < frames; ++i) {
    for (size_t c = 0; c < channels; ++c) {
      const double v = signal.Channels[c][i];
      if (isFloat) {
        float f = static_cast<float>(v / 32767.0);
        uint32_t bits;
        std::memcpy(&bits, &f, 4);
        PutLe(out, bits, 4);
        continue;
      }
      switch (bytesPerSample) {
        case 1: {
          double q = std::nearbyint(v * 127.0 / 32767.0);
          PutLe(out, static_cast<uint32_t>(std::clamp(q, -128.0, 127.0) + 128.0), 1);
          break;
        }
        case 2: PutLe(out, static_cast<uint32_t>(static_cast<int32_t>(std::clamp(std::nearbyint(v), -32768.0, 32767.0))), 2); break;
        case 3: {
          double q = std::nearbyint(v * 8388607.0 / 32767.0);
          PutLe(out, static_cast<uint32_t>(static_cast<int32_t>(std::clamp(q, -8388608.0, 8388607.0))), 3);
          break;
        }
        default: {
          double q = std::nearbyint(v * 2147483647.0 / 32767.0);
          PutLe(out, static_cast<uint32_t>(static_cast<int32_t>(std::clamp(q, -2147483648.0, 2147483647.0))), 4);
          break;
        }
      }
    }
  }
  return out;
}

}  // namespace klarwell::test
