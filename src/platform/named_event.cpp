#include "platform/named_event.h"

#include <algorithm>

#include "platform/clock.h"
#include "platform/file.h"
#include "platform/window_endpoint.h"

namespace platform {
namespace {
// How often a hold file from another process is looked at while waiting.
constexpr uint32_t kHoldPollMs = 50;
}  // namespace

NamedEvent::NamedEvent(std::string name) : name_(std::move(name)) {}

std::string NamedEvent::HoldFile() const { return SessionDirectory() + "/" + name_ + ".hold"; }

WaitResult NamedEvent::Wait(uint32_t timeout_ms) {
  const std::string hold = HoldFile();
  const uint32_t start = TickCount();
  for (;;) {
    const bool held = FileExists(hold);
    if (!held && local_.IsSet()) return WaitResult::kAcquired;
    uint32_t waited = TickCount() - start;
    if (waited >= timeout_ms) return WaitResult::kTimeout;
    uint32_t step = std::min(kHoldPollMs, timeout_ms - waited);
    if (held) {
      SleepMs(step);
    } else {
      local_.Wait(step);
    }
  }
}

}  // namespace platform
