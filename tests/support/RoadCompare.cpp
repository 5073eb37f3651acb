#include "tests/support/RoadCompare.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <filesystem>

#include "app/ParallelDriver.h"
#include "tests/support/SignalWav.h"

namespace klarwell::test {

namespace {

class TRepairList : public TDriverObserver {
 public:
  std::vector<TRepairRecord> Repairs;
  void Repair(const TRepairRecord& r) override { Repairs.push_back(r); }
};

uint32_t Le32(const std::string& b, size_t at) {
  uint32_t v = 0;
  for (int i = 3; i >= 0; --i) v = (v << 8) | static_cast<uint8_t>(b[at + static_cast<size_t>(i)]);
  return v;
}

}  // namespace

TRoadRun RunRoad(const std::string& input, TRoutineSet set, int workers, const std::string& suffix) {
  TRoadRun run;
  TRepairList list;
  std::atomic<bool> cancel{false};
  TOutputSettings settings;
  settings.Suffix = suffix;
  TEngineOptions engine;
  engine.Routines = set;
  run.Result = ProcessFileParallel(input, settings, list, cancel, workers, engine);
  run.Repairs = std::move(list.Repairs);
  if (!run.Result.OutputPath.empty()) {
    run.Bytes = ReadFileBytes(run.Result.OutputPath);
    std::filesystem::remove(run.Result.OutputPath);
  }
  return run;
}

double CoveredShare(const std::vector<TRepairRecord>& a, const std::vector<TRepairRecord>& b) {
  int counted = 0, covered = 0;
  for (const TRepairRecord& r : a) {
    if (!r.Counted) continue;
    ++counted;
    const bool hit = std::any_of(b.begin(), b.end(), [&](const TRepairRecord& s) {
      return s.Counted && s.Channel == r.Channel && s.First <= r.Last && r.First <= s.Last;
    });
    if (hit) ++covered;
  }
  return counted == 0 ? 1.0 : static_cast<double>(covered) / counted;
}

size_t DataOffset(const std::string& wav) {
  size_t at = 12;
  while (at + 8 <= wav.size()) {
    const uint32_t size = Le32(wav, at + 4);
    if (wav.compare(at, 4, "data") == 0) return at + 8;
    at += 8 + size + (size & 1u);
  }
  return 0;
}

bool OnlyRepairsDiffer(const std::string& input, const std::string& output,
                       const std::vector<TRepairRecord>& repairs, size_t dataOffset, int blockAlign,
                       int bytesPerSample, std::string* where) {
  if (input.size() != output.size()) {
    if (where) *where = "sizes differ";
    return false;
  }
  std::vector<bool> mayChange(input.size(), false);
  for (const TRepairRecord& r : repairs) {
    for (int64_t f = r.First; f <= r.Last; ++f) {
      const size_t at = dataOffset + static_cast<size_t>(f) * static_cast<size_t>(blockAlign) +
                        static_cast<size_t>(r.Channel * bytesPerSample);
      for (int k = 0; k < bytesPerSample && at + static_cast<size_t>(k) < input.size(); ++k)
        mayChange[at + static_cast<size_t>(k)] = true;
    }
  }
  for (size_t i = 0; i < input.size(); ++i) {
    if (input[i] != output[i] && !mayChange[i]) {
      if (where) *where = "byte " + std::to_string(i) + " changed outside every repair";
      return false;
    }
  }
  return true;
}

double SnrDb(const TSignal& clean, const std::string& wav) {
  const size_t data = DataOffset(wav);
  const size_t channels = clean.Channels.size();
  double signal = 0.0, noise = 0.0;
  for (int64_t f = 0; f < clean.Frames(); ++f) {
    for (size_t c = 0; c < channels; ++c) {
      const size_t at = data + (static_cast<size_t>(f) * channels + c) * 2;
      if (at + 1 >= wav.size()) return -1000.0;
      const auto v =
          static_cast<int16_t>(static_cast<uint8_t>(wav[at]) | (static_cast<uint8_t>(wav[at + 1]) << 8));
      const double x = clean.Channels[c][static_cast<size_t>(f)];
      signal += x * x;
      noise += (v - x) * (v - x);
    }
  }
  if (noise == 0.0) return 1000.0;
  return 10.0 * std::log10(signal / noise);
}

}  // namespace klarwell::test
