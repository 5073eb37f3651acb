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

// The table's header line: the file list's column titles, tab-separated.
// The file name part of a path, as the table and the progress line show it.
std::string BaseName(const std::string& path);

std::string TableHeader();

// One tab-separated table line in the file list's columns. The Status column holds the status text,
// followed by ": " and the system's reason when there is one.
std::string TableLine(const std::string& file, const TOutcome& outcome, char decimalPoint);

// One JSON object on one line, for scripts: untranslated codes beside the translated texts.
std::string JsonLine(const std::string& file, const TOutcome& outcome);

}  // namespace klarwell::cli
