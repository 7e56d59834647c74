#include <pthread.h>

#include <new>

#include "utils/lock.h"

namespace utils {

static_assert(sizeof(pthread_mutex_t) <= 64);

namespace {
pthread_mutex_t* Native(unsigned char* storage) {
  return std::launder(reinterpret_cast<pthread_mutex_t*>(storage));
}
}  // namespace

Lock::Lock() { pthread_mutex_init(new (storage_) pthread_mutex_t, nullptr); }
Lock::~Lock() { pthread_mutex_destroy(Native(storage_)); }
void Lock::Acquire() { pthread_mutex_lock(Native(storage_)); }
void Lock::Release() { pthread_mutex_unlock(Native(storage_)); }

}  // namespace utils
