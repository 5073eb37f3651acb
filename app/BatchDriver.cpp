#include "app/BatchDriver.h"

#include <sys/stat.h>

#include "app/BlockPlan.h"
#include "app/FileRun.h"
#include "app/ProcThread.h"
#include "audio/WavFile.h"
#include "engine/engine.h"
#include "text/LangText.h"

namespace klarwell {

namespace {

std::string Trim(const std::string& s) {
  size_t b = s.find_first_not_of(" \t");
  if (b == std::string::npos) return {};
  size_t e = s.find_last_not_of(" \t");
  return s.substr(b, e - b + 1);
}

}  // namespace

bool DirectoryExists(const std::string& path) {
  if (path.empty()) return false;
  struct stat st;
  return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool OutputSettingsUsable(const TOutputSettings& settings) {
  return DirectoryExists(settings.OutDir) || !Trim(settings.Suffix).empty();
}

std::string OutputFileName(const std::string& inputPath, const TOutputSettings& settings) {
  std::string result = inputPath;
  if (!Trim(settings.Suffix).empty()) {
    // The extension starts at the last '.' of the file name part, not of a folder name.
    size_t nameStart = result.find_last_of('/');
    nameStart = nameStart == std::string::npos ? 0 : nameStart + 1;
    size_t dot = result.find_last_of('.');
    std::string extension = ".wav";
    if (dot != std::string::npos && dot >= nameStart) {
      // FLAC and AIFF outputs keep their input's extension, as typed; a WAV's becomes ".wav" as ever.
      const std::string own = result.substr(dot);
      const bool isWav =
          own.size() == 4 && (own[1] | 0x20) == 'w' && (own[2] | 0x20) == 'a' && (own[3] | 0x20) == 'v';
      if (IsAudioFileName(own) && !isWav) extension = own;
      result.erase(dot);
    }
    result += settings.Suffix + extension;
  }
  if (DirectoryExists(settings.OutDir)) {
    size_t slash = result.find_last_of('/');
    std::string name = slash == std::string::npos ? result : result.substr(slash + 1);
    result = settings.OutDir + "/" + name;
  }
  return result;
}

TFileResult ProcessFile(const std::string& inputPath, const TOutputSettings& settings,
                        TDriverObserver& observer, const std::atomic<bool>& cancel,
                        const TEngineOptions& engine) {
  return ProcessFileTo(inputPath, OutputFileName(inputPath, settings), observer, cancel, engine);
}

TFileResult ProcessFileTo(const std::string& inputPath, const std::string& outputPath,
                          TDriverObserver& observer, const std::atomic<bool>& cancel,
                          const TEngineOptions& engineOptions) {
  TFileRun run(inputPath, outputPath, observer, cancel, engineOptions);
  if (!run.Open()) return run.Result();
  TWavRecord& input = run.Input();

  TClickEngine engine;
  if (!run.InitEngine(engine)) return run.FailSetUp();

  run.StartBlocks();
  std::string errorText;
  int errorNumber = 0;

  // The cancellation check shared by every callback the worker reaches.
  auto checkCancel = [&cancel] {
    if (cancel.load(std::memory_order_relaxed)) throw TCancelled{};
  };

  const TBlockPlan plan(run.NumFrames(), engine.BlockFrames(), engine.OverlapFrames());
  TBlock block = plan.First();
  int64_t writeSkip = 0;
  for (;;) {
    const int64_t position = block.Position;
    observer.Progress(static_cast<uint32_t>(position));
    if (!engine.ReadBlock(input, static_cast<int32_t>(position), errorText, &errorNumber)) {
      run.ReadFailed(errorText, errorNumber);
      break;
    }
    engine.SetWriteSkip(static_cast<int32_t>(writeSkip));

    TProcThread worker(engine, input, position);
    worker.OnFrame = [&](int32_t, bool, const float*) {
      checkCancel();
      observer.Frame();
    };
    worker.OnClickRegion = [&](bool isLeft, int32_t first, int32_t last) {
      checkCancel();
      observer.ClickRegion(engine, isLeft, first, last);
    };
    worker.OnClickRepaired = [&] {
      observer.Repair(RepairJustMade(engine, position));
      observer.ClickRepaired(engine);
      checkCancel();
    };
    worker.Run([&] { observer.Idle(); });

    if (!run.BlockComputed(worker.ErrorText)) break;
    if (!run.WriteCountedBlock(engine, position, worker.ClickCount, writeSkip)) break;
    if (block.Last) break;
    const int64_t carried = plan.CarriedWriteSkip(engine.LastRepaired());
    block = plan.Next(block);
    writeSkip = carried + block.MoveBack;
    run.ShowEstimate(block.Position);
  }
  return run.Finish();
}

}  // namespace klarwell
