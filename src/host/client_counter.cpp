#include "host/client_counter.h"

#include <atomic>

namespace {
std::atomic<bool> g_enabled{false};
}

// The event changes under the count's lock, so it always agrees with it.
int ClientCounter::Increment() {
  std::lock_guard<std::mutex> lock(lock_);
  all_done_.Reset();
  return ++count_;
}

int ClientCounter::Decrement() {
  std::lock_guard<std::mutex> lock(lock_);
  if (count_ > 0) --count_;
  if (count_ == 0) all_done_.Set();
  return count_;
}

ClientCounter* TheClientCounter() {
  static ClientCounter* counter = new ClientCounter();  // never destroyed: see the header
  return g_enabled.load() ? counter : nullptr;
}

void EnableClientCounter(bool enabled) { g_enabled.store(enabled); }
