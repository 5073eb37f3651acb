#pragma once

#include <string>
#include <vector>

namespace klarwell {

// Whether a folder scan takes a file of this name for an input: an audio file name (IsAudioFileName:
// ".wav", ".flac", ".aif", ".aiff" in any case) that is not an output of an earlier run (its name without the extension ends with `suffix`, when the
// suffix is not blank). The one place that decides it, for the command line and the window alike.
bool ScanTakesName(const std::string& name, const std::string& suffix);

// What a folder scan found.
struct TFolderScan {
  std::vector<std::string> Files;  // folder + "/" + name, in scan order
  struct TUnreadable {
    std::string Folder;
    int ErrorNumber = 0;  // why it could not be read
  };
  std::vector<TUnreadable> Unreadable;
};

// Appends the regular files directly inside `folder` that ScanTakesName takes (symbolic links to
// such files included), sorted by name in byte order. With `recursive` the folder's files come first,
// then its subfolders in the same order, each in full (depth first); symbolic links to folders are
// not followed there, so that a link cannot lead round in a circle. A folder that cannot be read is
// noted in Unreadable. Any thread.
void ScanFolder(const std::string& folder, bool recursive, const std::string& suffix, TFolderScan& scan);

}  // namespace klarwell
