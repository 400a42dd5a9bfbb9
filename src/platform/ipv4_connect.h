// Outbound IPv4: telling a dotted address from a host name, resolving a
// name to its first IPv4 address, and connecting with a time-out, so that a
// peer that never answers cannot hold the caller.
#pragma once

#include <atomic>
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

// Connects socket to address:port, giving up after timeout_ms, or once
// *abandon (when given) turns true: it is looked at every kAbandonSliceMs at
// least, so another thread can end the wait without touching the socket. 0,
// or the error number (ETIMEDOUT's number on a time-out, ECANCELED's when
// abandoned). The socket stays blocking.
inline constexpr uint32_t kAbandonSliceMs = 100;
int ConnectIPv4(SocketDescriptor socket, Ipv4Address address, uint16_t port, uint32_t timeout_ms,
                const std::atomic<bool>* abandon = nullptr);

// What a ConnectIPv4 error tells a person: nothing listens there, nothing
// answered in time, the caller gave up, or something else (the error's own
// text says what).
enum class ConnectError { kRefused, kTimedOut, kAbandoned, kOther };
ConnectError ClassifyConnectError(int error);

}  // namespace platform
