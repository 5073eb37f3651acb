#include "app/RunTexts.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iterator>

#include "app/BatchDriver.h"
#include "audio/WavFile.h"

namespace klarwell {

namespace {

// In TFileStatus order, up to the first kind that carries a message.
const TTextPair kStatusTexts[] = {
    {"warte", "waiting"},
    {"öffne", "open"},
    {"erzeuge Datei", "create file"},
    {"initialisiere", "initialize"},
    {"läuft", "running"},
    {"fertig", "done"},
    {"abgebrochen", "cancelled"},
    {"nicht begonnen", "not started"},
    {"Ausgabe schon von anderer Datei belegt", "output already taken by another file"},
};
static_assert(std::size(kStatusTexts) == static_cast<size_t>(TFileStatus::OpenError));

// In TFileWarning order.
const TTextPair kWarningTexts[] = {
    {"Datei kürzer als im Kopf angegeben", "file shorter than its header"},
};

const TTextPair kColumnTitles[ColumnCount] = {
    {"Datei", "File"},    {"Status", "Status"},         {"Format", "Format"}, {"Länge", "Length"},
    {"Klicks", "Clicks"}, {"Klicks/sek", "Clicks/sec"}, {"Zeit", "Time"},
};

const TTextPair kMissingOutput = {"Es muß ein Dateisuffix oder ein Ausgabeverzeichnis angegeben werden.",
                                  "File suffix or output directory must be given."};

}  // namespace

const TTextPair& StatusTextPair(TFileStatus status) {
  // A kind that carries a message has no pair; its neighbour's would be wrong, an empty text is not.
  static const TTextPair none = {"", ""};
  return CarriesMessage(status) ? none : kStatusTexts[static_cast<int>(status)];
}

std::string StatusText(TFileStatus status, const std::string& message) {
  return CarriesMessage(status) ? message : Text(StatusTextPair(status));
}

std::string StatusText(const TFileResult& result) {
  return StatusText(result.Status, result.Message);
}

std::string WarningText(TFileWarning warning) {
  return Text(kWarningTexts[static_cast<int>(warning)]);
}

std::string ResultText(const TFileResult& result) {
  std::string text = StatusText(result);
  if (!result.Reason.empty()) text += ": " + result.Reason;
  for (TFileWarning warning : result.Warnings) text += " (" + WarningText(warning) + ")";
  return text;
}

const TTextPair& ColumnTitlePair(int column) {
  if (column < 0 || column >= ColumnCount) column = colFile;
  return kColumnTitles[column];
}

std::string ColumnTitle(int column) {
  return Text(ColumnTitlePair(column));
}

const TTextPair& MissingOutputPair() {
  return kMissingOutput;
}

std::string MissingOutputText() {
  return Text(kMissingOutput);
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

std::string FormatSeconds(double seconds) {
  return SecondsToHMS(static_cast<int32_t>(std::nearbyint(seconds)));
}

}  // namespace klarwell
