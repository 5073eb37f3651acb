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
  void Progress(uint32_t frames) override {
    Update([&](TProgress::TEntry& e) {
      e.Pos = frames;
      if (e.Max) progress_->Clock.FileProgress(index_, static_cast<double>(frames) / e.Max);
    });
  }
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

// One run of the command line: the files' outputs planned, the jobs that take the files in turn,
// the progress painter, and the results printed in the order the files were given.
class TBatchRun {
 public:
  TBatchRun(const TCliOptions& options, const std::vector<std::string>& files, const std::atomic<bool>& cancel)
      : options_(options),
        files_(files),
        cancel_(cancel),
        decimalPoint_(LocaleDecimalPoint()),
        showProgress_(!options.Quiet && isatty(STDERR_FILENO)),
        outcomes_(files.size()) {}

  int Run(int cores);

 private:
  void Plan();
  void PrintReady();  // with outMutex_ held
  void RunJobs();
  void RunOne(size_t index);
  void PaintWhileRunning(size_t threadCount);
  int Conclude();

  const TCliOptions& options_;
  const std::vector<std::string>& files_;
  const std::atomic<bool>& cancel_;
  const char decimalPoint_;
  const bool showProgress_;
  TProgress progress_;
  std::vector<TOutputPlanEntry> plan_;
  std::vector<TOutcome> outcomes_;
  std::vector<size_t> toRun_;
  int blockWorkers_ = 1;

  std::mutex outMutex_;
  size_t nextToStart_ = 0, nextToPrint_ = 0;
  bool stopStarting_ = false;  // a write or worker failure, or a cancel: no new file starts
  std::atomic<bool> workersDone_{false};
  std::thread painter_;
};

void TBatchRun::Plan() {
  for (const std::string& f : files_) progress_.Entries.push_back({BaseName(f), 0, 0, "", false});
  progress_.Clock.Start(files_);
  // Decided before anything is written, so that no two jobs ever hold one output open.
  plan_ = PlanOutputs(files_, options_.Settings);
  for (size_t i = 0; i < files_.size(); ++i) {
    if (plan_[i].Taken) {
      outcomes_[i].Result = Unstarted(TFileStatus::OutputTaken);
      outcomes_[i].Finished = true;
      progress_.Clock.FileEnded(i, false);
    } else {
      toRun_.push_back(i);
    }
  }
}

void TBatchRun::PrintReady() {
  while (nextToPrint_ < files_.size() && outcomes_[nextToPrint_].Finished) {
    const TOutcome& o = outcomes_[nextToPrint_];
    const std::string line = options_.Json ? JsonLine(files_[nextToPrint_], o)
                                           : TableLine(files_[nextToPrint_], o, decimalPoint_);
    if (showProgress_) std::fprintf(stderr, "\r\033[K");
    std::printf("%s\n", line.c_str());
    std::fflush(stdout);
    ++nextToPrint_;
  }
}

void TBatchRun::RunOne(size_t index) {
  {
    std::lock_guard lock(progress_.Mutex);
    progress_.Entries[index].Active = true;
  }
  TFileObserver observer(showProgress_ ? &progress_ : nullptr, index, options_.Json);
  // The reference road takes one block at a time with the reference arithmetic; the default road
  // makes the same repairs, as measured, though not always the same repaired samples.
  TFileResult result = ProcessFileParallelTo(files_[index], plan_[index].OutputPath, observer, cancel_,
                                             options_.Reference ? 1 : blockWorkers_, options_.Engine);
  {
    std::lock_guard lock(progress_.Mutex);
    progress_.Entries[index].Active = false;
    progress_.Clock.FileEnded(index, result.Outcome == TFileOutcome::Done);
  }
  std::lock_guard lock(outMutex_);
  TOutcome& o = outcomes_[index];
  o.Result = std::move(result);
  o.Blocks = std::move(observer.Blocks);
  o.Repairs = std::move(observer.Repairs);
  o.Finished = true;
  if (o.Result.Outcome == TFileOutcome::RunFailed || o.Result.Outcome == TFileOutcome::Cancelled)
    stopStarting_ = true;
  PrintReady();
}

void TBatchRun::RunJobs() {
  for (;;) {
    size_t index;
    {
      std::lock_guard lock(outMutex_);
      if (stopStarting_ || cancel_.load() || nextToStart_ >= toRun_.size()) return;
      index = toRun_[nextToStart_++];
    }
    RunOne(index);
  }
}

void TBatchRun::PaintWhileRunning(size_t threadCount) {
  if (!showProgress_ || threadCount == 0) return;
  try {
    painter_ = std::thread([this] {
      while (!workersDone_.load()) {
        std::this_thread::sleep_for(std::chrono::milliseconds(250));
        std::lock_guard lock(outMutex_);  // never between a result line and its line break
        progress_.Draw(false);
      }
    });
  } catch (const std::exception&) {
    // Without its thread the progress line is only drawn at the end.
  }
}

int TBatchRun::Conclude() {
  // Every input is reported, also those the run never reached.
  bool allDone = true;
  std::lock_guard lock(outMutex_);
  for (TOutcome& o : outcomes_) {
    if (!o.Finished) {
      o.Result = Unstarted(TFileStatus::NotStarted);
      o.Finished = true;
    }
    if (o.Result.Outcome != TFileOutcome::Done) allDone = false;
  }
  PrintReady();
  if (cancel_.load()) return 130;
  return allDone ? 0 : 1;
}

int TBatchRun::Run(int cores) {
  Plan();
  if (!options_.Json) {
    std::printf("%s\n", TableHeader().c_str());
    std::fflush(stdout);
  }
  {
    std::lock_guard lock(outMutex_);
    PrintReady();  // refused files ahead of the first one to run
  }
  // The cores are shared: files at once times blocks at once per file stays within the cores the
  // process may use (at least one block worker per file).
  const size_t threadCount = std::min<size_t>(static_cast<size_t>(options_.Jobs), toRun_.size());
  blockWorkers_ = std::max(1, cores / static_cast<int>(std::max<size_t>(threadCount, 1)));

  std::vector<std::thread> threads;
  try {
    for (size_t i = 0; i < threadCount; ++i) threads.emplace_back([this] { RunJobs(); });
  } catch (const std::exception&) {
    // Fewer threads than asked for (memory or the thread limit): the ones started share the files.
  }
  PaintWhileRunning(threadCount);
  if (threads.empty()) RunJobs();
  for (std::thread& t : threads) t.join();
  workersDone_ = true;
  if (painter_.joinable()) painter_.join();
  if (showProgress_) progress_.Draw(true);
  return Conclude();
}

}  // namespace

int RunBatch(const TCliOptions& options, const std::vector<std::string>& files, int cores,
             const std::atomic<bool>& cancel) {
  TBatchRun run(options, files, cancel);
  return run.Run(cores);
}

}  // namespace klarwell::cli
