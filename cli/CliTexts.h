#pragma once

#include "text/LangText.h"

namespace klarwell::cli {

// The command line's own texts; the table's column titles and statuses are the file list's (RunTexts).
enum TCliText {
  kUsage, kHelp, kBadJobs, kUnknownOption, kNoFiles, kTryHelp, kRemaining,
  kNoOutDir, kNoWavInFolder, kCannotReadFolder, kCannotReadList,
  kMissingValue, kNoValueTaken, kRunRemaining,
  kCliTextCount
};

const char* CliText(TCliText key);

}  // namespace klarwell::cli
