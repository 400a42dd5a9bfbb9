#include <arpa/inet.h>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>

#include <cerrno>
#include <cstring>

#include "platform/clock.h"
#include "platform/ipv4_connect.h"

namespace platform {
namespace {

Ipv4Address FromInAddr(in_addr address) {
  Ipv4Address out{};
  std::memcpy(out.octets, &address.s_addr, sizeof out.octets);
  return out;
}

bool Abandoned(const std::atomic<bool>* abandon) { return abandon != nullptr && abandon->load(); }

// Waits until the connect in progress ends, the time is up or the caller
// abandons it.
int AwaitConnect(SocketDescriptor socket, uint32_t timeout_ms, const std::atomic<bool>* abandon) {
  const uint32_t start = TickCount();
  for (;;) {
    if (Abandoned(abandon)) return ECANCELED;
    uint32_t elapsed = TickCount() - start;
    if (elapsed >= timeout_ms) return ETIMEDOUT;
    uint32_t slice = timeout_ms - elapsed;
    if (abandon != nullptr && slice > kAbandonSliceMs) slice = kAbandonSliceMs;
    pollfd item{socket, POLLOUT, 0};
    int n = ::poll(&item, 1, static_cast<int>(slice));
    if (n < 0) {
      if (errno == EINTR) continue;
      return errno;
    }
    if (n == 0) continue;
    // A socket shut by the one who abandons it reports a reset: the
    // abandonment is the cause.
    if (Abandoned(abandon)) return ECANCELED;
    int error = 0;
    socklen_t length = sizeof error;
    if (::getsockopt(socket, SOL_SOCKET, SO_ERROR, &error, &length) != 0) return errno;
    return error;
  }
}

}  // namespace

std::optional<Ipv4Address> ParseDottedIPv4(const std::string& text) {
  in_addr address{};
  if (::inet_aton(text.c_str(), &address) == 0) return std::nullopt;
  return FromInAddr(address);
}

SysResult<Ipv4Address> ResolveIPv4(const std::string& host) {
  addrinfo hints{};
  hints.ai_family = AF_INET;
  hints.ai_socktype = SOCK_STREAM;
  addrinfo* list = nullptr;
  int rc = ::getaddrinfo(host.c_str(), nullptr, &hints, &list);
  if (rc != 0) {
    int error = rc == EAI_SYSTEM ? errno : rc;
    return {{}, error != 0 ? error : EAI_FAIL};
  }
  Ipv4Address out = FromInAddr(reinterpret_cast<sockaddr_in*>(list->ai_addr)->sin_addr);
  ::freeaddrinfo(list);
  return {out, 0};
}

int ConnectIPv4(SocketDescriptor socket, Ipv4Address address, uint16_t port, uint32_t timeout_ms,
                const std::atomic<bool>* abandon) {
  sockaddr_in target{};
  target.sin_family = AF_INET;
  target.sin_port = htons(port);
  std::memcpy(&target.sin_addr.s_addr, address.octets, sizeof address.octets);

  int flags = ::fcntl(socket, F_GETFL);
  if (flags < 0 || ::fcntl(socket, F_SETFL, flags | O_NONBLOCK) != 0) return errno;
  int error = 0;
  if (Abandoned(abandon)) {
    error = ECANCELED;
  } else if (::connect(socket, reinterpret_cast<sockaddr*>(&target), sizeof target) != 0) {
    error = (errno == EINPROGRESS || errno == EINTR) ? AwaitConnect(socket, timeout_ms, abandon)
                                                      : errno;
  }
  if (::fcntl(socket, F_SETFL, flags) != 0 && error == 0) error = errno;
  return error;
}

ConnectError ClassifyConnectError(int error) {
  if (error == ECONNREFUSED) return ConnectError::kRefused;
  if (error == ETIMEDOUT) return ConnectError::kTimedOut;
  if (error == ECANCELED) return ConnectError::kAbandoned;
  return ConnectError::kOther;
}

}  // namespace platform
