#include "tests/tools/RecordClicks.h"

#include <algorithm>
#include <cmath>
#include <fstream>

namespace klarwell::test {
namespace {

constexpr double kPi = 3.14159265358979323846;
// The chain runs at four times the file's rate, so that a stylus resonance near the file's Nyquist
// frequency is still a resonance and not an alias.
constexpr int kOver = 4;

// A first-order section b0 + b1 s over a0 + a1 s, by the bilinear transform at `rate`.
struct TFirstOrder {
  double B0 = 1, B1 = 0, A1 = 0, X1 = 0, Y1 = 0;
  TFirstOrder(double b0, double b1, double a0, double a1, double rate) {
    const double k = 2.0 * rate, d = a0 + a1 * k;
    B0 = (b0 + b1 * k) / d;
    B1 = (b0 - b1 * k) / d;
    A1 = (a0 - a1 * k) / d;
  }
  double Step(double x) {
    const double y = B0 * x + B1 * X1 - A1 * Y1;
    X1 = x;
    Y1 = y;
    return y;
  }
};

// The stylus and cantilever: a resonant low-pass (second order) at `hz` with quality `q`.
struct TResonance {
  double B0, B1, B2, A1, A2, X1 = 0, X2 = 0, Y1 = 0, Y2 = 0;
  TResonance(double hz, double q, double rate) {
    const double w = 2 * kPi * hz / rate, alpha = std::sin(w) / (2 * q), a0 = 1 + alpha;
    B0 = B2 = (1 - std::cos(w)) / 2 / a0;
    B1 = (1 - std::cos(w)) / a0;
    A1 = -2 * std::cos(w) / a0;
    A2 = (1 - alpha) / a0;
  }
  double Step(double x) {
    const double y = B0 * x + B1 * X1 + B2 * X2 - A1 * Y1 - A2 * Y2;
    X2 = X1;
    X1 = x;
    Y2 = Y1;
    Y1 = y;
    return y;
  }
};

// Replay equalisation with its time constants 3180, 318 and 75 us, unity gain at 1 kHz, then the
// preamplifier's coupling (a 20 Hz high-pass), which makes a pop's slow tail swing back.
struct TReplay {
  TFirstOrder Shelf, Top, Coupling;
  double Gain;
  explicit TReplay(double rate)
      : Shelf(1, 318e-6, 1, 3180e-6, rate), Top(1, 0, 1, 75e-6, rate),
        Coupling(0, 1 / (2 * kPi * 20), 1, 1 / (2 * kPi * 20), rate) {
    const double w = 2 * kPi * 1000;
    Gain = std::hypot(1, w * 3180e-6) * std::hypot(1, w * 75e-6) / std::hypot(1, w * 318e-6);
  }
  double Step(double x) { return Coupling.Step(Top.Step(Shelf.Step(x))) * Gain; }
};

// The low-pass in front of the decimation: a Blackman-windowed sinc at 20 kHz (file rate 44.1 kHz).
std::vector<double> DecimationTaps(double rate) {
  const int n = 16 * kOver + 1, mid = n / 2;
  const double fc = std::min(20000.0, 0.45 * rate / kOver) / rate;
  std::vector<double> taps(static_cast<size_t>(n));
  double sum = 0;
  for (int i = 0; i < n; ++i) {
    const double x = i - mid, s = x == 0 ? 2 * fc : std::sin(2 * kPi * fc * x) / (kPi * x);
    const double w = 0.42 - 0.5 * std::cos(2 * kPi * i / (n - 1)) + 0.08 * std::cos(4 * kPi * i / (n - 1));
    taps[static_cast<size_t>(i)] = s * w;
    sum += s * w;
  }
  for (double& t : taps) t /= sum;
  return taps;
}

struct TCartridge {
  double Rate;  // the chain's rate (kOver times the file's)
  double ResonanceHz, Q;
  std::vector<double> Taps;
};

// One defect through the whole chain, out at the file's rate and scaled to `peak`, from the frame
// where the defect starts (the decimation's delay taken out). The stylus velocity: a half-sine push
// while a particle of `width` frames passes, then, unless the defect leaves the stylus displaced (a
// pop's low tail), the slower way back (`back` times as long, as much displacement in all), which is
// the small swing of opposite sign that follows a tick.
std::vector<float> Render(const TCartridge& cart, double width, double back, double peak, TRandom& rnd) {
  const double tailMs = width < 10 ? 4 : width < 40 ? 15 : 60;
  const int push = std::max(1, static_cast<int>(std::lround(width * kOver)));
  const int settle = back > 0 ? static_cast<int>(std::lround(push * back)) : 0;
  const int total = push + settle + static_cast<int>(tailMs * 1e-3 * cart.Rate) + static_cast<int>(cart.Taps.size());
  TReplay replay(cart.Rate);
  TResonance stylus(cart.ResonanceHz, cart.Q, cart.Rate);
  std::vector<double> fine(static_cast<size_t>(total));
  for (int n = 0; n < total; ++n) {
    double v = 0;
    if (n < push) v = std::sin(kPi * (n + 0.5) / push);
    else if (n < push + settle) v = -std::sin(kPi * (n - push + 0.5) / settle) / back;
    fine[static_cast<size_t>(n)] = stylus.Step(replay.Step(v));
  }
  const int phase = rnd.Int(0, kOver - 1), half = static_cast<int>(cart.Taps.size()) / 2;
  std::vector<float> out;
  double biggest = 0;
  for (int m = phase; m + half < total; m += kOver) {
    double y = 0;
    for (size_t k = 0; k < cart.Taps.size(); ++k) {
      const int i = m + half - static_cast<int>(k);
      if (i >= 0) y += cart.Taps[k] * fine[static_cast<size_t>(i)];
    }
    out.push_back(static_cast<float>(y));
    biggest = std::max(biggest, std::abs(y));
  }
  if (biggest <= 0) return {};
  for (float& y : out) y = static_cast<float>(y * peak / biggest);
  return out;
}

// Heavy-tailed in both: a Pareto width (most ticks 1 to 5 frames, one in ten over 10, a few pops
// over 40) and a log-normal level.
double TickWidth(TRandom& rnd) { return std::min(90.0, 1.5 * std::pow(1.0 - rnd.Uniform(), -1.0 / 1.2)); }
double Level(TRandom& rnd, double median) { return std::clamp(median * std::exp(0.8 * rnd.Gauss()), 2.0, 28000.0); }

class TNoiseWriter {
 public:
  TNoiseWriter(TRecordNoise& noise, const TCartridge& cart, TRandom& rnd) : n_(noise), cart_(cart), rnd_(rnd) {}

