// A mutex named across processes, like a Windows named mutex: recursive for
// its owner thread, exclusive between threads and between processes that
// share the working directory. In-process an owner and a depth under a
// mutex and condition variable (ThreadSanitizer follows these, not every
// timed lock); across processes an advisory lock on the file "<name>.lock" in
// the current directory, taken by the outermost lock of the owning thread.
// On Windows it is the system's named mutex of the session.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>

#include "platform/file_lock.h"

namespace platform {

enum class WaitResult { kAcquired, kAbandoned, kTimeout, kFailed };

class NamedMutex {
 public:
  explicit NamedMutex(const std::string& name);
  ~NamedMutex();
  NamedMutex(const NamedMutex&) = delete;
  NamedMutex& operator=(const NamedMutex&) = delete;

  WaitResult Lock(uint32_t timeout_ms);
  // False when the calling thread does not hold the mutex.
  bool Unlock();

 private:
  std::mutex state_;
  std::condition_variable released_;
  std::thread::id owner_;  // guarded by state_
  int depth_ = 0;          // guarded by state_
  FileLock shared_;        // used by the owner only
  void* native_ = nullptr;  // the system's own named mutex, where it has one
};

}  // namespace platform
