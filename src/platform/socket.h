// TCP sockets with their error numbers. The "last socket error" of the
// system is errno here.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "platform/native_types.h"
#include "platform/sys_result.h"

namespace platform {

// One receive; value is the byte count (0 = orderly close).
SysResult<long> Receive(SocketDescriptor socket, char* buffer, size_t size);
// Sends all of data unless the connection fails; value is the bytes sent.
// With more_follows the bytes may wait for the next send, so that a header
// and the blocks after it leave in full segments. With stall_ms, gives up
// (error EAGAIN) once the peer has acknowledged no byte for that long.
SysResult<long> Send(SocketDescriptor socket, std::string_view data, bool more_follows = false,
                     uint32_t stall_ms = 0);

// Waits up to milliseconds until a receive or a send would not block (or
// the connection failed). False on the time-out.
bool WaitReadable(SocketDescriptor socket, uint32_t milliseconds);
bool WaitWritable(SocketDescriptor socket, uint32_t milliseconds);

// Bytes handed to the system for this connection that the peer has not yet
// acknowledged, sent or not; -1 when the system does not tell.
long UnacknowledgedBytes(SocketDescriptor socket);

// How often a watched send looks at the peer's progress.
inline constexpr uint32_t kSendProgressSliceMs = 1000;

// Tells a peer that takes bytes from one that has stopped: a send buffer
// that keeps growing accepts bytes long after the peer read its last one, so
// only what the peer acknowledged counts.
class SendProgress {
 public:
  SendProgress(SocketDescriptor socket, uint32_t stall_ms)
      : socket_(socket),
        stall_(stall_ms),
        start_queue_(UnacknowledgedBytes(socket)),
        last_progress_(std::chrono::steady_clock::now()) {}

  void Handed(uint64_t bytes) { handed_ += static_cast<int64_t>(bytes); }

  // True once nothing new has been acknowledged for the stall time.
  bool Stalled() {
    const long queue = UnacknowledgedBytes(socket_);
    const int64_t acknowledged =
        queue < 0 || start_queue_ < 0 ? handed_ : handed_ + start_queue_ - queue;
    const auto now = std::chrono::steady_clock::now();
    if (acknowledged > best_) {
      best_ = acknowledged;
      last_progress_ = now;
      return false;
    }
    return now - last_progress_ >= stall_;
  }

 private:
  SocketDescriptor socket_;
  std::chrono::milliseconds stall_;
  long start_queue_;
  int64_t handed_ = 0;
  int64_t best_ = 0;
  std::chrono::steady_clock::time_point last_progress_;
};

// A write to a connection the peer has closed fails with an error instead
// of ending the process (a signal on POSIX; nothing to do elsewhere).
void IgnoreBrokenPipes();

// Starts the system's socket library for the program, once at start-up:
// Windows asks Winsock for version 2.2 and says whether it was granted;
// elsewhere there is nothing to start.
enum class SocketsStart { kStarted, kFailed, kWrongVersion };
SocketsStart StartSockets();

SysResult<SocketDescriptor> CreateTcpSocket();
int CloseSocket(SocketDescriptor socket);
int ShutdownSend(SocketDescriptor socket);
// Also wakes a thread blocked in Accept on a listening socket.
int ShutdownBoth(SocketDescriptor socket);
// From another thread: every wait on socket ends at once with an error (a
// connect under way, a send, a receive, and so a TLS handshake or a proxy's
// negotiation on it). Windows cancels the pending calls as well, which a
// shutdown alone does not promise there. The socket stays open: the thread
// that uses it closes it.
void AbortSocket(SocketDescriptor socket);
// Binds to every local IPv4 address on port.
int BindAny(SocketDescriptor socket, uint16_t port);
// Binds to 127.0.0.1 on port (0 picks a free one).
int BindLoopback(SocketDescriptor socket, uint16_t port);
// backlog: connections the system completes before they are accepted (0
// lets one wait and leaves later ones unanswered); by default the most.
inline constexpr int kMostWaiting = -1;
int Listen(SocketDescriptor socket, int backlog = kMostWaiting);
// The accepted socket, and the peer's dotted IPv4 address in peer.
SysResult<SocketDescriptor> Accept(SocketDescriptor listener, std::string* peer);
int ConnectLoopback(SocketDescriptor socket, uint16_t port);
SysResult<uint16_t> LocalPort(SocketDescriptor socket);

// The listener's address options: the first bind pass keeps the port to
// this socket alone; the second may share it with connections of an
// earlier run still closing.
int SetExclusiveAddress(SocketDescriptor socket);
int SetReuseAddress(SocketDescriptor socket);

// Options of accepted connections.
int SetLinger(SocketDescriptor socket, bool on, int seconds);
int SetReceiveTimeout(SocketDescriptor socket, uint32_t milliseconds);
int SetSendTimeout(SocketDescriptor socket, uint32_t milliseconds);
// Sets a linger and receive and send time-outs on a listener for the
// connections it will accept, where the system hands them on (Linux): true
// when it does, and connections need no calls of their own. Elsewhere
// false, and nothing is set.
bool SetInheritedOptions(SocketDescriptor listener, int linger_seconds, uint32_t receive_ms,
                         uint32_t send_ms);
// While held, a connection sends only full segments; the rest goes with
// the shutdown, in the same segment as the end of the stream, so the peer
// acknowledges both at once and a lingering close need not wait for it.
// A listener hands it on to its connections (Linux; elsewhere nothing is
// held and this does nothing).
int HoldPartialSegments(SocketDescriptor socket, bool hold);
struct Linger {
  uint16_t on;
  uint16_t seconds;
};
SysResult<Linger> GetLinger(SocketDescriptor socket);
SysResult<uint32_t> GetReceiveTimeout(SocketDescriptor socket);

// Raises the soft limit of open descriptors to the hard limit, so that many
// idle connections do not starve accept. The new soft limit, or -1.
long RaiseDescriptorLimit();

int LastSocketError();
void ClearLastSocketError();
// True for the error a send or receive time-out (or a connect that got no
// answer) leaves.
bool IsTimeoutError(int error);

}  // namespace platform
