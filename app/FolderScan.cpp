#include "app/FolderScan.h"

#include <dirent.h>
#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <memory>

#include "audio/WavFile.h"

namespace klarwell {

namespace {

bool EndsWith(const std::string& text, const std::string& end) {
  return text.size() >= end.size() && text.compare(text.size() - end.size(), end.size(), end) == 0;
}

std::string Join(const std::string& folder, const std::string& name) {
  return !folder.empty() && folder.back() == '/' ? folder + name : folder + "/" + name;
}

}  // namespace

bool ScanTakesName(const std::string& name, const std::string& suffix) {
  if (!IsAudioFileName(name)) return false;
  const bool suffixGiven = suffix.find_first_not_of(" \t") != std::string::npos;
  return !(suffixGiven && EndsWith(name.substr(0, name.find_last_of('.')), suffix));
}

void ScanFolder(const std::string& folder, bool recursive, const std::string& suffix, TFolderScan& scan) {
  std::unique_ptr<DIR, int (*)(DIR*)> dir(::opendir(folder.c_str()), &::closedir);
  if (!dir) {
    scan.Unreadable.push_back({folder, errno});
    return;
  }
  std::vector<std::string> files, folders;
  while (const dirent* entry = ::readdir(dir.get())) {
    const std::string name = entry->d_name;
    if (name == "." || name == "..") continue;
    const std::string path = Join(folder, name);
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) continue;
    if (S_ISREG(st.st_mode) && ScanTakesName(name, suffix)) {
      files.push_back(name);
    } else if (recursive && S_ISDIR(st.st_mode)) {
      struct stat own {};
      if (::lstat(path.c_str(), &own) == 0 && S_ISDIR(own.st_mode)) folders.push_back(name);
    }
  }
  dir.reset();
  // std::string compares its chars as unsigned: byte order, whatever the locale.
  std::sort(files.begin(), files.end());
  std::sort(folders.begin(), folders.end());
  for (const std::string& f : files) scan.Files.push_back(Join(folder, f));
  for (const std::string& f : folders) ScanFolder(Join(folder, f), recursive, suffix, scan);
}

}  // namespace klarwell
