// The process-wide lock handed to modules (tagREQUEST::pLock): a recursive
// mutex that C-ABI code can lock, guarding the record files.
#pragma once

#include "platform/native_types.h"

namespace platform {

void InitProcessLock(ProcessLock* lock);
void DestroyProcessLock(ProcessLock* lock);
void LockProcessLock(ProcessLock* lock);
void UnlockProcessLock(ProcessLock* lock);

}  // namespace platform
