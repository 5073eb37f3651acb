// klarwell-cli: the batch driver for scripts. Each FILE goes the road a list row goes in the window,
// several at once (--jobs); results are printed in the order the files were given.

#include <getopt.h>
#include <langinfo.h>
#include <locale.h>
#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "app/BatchDriver.h"
#include "app/ParallelDriver.h"
#include "app/Version.h"
#include "audio/LangText.h"
#include "audio/WavFile.h"
#include "cli/CliTexts.h"
#include "cli/Json.h"
#include "numeric/RoutineSet.h"

using namespace klarwell;
using namespace klarwell::cli;

namespace {

std::atomic<bool> gCancel{false};
static_assert(std::atomic<bool>::is_always_lock_free, "the signal handler needs a lock-free flag");

extern "C" void OnSignal(int) { gCancel.store(true); }

// The decimal separator of the user's numeric locale; when that locale is not installed, the
// program's language decides.
char LocaleDecimalPoint() {
  locale_t loc = newlocale(LC_NUMERIC_MASK, "", static_cast<locale_t>(0));
  if (loc != static_cast<locale_t>(0)) {
    const char* radix = nl_langinfo_l(RADIXCHAR, loc);
    char c = (radix && radix[0] && !radix[1]) ? radix[0] : '.';
    freelocale(loc);
    const char* lc = std::getenv("LC_ALL");
    if (!lc || !*lc) lc = std::getenv("LC_NUMERIC");
    if (!lc || !*lc) lc = std::getenv("LANG");
    // A locale name that was asked for but fell back to "C" says nothing about the user's wish.
    if (c != '.' || !lc || std::strncmp(lc, "de", 2) != 0) return c;
  }
  return CurrentLanguage() == TLanguage::German ? ',' : '.';
}

std::string BaseName(const std::string& path) {
  size_t slash = path.find_last_of('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

// Progress of the files in flight, shown on stderr.
struct TProgress {
  std::mutex Mutex;
  struct TEntry {
    std::string Name;
    uint32_t Max = 0, Pos = 0;
    std::string Remaining;
    bool Active = false;
  };
  std::vector<TEntry> Entries;
};

// Collects what one file reports.
class TFileObserver : public TDriverObserver {
 public:
  TFileObserver(TProgress* progress, size_t index, bool keepRepairs)
      : progress_(progress), index_(index), keepRepairs_(keepRepairs) {}

  void ProgressMax(uint32_t frames) override { Update([&](TProgress::TEntry& e) { e.Max = frames; }); }
  void Progress(uint32_t frames) override { Update([&](TProgress::TEntry& e) { e.Pos = frames; }); }
  void Cell(int column, const std::string& text) override {
    if (column == 6) Update([&](TProgress::TEntry& e) { e.Remaining = text; });
  }
  void BlockDone(int64_t position, int32_t clicks) override { Blocks.push_back({position, clicks}); }
  void Repair(const TRepairRecord& repair) override {
    if (keepRepairs_) Repairs.push_back(repair);
  }

  std::vector<std::pair<int64_t, int32_t>> Blocks;
  std::vector<TRepairRecord> Repairs;

 private:
  template <typename F>
  void Update(F f) {
    if (!progress_) return;
    std::lock_guard lock(progress_->Mutex);
    f(progress_->Entries[index_]);
  }
  TProgress* progress_;
  size_t index_;
  bool keepRepairs_;
};

struct TOutcome {
  bool Finished = false;
  bool Started = false;
  TFileResult Result;
  std::vector<std::pair<int64_t, int32_t>> Blocks;
  std::vector<TRepairRecord> Repairs;
};

double ClicksPerSecond(const TFileResult& r) {
  if (r.Frames == 0 || r.SampleRate == 0) return 0.0;
  return r.Clicks / (static_cast<double>(r.Frames) / r.SampleRate);
}

std::string TableLine(const std::string& file, const TOutcome& o, char decimalPoint) {
  const TFileResult& r = o.Result;
  const bool done = r.Outcome == TFileOutcome::Done;
  std::string clicks, perSec, time;
  if (done || !o.Blocks.empty()) clicks = std::to_string(r.Clicks);
  if (done) {
    perSec = FormatClicksPerSec(ClicksPerSecond(r), decimalPoint);
    time = SecondsToHMS(static_cast<int32_t>(std::nearbyint(r.Seconds)));
  }
  return BaseName(file) + "\t" + r.Status + "\t" + r.FormatText + "\t" + r.LengthText + "\t" + clicks + "\t" +
         perSec + "\t" + time;
}

std::string JsonLine(const std::string& file, const TOutcome& o) {
  const TFileResult& r = o.Result;
  const bool done = r.Outcome == TFileOutcome::Done;
  TJsonWriter j;
  j.BeginObject();
  j.Key("file").String(file);
  j.Key("output");
  if (done) j.String(r.OutputPath); else j.Null();
  j.Key("ok").Bool(done);
  j.Key("status").String(r.Status);
  j.Key("format").String(r.FormatText);
  j.Key("length").String(r.LengthText);
  j.Key("sample_rate").Int(r.SampleRate);
  j.Key("channels").Int(r.Channels);
  j.Key("frames").Int(r.Frames);
  j.Key("clicks").Int(r.Clicks);
  j.Key("clicks_per_sec").Number(std::nearbyint(ClicksPerSecond(r) * 100.0) / 100.0);
  j.Key("seconds").Number(std::nearbyint(r.Seconds * 1000.0) / 1000.0);
  j.Key("blocks").BeginArray();
  for (const auto& [position, clicks] : o.Blocks) {
    j.BeginObject().Key("position").Int(position).Key("clicks").Int(clicks).EndObject();
  }
  j.EndArray();
  j.Key("repairs").BeginArray();
  for (const TRepairRecord& rep : o.Repairs) {
    j.BeginObject()
        .Key("channel").Int(rep.Channel)
        .Key("pass").Int(rep.Pass)
        .Key("first").Int(rep.First)
        .Key("last").Int(rep.Last)
        .Key("changed").Bool(rep.Changed)
        .Key("counted").Bool(rep.Counted)
        .EndObject();
  }
  j.EndArray();
  j.EndObject();
  return j.Take();
}

void DrawProgress(TProgress& progress, bool final) {
  std::string line;
  {
    std::lock_guard lock(progress.Mutex);
    for (const auto& e : progress.Entries) {
      if (!e.Active) continue;
      int percent = e.Max ? static_cast<int>(100.0 * e.Pos / e.Max) : 0;
      if (!line.empty()) line += "  ";
      line += e.Name + " " + std::to_string(percent) + "%";
      if (!e.Remaining.empty()) line += " " + e.Remaining;
    }
  }
  // Keep to one terminal line: the newest part is what matters.
  if (line.size() > 150) line = "..." + line.substr(line.size() - 147);
  std::fprintf(stderr, "\r\033[K%s", final ? "" : line.c_str());
  std::fflush(stderr);
}

}  // namespace

int main(int argc, char** argv) {
  // First of all, so that an interrupt at any moment cancels cooperatively instead of killing us.
  struct sigaction sa {};
  sa.sa_handler = OnSignal;
  sigemptyset(&sa.sa_mask);
  sigaction(SIGINT, &sa, nullptr);
  sigaction(SIGTERM, &sa, nullptr);
  TOutputSettings settings;
  const int cores = UsableProcessors();
  long jobs = cores;
  bool json = false, quiet = false, reference = false;

  enum { kOptJson = 1000, kOptReference };
  static const option longOptions[] = {
      {"suffix", required_argument, nullptr, 's'}, {"outdir", required_argument, nullptr, 'o'},
      {"jobs", required_argument, nullptr, 'j'},   {"json", no_argument, nullptr, kOptJson},
      {"quiet", no_argument, nullptr, 'q'},        {"help", no_argument, nullptr, 'h'},
      {"version", no_argument, nullptr, 'V'},      {"reference", no_argument, nullptr, kOptReference},
      {nullptr, 0, nullptr, 0},
  };
  opterr = 0;
  int opt;
  while ((opt = getopt_long(argc, argv, ":s:o:j:qhV", longOptions, nullptr)) != -1) {
    switch (opt) {
      case 's': settings.Suffix = optarg; break;
      case 'o': settings.OutDir = optarg; break;
      case 'j': {
        char* end = nullptr;
        long n = std::strtol(optarg, &end, 10);
        if (!*optarg || *end || n < 1 || n > 1024) {
          std::fprintf(stderr, "klarwell-cli: %s%s\n", CliText(kBadJobs), optarg);
          return 2;
        }
        jobs = n;
        break;
      }
      case kOptJson: json = true; break;
      case kOptReference:
        // The straightforward road: one block at a time, and the reference numeric routines.
        reference = true;
        SelectRoutineSet(TRoutineSet::Reference);
        break;
      case 'q': quiet = true; break;
      case 'h':
        std::printf("%s\n%s", CliText(kUsage), CliText(kHelp));
        return 0;
      case 'V':
        std::printf("klarwell-cli %s\n", ProgramVersion);
        return 0;
      default: {
        std::string what = optopt ? std::string("-") + static_cast<char>(optopt) : argv[optind - 1];
        std::fprintf(stderr, "klarwell-cli: %s%s\n%s\n", CliText(kUnknownOption), what.c_str(), CliText(kTryHelp));
        return 2;
      }
    }
  }
  std::vector<std::string> files(argv + optind, argv + argc);
  if (files.empty()) {
    std::fprintf(stderr, "klarwell-cli: %s\n%s\n%s\n", CliText(kNoFiles), CliText(kUsage), CliText(kTryHelp));
    return 2;
  }
  if (!OutputSettingsUsable(settings)) {
    std::fprintf(stderr, "klarwell-cli: %s\n", MissingOutputText().c_str());
    return 2;
  }

  const char decimalPoint = LocaleDecimalPoint();
  const bool showProgress = !quiet && isatty(STDERR_FILENO);
  TProgress progress;
  for (const std::string& f : files) progress.Entries.push_back({BaseName(f), 0, 0, "", false});

  std::vector<TOutcome> outcomes(files.size());
  std::mutex outMutex;
  size_t nextToStart = 0, nextToPrint = 0;
  bool stopStarting = false;  // a write or worker failure, or a cancel: no new file starts

  if (!json) {
    std::printf("%s\t%s\t%s\t%s\t%s\t%s\t%s\n", CliText(kColFile), CliText(kColStatus), CliText(kColFormat),
                CliText(kColLength), CliText(kColClicks), CliText(kColClicksPerSec), CliText(kColTime));
    std::fflush(stdout);
  }

  // Prints finished results in the order the files were given; called with outMutex held.
  auto printReady = [&] {
    while (nextToPrint < files.size() && outcomes[nextToPrint].Finished) {
      const TOutcome& o = outcomes[nextToPrint];
      std::string line = json ? JsonLine(files[nextToPrint], o) : TableLine(files[nextToPrint], o, decimalPoint);
      if (showProgress) std::fprintf(stderr, "\r\033[K");
      std::printf("%s\n", line.c_str());
      std::fflush(stdout);
      ++nextToPrint;
    }
  };

  // The cores are shared: files at once times blocks at once per file stays within the cores the
  // process may use (at least one block worker per file).
  const size_t threadCount = std::min<size_t>(static_cast<size_t>(jobs), files.size());
  const int blockWorkers = std::max(1, cores / static_cast<int>(threadCount));

  auto runJobs = [&] {
    for (;;) {
      size_t index;
      {
        std::lock_guard lock(outMutex);
        if (stopStarting || gCancel.load() || nextToStart >= files.size()) return;
        index = nextToStart++;
        outcomes[index].Started = true;
      }
      {
        std::lock_guard lock(progress.Mutex);
        progress.Entries[index].Active = true;
      }
      TFileObserver observer(showProgress ? &progress : nullptr, index, json);
      // The reference road takes one block at a time; both give the same bytes and clicks.
      TFileResult result = reference ? ProcessFile(files[index], settings, observer, gCancel, decimalPoint)
                                     : ProcessFileParallel(files[index], settings, observer, gCancel, blockWorkers,
                                                           decimalPoint);
      {
        std::lock_guard lock(progress.Mutex);
        progress.Entries[index].Active = false;
      }
      std::lock_guard lock(outMutex);
      TOutcome& o = outcomes[index];
      o.Result = std::move(result);
      o.Blocks = std::move(observer.Blocks);
      o.Repairs = std::move(observer.Repairs);
      o.Finished = true;
      if (o.Result.Outcome == TFileOutcome::RunFailed || o.Result.Outcome == TFileOutcome::Cancelled)
        stopStarting = true;
      printReady();
    }
  };

  std::vector<std::thread> threads;
  try {
    for (size_t i = 0; i < threadCount; ++i) threads.emplace_back(runJobs);
  } catch (const std::exception&) {
    // Fewer threads than asked for (memory or the thread limit): the ones started share the files.
  }

  std::atomic<bool> workersDone{false};
  std::thread painter;
  if (showProgress) {
    try {
      painter = std::thread([&] {
        while (!workersDone.load()) {
          std::this_thread::sleep_for(std::chrono::milliseconds(250));
          std::lock_guard lock(outMutex);  // never between a result line and its line break
          DrawProgress(progress, false);
        }
      });
    } catch (const std::exception&) {
      // Without its thread the progress line is only drawn at the end.
    }
  }
  if (threads.empty()) runJobs();
  for (std::thread& t : threads) t.join();
  workersDone = true;
  if (painter.joinable()) painter.join();
  if (showProgress) DrawProgress(progress, true);

  // Files that never started are not reported; a run cut short says so by its exit status.
  bool allDone = true;
  for (const TOutcome& o : outcomes)
    if (!o.Finished || o.Result.Outcome != TFileOutcome::Done) allDone = false;
  if (gCancel.load()) return 130;
  return allDone ? 0 : 1;
}
