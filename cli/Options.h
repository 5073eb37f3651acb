#pragma once

#include <optional>
#include <string>
#include <vector>

#include "app/BatchDriver.h"

namespace klarwell::cli {

// What the command line asked for.
struct TCliOptions {
  TOutputSettings Settings;
  long Jobs = 1;                       // files processed at once
  bool Json = false;                   // one JSON object per file instead of the table
  bool Quiet = false;                  // no progress display
  bool Reference = false;              // one block at a time, with the reference routines in Engine
  TEngineOptions Engine;               // the engine's mode (--refine) and routines, for every file
  bool Recursive = false;              // folder arguments include their subfolders
  std::vector<std::string> Arguments;  // files and folders, as given
  std::optional<std::string> FilesFrom;  // a list of more of them, one a line; "-" is standard input
};

// Parses the arguments into `options` (Jobs defaults to `cores`). Returns -1 when the run is to go
// on; otherwise the exit status, after help or version has been printed (0) or a wrong call has been
// reported on stderr (2): an unknown option, a bad job count, neither an argument nor a list, an
// output folder that does not exist, neither a suffix nor an output folder. The list is not read here.
int ParseOptions(int argc, char** argv, int cores, TCliOptions& options);

}  // namespace klarwell::cli
