// Holds TCP ports on every local address (listening, so that no server can
// bind them while the object lives, whatever options it sets). A port another process holds for a moment is retried in the
// background until it is held too or StopRetrying is called, so that a
// test leaves the program under test no free candidate.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <thread>
#include <vector>

class PortBlocker {
 public:
  explicit PortBlocker(const std::vector<uint16_t>& ports);
  ~PortBlocker();
  PortBlocker(const PortBlocker&) = delete;
  PortBlocker& operator=(const PortBlocker&) = delete;

  // Ends the retries (the program has finished starting).
  void StopRetrying();
  // The ports not held yet.
  std::vector<uint16_t> missed() const;

 private:
  // Binds what it can of missed_; true when none is left.
  bool HoldMissed();

  mutable std::mutex lock_;
  std::vector<uint16_t> missed_;
  std::vector<intptr_t> sockets_;
  std::atomic<bool> stop_{false};
  std::thread retry_;
};
