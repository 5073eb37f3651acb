#pragma once

#include <string>

namespace klarwell {

// Holds one operating-system handle (a file descriptor) and closes it on destruction.
class THandledObject {
 public:
  THandledObject() = default;
  ~THandledObject();
  THandledObject(const THandledObject&) = delete;
  THandledObject& operator=(const THandledObject&) = delete;

  int Handle() const { return Fd; }

 protected:
  int Fd = -1;
};

// A named mutex across processes of the same user: a lock file in the user's runtime folder
// ($XDG_RUNTIME_DIR, else the system's temporary folder with the user id in the name) held with
// flock. The lock goes with the process, so a crashed instance never leaves it taken.
class TMutex : public THandledObject {
 public:
  // Creates or opens the named mutex, not owned. False when no handle could be had.
  bool Create(const std::string& name);
  // True when this process owns the mutex now (it may already have owned it). `timeoutMs` 0 only
  // tries; otherwise it retries until the time is up.
  bool WaitFor(int timeoutMs);
  // The lock file's path for `name`.
  static std::string LockPath(const std::string& name);

 private:
  bool Owned = false;
};

}  // namespace klarwell
