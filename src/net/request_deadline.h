// Bounds one outbound request as a whole, and lets the program's stop end
// it. Each connect, send and receive has its own time-out, but a broker or
// proxy that sends a byte just within it, again and again, would hold the
// request (and the heartbeat behind it) for hours; and a program told to
// stop must not wait for any peer's time-out. When the deadline passes or
// the stop comes, the socket is aborted, so that whatever waits on it
// (connect, proxy negotiation, TLS handshake, send, receive) returns at
// once; the request then fails as a time-out, or as stopped.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <thread>

#include "platform/native_types.h"

class RequestDeadline {
 public:
  // Watches socket (not owned) from its creation until the deadline, the
  // program's stop or Disarm. Made after the stop, the request may run to
  // the end of the stop's grace at most.
  RequestDeadline(platform::SocketDescriptor socket,
                  std::chrono::steady_clock::time_point deadline);
  // Disarms.
  ~RequestDeadline();
  RequestDeadline(const RequestDeadline&) = delete;
  RequestDeadline& operator=(const RequestDeadline&) = delete;

  // Must come before the socket is closed or handed on: afterwards the
  // watch never touches it.
  void Disarm();
  // The request's own deadline passed.
  bool expired() const { return expired_.load(); }
  // The program's stop ended it.
  bool stopped() const { return stopped_.load(); }
  // True once either ended it: for a connect that waits without the socket.
  const std::atomic<bool>& abandoned() const { return abandoned_; }

 private:
  friend void StopOutboundRequests(uint32_t grace_ms);
  void Watch();
  // Ends the request now, as the stop does (under the registry's lock).
  void Stop();
  void Abort(std::atomic<bool>& cause);

  std::mutex mutex_;
  std::condition_variable wake_;
  bool disarmed_ = false;
  bool aborted_ = false;
  std::chrono::steady_clock::time_point deadline_;
  bool deadline_is_stop_ = false;  // the stop's grace came first
  platform::SocketDescriptor socket_;
  // The requests under way, linked through themselves: a module's copy of
  // this code allocates nothing that its unloading would leave behind.
  RequestDeadline* previous_ = nullptr;
  RequestDeadline* next_ = nullptr;
  bool listed_ = false;
  std::atomic<bool> expired_{false};
  std::atomic<bool> stopped_{false};
  std::atomic<bool> abandoned_{false};
  std::thread watcher_;
};

// The program is ending: every outbound request under way ends at once, and
// those begun from now on end grace_ms after the latest call at most (the
// logout at the end still goes out to a broker that answers). Any thread.
void StopOutboundRequests(uint32_t grace_ms);
// Lifts the stop, for a process that goes on after it (a test).
void ResumeOutboundRequests();
// True once the stop came: a request that failed then says nothing about
// its server, and the state it would change stays as it was.
bool OutboundRequestsStopped();
// Waits until no request is under way, up to timeout_ms: after a stop, the
// requests it ended have let go of their sockets. False when time ran out.
bool WaitForOutboundRequestsEnded(uint32_t timeout_ms);
