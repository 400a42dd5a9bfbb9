// An event in the Windows sense: a flag threads wait on. A manual-reset event
// stays signalled until Reset; an auto-reset event releases one waiter and
// clears itself. In-process only; see named_event.h for the shared kind.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <mutex>

namespace platform {

inline constexpr uint32_t kWaitForever = 0xFFFFFFFF;

class Event {
 public:
  Event(bool manual_reset, bool initially_signalled);
  Event(const Event&) = delete;
  Event& operator=(const Event&) = delete;

  void Set();
  void Reset();
  // True when the event was signalled within the time-out.
  bool Wait(uint32_t timeout_ms = kWaitForever);
  bool IsSet() const;

 private:
  const bool manual_reset_;
  bool signalled_;
  mutable std::mutex mutex_;
  std::condition_variable changed_;
};

}  // namespace platform
