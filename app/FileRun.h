#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <string>

#include "app/BatchDriver.h"
#include "app/PendingOutput.h"
#include "audio/WavFile.h"

namespace klarwell {

// The steps that every road of one file shares, whatever it does with the blocks in between:
// opening the input, creating the output, the statuses and figures reported, the per-block bookkeeping,
// and the finish (the output completed with the input's trailing chunks and put in place under its
// name, or removed). The output is written under a temporary name (TPendingOutput), so an earlier
// output of the same name survives every road that does not end in Done. The driver
// owns the block loop and calls these in order: Open, InitEngine (once per engine), StartBlocks,
// then per block BlockComputed, WriteCountedBlock and ShowEstimate (or ReadFailed), and Finish
// last. A block step that returns false has set the failure or seen the cancel: the driver leaves
// its loop and calls Finish. Driver thread only.
class TFileRun {
 public:
  // The output ends up at exactly `outputPath`. `observer` and `cancel` must outlive the run.
  TFileRun(const std::string& inputPath, const std::string& outputPath, TDriverObserver& observer,
           const std::atomic<bool>& cancel, const TEngineOptions& engineOptions = {});
  TFileRun(const TFileRun&) = delete;
  TFileRun& operator=(const TFileRun&) = delete;

  // Status Open, the figures reset, the input opened, status CreateFile, the output created with
  // the input's format, then the progress range, the clock and the density curve started and status
  // Initialize. False when the input cannot be opened or the output not created: the status then
  // carries the message, nothing is left open, and Result() is what the road returns.
  bool Open();

  // Sets up one engine for this file's input; on failure the status carries the engine's message.
  bool InitEngine(TClickEngine& engine);

  // Engine set-up failed: closes both files, removes the temporary output, and gives the road's result.
  TFileResult FailSetUp();

  // Status Running: the blocks start.
  void StartBlocks();

  // The block could not be read: status ReadError with `message` and the reason for `errorNumber`.
  // Ends this file; the run goes on with the next.
  void ReadFailed(const std::string& message, int errorNumber);

  // A block's worker has ended. False when the road stops here: the worker failed (`workerError`
  // not empty; status EngineError, and no further file starts) or the run was cancelled.
  bool BlockComputed(const std::string& workerError);

  // A block's clicks, once known (its density point, the running total, BlockDone), then the block
  // written to the output from block frame `writeSkip` on. `position` is the block's first frame
  // in the file. False when the write failed: status WriteError, and no further file starts.
  bool WriteCountedBlock(TClickEngine& engine, int64_t position, int32_t clicks, int64_t writeSkip);

  // While the file runs: the clicks per second so far and the remaining time estimated from the
  // elapsed time, both measured at `nextPosition` (> 0), the next block's first frame.
  void ShowEstimate(int64_t nextPosition);

  // The road's end. Without a failure of a block step or a cancel: progress at the end, the output
  // finished with the input's trailing chunks, flushed and renamed over its final name (Done and
  // the final figures; or, when its temporary file vanished or the rename failed, a write error,
  // which ends the run). Otherwise (or when the finish fails) the temporary output is closed and
  // removed. The driver must have released everything that reads the files first. A run destroyed
  // without Finish removes its temporary output as well.
  TFileResult Finish();

  TWavRecord& Input() { return input_; }
  uint32_t NumFrames() const { return input_.NumFrames; }

  // What the road returns so far (the failure of Open included).
  const TFileResult& Result() const { return result_; }

 private:
  using TClock = std::chrono::steady_clock;

  void SetStatus(TFileStatus status, const std::string& message = {});
  // The road fails with `status`, one that carries `message`; the result also carries the reason
  // for `errorNumber` (the failing system call's errno; 0 for none).
  void Fail(TFileStatus status, const std::string& message, int errorNumber = 0);
  void BlockCounted(int64_t position, int32_t clicks);
  bool CreateOutput();
  // Puts the finished output in place; false with the failure set.
  bool CommitOutput();
  void DiscardOutput();
  double SecondsSinceStart() const;

  const std::string inputPath_;
  const std::string outputPath_;
  TDriverObserver& observer_;
  const std::atomic<bool>& cancel_;
  const TEngineOptions engineOptions_;  // every engine of this file runs in this mode

  TFileResult result_;
  TWavRecord input_, output_;
  std::string errorText_;
  TPendingOutput pending_;
  double sampleRate_ = 0;
  TClock::time_point start_;
  int64_t clickTotal_ = 0;
  bool fileFailed_ = false;  // the output must be discarded
  bool runFailed_ = false;   // no further file starts
};

}  // namespace klarwell
