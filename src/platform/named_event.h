// A named manual-reset event shared with other processes of the user's
// session, as the stand-in for a Windows named event. In-process it is an
// Event, signalled at creation; another process holds it reset for as long
// as the file "<name>.hold" exists in the session directory (see
// window_endpoint.h), which lets another component make waiters wait.
#pragma once

#include <cstdint>
#include <string>

#include "platform/event.h"
#include "platform/named_mutex.h"

namespace platform {

class NamedEvent {
 public:
  explicit NamedEvent(std::string name);

  void Set() { local_.Set(); }
  void Reset() { local_.Reset(); }
  // kAcquired when signalled (and not held) within the time-out.
  WaitResult Wait(uint32_t timeout_ms);
  std::string HoldFile() const;

 private:
  std::string name_;
  Event local_{true, true};
};

}  // namespace platform
