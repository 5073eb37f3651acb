#include "cli/Report.h"

#include <cmath>

#include "app/RunTexts.h"
#include "cli/Json.h"

namespace klarwell::cli {

std::string BaseName(const std::string& path) {
  size_t slash = path.find_last_of('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

namespace {

double ClicksPerSecond(const TFileResult& r) {
  if (r.Frames == 0 || r.SampleRate == 0) return 0.0;
  return r.Clicks / (static_cast<double>(r.Frames) / r.SampleRate);
}

}  // namespace

std::string TableHeader() {
  std::string line;
  for (int column = 0; column < ColumnCount; ++column) {
    if (!line.empty()) line += '\t';
    line += ColumnTitle(column);
  }
  return line;
}

std::string TableLine(const std::string& file, const TOutcome& o, char decimalPoint) {
  const TFileResult& r = o.Result;
  const bool done = r.Outcome == TFileOutcome::Done;
  std::string clicks, perSec, time;
  if (done || !o.Blocks.empty()) clicks = std::to_string(r.Clicks);
  if (done) {
    perSec = FormatClicksPerSec(ClicksPerSecond(r), decimalPoint);
    time = FormatSeconds(r.Seconds);
  }
  return file + "\t" + ResultText(r) + "\t" + r.FormatText + "\t" + r.LengthText + "\t" + clicks + "\t" +
         perSec + "\t" + time;
}

std::string JsonLine(const std::string& file, const TOutcome& o) {
  const TFileResult& r = o.Result;
  const bool done = r.Outcome == TFileOutcome::Done;
  TJson j;
  j["file"] = file;
  j["output"] = done ? TJson(r.OutputPath) : TJson();
  j["ok"] = done;
  j["code"] = StatusCodeName(r.Status);
  j["status"] = StatusText(r);
  j["reason"] = r.Reason.empty() ? TJson() : TJson(r.Reason);
  TJson& warnings = j["warnings"] = TJson::array();
  for (TFileWarning w : r.Warnings) warnings.push_back(WarningCodeName(w));
  j["container"] = r.Container.empty() ? TJson() : TJson(r.Container);
  j["format"] = r.FormatText;
  j["length"] = r.LengthText;
  j["sample_rate"] = r.SampleRate;
  j["channels"] = r.Channels;
  j["bits_per_sample"] = r.BitsPerSample;
  // Known only once the input has opened.
  j["format_kind"] = r.BitsPerSample == 0 ? TJson() : TJson(r.FloatFormat ? "float" : "pcm");
  j["frames"] = r.Frames;
  j["clicks"] = r.Clicks;
  j["clicks_per_sec"] = JsonNumber(std::nearbyint(ClicksPerSecond(r) * 100.0) / 100.0);
  j["seconds"] = JsonNumber(std::nearbyint(r.Seconds * 1000.0) / 1000.0);
  TJson& blocks = j["blocks"] = TJson::array();
  for (const auto& [position, clicks] : o.Blocks) {
    blocks.push_back({{"position", position}, {"clicks", clicks}});
  }
  TJson& repairs = j["repairs"] = TJson::array();
  for (const TRepairRecord& rep : o.Repairs) {
    repairs.push_back({{"channel", rep.Channel},
                       {"pass", rep.Pass},
                       {"first", rep.First},
                       {"last", rep.Last},
                       {"changed", rep.Changed},
                       {"counted", rep.Counted},
                       {"mode", rep.Refined ? "refined" : "default"}});
  }
  return JsonDump(j);
}

}  // namespace klarwell::cli
