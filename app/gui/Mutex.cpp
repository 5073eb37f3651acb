#include "app/gui/Mutex.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <thread>

namespace klarwell {

THandledObject::~THandledObject() {
  if (Fd >= 0) close(Fd);
}

std::string TMutex::LockPath(const std::string& name) {
  const char* runtime = std::getenv("XDG_RUNTIME_DIR");
  if (runtime && runtime[0] == '/') return std::string(runtime) + "/" + name + ".lock";
  // The shared temporary folder: the user id keeps users apart.
  return "/tmp/" + name + "-" + std::to_string(getuid()) + ".lock";
}

bool TMutex::Create(const std::string& name) {
  if (Fd >= 0) return true;
  // O_NOFOLLOW: in a shared folder, a link planted under our name must not make us open another file.
  Fd = open(LockPath(name).c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
  return Fd >= 0;
}

bool TMutex::WaitFor(int timeoutMs) {
  if (Fd < 0) return false;
  if (Owned) return true;
  auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  for (;;) {
    if (flock(Fd, LOCK_EX | LOCK_NB) == 0) {
      Owned = true;
      return true;
    }
    if (errno != EWOULDBLOCK && errno != EINTR) return false;
    if (std::chrono::steady_clock::now() >= deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
}

}  // namespace klarwell
