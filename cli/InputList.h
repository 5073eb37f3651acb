#pragma once

#include <string>
#include <vector>

namespace klarwell::cli {

// The files of a run and what the user should hear about the folders among the arguments.
struct TInputList {
  std::vector<std::string> Files;
  std::vector<std::string> Warnings;  // complete lines, in the current language
};

// Appends the paths listed in the file `listPath` ("-": standard input) to `paths`, one a line:
// empty lines are skipped and a CR before the line's end is dropped (lists written on other
// systems); anything else, spaces included, belongs to the path. False, with the system's reason in
// `reason`, when the list cannot be read; `paths` is then unchanged.
bool ReadInputList(const std::string& listPath, std::vector<std::string>& paths, std::string& reason);

// The arguments with each folder replaced by the files ScanFolder finds in it (with `recursive`, in
// its subfolders too), which leaves out the outputs of an earlier run. Files named as arguments are
// taken as they are. A folder that yields no file, or cannot be read, gets a warning.
TInputList CollectInputs(const std::vector<std::string>& arguments, bool recursive,
                         const std::string& suffix);

}  // namespace klarwell::cli
