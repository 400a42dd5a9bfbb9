// Bounds one outbound request as a whole. Each connect, send and receive has
// its own time-out, but a broker or proxy that sends a byte just within it,
// again and again, would hold the request (and the heartbeat behind it) for
// hours. When the deadline passes, the connection is shut down, so that
// whatever waits on it returns at once; the request then fails as a
// time-out does.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>

#include "platform/native_types.h"

class RequestDeadline {
 public:
  // Watches socket (not owned) until the deadline or Disarm.
  RequestDeadline(platform::SocketDescriptor socket,
                  std::chrono::steady_clock::time_point deadline);
  // Disarms.
  ~RequestDeadline();
  RequestDeadline(const RequestDeadline&) = delete;
  RequestDeadline& operator=(const RequestDeadline&) = delete;

  // Must come before the socket is closed or handed on: afterwards the
  // watch never touches it.
  void Disarm();
  bool expired() const { return expired_.load(); }

 private:
  void Watch(platform::SocketDescriptor socket, std::chrono::steady_clock::time_point deadline);

  std::mutex mutex_;
  std::condition_variable wake_;
  bool disarmed_ = false;
  std::atomic<bool> expired_{false};
  std::thread watcher_;
};
