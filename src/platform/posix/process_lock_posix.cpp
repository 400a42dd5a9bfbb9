#include "platform/process_lock.h"

namespace platform {

void InitProcessLock(ProcessLock* lock) {
  pthread_mutexattr_t attributes;
  pthread_mutexattr_init(&attributes);
  pthread_mutexattr_settype(&attributes, PTHREAD_MUTEX_RECURSIVE);
  pthread_mutex_init(lock, &attributes);
  pthread_mutexattr_destroy(&attributes);
}

void DestroyProcessLock(ProcessLock* lock) { pthread_mutex_destroy(lock); }
void LockProcessLock(ProcessLock* lock) { pthread_mutex_lock(lock); }
void UnlockProcessLock(ProcessLock* lock) { pthread_mutex_unlock(lock); }

}  // namespace platform
