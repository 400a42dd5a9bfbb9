#include <winsock2.h>
#include <ws2tcpip.h>

#include <cstring>

#include "platform/clock.h"
#include "platform/ipv4_connect.h"
#include "platform/win32/winsock_start.h"

namespace platform {
namespace {

Ipv4Address FromInAddr(in_addr address) {
  Ipv4Address out{};
  std::memcpy(out.octets, &address.s_addr, sizeof out.octets);
  return out;
}

bool Abandoned(const std::atomic<bool>* abandon) { return abandon != nullptr && abandon->load(); }

// Waits until the connect in progress ends, the time is up or the caller
// abandons it. Winsock's select is not woken by another thread's shutdown:
// it waits in slices while someone may abandon the wait.
int AwaitConnect(SocketDescriptor socket, uint32_t timeout_ms, const std::atomic<bool>* abandon) {
  const uint32_t start = TickCount();
  int n = 0;
  while (n == 0) {
    if (Abandoned(abandon)) return WSAECANCELLED;
    const uint32_t elapsed = TickCount() - start;
    if (elapsed >= timeout_ms) return WSAETIMEDOUT;
    uint32_t slice = timeout_ms - elapsed;
    if (abandon != nullptr && slice > kAbandonSliceMs) slice = kAbandonSliceMs;
    fd_set writable;
    fd_set failed;
    FD_ZERO(&writable);
    FD_ZERO(&failed);
    FD_SET(socket, &writable);
    FD_SET(socket, &failed);
    timeval limit{};
    limit.tv_sec = static_cast<long>(slice / 1000);
    limit.tv_usec = static_cast<long>(slice % 1000) * 1000;
    n = ::select(0, nullptr, &writable, &failed, &limit);
    if (n == SOCKET_ERROR) return ::WSAGetLastError();
  }
  if (Abandoned(abandon)) return WSAECANCELLED;
  int error = 0;
  int length = sizeof error;
  if (::getsockopt(socket, SOL_SOCKET, SO_ERROR, reinterpret_cast<char*>(&error), &length) != 0) {
    return ::WSAGetLastError();
  }
  return error;
}

}  // namespace

std::optional<Ipv4Address> ParseDottedIPv4(const std::string& text) {
  if (text.empty()) return std::nullopt;
  // inet_addr takes the same classic forms; its failure value is also the
  // broadcast address, which is told apart by its text.
  unsigned long value = ::inet_addr(text.c_str());
  if (value == INADDR_NONE && text != "255.255.255.255") return std::nullopt;
  in_addr address{};
  address.s_addr = value;
  return FromInAddr(address);
}

SysResult<Ipv4Address> ResolveIPv4(const std::string& host) {
  StartWinsock();
  addrinfo hints{};
  hints.ai_family = AF_INET;
  hints.ai_socktype = SOCK_STREAM;
  addrinfo* list = nullptr;
  int rc = ::getaddrinfo(host.c_str(), nullptr, &hints, &list);
  if (rc != 0) return {{}, rc};
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

  u_long non_blocking = 1;
  if (::ioctlsocket(socket, FIONBIO, &non_blocking) != 0) return ::WSAGetLastError();
  int error = 0;
  if (Abandoned(abandon)) {
    error = WSAECANCELLED;
  } else if (::connect(socket, reinterpret_cast<sockaddr*>(&target), sizeof target) != 0) {
    error = ::WSAGetLastError();
    if (error == WSAEWOULDBLOCK) error = AwaitConnect(socket, timeout_ms, abandon);
  }
  non_blocking = 0;
  if (::ioctlsocket(socket, FIONBIO, &non_blocking) != 0 && error == 0) error = ::WSAGetLastError();
  return error;
}

ConnectError ClassifyConnectError(int error) {
  if (error == WSAECONNREFUSED) return ConnectError::kRefused;
  if (error == WSAETIMEDOUT) return ConnectError::kTimedOut;
  if (error == WSAECANCELLED) return ConnectError::kAbandoned;
  return ConnectError::kOther;
}

}  // namespace platform
