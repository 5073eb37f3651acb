#include "app/BatchDriver.h"

#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

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
};

const TTextPair kMissingOutput = {"Es muß ein Dateisuffix oder ein Ausgabeverzeichnis angegeben werden.",
                                  "File suffix or output directory must be given."};

// The finished output no longer has its name (its directory or the file was removed during the run).
const TTextPair kOutputVanished = {"Ausgabedatei ist verschwunden", "Output file has vanished"};

// Identity of a file by name; false when it has none.
bool FileIdentity(const std::string& path, dev_t& dev, ino_t& ino) {
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0) return false;
  dev = st.st_dev;
  ino = st.st_ino;
  return true;
}

// The spectrum floor handed to the engine, in decibels.
constexpr int32_t kFloorDb = -120;

std::string Trim(const std::string& s) {
  size_t b = s.find_first_not_of(" \t");
  if (b == std::string::npos) return {};
  size_t e = s.find_last_not_of(" \t");
  return s.substr(b, e - b + 1);
}

using TClock = std::chrono::steady_clock;

double SecondsSince(TClock::time_point start) {
  // The tick counter has millisecond resolution; the seconds are a 32-bit float.
  auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(TClock::now() - start).count();
  return static_cast<float>(ms / 1000.0);
}

int32_t RoundToInt(double v) { return static_cast<int32_t>(std::nearbyint(v)); }

}  // namespace

std::string DriverStatusText(TDriverStatus status) { return Text(kStatusTexts[static_cast<int>(status)]); }

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
                        TDriverObserver& observer, const std::atomic<bool>& cancel, char decimalPoint) {
  TFileResult result;
  auto setStatus = [&](const std::string& text) {
    result.Status = text;
    observer.Status(text);
  };

  setStatus(DriverStatusText(TDriverStatus::Open));
  observer.Cell(5, "");
  observer.Cell(4, "");
  observer.Cell(6, "");

  TWavRecord input;
  if (!OpenWav(inputPath, input)) {
    setStatus(input.ErrorMsg);
    return result;
  }
  result.FormatText = WavFormatText(input);
  result.LengthText = WavDurationText(input);
  result.SampleRate = input.Format.nSamplesPerSec;
  result.Channels = input.Format.nChannels;
  result.Frames = input.NumFrames;

  setStatus(DriverStatusText(TDriverStatus::CreateFile));
  const std::string outputPath = OutputFileName(inputPath, settings);
  TWavRecord output;
  output.Format = input.Format;
  if (!CreateWav(outputPath, output)) {
    // Also the case when the output would be the input itself: the open input refuses it.
    setStatus(output.ErrorMsg);
    CloseWav(input);
    return result;
  }
  // Remembered so that the finish can tell whether the data went into a file the user can still reach.
  dev_t outputDev = 0;
  ino_t outputIno = 0;
  const bool outputKnown = FileIdentity(outputPath, outputDev, outputIno);
  observer.OutputCreated(outputPath);

  const uint32_t numFrames = input.NumFrames;
  const double sampleRate = input.Format.nSamplesPerSec;
  observer.ProgressMax(numFrames);
  const TClock::time_point start = TClock::now();
  int64_t clickTotal = 0;
  int64_t position = 0;
  int64_t writeSkip = 0;
  observer.DensityReset();

  auto discardOutput = [&] {
    CloseWav(output);
    CloseWav(input);
    ::unlink(outputPath.c_str());
  };

  setStatus(DriverStatusText(TDriverStatus::Initialize));
  TClickEngine engine;
  std::string errorText;
  if (!engine.InitEngine(input, kFloorDb, errorText)) {
    setStatus(errorText);
    discardOutput();
    return result;
  }

  setStatus(DriverStatusText(TDriverStatus::Running));
  bool fileFailed = false, runFailed = false;

  // The cancellation check shared by every callback the worker reaches.
  auto checkCancel = [&cancel] {
    if (cancel.load(std::memory_order_relaxed)) throw TCancelled{};
  };

  for (;;) {
    observer.Progress(static_cast<uint32_t>(position));
    if (!engine.ReadBlock(input, static_cast<int32_t>(position), errorText)) {
      setStatus(errorText);
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
      observer.Repair(repair);
      observer.ClickRepaired(engine);
      checkCancel();
    };
    worker.Run([&] { observer.Idle(); });

    if (!worker.ErrorText.empty()) {
      setStatus(worker.ErrorText);
      runFailed = fileFailed = true;
      break;
    }
    if (cancel.load()) {
      fileFailed = true;
      break;
    }
    const int32_t blockClicks = worker.ClickCount;
    observer.DensityPoint(static_cast<float>(position / sampleRate / 60.0), static_cast<float>(blockClicks / 2.0));
    clickTotal += blockClicks;
    observer.Cell(4, std::to_string(clickTotal));
    observer.BlockDone(position, blockClicks);

    if (!engine.WriteBlock(output, static_cast<int32_t>(position), static_cast<int32_t>(writeSkip), errorText)) {
      setStatus(errorText);
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
    const double elapsed = SecondsSince(start);
    observer.Cell(6, SecondsToHMS(RoundToInt((static_cast<double>(numFrames) / position - 1.0) * elapsed)));
    observer.Cell(5, FormatClicksPerSec(clickTotal / (position / sampleRate), decimalPoint));
  }
  if (!fileFailed) observer.Progress(numFrames);

  const bool cancelled = cancel.load();
  if (cancelled || fileFailed || runFailed) {
    discardOutput();
  } else if (!CloseWavWithTail(output, input)) {
    // The output could not be finished (its sizes not patched): it is not a complete file.
    setStatus(output.ErrorMsg);
    discardOutput();
    fileFailed = true;
  } else {
    CloseWav(input);
    dev_t dev = 0;
    ino_t ino = 0;
    if (!outputKnown || !FileIdentity(outputPath, dev, ino) || dev != outputDev || ino != outputIno) {
      // Writes into a file without a name all succeed, yet leave nothing behind; whatever now
      // carries the name is not ours and stays.
      setStatus(Text(kOutputVanished));
      runFailed = true;
    }
  }
  result.Clicks = clickTotal;
  result.Seconds = SecondsSince(start);

  if (cancelled) {
    setStatus(DriverStatusText(TDriverStatus::Cancelled));
    result.Outcome = TFileOutcome::Cancelled;
    return result;
  }
  if (runFailed) {
    result.Outcome = TFileOutcome::RunFailed;
    return result;
  }
  if (fileFailed) {
    result.Outcome = TFileOutcome::Failed;
    return result;
  }
  result.OutputPath = outputPath;
  result.Outcome = TFileOutcome::Done;
  setStatus(DriverStatusText(TDriverStatus::Done));
  observer.Cell(5, FormatClicksPerSec(clickTotal / (numFrames / sampleRate), decimalPoint));
  observer.Cell(6, SecondsToHMS(RoundToInt(result.Seconds)));
  return result;
}

}  // namespace klarwell
