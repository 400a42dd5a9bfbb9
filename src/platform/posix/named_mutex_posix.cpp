#include <chrono>

#include "platform/clock.h"
#include "platform/named_mutex.h"

namespace platform {

NamedMutex::NamedMutex(const std::string& name) : shared_(name + ".lock") {}

WaitResult NamedMutex::Lock(uint32_t timeout_ms) {
  const uint32_t start = TickCount();
  if (!local_.try_lock_for(std::chrono::milliseconds(timeout_ms))) {
    return WaitResult::kTimeout;
  }
  if (depth_ == 0) {
    uint32_t waited = TickCount() - start;
    uint32_t left = waited < timeout_ms ? timeout_ms - waited : 0;
    if (!shared_.LockFor(left)) {
      local_.unlock();
      return WaitResult::kTimeout;
    }
  }
  ++depth_;
  return WaitResult::kAcquired;
}

bool NamedMutex::Unlock() {
  // try_lock succeeds only for the owner (recursion) or when nobody holds it.
  if (!local_.try_lock()) return false;
  if (depth_ == 0) {
    local_.unlock();
    return false;
  }
  local_.unlock();
  if (--depth_ == 0) shared_.Unlock();
  local_.unlock();
  return true;
}

}  // namespace platform
