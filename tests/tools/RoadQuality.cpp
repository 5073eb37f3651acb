// klarwell-roadquality: how the fast routines' repairs agree with the reference road's, on excerpts of
// real music and on generated music, each with seeded vinyl-like clicks added; and single runs of one
// road for profiling.
//
//   klarwell-roadquality compare DIR SECONDS [OGG...]  writes DIR/<name>.wav (16-bit stereo input) and
//       DIR/<name>.clean.wav, runs the reference road and the fast one, and prints per file
//       the counted repairs, the share of each road's repairs that the other covers, and the output's
//       SNR against the clean signal. Without OGG files: excerpts of the test music package.
//   klarwell-roadquality overlap WAV...   the reference and the fast road over each file: repairs only.
//   klarwell-roadquality run reference|fast WORKERS WAV   one road over one file (workers 1: one
//       block at a time), printing the clicks; for a profiler.

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "app/RunTexts.h"
#include "tests/support/RoadCompare.h"
#include "tests/support/SignalGen.h"
#include "tests/support/SignalWav.h"
#include "tests/support/music/OggExcerpt.h"

using namespace klarwell;
using namespace klarwell::test;

namespace {

bool ParseSet(const std::string& name, TRoutineSet& set) {
  if (name == "reference")
    set = TRoutineSet::Reference;
  else if (name == "fast")
    set = TRoutineSet::Fast;
  else
    return false;
  return true;
}

int Run(const std::string& setName, int workers, const std::string& wav) {
  TRoutineSet set;
  if (!ParseSet(setName, set)) return 2;
  const TRoadRun run = RunRoad(wav, set, workers, " " + setName);
  std::printf("%s: %lld clicks, %zu repairs, %s\n", wav.c_str(), static_cast<long long>(run.Result.Clicks),
              run.Repairs.size(), StatusText(run.Result).c_str());
  return run.Result.Outcome == TFileOutcome::Done ? 0 : 1;
}

void Compare(const std::string& name, const std::string& dir, TSignal clean, uint64_t seed) {
  TSignal input = clean;
  // About three clicks a second, 3 to 120 samples wide.
  const int count = static_cast<int>(clean.Frames() / clean.SampleRate * 3);
  AddClicks(input, count, 3, 120, clean.SampleRate / 10, seed);
  const std::string path = dir + "/" + name + ".wav";
  std::string error;
  if (!WriteSignalWav(path, input, 2, false, &error) ||
      !WriteSignalWav(dir + "/" + name + ".clean.wav", clean, 2, false, &error)) {
    std::fprintf(stderr, "%s\n", error.c_str());
    return;
  }
  const TRoadRun ref = RunRoad(path, TRoutineSet::Reference, 1, " ref");
  const TRoadRun fast = RunRoad(path, TRoutineSet::Fast, 2, " fast");
  const double snrRef = SnrDb(clean, ref.Bytes), snrFast = SnrDb(clean, fast.Bytes);
  std::printf(
      "%-28s clicks ref %4lld fast %4lld | fast covers %6.2f %% of ref, ref covers %6.2f %% of fast | "
      "SNR in %6.2f ref %6.2f fast %6.2f dB (fast - ref %+.3f)\n",
      name.c_str(), static_cast<long long>(ref.Result.Clicks), static_cast<long long>(fast.Result.Clicks),
      100.0 * CoveredShare(ref.Repairs, fast.Repairs), 100.0 * CoveredShare(fast.Repairs, ref.Repairs),
      SnrDb(clean, ReadFileBytes(path)), snrRef, snrFast, snrFast - snrRef);
  std::fflush(stdout);
}

// Any WAV file, without a clean original: the repairs only.
int Overlap(const std::vector<std::string>& wavs) {
  for (const std::string& wav : wavs) {
    const TRoadRun ref = RunRoad(wav, TRoutineSet::Reference, 1, " ref");
    const TRoadRun fast = RunRoad(wav, TRoutineSet::Fast, 2, " fast");
    std::printf(
        "%-40s clicks ref %4lld fast %4lld | fast covers %6.2f %% of ref, ref covers %6.2f %% of fast | "
        "same bytes: %s\n",
        wav.substr(wav.find_last_of('/') + 1).c_str(), static_cast<long long>(ref.Result.Clicks),
        static_cast<long long>(fast.Result.Clicks), 100.0 * CoveredShare(ref.Repairs, fast.Repairs),
        100.0 * CoveredShare(fast.Repairs, ref.Repairs), ref.Bytes == fast.Bytes ? "yes" : "no");
    std::fflush(stdout);
  }
  return 0;
}

int CompareAll(const std::string& dir, double seconds, std::vector<std::string> oggs) {
  if (oggs.empty()) oggs = MusicFiles();
  uint64_t seed = 900;
  for (const std::string& ogg : oggs) {
    TSignal clean;
    std::string error;
    if (!DecodeOggExcerpt(ogg, 20.0, seconds, clean, error)) {
      std::fprintf(stderr, "%s\n", error.c_str());
      continue;
    }
    std::string name = ogg.substr(ogg.find_last_of('/') + 1);
    name = name.substr(0, name.size() - 4);
    for (char& c : name)
      if (c == ' ') c = '-';
    Compare(name, dir, clean, ++seed);
  }
  Compare("generated-music", dir, MakeMusic(seconds, 44100, 2, 4242), 4243);
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  const std::vector<std::string> args(argv + 1, argv + argc);
  if (args.size() >= 3 && args[0] == "compare")
    return CompareAll(args[1], std::atof(args[2].c_str()),
                      std::vector<std::string>(args.begin() + 3, args.end()));
  if (args.size() >= 2 && args[0] == "overlap")
    return Overlap(std::vector<std::string>(args.begin() + 1, args.end()));
  if (args.size() == 4 && args[0] == "run") return Run(args[1], std::atoi(args[2].c_str()), args[3]);
  std::fprintf(stderr,
               "usage: klarwell-roadquality compare DIR SECONDS [OGG...]\n"
               "       klarwell-roadquality overlap WAV...\n"
               "       klarwell-roadquality run reference|fast WORKERS WAV\n");
  return 2;
}
