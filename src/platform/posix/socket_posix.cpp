#include <arpa/inet.h>
#include <linux/sockios.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <optional>

#include "platform/socket.h"

namespace platform {
namespace {

sockaddr_in IPv4(uint32_t host_order_address, uint16_t port) {
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(port);
  address.sin_addr.s_addr = htonl(host_order_address);
  return address;
}

int Result(int rc) { return rc == 0 ? 0 : errno; }

// inet_ntop's text without its formatted printing, which costs more than
// the rest of an accept.
std::string DottedAddress(uint32_t host_order_address) {
  std::string text;  // at most 15 characters: no allocation
  for (int shift = 24; shift >= 0; shift -= 8) {
    const unsigned octet = (host_order_address >> shift) & 0xFF;
    if (octet >= 100) text += static_cast<char>('0' + octet / 100);
    if (octet >= 10) text += static_cast<char>('0' + octet / 10 % 10);
    text += static_cast<char>('0' + octet % 10);
    if (shift != 0) text += '.';
  }
  return text;
}

}  // namespace

SysResult<long> Receive(SocketDescriptor socket, char* buffer, size_t size) {
  ssize_t n;
  do {
    n = ::recv(socket, buffer, size, 0);
  } while (n < 0 && errno == EINTR);
  if (n < 0) return {-1, errno};
  return {static_cast<long>(n), 0};
}

SysResult<long> Send(SocketDescriptor socket, std::string_view data, bool more_follows,
                     uint32_t stall_ms) {
  const int flags =
      MSG_NOSIGNAL | (more_follows ? MSG_MORE : 0) | (stall_ms != 0 ? MSG_DONTWAIT : 0);
  // Watched from the first wait on: most answers fit the send buffer at once.
  std::optional<SendProgress> progress;
  size_t sent = 0;
  while (sent < data.size()) {
    ssize_t n = ::send(socket, data.data() + sent, data.size() - sent, flags);
    if (n >= 0) {
      sent += static_cast<size_t>(n);
      if (progress) progress->Handed(static_cast<uint64_t>(n));
    } else if (errno == EINTR) {
      continue;
    } else if (stall_ms == 0 || (errno != EAGAIN && errno != EWOULDBLOCK)) {
      return {static_cast<long>(sent), errno};
    } else {
      if (!progress) progress.emplace(socket, stall_ms);
      WaitWritable(socket, kSendProgressSliceMs);
    }
    if (progress && sent < data.size() && progress->Stalled()) {
      return {static_cast<long>(sent), EAGAIN};
    }
  }
  return {static_cast<long>(sent), 0};
}

namespace {

bool WaitFor(SocketDescriptor socket, short events, uint32_t milliseconds) {
  pollfd entry{socket, events, 0};
  const auto deadline =
      std::chrono::steady_clock::now() + std::chrono::milliseconds(milliseconds);
  for (;;) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        deadline - std::chrono::steady_clock::now());
    int rc = ::poll(&entry, 1, static_cast<int>(std::max<int64_t>(left.count(), 0)));
    if (rc > 0) return true;
    if (rc == 0) return false;
    if (errno != EINTR) return true;  // let the next call report it
  }
}

}  // namespace

bool WaitReadable(SocketDescriptor socket, uint32_t milliseconds) {
  return WaitFor(socket, POLLIN, milliseconds);
}

bool WaitWritable(SocketDescriptor socket, uint32_t milliseconds) {
  return WaitFor(socket, POLLOUT, milliseconds);
}

long UnacknowledgedBytes(SocketDescriptor socket) {
  int queued = 0;
  if (::ioctl(socket, SIOCOUTQ, &queued) != 0) return -1;
  return queued;
}

void IgnoreBrokenPipes() { ::signal(SIGPIPE, SIG_IGN); }

SocketsStart StartSockets() { return SocketsStart::kStarted; }

SysResult<SocketDescriptor> CreateTcpSocket() {
  int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return {kInvalidSocket, errno};
  return {fd, 0};
}

int CloseSocket(SocketDescriptor socket) { return Result(::close(socket)); }

int ShutdownSend(SocketDescriptor socket) { return Result(::shutdown(socket, SHUT_WR)); }

int ShutdownBoth(SocketDescriptor socket) { return Result(::shutdown(socket, SHUT_RDWR)); }

// Linux wakes every waiter on a shut socket, a connect under way included.
void AbortSocket(SocketDescriptor socket) { ::shutdown(socket, SHUT_RDWR); }

int BindAny(SocketDescriptor socket, uint16_t port) {
  sockaddr_in address = IPv4(INADDR_ANY, port);
  return Result(::bind(socket, reinterpret_cast<sockaddr*>(&address), sizeof address));
}

int BindLoopback(SocketDescriptor socket, uint16_t port) {
  sockaddr_in address = IPv4(INADDR_LOOPBACK, port);
  return Result(::bind(socket, reinterpret_cast<sockaddr*>(&address), sizeof address));
}

