// TCP sockets with their error numbers. The "last socket error" of the
// system is errno here.
#pragma once

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
// and the blocks after it leave in full segments.
SysResult<long> Send(SocketDescriptor socket, std::string_view data, bool more_follows = false);

// A write to a connection the peer has closed fails with an error instead
// of ending the process (a signal on POSIX; nothing to do elsewhere).
void IgnoreBrokenPipes();

SysResult<SocketDescriptor> CreateTcpSocket();
int CloseSocket(SocketDescriptor socket);
int ShutdownSend(SocketDescriptor socket);
// Also wakes a thread blocked in Accept on a listening socket.
int ShutdownBoth(SocketDescriptor socket);
// Binds to every local IPv4 address on port.
int BindAny(SocketDescriptor socket, uint16_t port);
// Binds to 127.0.0.1 on port (0 picks a free one).
int BindLoopback(SocketDescriptor socket, uint16_t port);
int Listen(SocketDescriptor socket);
// The accepted socket, and the peer's dotted IPv4 address in peer.
SysResult<SocketDescriptor> Accept(SocketDescriptor listener, std::string* peer);
int ConnectLoopback(SocketDescriptor socket, uint16_t port);
SysResult<uint16_t> LocalPort(SocketDescriptor socket);

// Options of accepted connections.
int SetReuseAddress(SocketDescriptor socket);
int SetLinger(SocketDescriptor socket, bool on, int seconds);
int SetReceiveTimeout(SocketDescriptor socket, uint32_t milliseconds);
int SetSendTimeout(SocketDescriptor socket, uint32_t milliseconds);
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

}  // namespace platform
