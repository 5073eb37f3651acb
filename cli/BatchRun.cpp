#include "cli/BatchRun.h"

#include <langinfo.h>
#include <locale.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <thread>

#include "app/OutputPlan.h"
#include "app/ParallelDriver.h"
#include "app/RunTexts.h"
#include "cli/Progress.h"
#include "cli/Report.h"
#include "text/LangText.h"

namespace klarwell::cli {

namespace {

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

// Collects what one file reports.
class TFileObserver : public TDriverObserver {
 public:
  TFileObserver(TProgress* progress, size_t index, bool keepRepairs)
      : progress_(progress), index_(index), keepRepairs_(keepRepairs) {}

  void ProgressMax(uint32_t frames) override { Update([&](TProgress::TEntry& e) { e.Max = frames; }); }
  void Progress(uint32_t frames) override { Update([&](TProgress::TEntry& e) { e.Pos = frames; }); }
  void FiguresReset() override { Update([&](TProgress::TEntry& e) { e.Remaining.clear(); }); }
  void Estimate(double, double remainingSeconds) override {
    Update([&](TProgress::TEntry& e) { e.Remaining = FormatSeconds(remainingSeconds); });
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

// A result for a file that never went on its road.
TFileResult Unstarted(TFileStatus status) {
  TFileResult r;
  r.Outcome = TFileOutcome::Failed;
  r.Status = status;
  return r;
}

}  // namespace

int RunBatch(const TCliOptions& options, const std::vector<std::string>& files, int cores,
             const std::atomic<bool>& cancel) {
  const char decimalPoint = LocaleDecimalPoint();
  const bool showProgress = !options.Quiet && isatty(STDERR_FILENO);
  TProgress progress;
  for (const std::string& f : files) progress.Entries.push_back({BaseName(f), 0, 0, "", false});

  // Decided before anything is written, so that no two jobs ever hold one output open.
  const std::vector<TOutputPlanEntry> plan = PlanOutputs(files, options.Settings);
  std::vector<TOutcome> outcomes(files.size());
  std::vector<size_t> toRun;
  for (size_t i = 0; i < files.size(); ++i) {
    if (plan[i].Taken) {
      outcomes[i].Result = Unstarted(TFileStatus::OutputTaken);
      outcomes[i].Finished = true;
    } else {
      toRun.push_back(i);
    }
  }

  std::mutex outMutex;
  size_t nextToStart = 0, nextToPrint = 0;
  bool stopStarting = false;  // a write or worker failure, or a cancel: no new file starts

  if (!options.Json) {
    std::printf("%s\n", TableHeader().c_str());
    std::fflush(stdout);
  }

  // Prints finished results in the order the files were given; called with outMutex held.
  auto printReady = [&] {
    while (nextToPrint < files.size() && outcomes[nextToPrint].Finished) {
      const TOutcome& o = outcomes[nextToPrint];
      const std::string line = options.Json ? JsonLine(files[nextToPrint], o)
                                            : TableLine(files[nextToPrint], o, decimalPoint);
      if (showProgress) std::fprintf(stderr, "\r\033[K");
      std::printf("%s\n", line.c_str());
      std::fflush(stdout);
      ++nextToPrint;
    }
  };
  {
    std::lock_guard lock(outMutex);
    printReady();  // refused files ahead of the first one to run
  }

  // The cores are shared: files at once times blocks at once per file stays within the cores the
  // process may use (at least one block worker per file).
  const size_t threadCount = std::min<size_t>(static_cast<size_t>(options.Jobs), toRun.size());
  const int blockWorkers = std::max(1, cores / static_cast<int>(std::max<size_t>(threadCount, 1)));

  auto runJobs = [&] {
    for (;;) {
      size_t index;
      {
        std::lock_guard lock(outMutex);
        if (stopStarting || cancel.load() || nextToStart >= toRun.size()) return;
        index = toRun[nextToStart++];
      }
      {
        std::lock_guard lock(progress.Mutex);
        progress.Entries[index].Active = true;
      }
      TFileObserver observer(showProgress ? &progress : nullptr, index, options.Json);
      // The reference road takes one block at a time with the reference arithmetic; the default road
      // makes the same repairs, as measured, though not always the same repaired samples.
      TFileResult result = ProcessFileParallelTo(files[index], plan[index].OutputPath, observer, cancel,
                                                 options.Reference ? 1 : blockWorkers, options.Engine);
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
  if (showProgress && threadCount > 0) {
    try {
      painter = std::thread([&] {
        while (!workersDone.load()) {
          std::this_thread::sleep_for(std::chrono::milliseconds(250));
          std::lock_guard lock(outMutex);  // never between a result line and its line break
          progress.Draw(false);
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
  if (showProgress) progress.Draw(true);

  // Every input is reported, also those the run never reached.
  bool allDone = true;
  {
    std::lock_guard lock(outMutex);
    for (TOutcome& o : outcomes) {
      if (!o.Finished) {
        o.Result = Unstarted(TFileStatus::NotStarted);
        o.Finished = true;
      }
      if (o.Result.Outcome != TFileOutcome::Done) allDone = false;
    }
    printReady();
  }
  if (cancel.load()) return 130;
  return allDone ? 0 : 1;
}

}  // namespace klarwell::cli
