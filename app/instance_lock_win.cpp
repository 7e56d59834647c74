#include <windows.h>

#include "app/instance_lock.h"

namespace app {

bool InstanceLock::Acquire() {
  Release();
  // No security attributes: the handle is not inherited by the browser we start. The
  // creator owns the mutex at once; a named mutex that existed before is not owned by
  // this call, whatever its second argument says.
  HANDLE mutex = CreateMutexW(nullptr, TRUE, L"Trellium-Exedeploy-Mutex");
  DWORD error = GetLastError();
  if (!mutex) return false;
  handle_ = reinterpret_cast<intptr_t>(mutex);
  if (error != ERROR_ALREADY_EXISTS) {
    window_ = 1;
    return false;
  }
  // Another instance runs, and may be starting right now: its record is written before
  // it lets go of the mutex. An owner that ended without letting go abandons it to us.
  DWORD waited = WaitForSingleObject(mutex, kStartWindowMilliseconds);
  if (waited == WAIT_OBJECT_0 || waited == WAIT_ABANDONED) window_ = 1;
  return true;
}

void InstanceLock::EndStart() {
  if (window_ == 1 && handle_ != -1 && handle_ != 0) {
    ReleaseMutex(reinterpret_cast<HANDLE>(handle_));
  }
  window_ = -1;
}

void InstanceLock::Release() {
  EndStart();
  if (handle_ != -1 && handle_ != 0) CloseHandle(reinterpret_cast<HANDLE>(handle_));
  handle_ = -1;
}

}  // namespace app
