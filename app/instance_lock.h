// The single-instance lock: tells whether any other instance of the runner is running
// for this user, whatever content it serves. Held until the run's wait has ended.
//
// Windows: the named mutex "Trellium-Exedeploy-Mutex" in the session's namespace; only
// its existence counts. POSIX: a lock file in the runtime folder (see runtime_folder.h)
// that every instance holds with a shared flock for its whole run; an exclusive try
// that fails means somebody else holds it. Neither handle is inherited by children.
#pragma once

#include <cstdint>

namespace app {

class InstanceLock {
 public:
  InstanceLock() = default;
  ~InstanceLock() { Release(); }
  InstanceLock(const InstanceLock&) = delete;
  InstanceLock& operator=(const InstanceLock&) = delete;

  // Takes the lock. True when another instance already held it. A lock that cannot be
  // made counts as no other instance.
  bool Acquire();
  void Release();

 private:
  intptr_t handle_ = -1;  // HANDLE on Windows (0 = none), file descriptor on POSIX
};

}  // namespace app
