#pragma once

#include <atomic>
#include <cstdint>
#include <string>
#include <vector>

#include "app/FileStatus.h"
#include "engine/engine.h"

namespace klarwell {

// Where the repaired copy of an input goes.
struct TOutputSettings {
  std::string Suffix = " #kw2";  // used exactly as typed when not blank
  std::string OutDir;            // used as typed when it names an existing directory
};

// The output path of an input: the extension (from the last '.' of the file name on, appended
// when there is none) replaced by Suffix + ".wav" when Suffix is not blank (Suffix + the input's own
// extension for ".flac", ".aif" and ".aiff" in any case); then, when OutDir names
// an existing directory, OutDir + "/" + the file name part.
std::string OutputFileName(const std::string& inputPath, const TOutputSettings& settings);

// True when OutDir names an existing directory (symbolic links followed).
bool DirectoryExists(const std::string& path);

// A run needs a non-blank suffix or an existing output directory.
bool OutputSettingsUsable(const TOutputSettings& settings);

// One repair that the click engine confirmed, in processing order (for the command line's click list).
struct TRepairRecord {
  int Channel = 0;       // 0 left, 1 right
  int Pass = 0;          // 0-based pass of the block
  int64_t First = 0;     // file frame of the first replaced sample
  int64_t Last = 0;      // file frame of the last replaced sample
  bool Changed = false;  // the repair changed stored bytes
  bool Counted = false;  // the click counts towards the file's total
  bool Refined = false;  // made in the engine's refined mode
};

// One repaired click as the window's extract chart shows it: the region the search examined around
// it, its samples before and after the repair, and the detection trace that found it. Samples in
// 16-bit units, like the engine's.
struct TClickExtract {
  int Channel = 0;              // 0 left, 1 right
  int64_t RegionFrame = 0;      // file frame of the region's first sample
  std::vector<float> Before;    // the region's samples before the repair
  std::vector<float> Trace;     // the detection trace over the region, one value per sample
  int32_t RepairOffset = 0;     // index in the region of Repaired[0]
  std::vector<float> Repaired;  // the repaired span after the repair, with the untouched sample on
                                // either side of it
};

// How one file's road ended.
enum class TFileOutcome {
  Done,       // complete output written
  Failed,     // open/create/initialize/read failed; the run goes on with the next file
  RunFailed,  // write failure or worker failure: no further file starts
  Cancelled,  // cancel was requested: no further file starts
};

// What the driver reports while it takes one file along its road (ProcessFileParallel). Every call
// comes on the thread that called it, except that the flag ExtractRequest hands out is read by the
// block workers. Default implementations do nothing.
class TDriverObserver {
 public:
  virtual ~TDriverObserver() = default;

  // Where the file stands (Open, CreateFile, Initialize, Running) and how its road ended (Done,
  // Cancelled or a failure). `message` is the failing operation's message, in the program's
  // language, for the kinds that carry one (CarriesMessage), and empty for the others.
  virtual void Status(TFileStatus status, const std::string& message) { (void)status, (void)message; }
  // The road begins: the file has no click total, clicks per second or time yet.
  virtual void FiguresReset() {}
  // After each block: the file's click total so far.
  virtual void Clicks(int64_t total) { (void)total; }
  // After each block but the last: the clicks per second so far and the remaining time, estimated
  // from the time the blocks so far took.
  virtual void Estimate(double clicksPerSecond, double remainingSeconds) {
    (void)clicksPerSecond, (void)remainingSeconds;
  }
  // The file is done: its clicks per second over its whole length and the time it took, engine
  // set-up included.
  virtual void Finished(double clicksPerSecond, double elapsedSeconds) {
    (void)clicksPerSecond, (void)elapsedSeconds;
  }
  virtual void ProgressMax(uint32_t frames) { (void)frames; }
  virtual void Progress(uint32_t frames) { (void)frames; }
  // The output file was created (the player may now offer it).
  virtual void OutputCreated(const std::string& outputPath) { (void)outputPath; }
  // The density curve starts anew for this file; then one point per block.
  virtual void DensityReset() {}
  virtual void DensityPoint(float minutes, float clicksPerSecond) { (void)minutes, (void)clicksPerSecond; }
  // Called about every 10 ms while the driver waits for a block, and once between two blocks, on the
  // calling thread: a host may look after other work here (the window needs none, its road has a
  // thread of its own).
  virtual void Idle() {}
  // After each block: its first frame in the file and the clicks it counted.
  virtual void BlockDone(int64_t position, int32_t clicks) { (void)position, (void)clicks; }
  // After each confirmed click, once its repair has run.
  virtual void Repair(const TRepairRecord& repair) { (void)repair; }
  // The flag through which the host asks the driver for a click extract; null (the default)
  // when it wants none. While the flag is set, the next click a block's worker repairs is kept, and
  // the worker that keeps it clears the flag, so that one request gives at most one extract. Asked
  // once per road on the calling thread; the host may set the flag from any thread at any time.
  virtual std::atomic<bool>* ExtractRequest() { return nullptr; }
  // A click kept on request, once its block is resolved (in block
  // order, after the block's Repair calls and before its density point). Valid during the call only.
  virtual void ClickExtract(const TClickExtract& extract) { (void)extract; }
};

// What a finished road leaves behind.
struct TFileResult {
  TFileOutcome Outcome = TFileOutcome::Failed;
  TFileStatus Status = TFileStatus::NotStarted;  // set by every end of the road
  std::string Message;     // the failing operation's message, for the kinds that carry one
  std::string Reason;      // the operating system's reason for a failure (strerror), empty when none
  std::string OutputPath;  // empty when no output was created
  int64_t Clicks = 0;
  double Seconds = 0;  // elapsed, engine set-up included
  // Format of the input when it opened.
  std::string FormatText, LengthText;
  uint32_t SampleRate = 0, Channels = 0, Frames = 0;
  uint32_t BitsPerSample = 0;  // of a stored sample: bytes per sample x 8
  bool FloatFormat = false;    // IEEE float samples, else integer PCM
  // What a done file still wants the user to know; known once the input has opened, each at most once.
  std::vector<TFileWarning> Warnings;
  std::string Container;       // "wav", "rf64", "flac" or "aiff"; empty until the input has opened
};

}  // namespace klarwell
