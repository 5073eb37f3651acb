#pragma once

#include <QString>

#include "audio/LangText.h"

namespace klarwell {

// Keys of the main window's text table, in table order.
enum TMainText : int {
  txOpenErrorText = 0,  // "Error opening file"
  txOpenErrorCaption,   // "Error on opening"
  txCancelCaption,      // "Cancel"
  txCancelQuestion,     // "Do you really want to cancel ?"
  txRunBtnRunning,      // "Cancel processing"
  txRunBtnIdle,         // "Process Files"
  txAddBtn,
  txDelBtn,
  txSuffixLabel,
  txOutDirLabel,  // also the folder picker's title
  txStatTitle,
  txStatXTitle,
  txStatYTitle,
  txZoomTitle,
  txOpenFilter,  // "display text|pattern"
  txRBvorher,
  txRBnachher,
  txRBDiff100,
  txRBDiff95,
  txPlayingFile,
  txSortGrid,
  txCBShutoff,
  txErrorCaption,
  txMissingOutput,
  txStatusWaiting,
  txStatusOpen,
  txStatusCreate,
  txStatusInitialize,
  txStatusRunning,
  txStatusCancelled,
  txStatusDone,
  txWavDeviceError,
  txDifferentFormats,
  txWavOutputCaption,
  txColFile,  // 34..40: the list's column titles
  txColStatus,
  txColFormat,
  txColLength,
  txColClicks,
  txColDensity,
  txColTime,
  txHelpFirst = 41,  // 41..67: the help text
  txHelpLast = 67,
  txMainTextCount = 68,
};

// The pair of one key (0 .. 67).
const TTextPair& MainTextPair(int key);
// The text of one key in the current language.
QString MainText(int key);

}  // namespace klarwell
