#include "app/PendingOutput.h"

#include <fcntl.h>
#include <limits.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <memory>
#include <mutex>
#include <random>
#include <set>

#include "app/OutputPlan.h"

namespace klarwell {

namespace {

// The final names that outputs of this process are being written for. Two records writing towards
// one name would each replace the other's result; the second is refused at its start instead.
std::mutex claimsMutex;
std::set<std::string> claims;

// Keeps the temporary name within the file system's name limit, whatever the final name's length.
constexpr size_t kMaxNameBytesKept = 160;
// The random end of a temporary name: letters and digits only, so it never ends in an extension.
constexpr char kLetters[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";

std::string FolderOf(const std::string& path) {
  const size_t slash = path.find_last_of('/');
  if (slash == std::string::npos) return ".";
  return slash == 0 ? "/" : path.substr(0, slash);
}

std::string NameOf(const std::string& path) {
  const size_t slash = path.find_last_of('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

// The path a link at `path` finally names; `path` itself when there is no such file yet.
std::string Target(const std::string& path) {
  std::unique_ptr<char, decltype(&::free)> resolved(::realpath(path.c_str(), nullptr), &::free);
  return resolved ? std::string(resolved.get()) : path;
}

// Flushes a file's (or a folder's) data to the disk; the errno of the failing call, 0 on success.
int Flush(const std::string& path, int flags) {
  const int fd = ::open(path.c_str(), flags | O_CLOEXEC);
  if (fd < 0) return errno;
  const int result = ::fsync(fd) == 0 ? 0 : errno;
  ::close(fd);
  return result;
}

}  // namespace

TPendingOutput::TPendingOutput(const std::string& finalPath) : finalPath_(finalPath) {}

TPendingOutput::~TPendingOutput() {
  Discard();
}

bool TPendingOutput::Create(int& errorNumber) {
  errorNumber = 0;
  targetPath_ = Target(finalPath_);
  claimKey_ = ResolvedPath(finalPath_);
  {
    std::lock_guard<std::mutex> lock(claimsMutex);
    if (!claims.insert(claimKey_).second) return false;
  }
  claimed_ = true;
  const std::string stem =
      FolderOf(targetPath_) + "/." + NameOf(targetPath_).substr(0, kMaxNameBytesKept) + ".part-";
  // Made here rather than by mkstemp, whose files are private to their owner: the output gets the
  // permissions a file created in place would get, or those of the earlier output it replaces.
  struct stat earlier {};
  const bool replaces = ::stat(targetPath_.c_str(), &earlier) == 0;
  std::random_device seed;
  std::mt19937_64 random(seed() ^ static_cast<uint64_t>(::getpid()) << 32);
  int fd = -1;
  for (int attempt = 0; attempt < 100 && fd < 0; ++attempt) {
    std::string path = stem;
    for (int i = 0; i < 6; ++i) path += kLetters[random() % (sizeof kLetters - 1)];
    fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0666);
    if (fd >= 0)
      tempPath_ = path;
    else if (errno != EEXIST)
      break;
  }
  if (fd < 0) {
    errorNumber = errno;
    Release();
    return false;
  }
  struct stat st {};
  const bool known = ::fstat(fd, &st) == 0;
  if (replaces) ::fchmod(fd, earlier.st_mode & 07777);  // a mode the owner cannot set is not worth a failure
  ::close(fd);
  dev_ = known ? st.st_dev : 0;
  ino_ = known ? st.st_ino : 0;
  return true;
}

bool TPendingOutput::Commit(bool& vanished, int& errorNumber) {
  vanished = false;
  errorNumber = 0;
  struct stat st {};
  if (tempPath_.empty() || ::stat(tempPath_.c_str(), &st) != 0 || st.st_dev != dev_ || st.st_ino != ino_) {
    // Whatever carries the temporary name now is not ours: it stays, and so does the final name.
    vanished = true;
    tempPath_.clear();
    Release();
    return false;
  }
  // Without the flush a crash just after the rename could leave the final name on an empty file.
  errorNumber = Flush(tempPath_, O_RDONLY);
  if (errorNumber == 0 && ::rename(tempPath_.c_str(), targetPath_.c_str()) != 0) errorNumber = errno;
  if (errorNumber != 0) {
    Discard();
    return false;
  }
  tempPath_.clear();
  // The rename itself lasts once the folder is flushed; a folder that refuses it still has the file.
  Flush(FolderOf(targetPath_), O_RDONLY | O_DIRECTORY);
  Release();
  return true;
}

void TPendingOutput::Discard() {
  if (!tempPath_.empty()) {
    struct stat st {};
    // Only our own file: one that took the name after ours was removed is someone else's.
    if (::stat(tempPath_.c_str(), &st) == 0 && st.st_dev == dev_ && st.st_ino == ino_)
      ::unlink(tempPath_.c_str());
    tempPath_.clear();
  }
  Release();
}

void TPendingOutput::Release() {
  if (!claimed_) return;
  std::lock_guard<std::mutex> lock(claimsMutex);
  claims.erase(claimKey_);
  claimed_ = false;
}

}  // namespace klarwell
