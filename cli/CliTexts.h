#pragma once

#include "audio/LangText.h"

namespace klarwell::cli {

// The command line's own texts. The column titles are the file list's.
enum TCliText {
  kColFile, kColStatus, kColFormat, kColLength, kColClicks, kColClicksPerSec, kColTime,
  kUsage, kHelp, kBadJobs, kUnknownOption, kNoFiles, kTryHelp, kRemaining,
  kHelpFolders, kNoOutDir, kNoWavInFolder, kCannotReadFolder, kHelpFilesFrom, kCannotReadList,
  kHelpRefine,
  kCliTextCount
};

const char* CliText(TCliText key);

}  // namespace klarwell::cli