  // Nine in ten defects reach both walls of the groove, a few frames apart, with unrelated polarity
  // and level; the rest only one.
  void Defect(int64_t frame, double width, double peak, char kind) {
    // Half of the pops leave the stylus displaced for a while: those carry a low tail.
    const double back = width >= 20 && rnd_.Uniform() < 0.5 ? 0.0 : rnd_.Range(3, 8);
    const int channels = static_cast<int>(n_.Noisy.Channels.size());
    const int first = channels == 2 ? rnd_.Int(0, 1) : 0;
    Land(frame, first, width, back, peak * Sign(), kind);
    if (channels == 2 && rnd_.Uniform() < 0.9)
      Land(frame + rnd_.Int(-3, 3), 1 - first, width, back, peak * rnd_.Range(0.25, 1.0) * Sign(), kind);
  }

 private:
  double Sign() { return rnd_.Int(0, 1) ? 1.0 : -1.0; }

  void Land(int64_t frame, int channel, double width, double back, double peak, char kind) {
    const std::vector<float> d = Render(cart_, width, back, std::abs(peak), rnd_);
    std::vector<float>& x = n_.Noisy.Channels[static_cast<size_t>(channel)];
    const float sign = peak < 0 ? -1.0f : 1.0f;
    float top = 0;
    for (float v : d) top = std::max(top, std::abs(v));
    TRecordClick c{-1, -1, channel, 0, width, kind};
    for (size_t i = 0; i < d.size(); ++i) {
      const int64_t f = frame + static_cast<int64_t>(i);
      if (f < 0 || f >= static_cast<int64_t>(x.size())) continue;
      x[static_cast<size_t>(f)] += sign * d[i];
      if (std::abs(d[i]) >= 0.03f * top) {
        if (c.First < 0) c.First = f;
        c.Last = f;
      }
      if (std::abs(d[i]) == top) c.Peak = sign * d[i];
    }
    if (c.First >= 0) n_.Clicks.push_back(c);
  }

