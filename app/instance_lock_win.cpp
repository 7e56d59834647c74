#include <windows.h>

#include "app/instance_lock.h"

namespace app {

bool InstanceLock::Acquire() {
  Release();
  // No security attributes: the handle is not inherited by the browser we start.
  HANDLE mutex = CreateMutexW(nullptr, TRUE, L"Trellium-Exedeploy-Mutex");
  DWORD error = GetLastError();
  if (!mutex) return false;
  handle_ = reinterpret_cast<intptr_t>(mutex);
  return error == ERROR_ALREADY_EXISTS;
}

void InstanceLock::Release() {
  if (handle_ != -1 && handle_ != 0) CloseHandle(reinterpret_cast<HANDLE>(handle_));
  handle_ = -1;
}

}  // namespace app
