#pragma once

// Test material for the engine's tests: format records without a file, a tone with noise, and
// clicks placed by hand.

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include "audio/WavFile.h"
#include "tests/support/SignalGen.h"
#include "tests/support/SignalWav.h"
#include "tests/support/TestPaths.h"

namespace klarwell::test {

// The format record of a file that is never opened: what InitEngine, LoadBlock and the codec read.
inline TWavRecord MakeFormat(uint32_t rate, uint16_t channels, uint8_t bytesPerSample, bool isFloat,
                             uint32_t frames) {
  TWavRecord rec;
  rec.Format.wFormatTag = isFloat ? WaveFormatIeeeFloat : WaveFormatPcm;
  rec.Format.nChannels = channels;
  rec.Format.nSamplesPerSec = rate;
  rec.Format.nBlockAlign = static_cast<uint16_t>(channels * bytesPerSample);
  rec.Format.nAvgBytesPerSec = rate * rec.Format.nBlockAlign;
  rec.Format.wBitsPerSample = static_cast<uint16_t>(8 * bytesPerSample);
  rec.BytesPerSample = bytesPerSample;
  rec.NumFrames = frames;
  return rec;
}

inline TWavRecord FormatOf(const TSignal& signal, uint8_t bytesPerSample, bool isFloat) {
  return MakeFormat(static_cast<uint32_t>(signal.SampleRate), static_cast<uint16_t>(signal.Channels.size()),
                    bytesPerSample, isFloat, static_cast<uint32_t>(signal.Frames()));
}

// A 330 Hz tone of amplitude 2000 with low-passed noise of rms 300 on every channel.
inline TSignal MixToneAndNoise(double seconds, int rate, int channels, uint64_t seed) {
  TSignal s = MakeTone(seconds, rate, channels, 330.0, 2000.0);
  const TSignal noise = MakeNoise(seconds, rate, channels, 300.0, 2000.0, seed);
  for (size_t c = 0; c < s.Channels.size(); ++c) {
    for (size_t k = 0; k < s.Channels[c].size(); ++k) s.Channels[c][k] += noise.Channels[c][k];
  }
  return s;
}

// One click at each position, of the given width and shape (the last entry repeats), peak
// alternating in sign; stereo signals get them on alternating channels.
inline std::vector<TClick> PlaceClicks(TSignal& signal, const std::vector<int64_t>& frames,
                                       const std::vector<int>& widths, const std::vector<int>& shapes,
                                       float peak) {
  std::vector<TClick> clicks;
  for (size_t i = 0; i < frames.size(); ++i) {
    TClick c;
    c.Frame = frames[i];
    c.Channel = signal.Channels.size() == 2 ? static_cast<int>(i % 2) : 0;
    c.Width = widths[std::min(i, widths.size() - 1)];
    c.Shape = shapes[std::min(i, shapes.size() - 1)];
    c.Peak = (i % 2) ? -peak : peak;
    AddClick(signal, c, 1000 + i);
    clicks.push_back(c);
  }
  return clicks;
}

inline std::string MakeTempDirForEngine() {
  return MakeTempDir();
}

inline bool WriteWav(const std::string& path, const TSignal& signal, int bytesPerSample) {
  return WriteSignalWav(path, signal, bytesPerSample, false);
}

inline void RemoveDir(const std::string& dir) {
  std::error_code ec;
  std::filesystem::remove_all(dir, ec);
}

}  // namespace klarwell::test
