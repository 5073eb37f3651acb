#include "app/ParallelDriver.h"

#include <sched.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "app/BlockPlan.h"
#include "app/FileRun.h"
#include "audio/WavFile.h"
#include "engine/engine.h"

namespace klarwell {

namespace {

// A repair as the worker saw it; whether it counts is decided once the block's WriteSkip is known.
struct TPendingRepair {
  TRepairRecord Record;
  int32_t ClickPosition = 0;  // candidate position, block frame
};

// Lets at most `workers` blocks compute at once, in the order they were handed out: a block may
// start once fewer than `workers` of the blocks before it are still computing. There is one slot
// more than workers, so that a worker whose block is done can go on with the next one while the
// oldest block, which the writer waits for, still runs.
class TComputeGate {
 public:
  explicit TComputeGate(int workers) : workers_(workers) {}

  int64_t NextTicket() { return nextTicket_++; }  // driving thread, in dispatch order

  void Enter(int64_t ticket) {
    std::unique_lock lock(mutex_);
    open_.wait(lock, [&] { return ticket < finished_ + workers_; });
  }
  void Leave() {
    {
      std::lock_guard lock(mutex_);
      ++finished_;
    }
    open_.notify_all();
  }

 private:
  const int workers_;
  int64_t nextTicket_ = 0;
  std::mutex mutex_;
  std::condition_variable open_;
  int64_t finished_ = 0;
};

// The worker of one block in flight: its engine, its own thread, and what the block left behind. It
// takes the next block once the driver has resolved its last one.
class TProcThread {
 public:
  TClickEngine Engine;

  // Filled by the driver before Start.
  int64_t Position = 0;
  std::string ReadError;  // the block could not be read: it is not processed
  int ReadErrorNumber = 0;  // errno of the failing read, 0 when none failed

  // Filled by the worker.
  std::vector<TPendingRepair> Repairs;
  std::string ErrorText;
  TClickExtract Extract;  // the click kept on the host's request; valid when HasExtract
  bool HasExtract = false;

  // extractRequest: the host's request flag (ExtractRequest), or null when it wants no extracts.
  TProcThread(const TWavRecord& format, const std::atomic<bool>& cancel, TComputeGate& gate,
             std::atomic<bool>* extractRequest)
      : format_(format), cancel_(cancel), gate_(gate), extractRequest_(extractRequest) {}

  // After InitEngine: room for a kept click, so that keeping one does not allocate.
  void ReserveExtract() {
    const size_t regionFrames = static_cast<size_t>(Engine.RegionLen()) + 1;
    Extract.Before.reserve(regionFrames);
    Extract.Trace.reserve(regionFrames);
    Extract.Repaired.reserve(regionFrames);
  }
  TProcThread(const TProcThread&) = delete;
  TProcThread& operator=(const TProcThread&) = delete;
  ~TProcThread() {
    {
      std::lock_guard lock(mutex_);
      quit_ = true;
    }
    wake_.notify_all();
    if (thread_.joinable()) thread_.join();
  }

  // Hands the loaded block to the slot's thread (started on first use); ticket: the block's place
  // in the gate's order.
  void Start(int64_t ticket) {
    {
      std::lock_guard lock(mutex_);
      busy_ = true;
      ticket_ = ticket;
    }
    if (!thread_.joinable()) {
      try {
        thread_ = std::thread([this] { Loop(); });
      } catch (const std::exception& e) {
        // No thread to be had (memory or the thread limit): the block fails like a worker error,
        // so that the output is discarded instead of the program ending mid-file.
        std::lock_guard lock(mutex_);
        SetError(e.what());
        busy_ = false;
        gate_.Leave();  // the block's turn is over
        return;
      }
    }
    wake_.notify_all();
  }

  // Waits up to ms milliseconds for the block; true when it has ended.
  bool WaitFor(int ms) {
    std::unique_lock lock(mutex_);
    return wake_.wait_for(lock, std::chrono::milliseconds(ms), [this] { return !busy_; });
  }

 private:
  void Loop() {
    std::unique_lock lock(mutex_);
    for (;;) {
      wake_.wait(lock, [this] { return busy_ || quit_; });
      if (quit_) return;
      const int64_t ticket = ticket_;
      lock.unlock();
      gate_.Enter(ticket);
      Execute();
      gate_.Leave();
      lock.lock();
      busy_ = false;
      wake_.notify_all();
    }
  }

