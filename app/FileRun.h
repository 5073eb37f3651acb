#pragma once

#include <sys/types.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <string>

#include "app/BatchDriver.h"
#include "audio/WavFile.h"

namespace klarwell {

// The steps that every road of one file shares, whatever it does with the blocks in between:
// opening the input, creating the output, the status texts and cells, the per-block bookkeeping,
// and the finish (the output completed with the input's trailing chunks, or removed). The driver
// owns the block loop and calls these in order: Open, InitEngine (once per engine), StartBlocks,
// then BlockCounted / ShowEstimate per block, and Finish last. Driver thread only.
class TFileRun {
 public:
  // The output is written to exactly `outputPath`. `observer` and `cancel` must outlive the run;
  // `decimalPoint` is the locale's separator for the clicks-per-second cell.
  TFileRun(const std::string& inputPath, const std::string& outputPath, TDriverObserver& observer,
           const std::atomic<bool>& cancel, char decimalPoint, const TEngineOptions& engineOptions = {});
  TFileRun(const TFileRun&) = delete;
  TFileRun& operator=(const TFileRun&) = delete;

  // Status "open", the cells cleared, the input opened, status "create file", the output created
  // with the input's format, then the progress range, the clock and the density curve started and
  // status "initialize". False when the input cannot be opened or the output not created: the
  // status then holds the message, nothing is left open, and Result() is what the road returns.
  bool Open();

  // Sets up one engine for this file's input; on failure the status holds the engine's message.
  bool InitEngine(TClickEngine& engine);

  // Engine set-up failed: closes both files, removes the output, and gives the road's result.
  TFileResult FailSetUp();

  // Status "running": the blocks start.
  void StartBlocks();

  // Status := text (a failing operation's message), reported at once.
  void SetStatus(const std::string& text);

  // The road fails: status := text, and the result carries `code` and the reason for `errorNumber`
  // (the failing system call's errno; 0 for none).
  void Fail(TStatusCode code, const std::string& text, int errorNumber = 0);

  // A block's clicks, once known: its density point, the running total in cell 4, BlockDone.
  // `position` is the block's first frame in the file.
  void BlockCounted(int64_t position, int32_t clicks);

  // Cells 6 and 5 while the file runs: the remaining time estimated from the elapsed time, and the
  // clicks per second so far, both measured at `nextPosition` (> 0), the next block's first frame.
  void ShowEstimate(int64_t nextPosition);

  // The road's end. Without a failure or a cancel: progress at the end, the output finished with
  // the input's trailing chunks and checked to still carry its name ("done" and the final cells,
  // or the vanished message, which ends the run). Otherwise (or when the finish fails) the output
  // is closed and removed. The driver must have released everything that reads the files first.
  TFileResult Finish(bool fileFailed, bool runFailed);

  TWavRecord& Input() { return input_; }
  TWavRecord& Output() { return output_; }
  uint32_t NumFrames() const { return input_.NumFrames; }

  // What the road returns so far (the failure of Open included).
  const TFileResult& Result() const { return result_; }

 private:
  using TClock = std::chrono::steady_clock;

  void DiscardOutput();
  double SecondsSinceStart() const;

  const std::string inputPath_;
  const std::string outputPath_;
  TDriverObserver& observer_;
  const std::atomic<bool>& cancel_;
  const char decimalPoint_;
  const TEngineOptions engineOptions_;  // every engine of this file runs in this mode

  TFileResult result_;
  TWavRecord input_, output_;
  std::string errorText_;
  // The output's identity when it was created, so that the finish can tell whether the data went
  // into a file the user can still reach.
  bool outputKnown_ = false;
  dev_t outputDev_ = 0;
  ino_t outputIno_ = 0;
  double sampleRate_ = 0;
  TClock::time_point start_;
  int64_t clickTotal_ = 0;
};

}  // namespace klarwell
