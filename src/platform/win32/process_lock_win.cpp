#include <windows.h>

#include "platform/process_lock.h"

namespace platform {

static_assert(sizeof(ProcessLock) >= sizeof(CRITICAL_SECTION) &&
              alignof(ProcessLock) >= alignof(CRITICAL_SECTION));

namespace {
CRITICAL_SECTION* Section(ProcessLock* lock) { return reinterpret_cast<CRITICAL_SECTION*>(lock); }
}  // namespace

void InitProcessLock(ProcessLock* lock) { ::InitializeCriticalSection(Section(lock)); }
void DestroyProcessLock(ProcessLock* lock) { ::DeleteCriticalSection(Section(lock)); }
void LockProcessLock(ProcessLock* lock) { ::EnterCriticalSection(Section(lock)); }
void UnlockProcessLock(ProcessLock* lock) { ::LeaveCriticalSection(Section(lock)); }

}  // namespace platform
