// Outbound IPv4: telling a dotted address from a host name, resolving a
// name to its first IPv4 address, and connecting with a time-out, so that a
// peer that never answers cannot hold the caller.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "platform/native_types.h"
#include "platform/sys_result.h"

namespace platform {

struct Ipv4Address {
  uint8_t octets[4];  // network order: octets[0] is the first number
};

// The address when text is a dotted IPv4 address (the classic forms that
// inet_aton takes); none for a host name.
std::optional<Ipv4Address> ParseDottedIPv4(const std::string& text);

// The first IPv4 address of host. On failure the error is the resolver's
// code (or errno for a system failure), never 0.
SysResult<Ipv4Address> ResolveIPv4(const std::string& host);

// Connects socket to address:port, giving up after timeout_ms. 0, or the
// error number (ETIMEDOUT's number on a time-out). The socket stays blocking.
int ConnectIPv4(SocketDescriptor socket, Ipv4Address address, uint16_t port, uint32_t timeout_ms);

// What a ConnectIPv4 error tells a person: nothing listens there, nothing
// answered in time, or something else (the error's own text says what).
enum class ConnectError { kRefused, kTimedOut, kOther };
ConnectError ClassifyConnectError(int error);

}  // namespace platform
