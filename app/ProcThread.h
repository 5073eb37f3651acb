#pragma once

#include <condition_variable>
#include <cstdint>
#include <exception>
#include <functional>
#include <mutex>
#include <string>

#include "app/BlockPlan.h"
#include "engine/engine.h"

namespace klarwell {

struct TWavRecord;

// The worker of one block: runs ComputeBlock on a thread of its own while the calling thread waits
// in Run(), where it keeps its own loop alive (idle callback) and executes the repaired-click
// handler on the caller's behalf, so that handler always runs on the caller's thread while the
// worker waits for it.
class TProcThread {
 public:
  // Handlers, all optional. OnFrame and OnClickRegion run on the worker; OnClickRepaired runs on the
  // thread that called Run(), and an exception it throws (the cancellation check) reaches the worker.
  TOnFrame OnFrame;
  TOnClickRegion OnClickRegion;
  std::function<void()> OnClickRepaired;

  int32_t MaxPasses = kMaxPasses;
  int32_t ClickCount = 0;  // out: clicks counted in the block
  int32_t Passes = 0;      // out: passes run
  std::string ErrorText;   // out: empty, or "<message> FilePos: <position>"

  TProcThread(TClickEngine& engine, const TWavRecord& reader, int64_t position)
      : engine_(engine), reader_(reader), position_(position) {}
  TProcThread(const TProcThread&) = delete;
  TProcThread& operator=(const TProcThread&) = delete;

  // Runs the block and returns when the worker has ended. `idle` is called about every
  // `idleMs` milliseconds while the worker runs (the window pumps its events there); may be empty.
  void Run(const std::function<void()>& idle, int idleMs = 10);

 private:
  void Execute();
  // Worker side of OnClickRepaired: hands the call to the waiting thread and waits for it.
  void SynchronizeRepaired();

  TClickEngine& engine_;
  const TWavRecord& reader_;
  int64_t position_;

  std::mutex mutex_;
  std::condition_variable wake_;
  bool finished_ = false;     // set last by the worker
  bool callPending_ = false;  // the worker waits for OnClickRepaired to be run
  std::exception_ptr callError_;
};

}  // namespace klarwell
