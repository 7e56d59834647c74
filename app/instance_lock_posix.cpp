#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>

#include "app/instance_lock.h"
#include "app/runtime_folder.h"

namespace app {

bool InstanceLock::Acquire() {
  Release();
  std::string folder = RuntimeFolder();
  if (folder.empty()) return false;
  std::string path = folder + "/Exedeploy.lock";
  int fd = open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
  if (fd < 0) return false;
  handle_ = fd;
  // Alone when the exclusive lock can be had at once. Every instance then holds the
  // lock shared for its whole run, as every instance holds a handle to the mutex on
  // Windows, so the lock "exists" while any instance runs.
  if (flock(fd, LOCK_EX | LOCK_NB) == 0) {
    flock(fd, LOCK_SH);
    return false;
  }
  int result;
  do {
    result = flock(fd, LOCK_SH);
  } while (result != 0 && errno == EINTR);
  return true;
}

void InstanceLock::Release() {
  if (handle_ >= 0) {
    close(static_cast<int>(handle_));  // closing drops the lock
    handle_ = -1;
  }
}

}  // namespace app
