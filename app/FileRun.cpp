#include "app/FileRun.h"

#include <cstring>

#include "engine/engine.h"
#include "text/LangText.h"

namespace klarwell {

namespace {

// The output's temporary file was removed during the run (or its folder was).
const TTextPair kOutputVanished = {"Ausgabedatei ist verschwunden", "Output file has vanished"};
// The complete output could not be flushed or could not take its name.
const TTextPair kCannotReplace = {"Ausgabedatei kann nicht an ihren Platz gelegt werden",
                                  "Cannot put the output file in place"};

// The spectrum floor handed to the engine, in decibels.
constexpr int32_t kFloorDb = -120;

// The operating system's own words for errno (in the C library's message language); empty for 0.
std::string SystemReason(int errorNumber) {
  if (errorNumber == 0) return {};
  char buffer[256];
  return ::strerror_r(errorNumber, buffer, sizeof buffer);
}

}  // namespace

TFileRun::TFileRun(const std::string& inputPath, const std::string& outputPath, TDriverObserver& observer,
                   const std::atomic<bool>& cancel, const TEngineOptions& engineOptions)
    : inputPath_(inputPath),
      outputPath_(outputPath),
      observer_(observer),
      cancel_(cancel),
      engineOptions_(engineOptions),
      pending_(outputPath) {}

void TFileRun::SetStatus(TFileStatus status, const std::string& message) {
  result_.Status = status;
  result_.Message = message;
  observer_.Status(status, message);
}

void TFileRun::Fail(TFileStatus status, const std::string& message, int errorNumber) {
  result_.Reason = SystemReason(errorNumber);
  SetStatus(status, message);
}

double TFileRun::SecondsSinceStart() const {
  // The tick counter has millisecond resolution; the seconds are a 32-bit float.
  auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(TClock::now() - start_).count();
  return static_cast<float>(ms / 1000.0);
}

bool TFileRun::Open() {
  SetStatus(TFileStatus::Open);
  observer_.FiguresReset();

  if (!OpenWav(inputPath_, input_)) {
    Fail(TFileStatus::OpenError, input_.ErrorMsg, input_.ErrorNumber);
    return false;
  }
  result_.FormatText = WavFormatText(input_);
  result_.Container = ContainerName(input_);
  result_.LengthText = WavDurationText(input_);
  result_.SampleRate = input_.Format.nSamplesPerSec;
  result_.Channels = input_.Format.nChannels;
  result_.Frames = input_.NumFrames;
  result_.BitsPerSample = input_.BytesPerSample * 8u;
  result_.FloatFormat = input_.Format.wFormatTag == WaveFormatIeeeFloat ||
                        (input_.Format.wFormatTag == WaveFormatExtensible && input_.PcmSubFormat == 0);
  if (input_.DataCut) result_.Warnings.push_back(TFileWarning::Truncated);

  SetStatus(TFileStatus::CreateFile);
  if (!CreateOutput()) {
    Fail(TFileStatus::CreateError, output_.ErrorMsg, output_.ErrorNumber);
    CloseWav(input_);
    return false;
  }
  observer_.OutputCreated(outputPath_);

  sampleRate_ = input_.Format.nSamplesPerSec;
  observer_.ProgressMax(input_.NumFrames);
  start_ = TClock::now();
  clickTotal_ = 0;
  observer_.DensityReset();

  SetStatus(TFileStatus::Initialize);
  return true;
}

bool TFileRun::InitEngine(TClickEngine& engine) {
  if (engine.InitEngine(input_, kFloorDb, errorText_, engineOptions_)) return true;
  Fail(TFileStatus::EngineError, errorText_);
  return false;
}

bool TFileRun::CreateOutput() {
  // The final name is checked as the writer would check it were it written in place: the output
  // that would be the input itself, or a file another record holds, is refused here.
  if (!OutputNameFree(outputPath_, output_)) return false;
  int errorNumber = 0;
  if (!pending_.Create(errorNumber)) {
    RefuseCreate(output_, errorNumber);
    return false;
  }
  output_.Format = input_.Format;
  return CreateWavWithHead(pending_.TempPath(), output_, input_);
}

bool TFileRun::CommitOutput() {
  bool vanished = false;
  int errorNumber = 0;
  if (pending_.Commit(vanished, errorNumber)) return true;
  // Writes into a file without a name all succeed, yet leave nothing behind.
  if (vanished)
    Fail(TFileStatus::WriteError, Text(kOutputVanished));
  else
    Fail(TFileStatus::WriteError, Text(kCannotReplace), errorNumber);
  return false;
}

void TFileRun::DiscardOutput() {
  CloseWav(output_);
  CloseWav(input_);
  pending_.Discard();
}

TFileResult TFileRun::FailSetUp() {
  DiscardOutput();
  return result_;
}

void TFileRun::StartBlocks() {
  SetStatus(TFileStatus::Running);
}

void TFileRun::ReadFailed(const std::string& message, int errorNumber) {
  Fail(TFileStatus::ReadError, message, errorNumber);
  fileFailed_ = true;
}

bool TFileRun::BlockComputed(const std::string& workerError) {
  if (!workerError.empty()) {
    Fail(TFileStatus::EngineError, workerError);
    fileFailed_ = runFailed_ = true;
    return false;
  }
  if (cancel_.load()) {
    fileFailed_ = true;
    return false;
  }
  return true;
}

bool TFileRun::WriteCountedBlock(TClickEngine& engine, int64_t position, int32_t clicks, int64_t writeSkip) {
  BlockCounted(position, clicks);
  int errorNumber = 0;
  if (engine.WriteBlock(output_, static_cast<int32_t>(position), static_cast<int32_t>(writeSkip), errorText_,
                        &errorNumber)) {
    return true;
  }
  Fail(TFileStatus::WriteError, errorText_, errorNumber);
  fileFailed_ = runFailed_ = true;
  return false;
}

void TFileRun::BlockCounted(int64_t position, int32_t clicks) {
  // Every block but a short file's only one spans the engine's block length.
  observer_.DensityPoint(static_cast<float>(position / sampleRate_ / 60.0),
                         static_cast<float>(clicks / static_cast<double>(TClickEngine::BlockSeconds)));
  clickTotal_ += clicks;
  observer_.Clicks(clickTotal_);
  observer_.BlockDone(position, clicks);
}

void TFileRun::ShowEstimate(int64_t nextPosition) {
  const double elapsed = SecondsSinceStart();
  const double numFrames = input_.NumFrames;
  const double remaining = (numFrames / nextPosition - 1.0) * elapsed;
  observer_.Estimate(clickTotal_ / (nextPosition / sampleRate_), remaining);
}

TFileResult TFileRun::Finish() {
  bool fileFailed = fileFailed_, runFailed = runFailed_;
  const uint32_t numFrames = input_.NumFrames;
  if (!fileFailed) observer_.Progress(numFrames);

  const bool cancelled = cancel_.load();
  if (cancelled || fileFailed || runFailed) {
    DiscardOutput();
  } else if (!CloseWavWithTail(output_, input_)) {
    // The output could not be finished (its sizes not patched): it is not a complete file.
    Fail(TFileStatus::WriteError, output_.ErrorMsg, output_.ErrorNumber);
    DiscardOutput();
    fileFailed = true;
  } else {
    CloseWav(input_);
    // Like a write error: what failed here would fail for the next file too.
    if (!CommitOutput()) runFailed = true;
  }
  result_.Clicks = clickTotal_;
  result_.Seconds = SecondsSinceStart();

  if (cancelled) {
    result_.Reason.clear();
    SetStatus(TFileStatus::Cancelled);
    result_.Outcome = TFileOutcome::Cancelled;
    return result_;
  }
  if (runFailed) {
    result_.Outcome = TFileOutcome::RunFailed;
    return result_;
  }
  if (fileFailed) {
    result_.Outcome = TFileOutcome::Failed;
    return result_;
  }
  result_.OutputPath = outputPath_;
  result_.Outcome = TFileOutcome::Done;
  SetStatus(TFileStatus::Done);
  observer_.Finished(clickTotal_ / (numFrames / sampleRate_), result_.Seconds);
  return result_;
}

}  // namespace klarwell
