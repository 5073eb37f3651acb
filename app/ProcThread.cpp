#include "app/ProcThread.h"

#include <chrono>
#include <thread>

#include "audio/WavFile.h"

namespace klarwell {

void TProcThread::SynchronizeRepaired() {
  if (!OnClickRepaired) return;
  std::unique_lock lock(mutex_);
  callPending_ = true;
  callError_ = nullptr;
  wake_.notify_all();
  wake_.wait(lock, [this] { return !callPending_; });
  if (callError_) std::rethrow_exception(callError_);
}

void TProcThread::Execute() {
  TBlockHandlers handlers{OnFrame, {}, {}, OnClickRegion};
  if (OnClickRepaired) handlers.OnClickRepaired = [this] { SynchronizeRepaired(); };
  ErrorText = ComputeBlock(engine_, reader_, position_, handlers, MaxPasses, ClickCount, Passes);
  std::lock_guard lock(mutex_);
  finished_ = true;
  wake_.notify_all();
}

void TProcThread::Run(const std::function<void()>& idle, int idleMs) {
  {
    std::lock_guard lock(mutex_);
    finished_ = false;
    callPending_ = false;
  }
  std::thread worker;
  try {
    worker = std::thread([this] { Execute(); });
  } catch (const std::exception& e) {
    // No thread to be had (memory or the process's thread limit): the block fails like a worker
    // error, so that the driver discards the output instead of the program ending mid-file.
    ErrorText = BlockErrorText(e.what(), position_);
    return;
  }
  std::unique_lock lock(mutex_);
  for (;;) {
    wake_.wait_for(lock, std::chrono::milliseconds(idleMs), [this] { return finished_ || callPending_; });
    if (callPending_) {
      // Run the handler on this thread while the worker waits for it.
      lock.unlock();
      std::exception_ptr error;
      try {
        OnClickRepaired();
      } catch (...) {
        error = std::current_exception();
      }
      lock.lock();
      callError_ = error;
      callPending_ = false;
      wake_.notify_all();
      continue;
    }
    if (finished_) break;
    if (idle) {
      lock.unlock();
      idle();
      lock.lock();
    }
  }
  lock.unlock();
  worker.join();
}

}  // namespace klarwell