int Listen(SocketDescriptor socket, int backlog) {
  return Result(::listen(socket, backlog == kMostWaiting ? SOMAXCONN : backlog));
}

SysResult<SocketDescriptor> Accept(SocketDescriptor listener, std::string* peer) {
  sockaddr_in address{};
  socklen_t length = sizeof address;
  int fd;
  do {
    fd = ::accept4(listener, reinterpret_cast<sockaddr*>(&address), &length, SOCK_CLOEXEC);
    // EAGAIN: the receive time-out the listener carries for its connections
    // (SetInheritedOptions) also ends each wait in accept.
  } while (fd < 0 && (errno == EINTR || errno == EAGAIN || errno == EWOULDBLOCK));
  if (fd < 0) return {kInvalidSocket, errno};
  if (peer != nullptr) *peer = DottedAddress(ntohl(address.sin_addr.s_addr));
  return {fd, 0};
}

int ConnectLoopback(SocketDescriptor socket, uint16_t port) {
  sockaddr_in address = IPv4(INADDR_LOOPBACK, port);
  int rc;
  do {
    rc = ::connect(socket, reinterpret_cast<sockaddr*>(&address), sizeof address);
  } while (rc != 0 && errno == EINTR);
  return Result(rc);
}

SysResult<uint16_t> LocalPort(SocketDescriptor socket) {
  sockaddr_in address{};
  socklen_t length = sizeof address;
  if (::getsockname(socket, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
    return {0, errno};
  }
  return {ntohs(address.sin_port), 0};
}

// SO_REUSEADDR already refuses a second listener on a port, as the
// exclusive option does, and lets a restarted server rebind over connections
// in TIME_WAIT.
int SetExclusiveAddress(SocketDescriptor socket) { return SetReuseAddress(socket); }

int SetReuseAddress(SocketDescriptor socket) {
  int on = 1;
  return Result(::setsockopt(socket, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on));
}

int SetLinger(SocketDescriptor socket, bool on, int seconds) {
  struct linger value {};
  value.l_onoff = on ? 1 : 0;
  value.l_linger = seconds;
  return Result(::setsockopt(socket, SOL_SOCKET, SO_LINGER, &value, sizeof value));
}

namespace {

int SetTimeout(SocketDescriptor socket, int option, uint32_t milliseconds) {
  struct timeval value {};
  value.tv_sec = milliseconds / 1000;
  value.tv_usec = static_cast<suseconds_t>(milliseconds % 1000) * 1000;
  return Result(::setsockopt(socket, SOL_SOCKET, option, &value, sizeof value));
}

}  // namespace

int SetReceiveTimeout(SocketDescriptor socket, uint32_t milliseconds) {
  return SetTimeout(socket, SO_RCVTIMEO, milliseconds);
}

int SetSendTimeout(SocketDescriptor socket, uint32_t milliseconds) {
  return SetTimeout(socket, SO_SNDTIMEO, milliseconds);
}

// Linux hands a listener's socket options on to the connections it accepts.
bool SetInheritedOptions(SocketDescriptor listener, int linger_seconds, uint32_t receive_ms,
                         uint32_t send_ms) {
  return SetLinger(listener, true, linger_seconds) == 0 &&
         SetReceiveTimeout(listener, receive_ms) == 0 && SetSendTimeout(listener, send_ms) == 0;
}

int HoldPartialSegments(SocketDescriptor socket, bool hold) {
  int on = hold ? 1 : 0;
  return Result(::setsockopt(socket, IPPROTO_TCP, TCP_CORK, &on, sizeof on));
}

SysResult<Linger> GetLinger(SocketDescriptor socket) {
  struct linger value {};
  socklen_t length = sizeof value;
  if (::getsockopt(socket, SOL_SOCKET, SO_LINGER, &value, &length) != 0) return {{0, 0}, errno};
  return {{static_cast<uint16_t>(value.l_onoff), static_cast<uint16_t>(value.l_linger)}, 0};
}

SysResult<uint32_t> GetReceiveTimeout(SocketDescriptor socket) {
  struct timeval value {};
  socklen_t length = sizeof value;
  if (::getsockopt(socket, SOL_SOCKET, SO_RCVTIMEO, &value, &length) != 0) return {0, errno};
  return {static_cast<uint32_t>(value.tv_sec * 1000 + value.tv_usec / 1000), 0};
}

long RaiseDescriptorLimit() {
  struct rlimit limit {};
  if (::getrlimit(RLIMIT_NOFILE, &limit) != 0) return -1;
  if (limit.rlim_cur < limit.rlim_max) {
    limit.rlim_cur = limit.rlim_max;
    if (::setrlimit(RLIMIT_NOFILE, &limit) != 0) return -1;
  }
  return static_cast<long>(limit.rlim_cur);
}

int LastSocketError() { return errno; }
void ClearLastSocketError() { errno = 0; }
bool IsTimeoutError(int error) {
  return error == EAGAIN || error == EWOULDBLOCK || error == ETIMEDOUT;
}

}  // namespace platform
