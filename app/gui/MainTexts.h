#pragma once

#include <QString>

#include "text/LangText.h"

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

// The pair of one key (0 .. 67). The statuses, the column titles and the missing-output message are
// the run table's (app/RunTexts), which the command line shows too.
const TTextPair& MainTextPair(int key);
// The text of one key in the current language.
QString MainText(int key);

// The window's texts beyond the main table, which keeps its fixed order and size.
enum TWindowText : int {
  wtOutDirMissing = 0,  // message when the output folder does not exist; %1 is the folder as typed
  wtTipPosition,        // tooltip of the position slider TrackBar2
  wtTipDevice,          // tooltip of the device list CBWavDev
  wtTipHelp,            // tooltip of the logo that shows and hides the help
  wtTipDiff100,         // tooltip of RBDiff100
  wtTipDiff95,          // tooltip of RBDiff95
  wtRefine,             // the check box RefineCheck: the engine's refined mode
  wtTipRefine,          // its tooltip
  wtNoWavInFolder,      // a folder added to the list holds no WAV file; %1 is the folder
  wtBatchPlace,         // the progress bar during a batch; %1 file number, %2 file count, %3 time left
  wtBatchPlaceNoTime,   // the same while the time left cannot be told yet
  wtBatchSummary,       // after a batch: %1 done, %2 failed, %3 not started, %4 clicks, %5 time taken
  wtOpenOutputFolder,   // list context menu: show the row's output folder in the file manager
  wtReadmeLink,         // the link label that opens the installed README
  wtOpenFilterAudio,    // the add dialog's first filter, every container the readers take: "display|pattern"
  wtWindowTextCount,
};

const TTextPair& WindowTextPair(int key);
QString WindowText(int key);

}  // namespace klarwell
