#pragma once

#include <cstddef>
#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

#include "app/BatchClock.h"

namespace klarwell::cli {

// One file in flight as the progress line shows it.
struct TProgressItem {
  size_t Number = 0;  // 1-based place among the run's files
  std::string Name;   // file name without its folder
  int Percent = 0;
  std::string Remaining;  // estimated time left, empty until known
};

// The progress line for the files in flight, in at most width - 1 terminal columns (so that the
// cursor never wraps), e.g. "[2/5] side a.wav  37%  00:01:12 remaining". Names are shortened in the
// middle before anything else; then the word "remaining" is given once, at the end; when not every
// file fits even so, the first ones are shown with "+N" for the rest; a single file too wide loses
// the word, then the time, then its name, and is cut last of all.
// Control characters in names are shown as '?'. `remainingWord` is the translated "remaining".
// `runRemaining`, when not empty, is the whole run's time left (e.g. "all 00:09:30"), shown at the end
// as long as the line has room for it with one file.
std::string ProgressLine(const std::vector<TProgressItem>& items, size_t fileCount, int width,
                         const std::string& remainingWord, const std::string& runRemaining = {});

// Columns of the terminal on stderr; else $COLUMNS; else 80.
int TerminalWidth();

// What the files in flight report, shared between the jobs and the painter.
struct TProgress {
  struct TEntry {
    std::string Name;
    uint32_t Max = 0, Pos = 0;
    std::string Remaining;
    bool Active = false;
  };
  std::mutex Mutex;
  std::vector<TEntry> Entries;  // one per file of the run, in order
  TBatchClock Clock;            // the whole run's time left, same files, same order

  // Redraws the line on stderr ("\r", clear to the end, the line); with `clear` only clears it.
  void Draw(bool clear);
};

}  // namespace klarwell::cli
