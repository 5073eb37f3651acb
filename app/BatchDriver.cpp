#include "app/BatchDriver.h"

#include <sys/stat.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "app/FileRun.h"
#include "app/ProcThread.h"
#include "audio/LangText.h"
#include "audio/WavFile.h"
#include "engine/engine.h"

namespace klarwell {

namespace {

const TTextPair kStatusTexts[] = {
    {"öffne", "open"},
    {"erzeuge Datei", "create file"},
    {"initialisiere", "initialize"},
    {"läuft", "running"},
    {"abgebrochen", "cancelled"},
    {"fertig", "done"},
    {"Ausgabe schon von anderer Datei belegt", "output already taken by another file"},
    {"nicht begonnen", "not started"},
};

const char* const kStatusCodeNames[] = {"done",         "open_error", "create_error", "read_error",  "write_error",
                                        "engine_error", "cancelled",  "not_started",  "output_taken"};

const TTextPair kMissingOutput = {"Es muß ein Dateisuffix oder ein Ausgabeverzeichnis angegeben werden.",
                                  "File suffix or output directory must be given."};

std::string Trim(const std::string& s) {
  size_t b = s.find_first_not_of(" \t");
  if (b == std::string::npos) return {};
  size_t e = s.find_last_not_of(" \t");
  return s.substr(b, e - b + 1);
}

}  // namespace

std::string DriverStatusText(TDriverStatus status) { return Text(kStatusTexts[static_cast<int>(status)]); }

const char* StatusCodeName(TStatusCode code) { return kStatusCodeNames[static_cast<int>(code)]; }

std::string MissingOutputText() { return Text(kMissingOutput); }

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
    if (dot != std::string::npos && dot >= nameStart) result.erase(dot);
    result += settings.Suffix + ".wav";
  }
  if (DirectoryExists(settings.OutDir)) {
    size_t slash = result.find_last_of('/');
    std::string name = slash == std::string::npos ? result : result.substr(slash + 1);
    result = settings.OutDir + "/" + name;
  }
  return result;
}

std::string FormatClicksPerSec(double value, char decimalPoint) {
  if (!std::isfinite(value)) value = 0;
  // First to 5 significant digits, then written with two decimals; a value with more than five
  // digits before the point cannot be shown that way and is written with an exponent.
  char sig[64];
  std::snprintf(sig, sizeof sig, "%.4e", value);
  double rounded = std::strtod(sig, nullptr);
  char out[64];
  if (std::fabs(rounded) >= 100000.0) {
    int exponent = 0;
    const char* e = std::strchr(sig, 'e');
    if (e) exponent = std::atoi(e + 1);
    std::string mantissa(sig, e ? e - sig : std::strlen(sig));
    // Trailing zeros of the mantissa are dropped, as are the point when nothing follows it.
    while (!mantissa.empty() && mantissa.back() == '0') mantissa.pop_back();
    if (!mantissa.empty() && mantissa.back() == '.') mantissa.pop_back();
    std::snprintf(out, sizeof out, "%sE%d", mantissa.c_str(), exponent);
  } else {
    std::snprintf(out, sizeof out, "%.2f", rounded);
  }
  std::string text = out;
  for (char& c : text)
    if (c == '.') c = decimalPoint;
  return text;
}

TFileResult ProcessFile(const std::string& inputPath, const TOutputSettings& settings,
                        TDriverObserver& observer, const std::atomic<bool>& cancel, char decimalPoint,
                        const TEngineOptions& engine) {
  return ProcessFileTo(inputPath, OutputFileName(inputPath, settings), observer, cancel, decimalPoint,
                       engine);
}

TFileResult ProcessFileTo(const std::string& inputPath, const std::string& outputPath,
                          TDriverObserver& observer, const std::atomic<bool>& cancel, char decimalPoint,
                          const TEngineOptions& engineOptions) {
  TFileRun run(inputPath, outputPath, observer, cancel, decimalPoint, engineOptions);
  if (!run.Open()) return run.Result();
  TWavRecord& input = run.Input();
  const uint32_t numFrames = run.NumFrames();
  int64_t position = 0;
  int64_t writeSkip = 0;

  TClickEngine engine;
  if (!run.InitEngine(engine)) return run.FailSetUp();

  run.StartBlocks();
  bool fileFailed = false, runFailed = false;
  std::string errorText;
  int errorNumber = 0;

  // The cancellation check shared by every callback the worker reaches.
  auto checkCancel = [&cancel] {
    if (cancel.load(std::memory_order_relaxed)) throw TCancelled{};
  };

  for (;;) {
    observer.Progress(static_cast<uint32_t>(position));
    if (!engine.ReadBlock(input, static_cast<int32_t>(position), errorText, &errorNumber)) {
      run.Fail(TStatusCode::ReadError, errorText, errorNumber);
      fileFailed = true;
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
      TRepairRecord repair;
      repair.Channel = engine.CurrentIsLeft() ? 0 : 1;
      repair.Pass = engine.CurrentPass();
      repair.First = position + engine.RepairStart() + 1;
      repair.Last = position + engine.RepairEnd() - 1;
      repair.Changed = engine.LastRepairChanged();
      repair.Counted = engine.LastClickCounted();
      repair.Refined = engine.Refine();
      observer.Repair(repair);
      observer.ClickRepaired(engine);
      checkCancel();
    };
    worker.Run([&] { observer.Idle(); });

    if (!worker.ErrorText.empty()) {
      run.Fail(TStatusCode::EngineError, worker.ErrorText);
      runFailed = fileFailed = true;
      break;
    }
    if (cancel.load()) {
      fileFailed = true;
      break;
    }
    run.BlockCounted(position, worker.ClickCount);

    if (!engine.WriteBlock(run.Output(), static_cast<int32_t>(position), static_cast<int32_t>(writeSkip),
                           errorText, &errorNumber)) {
      run.Fail(TStatusCode::WriteError, errorText, errorNumber);
      fileFailed = runFailed = true;
      break;
    }

    const bool last = position + engine.BlockFrames() >= static_cast<int64_t>(numFrames);
    const int64_t step = engine.BlockFrames() - engine.OverlapFrames();
    position += step;
    writeSkip = step <= engine.LastRepaired() ? engine.LastRepaired() - step : 0;
    if (position + engine.BlockFrames() > static_cast<int64_t>(numFrames)) {
      // The last block is moved back so that it ends at the last frame; what it overlaps more
      // of the previous block has been written already.
      const int64_t d = position - (static_cast<int64_t>(numFrames) - engine.BlockFrames());
      position -= d;
      writeSkip += d;
    }
    if (last) break;
    run.ShowEstimate(position);
  }
  return run.Finish(fileFailed, runFailed);
}

}  // namespace klarwell