  void Execute() {
    Repairs.clear();
    ErrorText.clear();
    HasExtract = false;
    if (!ReadError.empty()) return;
    auto checkCancel = [this] {
      if (cancel_.load(std::memory_order_relaxed)) throw TCancelled{};
    };
    TBlockHandlers handlers;
    handlers.OnFrame = [&](int32_t, bool) { checkCancel(); };
    const bool refined = Engine.Refine();
    handlers.OnClick = [&](const TClickEvent& click) {
      Repairs.push_back({RepairRecordOf(click, Position, refined), click.Position});
      // The load first, so that workers do not contend for the flag's cache line on every click.
      if (extractRequest_ && extractRequest_->load(std::memory_order_relaxed) &&
          extractRequest_->exchange(false, std::memory_order_relaxed)) {
        Keep(click);
      }
      checkCancel();
    };
    // WriteSkip is not known yet; the clicks are counted by their positions afterwards.
    Engine.SetWriteSkip(0);
    int32_t clicks = 0, passes = 0;
    ErrorText = ComputeBlock(Engine, format_, Position, handlers, kMaxPasses, clicks, passes);
  }

  // A click the host asked for: its region's samples as they were before the repair, the detection
  // trace over the region, and the repaired span with the untouched sample on either side. A later
  // kept click of the same block replaces an earlier one.
  void Keep(const TClickEvent& click) {
    const int32_t first = click.RegionFirst, last = click.RegionLast;
    if (first < 0 || last < first || last >= Engine.BlockFrames()) return;  // not one of this block's
    const float* x = click.Channel == 0 ? Engine.LeftBuf() : Engine.RightBuf();
    Extract.Channel = click.Channel;
    Extract.RegionFrame = Position + first;
    Extract.Before.assign(x + first, x + last + 1);
    // The replaced samples as they were; the span may reach past the region.
    for (int32_t s = std::max(click.First, first); s <= std::min(click.Last, last); ++s)
      Extract.Before[static_cast<size_t>(s - first)] = click.Replaced[s - click.First];
    Extract.Trace.assign(Engine.TraceBuf() + first, Engine.TraceBuf() + last + 1);
    Extract.RepairOffset = click.First - 1 - first;
    Extract.Repaired.assign(x + click.First - 1, x + click.Last + 2);
    HasExtract = true;
  }

  void SetError(const char* message) { ErrorText = BlockErrorText(message, Position); }

  const TWavRecord& format_;
  const std::atomic<bool>& cancel_;
  TComputeGate& gate_;
  std::atomic<bool>* const extractRequest_;
  int64_t ticket_ = 0;
  std::mutex mutex_;
  std::condition_variable wake_;
  bool busy_ = false;
  bool quit_ = false;
  std::thread thread_;
};

}  // namespace

int UsableProcessors() {
  cpu_set_t set;
  CPU_ZERO(&set);
  if (::sched_getaffinity(0, sizeof set, &set) == 0) {
    const int n = CPU_COUNT(&set);
    if (n > 0) return n;
  }
  const unsigned hw = std::thread::hardware_concurrency();
  return hw ? static_cast<int>(hw) : 1;
}

TFileResult ProcessFileParallel(const std::string& inputPath, const TOutputSettings& settings,
                                TDriverObserver& observer, const std::atomic<bool>& cancel, int workers,
                                const TEngineOptions& engine) {
  return ProcessFileParallelTo(inputPath, OutputFileName(inputPath, settings), observer, cancel, workers, engine);
}

namespace {

using TWorkers = std::vector<std::unique_ptr<TProcThread>>;

// One engine per block in flight, each set up for the file. False (the status set) when one cannot
// be had.
bool MakeWorkers(TFileRun& run, int workers, const std::atomic<bool>& cancel, TComputeGate& gate,
                 std::atomic<bool>* extractRequest, TWorkers& slots) {
  const int slotCount = workers > 1 ? workers + 1 : 1;
  for (int i = 0; i < slotCount; ++i) {
    slots.push_back(std::make_unique<TProcThread>(run.Input(), cancel, gate, extractRequest));
    if (!run.InitEngine(slots.back()->Engine)) return false;
    slots.back()->Repairs.reserve(256);
    if (extractRequest) slots.back()->ReserveExtract();
  }
  return true;
}

// Hands blocks to free workers in file order, reading each on the calling thread. Block positions
// depend only on the sizes, so blocks are read ahead of the WriteSkip chain.
class TDispatcher {
 public:
  struct TInFlight {
    TProcThread* Slot;
    int64_t MoveBack;
  };

  TDispatcher(TWorkers& slots, const TBlockPlan& plan, TWavRecord& input, TComputeGate& gate,
              const std::atomic<bool>& cancel)
      : slots_(slots), plan_(plan), input_(input), gate_(gate), cancel_(cancel), next_(plan.First()) {
    ring_.reserve(slots.size());
  }

