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
  const std::string text = StatusText(r);
  const std::string status = r.Reason.empty() ? text : text + ": " + r.Reason;
  return BaseName(file) + "\t" + status + "\t" + r.FormatText + "\t" + r.LengthText + "\t" + clicks + "\t" +
         perSec + "\t" + time;
}

std::string JsonLine(const std::string& file, const TOutcome& o) {
  const TFileResult& r = o.Result;
  const bool done = r.Outcome == TFileOutcome::Done;
  TJsonWriter j;
  j.BeginObject();
  j.Key("file").String(file);
  j.Key("output");
  if (done) j.String(r.OutputPath); else j.Null();
  j.Key("ok").Bool(done);
  j.Key("code").String(StatusCodeName(r.Status));
  j.Key("status").String(StatusText(r));
  j.Key("reason");
  if (r.Reason.empty()) j.Null(); else j.String(r.Reason);
  j.Key("format").String(r.FormatText);
  j.Key("length").String(r.LengthText);
  j.Key("sample_rate").Int(r.SampleRate);
  j.Key("channels").Int(r.Channels);
  j.Key("bits_per_sample").Int(r.BitsPerSample);
  j.Key("format_kind");
  // Known only once the input has opened.
  if (r.BitsPerSample == 0) j.Null(); else j.String(r.FloatFormat ? "float" : "pcm");
  j.Key("frames").Int(r.Frames);
  j.Key("clicks").Int(r.Clicks);
  j.Key("clicks_per_sec").Number(std::nearbyint(ClicksPerSecond(r) * 100.0) / 100.0);
  j.Key("seconds").Number(std::nearbyint(r.Seconds * 1000.0) / 1000.0);
  j.Key("blocks").BeginArray();
  for (const auto& [position, clicks] : o.Blocks) {
    j.BeginObject().Key("position").Int(position).Key("clicks").Int(clicks).EndObject();
  }
  j.EndArray();
  j.Key("repairs").BeginArray();
  for (const TRepairRecord& rep : o.Repairs) {
    j.BeginObject()
        .Key("channel").Int(rep.Channel)
        .Key("pass").Int(rep.Pass)
        .Key("first").Int(rep.First)
        .Key("last").Int(rep.Last)
        .Key("changed").Bool(rep.Changed)
        .Key("counted").Bool(rep.Counted)
        .Key("mode").String(rep.Refined ? "refined" : "default")
        .EndObject();
  }
  j.EndArray();
  j.EndObject();
  return j.Take();
}

}  // namespace klarwell::cli
