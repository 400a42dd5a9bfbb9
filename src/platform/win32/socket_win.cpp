#include <winsock2.h>
#include <windows.h>
#include <ws2tcpip.h>

#include <algorithm>
#include <cerrno>
#include <mutex>
#include <optional>
#include <set>

#include "platform/socket.h"
#include "platform/win32/winsock_start.h"

namespace platform {

void StartWinsock() {
  static std::once_flag started;
  std::call_once(started, [] {
    WSADATA data;
    ::WSAStartup(MAKEWORD(2, 2), &data);
  });
}

namespace {

sockaddr_in IPv4(uint32_t host_order_address, uint16_t port) {
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(port);
  address.sin_addr.s_addr = htonl(host_order_address);
  return address;
}

int Result(int rc) { return rc == 0 ? 0 : ::WSAGetLastError(); }

// Winsock keeps no readable blocking flag: sockets here are blocking unless
// a call switches one for its own duration.
int SetBlocking(SocketDescriptor socket, bool blocking) {
  u_long non_blocking = blocking ? 0 : 1;
  return Result(::ioctlsocket(socket, FIONBIO, &non_blocking));
}

}  // namespace

SysResult<long> Receive(SocketDescriptor socket, char* buffer, size_t size) {
  const int wanted = static_cast<int>(std::min<size_t>(size, 0x7FFFFFFF));
  int n = ::recv(socket, buffer, wanted, 0);
  if (n == SOCKET_ERROR) return {-1, ::WSAGetLastError()};
  return {static_cast<long>(n), 0};
}

// One send hands over at most this much: a larger blocking send to a peer
// that resets the connection can wait for good under Wine, where smaller
// ones report the reset.
constexpr size_t kMostPerSend = 64 * 1024;

SysResult<long> Send(SocketDescriptor socket, std::string_view data, bool /*more_follows*/,
                     uint32_t stall_ms) {
  std::optional<SendProgress> progress;
  if (stall_ms != 0) {
    progress.emplace(socket, stall_ms);
    SetBlocking(socket, false);
  }
  size_t sent = 0;
  int error = 0;
  while (sent < data.size()) {
    const int chunk = static_cast<int>(std::min<size_t>(data.size() - sent, kMostPerSend));
    int n = ::send(socket, data.data() + sent, chunk, 0);
    if (n != SOCKET_ERROR) {
      sent += static_cast<size_t>(n);
      if (progress) progress->Handed(static_cast<uint64_t>(n));
    } else if (!progress || ::WSAGetLastError() != WSAEWOULDBLOCK) {
      error = ::WSAGetLastError();
      break;
    } else {
      WaitWritable(socket, kSendProgressSliceMs);
    }
    if (progress && sent < data.size() && progress->Stalled()) {
      error = EAGAIN;
      break;
    }
  }
  if (progress) SetBlocking(socket, true);
  return {static_cast<long>(sent), error};
}

namespace {

bool WaitFor(SocketDescriptor socket, bool readable, uint32_t milliseconds) {
  fd_set wanted;
  fd_set failed;
  FD_ZERO(&wanted);
  FD_ZERO(&failed);
  FD_SET(socket, &wanted);
  FD_SET(socket, &failed);
  timeval limit{};
  limit.tv_sec = static_cast<long>(milliseconds / 1000);
  limit.tv_usec = static_cast<long>(milliseconds % 1000) * 1000;
  int rc = ::select(0, readable ? &wanted : nullptr, readable ? nullptr : &wanted, &failed, &limit);
  // An error is reported by the next call on the socket.
  return rc != 0;
}

}  // namespace

bool WaitReadable(SocketDescriptor socket, uint32_t milliseconds) {
  return WaitFor(socket, true, milliseconds);
}

bool WaitWritable(SocketDescriptor socket, uint32_t milliseconds) {
  return WaitFor(socket, false, milliseconds);
}

long UnacknowledgedBytes(SocketDescriptor /*socket*/) { return -1; }

void IgnoreBrokenPipes() {}

SocketsStart StartSockets() {
  WSADATA data;
  if (::WSAStartup(MAKEWORD(2, 2), &data) != 0) return SocketsStart::kFailed;
  if (LOBYTE(data.wVersion) != 2 || HIBYTE(data.wVersion) != 2) {
    ::WSACleanup();
    return SocketsStart::kWrongVersion;
  }
  return SocketsStart::kStarted;
}

SysResult<SocketDescriptor> CreateTcpSocket() {
  StartWinsock();
  SOCKET s =
      ::WSASocketW(AF_INET, SOCK_STREAM, IPPROTO_TCP, nullptr, 0, WSA_FLAG_NO_HANDLE_INHERIT);
  if (s == INVALID_SOCKET) return {kInvalidSocket, ::WSAGetLastError()};
  return {s, 0};
}

namespace {

// Winsock's shutdown does not wake a thread blocked in accept, so Accept
// waits in slices and gives up once its listener is in this set.
constexpr uint32_t kAcceptSliceMs = 100;
std::mutex g_stopped_lock;
std::set<SocketDescriptor>& StoppedListeners() {
  static auto* stopped = new std::set<SocketDescriptor>();
  return *stopped;
}

bool Stopped(SocketDescriptor listener) {
  std::lock_guard<std::mutex> lock(g_stopped_lock);
  return StoppedListeners().count(listener) != 0;
}

}  // namespace

int CloseSocket(SocketDescriptor socket) {
  {
    std::lock_guard<std::mutex> lock(g_stopped_lock);
    StoppedListeners().erase(socket);
  }
  return Result(::closesocket(socket));
}

int ShutdownSend(SocketDescriptor socket) { return Result(::shutdown(socket, SD_SEND)); }

int ShutdownBoth(SocketDescriptor socket) {
  int error = Result(::shutdown(socket, SD_BOTH));
  if (error != WSAENOTCONN) return error;
  // A listener: there is no connection to shut, only an accept to wake.
  std::lock_guard<std::mutex> lock(g_stopped_lock);
  StoppedListeners().insert(socket);
  return 0;
}

void AbortSocket(SocketDescriptor socket) {
  ::shutdown(socket, SD_BOTH);
  // A blocking recv or send is an overlapped call that the socket's thread
  // waits for: cancelled here, it fails at once (WSA_OPERATION_ABORTED).
  ::CancelIoEx(reinterpret_cast<HANDLE>(socket), nullptr);
}

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
  for (;;) {
    if (Stopped(listener)) return {kInvalidSocket, WSAESHUTDOWN};
    if (WaitReadable(listener, kAcceptSliceMs)) break;
  }
  sockaddr_in address{};
  int length = sizeof address;
  SOCKET s = ::accept(listener, reinterpret_cast<sockaddr*>(&address), &length);
  if (s == INVALID_SOCKET) return {kInvalidSocket, ::WSAGetLastError()};
  // A listener switched to non-blocking hands that on; connections block.
  SetBlocking(s, true);
  if (peer != nullptr) {
    char text[INET_ADDRSTRLEN] = "";
    ::inet_ntop(AF_INET, &address.sin_addr, text, sizeof text);
    *peer = text;
  }
  return {s, 0};
}

