#include <windows.h>

#include <algorithm>

#include "platform/clock.h"
#include "platform/file.h"
#include "platform/named_event.h"
#include "platform/window_endpoint.h"

namespace platform {
namespace {
// How often the shared state is looked at while waiting.
constexpr uint32_t kHoldPollMs = 50;
}  // namespace

NamedEvent::NamedEvent(std::string name) : name_(std::move(name)) {}

std::string NamedEvent::HoldFile() const { return SessionDirectory() + "\\" + name_ + ".hold"; }

// Another process holds the event reset through the session's named event
// of that name (a manual-reset event, created signalled when nobody has it)
// or, as on the other platforms, through the hold file.
WaitResult NamedEvent::Wait(uint32_t timeout_ms) {
  HANDLE shared = ::CreateEventA(nullptr, TRUE, TRUE, name_.c_str());
  const std::string hold = HoldFile();
  const uint32_t start = TickCount();
  WaitResult result = WaitResult::kTimeout;
  for (;;) {
    const bool shared_set = shared == nullptr || ::WaitForSingleObject(shared, 0) == WAIT_OBJECT_0;
    const bool held = !shared_set || FileExists(hold);
    if (!held && local_.IsSet()) {
      result = WaitResult::kAcquired;
      break;
    }
    uint32_t waited = TickCount() - start;
    if (waited >= timeout_ms) break;
    uint32_t step = std::min(kHoldPollMs, timeout_ms - waited);
    if (!shared_set) {
      ::WaitForSingleObject(shared, step);
    } else if (held) {
      SleepMs(step);
    } else {
      local_.Wait(step);
    }
  }
  if (shared != nullptr) ::CloseHandle(shared);
  return result;
}

}  // namespace platform
