// The single-instance lock: tells whether any other instance of the runner is running
// for this user, whatever content it serves, and keeps starts apart.
//
// A start takes the lock with Acquire, which waits while another start is between taking
// it and writing its server record (the start window). So the start that comes second
// finds the first one's record (and hands over to that server) instead of starting a
// server of its own: however many copies of one content start at once, one serves.
// EndStart closes the window once the record is written (or the start failed); the
// instance then still counts as running until Release.
//
// Windows: the named mutex "Trellium-Exedeploy-Mutex" in the session's namespace. Its
// existence tells that another instance runs; its ownership is the start window (owned
// from creation, or waited for when it already existed). POSIX: two lock files in the
// runtime folder (see runtime_folder.h): "Exedeploy.lock", held exclusively for the start
// window, and "Exedeploy.run", held shared by every instance for its whole run; an
// exclusive try on it, made inside the window, fails exactly when another instance runs.
// No handle is inherited by children. Main thread only (a mutex is owned by a thread).
#pragma once

#include <cstdint>

namespace app {

class InstanceLock {
 public:
  // How long Acquire waits for another start's window at most. A server start gives up
  // after 10 seconds per port and tries up to three ports; a start that takes longer is
  // taken for hung, and the waiting one goes on as if it had the window.
  static constexpr uint32_t kStartWindowMilliseconds = 45000;

  InstanceLock() = default;
  ~InstanceLock() { Release(); }
  InstanceLock(const InstanceLock&) = delete;
  InstanceLock& operator=(const InstanceLock&) = delete;

  // Takes the lock and opens this start's window, waiting for another start's window to
  // close first. True when another instance already held the lock. A lock that cannot be
  // made counts as no other instance.
  bool Acquire();
  // Closes the start window: other starts may go on. Nothing when it is not open.
  void EndStart();
  // Closes the window and lets go of the lock.
  void Release();

 private:
  intptr_t handle_ = -1;  // HANDLE on Windows (0 = none), run lock's descriptor on POSIX
  intptr_t window_ = -1;  // Windows: 1 while the mutex is owned; POSIX: start lock's fd
};

}  // namespace app
