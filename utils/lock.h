// utils::Lock: a plain, non-recursive-by-contract mutual-exclusion lock for process-wide
// pools and caches, and utils::LockGuard, its scope holder.
//
// Windows uses a critical section; POSIX a pthread mutex. (The mingw-w64 toolchain with
// the win32 thread model has no std::mutex, so the library carries its own.) Any thread
// may acquire it; it is not copyable. Construction and destruction never fail.
#pragma once

#include <cstddef>

namespace utils {

class Lock {
 public:
  Lock();
  ~Lock();
  Lock(const Lock&) = delete;
  Lock& operator=(const Lock&) = delete;

  void Acquire();
  void Release();

 private:
  // Room for a CRITICAL_SECTION (40 bytes on 64-bit Windows) or a pthread_mutex_t (40
  // bytes on 64-bit Linux); the implementations check the size at compile time.
  alignas(8) unsigned char storage_[64];
};

class LockGuard {
 public:
  explicit LockGuard(Lock& lock) : lock_(lock) { lock_.Acquire(); }
  ~LockGuard() { lock_.Release(); }
  LockGuard(const LockGuard&) = delete;
  LockGuard& operator=(const LockGuard&) = delete;

 private:
  Lock& lock_;
};

}  // namespace utils
