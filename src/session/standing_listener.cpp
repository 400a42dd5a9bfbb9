#include "session/standing_listener.h"

#include <mutex>

namespace {

std::mutex g_lock;
std::function<void()>& Listener() {
  // Never destroyed: a beat may end while the process exits.
  static auto* listener = new std::function<void()>();
  return *listener;
}

}  // namespace

void SetStandingListener(std::function<void()> listener) {
  std::lock_guard<std::mutex> hold(g_lock);
  Listener() = std::move(listener);
}

void NotifyStandingChanged() {
  std::function<void()> listener;
  {
    std::lock_guard<std::mutex> hold(g_lock);
    listener = Listener();
  }
  if (listener) listener();
}
