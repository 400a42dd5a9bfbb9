// Counts running client threads (only at log level 4), so that the listen
// thread can wait for them at shutdown.
#pragma once

#include <cstdint>
#include <mutex>

#include "platform/event.h"

class ClientCounter {
 public:
  int Increment();
  // Not below 0; sets the all-done event when the count reaches 0.
  int Decrement();
  bool WaitAllDone(uint32_t timeout_ms) { return all_done_.Wait(timeout_ms); }

 private:
  std::mutex lock_;
  int count_ = 0;
  platform::Event all_done_{true, true};
};

// The process's counter while it is enabled (log level 4), else null. It
// lives as long as the process, so a thread that still holds it is safe.
ClientCounter* TheClientCounter();
void EnableClientCounter(bool enabled);
