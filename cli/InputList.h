#pragma once

#include <string>
#include <vector>

namespace klarwell::cli {

// The files of a run and what the user should hear about the folders among the arguments.
struct TInputList {
  std::vector<std::string> Files;
  std::vector<std::string> Warnings;  // complete lines, in the current language
};

// The arguments with each folder replaced by the WAV files directly inside it (".wav" in any case,
// regular files, symbolic links to them included), sorted by name in byte order. With `recursive`
// a folder's files come first, then its subfolders in the same order, each in full (depth first);
// symbolic links to folders are not followed there, so that a link cannot lead round in a circle.
// Files found in folders whose name without ".wav" ends with `suffix` (when it is not blank) are
// left out: they are outputs of an earlier run. Files named as arguments are taken as they are.
// A folder that yields no file, or cannot be read, gets a warning.
TInputList CollectInputs(const std::vector<std::string>& arguments, bool recursive,
                         const std::string& suffix);

}  // namespace klarwell::cli
