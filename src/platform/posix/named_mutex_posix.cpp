#include <chrono>

#include "platform/clock.h"
#include "platform/named_mutex.h"

namespace platform {

NamedMutex::NamedMutex(const std::string& name) : shared_(name + ".lock") {}

// The lock file is the whole cross-process part here: no system mutex.
NamedMutex::~NamedMutex() { static_cast<void>(native_); }

WaitResult NamedMutex::Lock(uint32_t timeout_ms) {
  const std::thread::id self = std::this_thread::get_id();
  const uint32_t start = TickCount();
  std::unique_lock<std::mutex> lock(state_);
  if (owner_ == self) {
    ++depth_;
    return WaitResult::kAcquired;
  }
  if (!released_.wait_for(lock, std::chrono::milliseconds(timeout_ms),
                          [this] { return owner_ == std::thread::id(); })) {
    return WaitResult::kTimeout;
  }
  // Ours in this process; now wait for the other processes outside the lock.
  owner_ = self;
  depth_ = 1;
  lock.unlock();
  uint32_t waited = TickCount() - start;
  if (shared_.LockFor(waited < timeout_ms ? timeout_ms - waited : 0)) {
    return WaitResult::kAcquired;
  }
  lock.lock();
  owner_ = std::thread::id();
  depth_ = 0;
  lock.unlock();
  released_.notify_one();
  return WaitResult::kTimeout;
}

bool NamedMutex::Unlock() {
  std::unique_lock<std::mutex> lock(state_);
  if (owner_ != std::this_thread::get_id()) return false;
  if (--depth_ > 0) return true;
  shared_.Unlock();
  owner_ = std::thread::id();
  lock.unlock();
  released_.notify_one();
  return true;
}

}  // namespace platform
