#include "cli/InputList.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "app/FolderScan.h"
#include "cli/CliTexts.h"

namespace klarwell::cli {

namespace {

bool IsFolder(const std::string& path) {
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

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
  for (const std::string& argument : arguments) {
    if (!IsFolder(argument)) {
      list.Files.push_back(argument);
      continue;
    }
    TFolderScan scan;
    ScanFolder(argument, recursive, suffix, scan);
    for (const TFolderScan::TUnreadable& u : scan.Unreadable)
      list.Warnings.push_back(std::string(CliText(kCannotReadFolder)) + u.Folder + ": " +
                              std::strerror(u.ErrorNumber));
    // An unreadable folder has said so already.
    if (scan.Files.empty() && scan.Unreadable.empty())
      list.Warnings.push_back(std::string(CliText(kNoWavInFolder)) + argument);
    list.Files.insert(list.Files.end(), scan.Files.begin(), scan.Files.end());
  }
  return list;
}

}  // namespace klarwell::cli