int ConnectLoopback(SocketDescriptor socket, uint16_t port) {
  sockaddr_in address = IPv4(INADDR_LOOPBACK, port);
  return Result(::connect(socket, reinterpret_cast<sockaddr*>(&address), sizeof address));
}

SysResult<uint16_t> LocalPort(SocketDescriptor socket) {
  sockaddr_in address{};
  int length = sizeof address;
  if (::getsockname(socket, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
    return {0, ::WSAGetLastError()};
  }
  return {ntohs(address.sin_port), 0};
}

int SetExclusiveAddress(SocketDescriptor socket) {
  BOOL on = TRUE;
  return Result(::setsockopt(socket, SOL_SOCKET, SO_EXCLUSIVEADDRUSE,
                             reinterpret_cast<const char*>(&on), sizeof on));
}

int SetReuseAddress(SocketDescriptor socket) {
  BOOL on = TRUE;
  return Result(::setsockopt(socket, SOL_SOCKET, SO_REUSEADDR, reinterpret_cast<const char*>(&on),
                             sizeof on));
}

int SetLinger(SocketDescriptor socket, bool on, int seconds) {
  linger value{};
  value.l_onoff = on ? 1 : 0;
  value.l_linger = static_cast<u_short>(seconds);
  return Result(::setsockopt(socket, SOL_SOCKET, SO_LINGER, reinterpret_cast<const char*>(&value),
                             sizeof value));
}

namespace {

int SetTimeout(SocketDescriptor socket, int option, uint32_t milliseconds) {
  DWORD value = milliseconds;
  return Result(::setsockopt(socket, SOL_SOCKET, option, reinterpret_cast<const char*>(&value),
                             sizeof value));
}

}  // namespace

int SetReceiveTimeout(SocketDescriptor socket, uint32_t milliseconds) {
  return SetTimeout(socket, SO_RCVTIMEO, milliseconds);
}

int SetSendTimeout(SocketDescriptor socket, uint32_t milliseconds) {
  return SetTimeout(socket, SO_SNDTIMEO, milliseconds);
}

// Each connection sets its own: Winsock's word on which options a listener
// hands on is not one to lean on.
bool SetInheritedOptions(SocketDescriptor, int, uint32_t, uint32_t) { return false; }

// Winsock has no such hold.
int HoldPartialSegments(SocketDescriptor, bool) { return 0; }

SysResult<Linger> GetLinger(SocketDescriptor socket) {
  linger value{};
  int length = sizeof value;
  if (::getsockopt(socket, SOL_SOCKET, SO_LINGER, reinterpret_cast<char*>(&value), &length) != 0) {
    return {{0, 0}, ::WSAGetLastError()};
  }
  return {{value.l_onoff, value.l_linger}, 0};
}

SysResult<uint32_t> GetReceiveTimeout(SocketDescriptor socket) {
  DWORD value = 0;
  int length = sizeof value;
  if (::getsockopt(socket, SOL_SOCKET, SO_RCVTIMEO, reinterpret_cast<char*>(&value), &length) !=
      0) {
    return {0, ::WSAGetLastError()};
  }
  return {static_cast<uint32_t>(value), 0};
}

// Winsock has no per-process socket limit to raise.
long RaiseDescriptorLimit() { return -1; }

int LastSocketError() { return ::WSAGetLastError(); }
void ClearLastSocketError() { ::WSASetLastError(0); }
bool IsTimeoutError(int error) { return error == WSAETIMEDOUT || error == WSAEWOULDBLOCK; }

}  // namespace platform
