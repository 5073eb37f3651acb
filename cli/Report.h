#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "app/BatchDriver.h"

namespace klarwell::cli {

// Everything reported about one input: the road's result and what its observer collected.
struct TOutcome {
  bool Finished = false;  // ready to be reported
  TFileResult Result;
  std::vector<std::pair<int64_t, int32_t>> Blocks;  // each block's first frame and clicks
  std::vector<TRepairRecord> Repairs;               // kept for --json only
};

// The file name part of a path, as the progress line shows it.
std::string BaseName(const std::string& path);

// The table's header line: the file list's column titles, tab-separated.
std::string TableHeader();

// One tab-separated table line in the file list's columns. The File column holds the file as it was
// given (as named, or as found under a folder argument), so that two files of one name in two
// folders can be told apart; the Status column holds ResultText.
std::string TableLine(const std::string& file, const TOutcome& outcome, char decimalPoint);

// One JSON object on one line, for scripts: untranslated codes beside the translated texts.
std::string JsonLine(const std::string& file, const TOutcome& outcome);

}  // namespace klarwell::cli
