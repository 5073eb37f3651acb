#include "cli/InputList.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <memory>

#include "cli/CliTexts.h"

#include "audio/WavFile.h"

namespace klarwell::cli {

namespace {

bool IsFolder(const std::string& path) {
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool EndsWith(const std::string& text, const std::string& end) {
  return text.size() >= end.size() && text.compare(text.size() - end.size(), end.size(), end) == 0;
}

std::string Join(const std::string& folder, const std::string& name) {
  return !folder.empty() && folder.back() == '/' ? folder + name : folder + "/" + name;
}

class TCollector {
 public:
  TCollector(bool recursive, const std::string& suffix, TInputList& list)
      : recursive_(recursive), suffix_(suffix), list_(list) {}

  // Adds the folder's files (and its subfolders' when recursive); a folder that cannot be read gets a
  // warning instead.
  void Folder(const std::string& folder) {
    std::unique_ptr<DIR, int (*)(DIR*)> dir(::opendir(folder.c_str()), &::closedir);
    if (!dir) {
      list_.Warnings.push_back(std::string(CliText(kCannotReadFolder)) + folder + ": " +
                               std::strerror(errno));
      return;
    }
    std::vector<std::string> files, folders;
    while (const dirent* entry = ::readdir(dir.get())) {
      const std::string name = entry->d_name;
      if (name == "." || name == "..") continue;
      const std::string path = Join(folder, name);
      struct stat st {};
      if (::stat(path.c_str(), &st) != 0) continue;
      if (S_ISREG(st.st_mode) && IsAudioFileName(name) && !IsEarlierOutput(name)) {
        files.push_back(name);
      } else if (recursive_ && S_ISDIR(st.st_mode)) {
        struct stat own {};
        if (::lstat(path.c_str(), &own) == 0 && S_ISDIR(own.st_mode)) folders.push_back(name);
      }
    }
    dir.reset();
    // std::string compares its chars as unsigned: byte order, whatever the locale.
    std::sort(files.begin(), files.end());
    std::sort(folders.begin(), folders.end());
    for (const std::string& f : files) list_.Files.push_back(Join(folder, f));
    for (const std::string& f : folders) Folder(Join(folder, f));
  }

 private:
  bool IsEarlierOutput(const std::string& name) const {
    return suffix_.find_first_not_of(" \t") != std::string::npos &&
           EndsWith(name.substr(0, name.find_last_of('.')), suffix_);
  }

  const bool recursive_;
  const std::string& suffix_;
  TInputList& list_;
};

}  // namespace

bool ReadInputList(const std::string& listPath, std::vector<std::string>& paths, std::string& reason) {
  const bool standardInput = listPath == "-";
  const int fd = standardInput ? 0 : ::open(listPath.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) {
    reason = std::strerror(errno);
    return false;
  }
  std::string text;
  char buffer[65536];
  ssize_t got;
  while ((got = ::read(fd, buffer, sizeof buffer)) != 0) {
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) break;
    text.append(buffer, static_cast<size_t>(got));
  }
  // A folder opens like a file and fails only at the first read.
  const int readError = got < 0 ? errno : 0;
  if (!standardInput) ::close(fd);
  if (readError) {
    reason = std::strerror(readError);
    return false;
  }
  for (size_t start = 0; start < text.size();) {
    size_t end = text.find('\n', start);
    if (end == std::string::npos) end = text.size();
    std::string line = text.substr(start, end - start);
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (!line.empty()) paths.push_back(std::move(line));
    start = end + 1;
  }
  return true;
}

TInputList CollectInputs(const std::vector<std::string>& arguments, bool recursive,
                         const std::string& suffix) {
  TInputList list;
  TCollector collector(recursive, suffix, list);
  for (const std::string& argument : arguments) {
    if (!IsFolder(argument)) {
      list.Files.push_back(argument);
      continue;
    }
    const size_t before = list.Files.size();
    const size_t warningsBefore = list.Warnings.size();
    collector.Folder(argument);
    // An unreadable folder has said so already.
    if (list.Files.size() == before && list.Warnings.size() == warningsBefore)
      list.Warnings.push_back(std::string(CliText(kNoWavInFolder)) + argument);
  }
  return list;
}

}  // namespace klarwell::cli
