#include <chrono>

#include "platform/event.h"

namespace platform {

Event::Event(bool manual_reset, bool initially_signalled)
    : manual_reset_(manual_reset), signalled_(initially_signalled) {}

void Event::Set() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    signalled_ = true;
  }
  if (manual_reset_) {
    changed_.notify_all();
  } else {
    changed_.notify_one();
  }
}

void Event::Reset() {
  std::lock_guard<std::mutex> lock(mutex_);
  signalled_ = false;
}

bool Event::IsSet() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return signalled_;
}

bool Event::Wait(uint32_t timeout_ms) {
  std::unique_lock<std::mutex> lock(mutex_);
  auto is_signalled = [this] { return signalled_; };
  if (timeout_ms == kWaitForever) {
    changed_.wait(lock, is_signalled);
  } else if (!changed_.wait_for(lock, std::chrono::milliseconds(timeout_ms),
                                is_signalled)) {
    return false;
  }
  if (!manual_reset_) signalled_ = false;
  return true;
}

}  // namespace platform
