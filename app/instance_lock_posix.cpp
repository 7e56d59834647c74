#include <fcntl.h>
#include <sys/file.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>

#include "app/instance_lock.h"
#include "app/runtime_folder.h"

namespace app {

namespace {

int OpenLockFile(const std::string& path) {
  return open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
}

// flock with operation, retried when a signal interrupts it.
int Flock(int fd, int operation) {
  int result;
  do {
    result = flock(fd, operation);
  } while (result != 0 && errno == EINTR);
  return result;
}

// The exclusive lock on fd within milliseconds. flock has no time-out, so it is tried
// every 5 ms; a start window lasts a few milliseconds.
bool LockWithin(int fd, uint32_t milliseconds) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(milliseconds);
  for (;;) {
    if (Flock(fd, LOCK_EX | LOCK_NB) == 0) return true;
    if (errno != EWOULDBLOCK || std::chrono::steady_clock::now() >= deadline) return false;
    timespec pause = {0, 5 * 1000 * 1000};
    nanosleep(&pause, nullptr);
  }
}

}  // namespace

bool InstanceLock::Acquire() {
  Release();
  std::string folder = RuntimeFolder();
  if (folder.empty()) return false;
  int start = OpenLockFile(folder + "/Exedeploy.lock");
  if (start < 0) return false;
  int run = OpenLockFile(folder + "/Exedeploy.run");
  if (run < 0) {
    close(start);
    return false;
  }
  window_ = start;
  handle_ = run;
  LockWithin(start, kStartWindowMilliseconds);
  // Inside the window nobody else takes or changes a hold on the run lock (ending
  // instances only let go of theirs), so trying it exclusively and then holding it
  // shared cannot let another start slip in between.
  bool alone = Flock(run, LOCK_EX | LOCK_NB) == 0;
  Flock(run, LOCK_SH);
  return !alone;
}

namespace {

// Unlocked explicitly: a child forked meanwhile shares the descriptor's lock, and closing
// our descriptor alone would leave the lock held until the child closes its copy too.
void UnlockAndClose(intptr_t& fd) {
  if (fd < 0) return;
  Flock(static_cast<int>(fd), LOCK_UN);
  close(static_cast<int>(fd));
  fd = -1;
}

}  // namespace

void InstanceLock::EndStart() { UnlockAndClose(window_); }

void InstanceLock::Release() {
  EndStart();
  UnlockAndClose(handle_);
}

}  // namespace app
