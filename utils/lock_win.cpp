#include <windows.h>

#include <new>

#include "utils/lock.h"

namespace utils {

static_assert(sizeof(CRITICAL_SECTION) <= 64);

namespace {
CRITICAL_SECTION* Native(unsigned char* storage) {
  return std::launder(reinterpret_cast<CRITICAL_SECTION*>(storage));
}
}  // namespace

Lock::Lock() { InitializeCriticalSection(new (storage_) CRITICAL_SECTION); }
Lock::~Lock() { DeleteCriticalSection(Native(storage_)); }
void Lock::Acquire() { EnterCriticalSection(Native(storage_)); }
void Lock::Release() { LeaveCriticalSection(Native(storage_)); }

}  // namespace utils
