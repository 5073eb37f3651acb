// Prints a digest of what the engine makes of a few generated blocks: the repaired bytes, the
// roughness curves and the counts. Built twice, against the optimised core and against a copy
// compiled without optimisation; the two digests must agree, since every click decision hangs
// on single comparisons that a change in the arithmetic would flip.

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "engine/engine.h"
#include "numeric/RoutineSet.h"
#include "tests/engine/EngineTestSignals.h"

namespace {

struct TDigest {
  uint64_t Hash = 1469598103934665603ull;
  void Add(const void* data, size_t size) {
    const auto* p = static_cast<const uint8_t*>(data);
    for (size_t i = 0; i < size; ++i) {
      Hash ^= p[i];
      Hash *= 1099511628211ull;
    }
  }
};

}  // namespace

int main(int argc, char** argv) {
  using namespace klarwell;
  // "reference": the plain numeric routines; else the default set.
  TEngineOptions options;
  if (argc > 1 && std::string(argv[1]) == "reference") options.Routines = TRoutineSet::Reference;
  struct TCase {
    test::TSignal Signal;
    uint8_t Bytes;
    bool IsFloat;
  };
  std::vector<TCase> cases;
  cases.push_back({test::MakeMusic(2.0, 44100, 2, 501), 2, false});
  cases.push_back({test::MixToneAndNoise(2.0, 48000, 1, 502), 3, false});
  cases.push_back({test::MakeMusic(1.0, 96000, 1, 503), 4, true});
  for (size_t i = 0; i < cases.size(); ++i) test::AddClicks(cases[i].Signal, 16, 3, 40, 2000, 600 + i);

  for (const TCase& c : cases) {
    const TWavRecord format = test::FormatOf(c.Signal, c.Bytes, c.IsFloat);
    const std::vector<uint8_t> bytes = test::EncodeFrames(c.Signal, c.Bytes, c.IsFloat);
    TClickEngine engine;
    std::string error;
    if (!engine.InitEngine(format, -120, error, options)) {
      std::printf("init failed: %s\n", error.c_str());
      return 1;
    }
    engine.LoadBlock(format, bytes.data());
    const bool stereo = format.Format.nChannels == 2;
    TDigest digest;
    engine.AnalyseBlock(stereo, {}, 0.0f);
    for (int32_t f = 0; f < engine.FrameCount(); ++f) {
      const float v = engine.FrameLevel(true, f);
      digest.Add(&v, sizeof v);
    }
    int32_t passes = 0;
    std::vector<int32_t> repairs;
    const int32_t counted =
        engine.ProcessBlock(format, 13, passes, true, {}, [&](const TClickEvent& click) {
          repairs.push_back(click.First - 1);
          repairs.push_back(click.Last + 1);
        });
    digest.Add(engine.BlockBytes(), static_cast<size_t>(engine.BlockFrames()) * format.Format.nBlockAlign);
    digest.Add(repairs.data(), repairs.size() * sizeof(int32_t));
    std::printf("%u Hz: %d clicks, %d passes, %zu repairs, digest %016llx\n", format.Format.nSamplesPerSec,
                counted, passes, repairs.size() / 2, static_cast<unsigned long long>(digest.Hash));
  }
  return 0;
}