  // Blocks in flight, oldest first; at most one per worker.
  std::vector<TInFlight>& Ring() { return ring_; }

  void Dispatch() {
    while (!allDispatched_ && ring_.size() < slots_.size() && !cancel_.load()) {
      TProcThread& slot = *slots_[nextSlot_];
      nextSlot_ = (nextSlot_ + 1) % slots_.size();
      slot.Position = next_.Position;
      // A read failure is reported when the block's turn comes, after the blocks before it.
      if (!slot.Engine.ReadBlock(input_, static_cast<int32_t>(next_.Position), slot.ReadError,
                                 &slot.ReadErrorNumber)) {
        if (slot.ReadError.empty()) slot.ReadError.assign("Read error");
      } else {
        slot.ReadError.clear();
      }
      ring_.push_back({&slot, next_.MoveBack});
      slot.Start(gate_.NextTicket());
      if (!slot.ReadError.empty()) {
        allDispatched_ = true;  // nothing after an unreadable block is needed
        break;
      }
      if (next_.Last)
        allDispatched_ = true;
      else
        next_ = plan_.Next(next_);
    }
  }

 private:
  TWorkers& slots_;
  const TBlockPlan& plan_;
  TWavRecord& input_;
  TComputeGate& gate_;
  const std::atomic<bool>& cancel_;
  TBlock next_;
  bool allDispatched_ = false;
  size_t nextSlot_ = 0;
  std::vector<TInFlight> ring_;
};

// A computed block in file order: its clicks counted against the WriteSkip it gets (the previous
// block's last repair), reported and written. False when the road stops here.
bool ResolveBlock(TFileRun& run, TDriverObserver& observer, TProcThread& slot, int64_t writeSkip) {
  if (!slot.ReadError.empty()) {
    run.ReadFailed(slot.ReadError, slot.ReadErrorNumber);
    return false;
  }
  if (!run.BlockComputed(slot.ErrorText)) return false;
  int32_t blockClicks = 0;
  for (TPendingRepair& p : slot.Repairs) {
    p.Record.Counted = p.ClickPosition > writeSkip;
    if (p.Record.Counted) ++blockClicks;
    observer.Repair(p.Record);
  }
  if (slot.HasExtract) observer.ClickExtract(slot.Extract);
  return run.WriteCountedBlock(slot.Engine, slot.Position, blockClicks, writeSkip);
}

}  // namespace

TFileResult ProcessFileParallelTo(const std::string& inputPath, const std::string& outputPath,
                                  TDriverObserver& observer, const std::atomic<bool>& cancel, int workers,
                                  const TEngineOptions& engine) {
  TFileRun run(inputPath, outputPath, observer, cancel, engine);
  if (!run.Open()) return run.Result();

  // Slots are destroyed (their threads joined) before the files are closed.
  TComputeGate gate(std::max(workers, 1));
  TWorkers slots;
  if (!MakeWorkers(run, std::max(workers, 1), cancel, gate, observer.ExtractRequest(), slots)) {
    slots.clear();
    return run.FailSetUp();
  }
  run.StartBlocks();

  const TBlockPlan plan(run.NumFrames(), slots[0]->Engine.BlockFrames(), slots[0]->Engine.OverlapFrames());
  TDispatcher dispatcher(slots, plan, run.Input(), gate, cancel);
  auto& ring = dispatcher.Ring();
  int64_t writeSkip = 0;
  dispatcher.Dispatch();
  while (!ring.empty()) {
    TProcThread& slot = *ring.front().Slot;
    writeSkip += ring.front().MoveBack;
    observer.Progress(static_cast<uint32_t>(slot.Position));
    while (!slot.WaitFor(10)) observer.Idle();
    ring.erase(ring.begin());
    if (!ResolveBlock(run, observer, slot, writeSkip)) break;
    writeSkip = plan.CarriedWriteSkip(slot.Engine.LastRepaired());
    // The slot is free again: the next block goes into it while the others still run.
    dispatcher.Dispatch();
    if (ring.empty()) break;
    // Once a block, even when the next one is already done: with a slow disk the driver may never
    // wait, and the window must still repaint and take a cancel.
    observer.Idle();
    run.ShowEstimate(ring.front().Slot->Position);
  }
  // Blocks still in flight after a failure end before their engines go.
  for (const auto& s : slots)
    while (!s->WaitFor(10)) observer.Idle();
  slots.clear();
  return run.Finish();
}

}  // namespace klarwell
