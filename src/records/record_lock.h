// Holds the process-wide lock that guards the record files for one scope.
// A null lock guards nothing (a file used by one thread only).
#pragma once

#include "platform/native_types.h"
#include "platform/process_lock.h"

namespace records {

class RecordLock {
 public:
  explicit RecordLock(platform::ProcessLock* lock) : lock_(lock) {
    if (lock_ != nullptr) platform::LockProcessLock(lock_);
  }
  ~RecordLock() {
    if (lock_ != nullptr) platform::UnlockProcessLock(lock_);
  }
  RecordLock(const RecordLock&) = delete;
  RecordLock& operator=(const RecordLock&) = delete;

 private:
  platform::ProcessLock* lock_;  // not owned
};

}  // namespace records