  TRecordNoise& n_;
  const TCartridge& cart_;
  TRandom& rnd_;
};

// Hiss: white noise through the replay equalisation, at `dbfs` RMS.
std::vector<float> Hiss(int64_t frames, double rate, double dbfs, TRandom& rnd) {
  TReplay replay(rate);
  std::vector<double> h(static_cast<size_t>(frames));
  double energy = 0;
  for (double& v : h) {
    v = replay.Step(rnd.Gauss());
    energy += v * v;
  }
  const double scale = 32767.0 * std::pow(10.0, dbfs / 20) / std::sqrt(energy / std::max<int64_t>(1, frames));
  std::vector<float> out(h.size());
  for (size_t i = 0; i < h.size(); ++i) out[i] = static_cast<float>(h[i] * scale);
  return out;
}

}  // namespace

bool WearByName(const std::string& name, TWear& wear) {
  if (name == "sparse") wear = {1, 4000, 0, 0, 100.0 / 3, 6, -66};
  else if (name == "worn") wear = {12, 1500, 40, 150, 45, 8, -60};
  else if (name == "crackle") wear = {6, 1500, 300, 120, 78, 12, -56};
  else return false;
  return true;
}

TRecordNoise AddRecordNoise(TSignal& music, const TWear& wear, uint64_t seed) {
  TRandom rnd(seed);
  const double rate = music.SampleRate;
  const int64_t frames = music.Frames();
  TRecordNoise noise;
  double hissDiff = 0;
  for (TChannel& ch : music.Channels) {
    const std::vector<float> hiss = Hiss(frames, rate, wear.HissDbfs, rnd);
    for (size_t i = 0; i < ch.size(); ++i) ch[i] += hiss[i];
    for (size_t i = 1; i < hiss.size(); ++i) hissDiff += (hiss[i] - hiss[i - 1]) * (hiss[i] - hiss[i - 1]);
  }
  noise.HissDiffRms = std::sqrt(hissDiff / std::max<double>(1, static_cast<double>(frames * music.Channels.size())));
  noise.Noisy = music;

  // One cartridge per side: its stylus resonance somewhere from 15 to 25 kHz.
  const TCartridge cart{rate * kOver, rnd.Range(15000, 25000), rnd.Range(1.5, 4.0), DecimationTaps(rate * kOver)};
  TNoiseWriter writer(noise, cart, rnd);
  const double seconds = static_cast<double>(frames) / rate;
  auto poisson = [&](double perSecond, auto&& each) {
    if (perSecond <= 0) return;
    for (double t = -std::log(1 - rnd.Uniform()) / perSecond; t < seconds; t += -std::log(1 - rnd.Uniform()) / perSecond)
      each(static_cast<int64_t>(t * rate));
  };
  poisson(wear.TicksPerSecond, [&](int64_t f) { writer.Defect(f, TickWidth(rnd), Level(rnd, wear.TickLevel), 't'); });
  poisson(wear.CracklePerSecond,
          [&](int64_t f) { writer.Defect(f, rnd.Range(1.0, 3.0), Level(rnd, wear.CrackleLevel), 'c'); });
  if (wear.Rpm > 0) {
    // The turntable's speed wanders by a few tenths of a percent from turn to turn.
    const double period = 60.0 / wear.Rpm, width = rnd.Range(15, 40), level = 3 * wear.TickLevel;
    double t = rnd.Range(0.5, std::max(0.5, seconds / 3));
    for (int turn = 0; turn < wear.ScratchTurns && t < seconds; ++turn, t += period * rnd.Range(0.998, 1.002))
      writer.Defect(static_cast<int64_t>(t * rate), width, std::min(28000.0, level * rnd.Range(0.7, 1.3)), 's');
  }
  std::sort(noise.Clicks.begin(), noise.Clicks.end(),
            [](const TRecordClick& a, const TRecordClick& b) { return a.First < b.First; });
  return noise;
}

bool WriteRecordClicks(const std::string& path, const TRecordNoise& noise) {
  std::ofstream out(path);
  out << "first\tlast\tchannel\tpeak\twidth\tkind\thiss_diff_rms=" << noise.HissDiffRms << "\n";
  for (const TRecordClick& c : noise.Clicks)
    out << c.First << '\t' << c.Last << '\t' << c.Channel << '\t' << c.Peak << '\t' << c.Width << '\t' << c.Kind
        << '\n';
  return static_cast<bool>(out);
}

bool ReadRecordClicks(const std::string& path, std::vector<TRecordClick>& clicks, double& hissDiffRms) {
  std::ifstream in(path);
  std::string header;
  if (!std::getline(in, header)) return false;
  const size_t eq = header.find("hiss_diff_rms=");
  hissDiffRms = eq == std::string::npos ? 0 : std::atof(header.c_str() + eq + 14);
  TRecordClick c;
  while (in >> c.First >> c.Last >> c.Channel >> c.Peak >> c.Width >> c.Kind) clicks.push_back(c);
  return true;
}

}  // namespace klarwell::test
