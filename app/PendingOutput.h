#pragma once

#include <sys/types.h>

#include <string>

namespace klarwell {

// An output that takes its name only once it is complete. The writer writes a hidden temporary file
// beside the final name (same folder, so same file system); Commit flushes it and renames it over
// the final name in one step. Until then an earlier file of that name stays as it was, byte for
// byte, whatever happens to the run: a cancel, a failure or a signal removes only the temporary file.
//
// The temporary name starts with a dot, carries the final name for whoever finds it after a crash,
// and ends in random letters, so no folder scan takes it for an input and no two runs share one.
// One thread at a time.
class TPendingOutput {
 public:
  explicit TPendingOutput(const std::string& finalPath);
  ~TPendingOutput();  // removes the temporary file unless it was committed
  TPendingOutput(const TPendingOutput&) = delete;
  TPendingOutput& operator=(const TPendingOutput&) = delete;

  // Claims the final name for this process and creates the empty temporary file. False, with the
  // failing call's errno in `errorNumber` (0 when the name is claimed by another output of this
  // process), when either fails; nothing is left behind then. The final name's own checks (folder,
  // held open, write-protected) are the caller's, before this.
  bool Create(int& errorNumber);

  // Where the writer writes; empty before Create.
  const std::string& TempPath() const { return tempPath_; }
  // Where a symbolic link at the final name points is where the result goes: the link stays.
  const std::string& TargetPath() const { return targetPath_; }

  // The writer has finished and closed the temporary file: flushed to the disk and renamed over the
  // final name. False when the temporary file no longer is the one created (`vanished`; it or its
  // folder was removed meanwhile) or a call fails (`errorNumber`); the temporary file is then removed
  // and the final name untouched.
  bool Commit(bool& vanished, int& errorNumber);

  // Removes the temporary file (a cancel or a failure). Harmless when there is none.
  void Discard();

 private:
  void Release();  // gives the final name's claim back

  const std::string finalPath_;
  std::string targetPath_;
  std::string claimKey_;  // the final name resolved, as the output plan compares names
  std::string tempPath_;
  bool claimed_ = false;
  dev_t dev_ = 0;
  ino_t ino_ = 0;
};

}  // namespace klarwell
